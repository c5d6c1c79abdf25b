// The off-screen display: windows that exist only as records in memory, so
// that the toolkit's windows, painting and input run without an X server.
#include "platform/offscreen/offscreen_display.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/window_backend.h"

namespace platform {
namespace {

struct offscreen_window {
    offscreen_window_state state;
    std::vector<std::uint32_t> pixels;  // client width x height
    int pixel_width = 0;
    int pixel_height = 0;
};

rect client_of(const rect& bounds) {
    return {0, 0, std::max(0, bounds.width()), std::max(0, bounds.height())};
}

void fit_pixels(offscreen_window& w) {
    rect client = client_of(w.state.bounds);
    if (client.right == w.pixel_width && client.bottom == w.pixel_height) return;
    // Keep what overlaps, as a resized window keeps its old contents.
    std::vector<std::uint32_t> fresh(static_cast<std::size_t>(client.right) * client.bottom, 0);
    int rows = std::min(client.bottom, w.pixel_height);
    int cols = std::min(client.right, w.pixel_width);
    for (int y = 0; y < rows; ++y) {
        std::copy_n(w.pixels.begin() + static_cast<std::ptrdiff_t>(y) * w.pixel_width, cols,
                    fresh.begin() + static_cast<std::ptrdiff_t>(y) * client.right);
    }
    w.pixels = std::move(fresh);
    w.pixel_width = client.right;
    w.pixel_height = client.bottom;
}

size client_size(const rect& bounds) {
    return {std::max(0, bounds.width()), std::max(0, bounds.height())};
}

lparam size_lparam(const rect& bounds) {
    return static_cast<lparam>((static_cast<std::uint32_t>(bounds.height() & 0xFFFF) << 16) |
                               static_cast<std::uint32_t>(bounds.width() & 0xFFFF));
}

class offscreen_backend final : public window_backend {
public:
    window_handle create_window(const window_params& params, message_handler* handler) override {
        if (handler == nullptr) return 0;
        window_handle handle = register_window(handler);
        if (handle == 0) return 0;
        {
            std::lock_guard lock(mutex_);
            offscreen_window& w = windows_[handle];
            w.state.title = params.title;
            w.state.bounds = params.bounds;
            w.state.owner = params.owner;
            w.state.class_style = params.class_style;
            w.state.style = params.style;
            w.state.ex_style = params.ex_style;
            fit_pixels(w);
        }
        book_.add(handle, client_size(params.bounds), false);
        // As CreateWindowEx: the creation messages arrive before it returns.
        // Their results are not used to refuse the window; handlers answer
        // unknown messages with 0.
        lparam create_params = reinterpret_cast<lparam>(&params);
        send_message(handle, WM_NCCREATE, 0, create_params);
        send_message(handle, WM_CREATE, 0, create_params);
        return handle;
    }

    void destroy_window(window_handle window) override {
        if (!is_window(window)) return;
        send_message(window, WM_DESTROY, 0, 0);
        send_message(window, WM_NCDESTROY, 0, 0);
        unregister_window(window);
        book_.remove(window);
        std::lock_guard lock(mutex_);
        windows_.erase(window);
    }

    bool is_window(window_handle window) override {
        std::lock_guard lock(mutex_);
        return windows_.count(window) != 0;
    }

    rect window_rect(window_handle window) override {
        std::lock_guard lock(mutex_);
        const offscreen_window* w = find(window);
        return w ? w->state.bounds : rect{};
    }

    rect client_rect(window_handle window) override {
        std::lock_guard lock(mutex_);
        const offscreen_window* w = find(window);
        return w ? client_of(w->state.bounds) : rect{};
    }

    void move_window(window_handle window, int x, int y, int width, int height) override {
        rect bounds{x, y, x + std::max(0, width), y + std::max(0, height)};
        bool resized = false;
        bool maximized = false;
        {
            std::lock_guard lock(mutex_);
            offscreen_window* w = find(window);
            if (w == nullptr) return;
            resized = w->state.bounds.width() != bounds.width() || w->state.bounds.height() != bounds.height();
            w->state.bounds = bounds;
            maximized = w->state.maximized;
            fit_pixels(*w);
        }
        book_.set_client_size(window, client_size(bounds));
        if (!resized) return;
        send_message(window, WM_SIZE, maximized ? SIZE_MAXIMIZED : SIZE_RESTORED, size_lparam(bounds));
        invalidate_rect(window, nullptr);
    }

