// One window's toolkit state: the control tree, fonts and images, window
// attributes, layout and painting on WM_PAINT, input routing and the
// notifications of the controls.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_queue.h"
#include "platform/types.h"
#include "toolkit/notify_event.h"
#include "toolkit/surface.h"
#include "toolkit/ui_event.h"

namespace skinui {

class control;
class font_table;
class image_cache;
struct font_info;

class paint_manager {
public:
    friend struct window_setters;
    // The font table and image cache are default-constructed here and live
    // as long as the manager.
    paint_manager();
    ~paint_manager();
    paint_manager(const paint_manager&) = delete;
    paint_manager& operator=(const paint_manager&) = delete;

    // The module instance the windows are registered with (unused on Linux).
    static void set_instance(void* instance);
    static void* instance();

    // Process-wide skin settings (forwarded to the skin resources).
    static void set_resource_path(const std::wstring& path);
    static std::wstring resource_path();
    static void set_resource_zip(const std::uint8_t* data, std::size_t size);
    // A zip file under the resource path as the archive; cached keeps its
    // bytes after the first read instead of reading it for every file.
    static void set_resource_zip(const std::wstring& file, bool cached);
    // Where resources are found by type and integer id (the executable's
    // resource table); null until set, and then nothing is found.
    using resource_lookup = std::span<const std::uint8_t> (*)(std::string_view type, int id);
    static void set_resource_module(resource_lookup module);
    static resource_lookup resource_module();
    // The executable's directory with a trailing separator.
    static std::wstring instance_path();

    // Binds the manager to its window; call once after the window exists.
    void init(platform::window_handle window);
    platform::window_handle window() const { return window_; }

    // What the render engine needs from the window.
    font_table& fonts();
    image_cache& images();
    std::uint32_t default_text_color() const { return default_text_color_; }
    std::uint32_t disabled_text_color() const { return disabled_text_color_; }
    std::uint32_t link_color() const { return link_color_; }
    std::uint32_t link_hover_color() const { return link_hover_color_; }
    std::uint32_t selected_color() const { return selected_color_; }

    // Fonts by decimal id; -1 or an unknown index means the default font.
    font_info* add_font(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic);
    void set_default_font(int id);
    font_info* get_font(int index);

    // Window attributes of the layout's Window element.
    void set_window_attribute(std::wstring_view name, std::wstring_view value);
    std::wstring custom_attribute(std::wstring_view name) const;  // empty when unset
    platform::size initial_size() const { return initial_size_; }
    platform::rect caption_rect() const { return caption_; }
    platform::rect size_box() const { return size_box_; }
    platform::size round_corner() const { return round_corner_; }
    platform::size min_info() const { return min_info_; }
    platform::size max_info() const { return max_info_; }

    // Attribute lists applied to every control of an element name (compared
    // ignoring case) before its own attributes.
    void add_default_attribute_list(std::wstring_view element, std::wstring_view list);
    std::wstring_view default_attribute_list(std::wstring_view element) const;

    // Takes ownership of the tree, binds every control to this manager and
    // marks the tree for its first layout. False for a null root.
    bool attach_dialog(std::unique_ptr<control> root);
    control* root() const { return root_.get(); }

    // Name table; a later control with the same name replaces the earlier.
    control* find_control(std::wstring_view name) const;
    // The topmost, deepest visible control under a client point, or null.
    control* find_control(platform::point pt) const;
    void init_controls(control* subtree, control* parent);
    void reap_objects(control* subtree);  // forgets a control that goes away

    void add_notifier(notify_receiver* receiver);
    void remove_notifier(notify_receiver* receiver);
    // Delivers to the sender's subscribers, then to every receiver: at once,
    // or when asynchronous, from the window's queue (repeat false drops an
    // earlier queued notification of the same type and sender).
    void send_notify(control* sender, std::wstring_view type, platform::wparam w = 0, platform::lparam l = 0,
                     bool asynchronous = false, bool repeat = false);
    void send_notify(notify_event& event);

    // Layout and painting.
    void need_update();  // lay the whole tree out again on the next paint
    void invalidate(const platform::rect& area);
    bool needs_layout() const { return needs_layout_; }
    // The client area as painted, before it is presented.
    const surface& back_buffer() const { return back_buffer_; }

    // Keyboard focus and mouse state.
    control* focus() const { return focus_; }
    void set_focus(control* target);
    bool set_next_tab_control(bool forward = true);
    control* hover() const { return hover_; }
    control* pressed() const { return pressed_; }
    platform::point mouse_pos() const { return last_mouse_; }
    void set_capture();
    void release_capture();
    bool is_captured() const;

    // The window's messages. True (with result set) when handled.
    bool handle_window_message(std::uint32_t id, platform::wparam w, platform::lparam l, platform::lresult& result);
    // Called by the modal loop before dispatching; true when consumed.
    bool pre_translate_message(const platform::message& msg);
    // Offers a message to the manager of the window it is addressed to.
    static bool translate_message(const platform::message& msg);

private:
    static std::vector<paint_manager*>& live_managers();  // of the UI thread
    void apply_min_max_info(platform::minmax_info* info) const;
    void on_paint();
    void layout_root();
    void place_first_focus();
    void on_mouse_button_down(platform::point pt, bool double_click);
    void on_mouse_button_up(platform::point pt);
    void on_mouse_move(platform::point pt);
    void on_mouse_leave();
    bool on_set_cursor();
    void on_key(std::uint32_t id, platform::wparam w, platform::lparam l);
    void on_async_notify();
    void send_event(control* target, ui_event_kind kind, platform::point pt, platform::wparam w = 0,
                    platform::lparam l = 0);
    std::vector<control*> tab_stops() const;

    platform::window_handle window_ = 0;
    std::unique_ptr<font_table> fonts_;
    std::unique_ptr<image_cache> images_;
    std::unique_ptr<control> root_;
    std::map<std::wstring, control*, std::less<>> names_;
    std::vector<notify_receiver*> notifiers_;
    std::map<std::wstring, std::wstring, std::less<>> custom_attributes_;
    std::vector<std::pair<std::wstring, std::wstring>> default_attributes_;
    // Asynchronous notifications in the order they were sent.
    struct queued_notify {
        notify_event event;
        std::uint64_t sequence = 0;
    };
    std::vector<queued_notify> async_notifies_;
    std::uint64_t next_async_sequence_ = 0;

    std::uint32_t default_text_color_ = 0xFF000000;
    std::uint32_t disabled_text_color_ = 0xFFA7A6AA;
    std::uint32_t link_color_ = 0xFF0000FF;
    std::uint32_t link_hover_color_ = 0xFFD3215F;
    std::uint32_t selected_color_ = 0xFFBAE4FF;
    platform::size initial_size_;
    platform::rect caption_;
    platform::rect size_box_;
    platform::size round_corner_;
    platform::size min_info_;
    platform::size max_info_;

    surface back_buffer_;
    bool needs_layout_ = false;
    bool first_layout_done_ = false;
    bool focus_pending_ = false;
    control* focus_ = nullptr;
    control* hover_ = nullptr;
    control* pressed_ = nullptr;
    platform::point last_mouse_;
    bool shift_down_ = false;
};

}  // namespace skinui
