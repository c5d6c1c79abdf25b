// One window's toolkit state: the control tree, fonts and images, window
// attributes, layout and painting on WM_PAINT, input routing and the
// notifications of the controls.
#include "toolkit/paint_manager.h"

#include <algorithm>
#include <array>
#include <functional>

#include "platform/debug_output.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/window.h"
#include "toolkit/attribute_values.h"
#include "toolkit/blend.h"
#include "toolkit/container.h"
#include "toolkit/control.h"
#include "toolkit/font_table.h"
#include "toolkit/image_cache.h"
#include "toolkit/skin_resources.h"

namespace skinui {
namespace {

void* g_instance = nullptr;
paint_manager::resource_lookup g_resource_module = nullptr;

// Posted to the window to deliver queued asynchronous notifications.
constexpr std::uint32_t WM_ASYNC_NOTIFY = 0x8001;
// A window larger than this is not painted beyond it, whatever a layout asks.
constexpr int MAX_WINDOW_SIDE = 16384;

platform::size clamp_window_size(platform::size s) {
    return {std::clamp(s.cx, 0, MAX_WINDOW_SIDE), std::clamp(s.cy, 0, MAX_WINDOW_SIDE)};
}

void for_each_control(control* node, const std::function<void(control*)>& visit) {
    visit(node);
    if (container* box = node->as_container()) {
        for (std::size_t i = 0; i < box->count(); ++i) for_each_control(box->child_at(i), visit);
    }
}

using window_setter = void (*)(paint_manager&, std::wstring_view);
struct window_attribute {
    std::wstring_view name;
    window_setter apply;
};

}  // namespace

// The window attributes the manager knows (names compared ignoring case).
struct window_setters {
    static void size(paint_manager& m, std::wstring_view v) {
        m.initial_size_ = clamp_window_size(parse_size(v));
        if (m.root_ || m.window_ == 0) return;
        const rect r = platform::window_rect(m.window_);
        platform::move_window(m.window_, r.left, r.top, m.initial_size_.cx, m.initial_size_.cy);
    }
    static void ignored(paint_manager&, std::wstring_view) {}
    static constexpr std::array<window_attribute, 16> table{{
        {L"size", &size},
        {L"caption", [](paint_manager& m, std::wstring_view v) { m.caption_ = parse_rect(v); }},
        {L"sizebox", [](paint_manager& m, std::wstring_view v) { m.size_box_ = parse_rect(v); }},
        {L"roundcorner", [](paint_manager& m, std::wstring_view v) { m.round_corner_ = parse_size(v); }},
        {L"mininfo", [](paint_manager& m, std::wstring_view v) { m.min_info_ = parse_size(v); }},
        {L"maxinfo", [](paint_manager& m, std::wstring_view v) { m.max_info_ = parse_size(v); }},
        {L"showdirty", &ignored},
        {L"noactivate", &ignored},
        {L"opacity", &ignored},
        {L"layeredopacity", &ignored},
        {L"layeredimage", &ignored},
        {L"disabledfontcolor", [](paint_manager& m, std::wstring_view v) { m.disabled_text_color_ = parse_color(v); }},
        {L"defaultfontcolor", [](paint_manager& m, std::wstring_view v) { m.default_text_color_ = parse_color(v); }},
        {L"linkfontcolor", [](paint_manager& m, std::wstring_view v) { m.link_color_ = parse_color(v); }},
        {L"linkhoverfontcolor", [](paint_manager& m, std::wstring_view v) { m.link_hover_color_ = parse_color(v); }},
        {L"selectedcolor", [](paint_manager& m, std::wstring_view v) { m.selected_color_ = parse_color(v); }},
    }};
};

paint_manager::paint_manager() : fonts_(std::make_unique<font_table>()), images_(std::make_unique<image_cache>()) {}

paint_manager::~paint_manager() {
    std::erase(live_managers(), this);
    // Controls reap themselves from the tables while these still exist.
    root_.reset();
}

void paint_manager::set_instance(void* instance) {
    g_instance = instance;
}
void* paint_manager::instance() {
    return g_instance;
}
void paint_manager::set_resource_path(const std::wstring& path) {
    skinui::set_resource_path(path);
}
std::wstring paint_manager::resource_path() {
    return skinui::resource_path();
}
void paint_manager::set_resource_zip(const std::uint8_t* data, std::size_t size) {
    skinui::set_resource_zip(data, size);
}

void paint_manager::set_resource_zip(const std::wstring& file, bool cached) {
    skinui::set_resource_zip_file(file, cached);
}

void paint_manager::set_resource_module(resource_lookup module) {
    g_resource_module = module;
}

paint_manager::resource_lookup paint_manager::resource_module() {
    return g_resource_module;
}

std::wstring paint_manager::instance_path() {
    const std::string exe = platform::executable_path();
    const std::size_t slash = exe.find_last_of("/\\");
    return slash == std::string::npos ? std::wstring() : platform::narrow_to_wide(exe.substr(0, slash + 1));
}

void paint_manager::init(platform::window_handle window) {
    window_ = window;
    std::vector<paint_manager*>& managers = live_managers();
    if (std::find(managers.begin(), managers.end(), this) == managers.end()) managers.push_back(this);
}

font_table& paint_manager::fonts() {
    return *fonts_;
}
image_cache& paint_manager::images() {
    return *images_;
}

font_info* paint_manager::add_font(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic) {
    return fonts_->add(id, face, size, bold, underline, italic);
}

void paint_manager::set_default_font(int id) {
    fonts_->set_default(id);
}
font_info* paint_manager::get_font(int index) {
    return fonts_->get(index);
}

void paint_manager::set_window_attribute(std::wstring_view name, std::wstring_view value) {
    for (const window_attribute& known : window_setters::table) {
        if (equals_ignore_case(known.name, name)) {
            known.apply(*this, value);
            return;
        }
    }
    custom_attributes_.insert_or_assign(std::wstring(name), std::wstring(value));
}

std::wstring paint_manager::custom_attribute(std::wstring_view name) const {
    const auto found = custom_attributes_.find(name);
    return found == custom_attributes_.end() ? std::wstring() : found->second;
}

void paint_manager::add_default_attribute_list(std::wstring_view element, std::wstring_view list) {
    for (auto& entry : default_attributes_) {
        if (equals_ignore_case(entry.first, element)) {
            entry.second = list;
            return;
        }
    }
    default_attributes_.emplace_back(std::wstring(element), std::wstring(list));
}

std::wstring_view paint_manager::default_attribute_list(std::wstring_view element) const {
    for (const auto& entry : default_attributes_) {
        if (equals_ignore_case(entry.first, element)) return entry.second;
    }
    return {};
}

bool paint_manager::attach_dialog(std::unique_ptr<control> root) {
    if (!root) return false;
    // A tree attached earlier goes away first; its controls reap themselves.
    root_.reset();
    focus_ = hover_ = pressed_ = nullptr;
    names_.clear();
    root_ = std::move(root);
    init_controls(root_.get(), nullptr);
    first_layout_done_ = false;
    focus_pending_ = true;
    need_update();
    return true;
}

void paint_manager::init_controls(control* subtree, control* parent) {
    if (subtree == nullptr) return;
    subtree->set_manager(this, parent, true);
    for_each_control(subtree, [this](control* c) {
        if (!c->name().empty()) names_.insert_or_assign(c->name(), c);
    });
}

void paint_manager::reap_objects(control* gone) {
    if (focus_ == gone) focus_ = nullptr;
    if (hover_ == gone) hover_ = nullptr;
    if (pressed_ == gone) pressed_ = nullptr;
    const auto named = names_.find(gone->name());
    if (named != names_.end() && named->second == gone) names_.erase(named);
    std::erase_if(async_notifies_, [gone](const queued_notify& q) { return q.event.sender == gone; });
}

control* paint_manager::find_control(std::wstring_view name) const {
    const auto found = names_.find(name);
    return found == names_.end() ? nullptr : found->second;
}

control* paint_manager::find_control(platform::point pt) const {
    return root_ ? root_->find_control(pt) : nullptr;
}

void paint_manager::add_notifier(notify_receiver* receiver) {
    if (receiver == nullptr || std::find(notifiers_.begin(), notifiers_.end(), receiver) != notifiers_.end()) return;
    notifiers_.push_back(receiver);
}

void paint_manager::remove_notifier(notify_receiver* receiver) {
    std::erase(notifiers_, receiver);
}

void paint_manager::send_notify(control* sender, std::wstring_view type, platform::wparam w, platform::lparam l,
                                bool asynchronous, bool repeat) {
    notify_event event{std::wstring(type), sender, platform::tick_count(), last_mouse_, w, l};
    if (asynchronous && window_ != 0) {
        if (!repeat) {
            std::erase_if(async_notifies_, [&](const queued_notify& q) {
                return q.event.sender == sender && q.event.type == event.type;
            });
        }
        async_notifies_.push_back({event, next_async_sequence_++});
        if (platform::post_message(window_, WM_ASYNC_NOTIFY, 0, 0)) return;
        async_notifies_.pop_back();  // the window cannot take it: deliver now
    }
    send_notify(event);
}

void paint_manager::send_notify(notify_event& event) {
    if (event.sender != nullptr) event.sender->notify_subscribers(event);
    // A copy: receivers may add or remove receivers while being called.
    const std::vector<notify_receiver*> receivers = notifiers_;
    for (notify_receiver* receiver : receivers) {
        if (std::find(notifiers_.begin(), notifiers_.end(), receiver) != notifiers_.end()) receiver->notify(event);
    }
}

// Delivers what was queued before this call, one at a time from the queue
// itself: a receiver that deletes a control also reaps that control's
// notifications still waiting, so no later one reaches a deleted sender.
// Notifications queued meanwhile wait for their own message.
void paint_manager::on_async_notify() {
    const std::uint64_t last = next_async_sequence_;
    while (!async_notifies_.empty() && async_notifies_.front().sequence < last) {
        notify_event event = std::move(async_notifies_.front().event);
        async_notifies_.erase(async_notifies_.begin());
        send_notify(event);
    }
}

void paint_manager::need_update() {
    needs_layout_ = true;
    if (window_ != 0) platform::invalidate_rect(window_, nullptr);
}

void paint_manager::invalidate(const platform::rect& area) {
    if (window_ != 0 && !area.empty()) platform::invalidate_rect(window_, &area);
}

// --- focus ---

void paint_manager::set_focus(control* target) {
    if (window_ != 0 && platform::get_focus() != window_) platform::set_focus(window_);
    if (target == focus_ || (target != nullptr && target->manager() != this)) return;
    if (control* old = focus_) {
        focus_ = nullptr;
        send_event(old, ui_event_kind::kill_focus, last_mouse_);
    }
    focus_ = target;
    if (target != nullptr) send_event(target, ui_event_kind::set_focus, last_mouse_);
}

// Tab stops in document order, inside visible and enabled boxes only.
std::vector<control*> paint_manager::tab_stops() const {
    std::vector<control*> stops;
    std::function<void(control*)> walk = [&](control* c) {
        if (!c->is_visible() || !c->is_enabled()) return;
        if (c->is_tab_stop()) stops.push_back(c);
        if (container* box = c->as_container()) {
            for (std::size_t i = 0; i < box->count(); ++i) walk(box->child_at(i));
        }
    };
    if (root_) walk(root_.get());
    return stops;
}

bool paint_manager::set_next_tab_control(bool forward) {
    const std::vector<control*> stops = tab_stops();
    if (stops.empty()) return false;
    const auto current = std::find(stops.begin(), stops.end(), focus_);
    std::size_t next = forward ? 0 : stops.size() - 1;
    if (current != stops.end()) {
        const std::size_t index = static_cast<std::size_t>(current - stops.begin());
        next = forward ? (index + 1) % stops.size() : (index + stops.size() - 1) % stops.size();
    }
    set_focus(stops[next]);
    return true;
}

void paint_manager::place_first_focus() {
    focus_pending_ = false;
    if (focus_ == nullptr) set_next_tab_control(true);
}

void paint_manager::set_capture() {
    if (window_ != 0) platform::set_capture(window_);
}

void paint_manager::release_capture() {
    if (is_captured()) platform::release_capture();
}

bool paint_manager::is_captured() const {
    return window_ != 0 && platform::get_capture() == window_;
}

// --- painting ---

// Lays the tree out in the client rectangle; the first layout is followed
// by "windowinit", whose handlers may ask for another layout.
void paint_manager::layout_root() {
    for (int round = 0; round < 3 && needs_layout_ && root_; ++round) {
        needs_layout_ = false;
        rect client = window_ != 0 ? platform::client_rect(window_) : rect{0, 0, initial_size_.cx, initial_size_.cy};
        client.right = std::min(client.right, client.left + MAX_WINDOW_SIDE);
        client.bottom = std::min(client.bottom, client.top + MAX_WINDOW_SIDE);
        root_->set_pos(client, false);
        back_buffer_.resize(std::max(0, client.width()), std::max(0, client.height()));
        if (window_ != 0) platform::invalidate_rect(window_, nullptr);
        if (!first_layout_done_) {
            first_layout_done_ = true;
            send_notify(root_.get(), L"windowinit");
        }
    }
}

void paint_manager::on_paint() {
    if (needs_layout_ && root_) layout_root();
    if (focus_pending_ && root_) place_first_focus();
    const rect update = platform::take_update_rect(window_);
    if (!root_) return;
    const rect client = platform::client_rect(window_);
    const int width = std::clamp(client.width(), 0, MAX_WINDOW_SIDE);
    const int height = std::clamp(client.height(), 0, MAX_WINDOW_SIDE);
    if (back_buffer_.width != width || back_buffer_.height != height) back_buffer_.resize(width, height);
    const rect area = intersect(update, back_buffer_.bounds());
    if (area.empty()) return;
    for (int y = area.top; y < area.bottom; ++y) {
        std::fill_n(&back_buffer_.at(area.left, y), area.width(), pixel{0xFF000000});
    }
    paint_target target{back_buffer_, area};
    root_->paint(target, area);
    platform::present(window_, back_buffer_.pixels.data(), back_buffer_.width, back_buffer_.height,
                      back_buffer_.width * 4, area);
}

// --- input ---

void paint_manager::send_event(control* target, ui_event_kind kind, platform::point pt, platform::wparam w,
                               platform::lparam l) {
    ui_event event;
    event.kind = kind;
    event.sender = target;
    event.timestamp = platform::tick_count();
    event.mouse_pos = pt;
    event.w = w;
    event.l = l;
    if (kind == ui_event_kind::key_down || kind == ui_event_kind::key_char || kind == ui_event_kind::sys_key) {
        event.key = static_cast<wchar_t>(w);
    }
    target->do_event(event);
}

void paint_manager::on_mouse_button_down(platform::point pt, bool double_click) {
    if (window_ != 0) platform::set_focus(window_);
    last_mouse_ = pt;
    control* target = find_control(pt);
    if (target == nullptr || target->manager() != this) return;
    pressed_ = target;
    set_focus(target);
    set_capture();
    if (pressed_ != nullptr) {
        send_event(pressed_, double_click ? ui_event_kind::double_click : ui_event_kind::button_down, pt);
    }
}

void paint_manager::on_mouse_button_up(platform::point pt) {
    last_mouse_ = pt;
    release_capture();
    control* target = pressed_;
    pressed_ = nullptr;
    if (target != nullptr) send_event(target, ui_event_kind::button_up, pt);
}

void paint_manager::on_mouse_move(platform::point pt) {
    last_mouse_ = pt;
    control* now_under = find_control(pt);
    if (now_under != hover_) {
        if (control* old = hover_) {
            hover_ = nullptr;
            send_event(old, ui_event_kind::mouse_leave, pt);
            now_under = find_control(pt);  // the leave handler may have changed the tree
        }
        if (now_under != nullptr) {
            hover_ = now_under;
            send_event(now_under, ui_event_kind::mouse_enter, pt);
        }
    }
    if (control* target = pressed_ != nullptr ? pressed_ : hover_) send_event(target, ui_event_kind::mouse_move, pt);
    on_set_cursor();  // the pointer shape follows the control under it
}

void paint_manager::on_mouse_leave() {
    if (control* old = hover_) {
        hover_ = nullptr;
        send_event(old, ui_event_kind::mouse_leave, last_mouse_);
    }
}

bool paint_manager::on_set_cursor() {
    control* target = find_control(last_mouse_);
    if (target == nullptr) return false;
    send_event(target, ui_event_kind::set_cursor, last_mouse_);
    return true;
}

void paint_manager::on_key(std::uint32_t id, platform::wparam w, platform::lparam l) {
    if (w == platform::VK_SHIFT) shift_down_ = id == platform::WM_KEYDOWN;
    if (id == platform::WM_KEYUP || focus_ == nullptr) return;
    send_event(focus_, id == platform::WM_CHAR ? ui_event_kind::key_char : ui_event_kind::key_down, last_mouse_, w, l);
}

bool paint_manager::handle_window_message(std::uint32_t id, platform::wparam w, platform::lparam l,
                                          platform::lresult& result) {
    using namespace platform;
    switch (id) {
        case WM_PAINT:
            on_paint();
            result = 0;
            return true;
        case WM_ERASEBKGND:
            result = 1;
            return true;
        case WM_SIZE:
            if (root_) need_update();
            return false;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            on_mouse_button_down(point_from_lparam(l), id == WM_LBUTTONDBLCLK);
            return false;
        case WM_LBUTTONUP:
            on_mouse_button_up(point_from_lparam(l));
            return false;
        case WM_MOUSEMOVE:
            on_mouse_move(point_from_lparam(l));
            return false;
        case WM_MOUSELEAVE:
            on_mouse_leave();
            return false;
        case WM_SETCURSOR:
            if ((static_cast<std::uint64_t>(l) & 0xFFFF) != static_cast<std::uint64_t>(HTCLIENT) || !on_set_cursor()) {
                return false;
            }
            result = 1;
            return true;
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_CHAR:
            on_key(id, w, l);
            return false;
        case WM_SETFOCUS:
            if (focus_ != nullptr) send_event(focus_, ui_event_kind::set_focus, last_mouse_);
            return false;
        case WM_KILLFOCUS:
            shift_down_ = false;
            release_capture();
            return false;
        case WM_GETMINMAXINFO:
            apply_min_max_info(reinterpret_cast<minmax_info*>(l));
            return false;
        case WM_ASYNC_NOTIFY:
            on_async_notify();
            result = 0;
            return true;
        default:
            return false;
    }
}

// The layout's mininfo and maxinfo bound the window's tracking size; a
// value of 0 leaves the system's limit as it is.
void paint_manager::apply_min_max_info(platform::minmax_info* info) const {
    if (info == nullptr) return;
    if (min_info_.cx > 0) info->min_track_size.x = min_info_.cx;
    if (min_info_.cy > 0) info->min_track_size.y = min_info_.cy;
    if (max_info_.cx > 0) info->max_track_size.x = max_info_.cx;
    if (max_info_.cy > 0) info->max_track_size.y = max_info_.cy;
}

bool paint_manager::translate_message(const platform::message& msg) {
    // A copy: a manager's handling may create or destroy windows.
    const std::vector<paint_manager*> managers = live_managers();
    for (paint_manager* manager : managers) {
        if (manager->window_ == msg.window && manager->pre_translate_message(msg)) return true;
    }
    return false;
}

std::vector<paint_manager*>& paint_manager::live_managers() {
    static std::vector<paint_manager*> managers;
    return managers;
}

// Tab and Shift+Tab move the focus and are consumed; Alt key presses go to
// the focused control and are dispatched as usual.
bool paint_manager::pre_translate_message(const platform::message& msg) {
    if (window_ == 0 || msg.window != window_) return false;
    if (msg.id == platform::WM_KEYDOWN || msg.id == platform::WM_KEYUP) {
        if (msg.w == platform::VK_SHIFT) shift_down_ = msg.id == platform::WM_KEYDOWN;
        if (msg.id == platform::WM_KEYDOWN && msg.w == platform::VK_TAB) {
            set_next_tab_control(!shift_down_);
            return true;
        }
    }
    if (msg.id == platform::WM_SYSKEYDOWN && focus_ != nullptr) {
        send_event(focus_, ui_event_kind::sys_key, last_mouse_, msg.w, msg.l);
    }
    return false;
}

}  // namespace skinui