    void show_window(window_handle window, int show_command) override {
        if (show_command == SW_MAXIMIZE) return maximize(window);
        bool now_visible = false;
        rect restore;
        {
            std::lock_guard lock(mutex_);
            offscreen_window* w = find(window);
            if (w == nullptr) return;
            bool was_visible = w->state.visible;
            w->state.visible = show_command != SW_HIDE;
            if (show_command == SW_HIDE) {
                book_.set_visible(window, false);
                return;
            }
            w->state.minimized = show_command == SW_SHOWMINIMIZED || show_command == SW_MINIMIZE ||
                                 show_command == SW_SHOWMINNOACTIVE || show_command == SW_FORCEMINIMIZE;
            if (show_command == SW_RESTORE && w->state.maximized) {
                w->state.maximized = false;
                restore = w->state.restore_bounds;
            }
            now_visible = !was_visible;
        }
        if (!restore.empty()) move_window(window, restore.left, restore.top, restore.width(), restore.height());
        // A window that appears is exposed as a whole.
        if (now_visible) book_.set_visible(window, true);
    }

    bool is_maximized(window_handle window) override {
        std::lock_guard lock(mutex_);
        const offscreen_window* w = find(window);
        return w != nullptr && w->state.maximized;
    }

    bool is_window_visible(window_handle window) override {
        std::lock_guard lock(mutex_);
        const offscreen_window* w = find(window);
        return w != nullptr && w->state.visible;
    }

    bool is_minimized(window_handle window) override {
        std::lock_guard lock(mutex_);
        const offscreen_window* w = find(window);
        return w != nullptr && w->state.minimized;
    }

    void enable_window(window_handle window, bool enable) override { book_.set_enabled(window, enable); }

    bool is_window_enabled(window_handle window) override { return book_.enabled(window); }

    window_handle owner_of(window_handle window) override {
        std::lock_guard lock(mutex_);
        const offscreen_window* w = find(window);
        return w ? w->state.owner : 0;
    }

    rect monitor_rect_near(window_handle) override {
        std::lock_guard lock(mutex_);
        return monitor_;
    }

    rect work_area_near(window_handle) override {
        std::lock_guard lock(mutex_);
        return work_area_;
    }

    void set_window_text(window_handle window, const std::wstring& text) override {
        std::lock_guard lock(mutex_);
        if (offscreen_window* w = find(window)) w->state.title = text;
    }

    std::wstring window_text(window_handle window) override {
        std::lock_guard lock(mutex_);
        const offscreen_window* w = find(window);
        return w ? w->state.title : std::wstring{};
    }

    std::uint32_t window_style(window_handle window) override {
        std::lock_guard lock(mutex_);
        const offscreen_window* w = find(window);
        return w ? w->state.style : 0;
    }

    void set_window_style(window_handle window, std::uint32_t style) override {
        std::lock_guard lock(mutex_);
        if (offscreen_window* w = find(window)) w->state.style = style;
    }

    void set_window_modal(window_handle window, bool modal) override {
        std::lock_guard lock(mutex_);
        if (offscreen_window* w = find(window)) w->state.modal = modal;
    }

    void set_window_round_corners(window_handle window, size corner) override {
        std::lock_guard lock(mutex_);
        if (offscreen_window* w = find(window)) w->state.round_corner = corner;
    }

    void invalidate_rect(window_handle window, const rect* area) override { book_.invalidate(window, area); }

    rect take_update_rect(window_handle window) override { return book_.take_update(window); }

    void present(window_handle window, const std::uint32_t* pixels, int width, int height, int stride,
                 const rect& area) override {
        if (pixels == nullptr || width <= 0 || height <= 0 || stride < width * 4) return;
        std::lock_guard lock(mutex_);
        offscreen_window* w = find(window);
        if (w == nullptr) return;
        rect part =
            intersect_rect(intersect_rect(area, {0, 0, width, height}), {0, 0, w->pixel_width, w->pixel_height});
        ++w->state.present_count;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(pixels);
        for (int y = part.top; y < part.bottom; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(bytes + static_cast<std::size_t>(y) * stride);
            std::copy(row + part.left, row + part.right,
                      w->pixels.begin() + static_cast<std::ptrdiff_t>(y) * w->pixel_width + part.left);
        }
    }

    void set_capture(window_handle window) override { book_.set_capture(window); }
    void release_capture() override { book_.release_capture(); }
    window_handle get_capture() override { return book_.capture(); }
    void set_focus(window_handle window) override { book_.set_focus(window); }
    window_handle get_focus() override { return book_.focus(); }

    void set_cursor(cursor_kind cursor) override {
        std::lock_guard lock(mutex_);
        cursor_ = cursor;
    }
    cursor_kind current_cursor() override {
        std::lock_guard lock(mutex_);
        return cursor_;
    }

    void begin_window_drag(window_handle window, point screen_point) override {
        std::lock_guard lock(mutex_);
        if (offscreen_window* w = find(window)) {
            ++w->state.drag_count;
            w->state.last_drag_point = screen_point;
        }
    }

    void minimize_window(window_handle window) override {
        std::lock_guard lock(mutex_);
        if (offscreen_window* w = find(window)) w->state.minimized = true;
    }

    bool info(window_handle window, offscreen_window_state& out) {
        {
            std::lock_guard lock(mutex_);
            const offscreen_window* w = find(window);
            if (w == nullptr) return false;
            out = w->state;
        }
        out.enabled = book_.enabled(window);
        book_.update_state(window, out.pending_update, out.paint_posted);
        return true;
    }

    offscreen_image image(window_handle window) {
        std::lock_guard lock(mutex_);
        const offscreen_window* w = find(window);
        if (w == nullptr) return {};
        return {w->pixel_width, w->pixel_height, w->pixels};
    }

    void set_monitor(const rect& monitor, const rect& area) {
        std::lock_guard lock(mutex_);
        monitor_ = monitor;
        work_area_ = area;
    }

private:
    // As ShowWindow(SW_MAXIMIZE): the window asks its handler for the
    // maximised placement (WM_GETMINMAXINFO, defaulting to the work area)
    // and takes it; SW_RESTORE brings the earlier bounds back.
    void maximize(window_handle window) {
        minmax_info info;
        {
            std::lock_guard lock(mutex_);
            offscreen_window* w = find(window);
            if (w == nullptr) return;
            rect work{work_area_.left - monitor_.left, work_area_.top - monitor_.top, work_area_.right - monitor_.left,
                      work_area_.bottom - monitor_.top};
            info.max_position = {work.left, work.top};
            info.max_size = {work.width(), work.height()};
            info.max_track_size = {monitor_.width(), monitor_.height()};
        }
        send_message(window, WM_GETMINMAXINFO, 0, reinterpret_cast<lparam>(&info));
        bool was_visible = false;
        {
            std::lock_guard lock(mutex_);
            offscreen_window* w = find(window);
            if (w == nullptr) return;
            if (!w->state.maximized) w->state.restore_bounds = w->state.bounds;
            w->state.maximized = true;
            w->state.minimized = false;
            was_visible = w->state.visible;
            w->state.visible = true;
        }
        move_window(window, monitor_.left + info.max_position.x, monitor_.top + info.max_position.y, info.max_size.x,
                    info.max_size.y);
        if (!was_visible) book_.set_visible(window, true);
    }

    offscreen_window* find(window_handle window) {
        auto it = windows_.find(window);
        return it == windows_.end() ? nullptr : &it->second;
    }

    window_bookkeeping book_;
    std::mutex mutex_;
    std::map<window_handle, offscreen_window> windows_;
    cursor_kind cursor_ = cursor_kind::arrow;
    rect monitor_{0, 0, 1280, 800};
    rect work_area_{0, 0, 1280, 800};
};

offscreen_backend& backend() {
    static offscreen_backend instance;
    return instance;
}

}  // namespace

window_backend& offscreen_window_backend() {
    return backend();
}

bool offscreen_window_info(window_handle window, offscreen_window_state& out) {
    return backend().info(window, out);
}

offscreen_image offscreen_pixels(window_handle window) {
    return backend().image(window);
}

void set_offscreen_work_area(const rect& area) {
    backend().set_monitor(area, area);
}

void set_offscreen_monitor(const rect& monitor, const rect& work_area) {
    backend().set_monitor(monitor, work_area);
}

}  // namespace platform
