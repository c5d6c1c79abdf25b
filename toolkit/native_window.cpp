// The toolkit's wrapper of one native top-level window: class registration,
// the window procedure that binds the window to its object, creation,
// centring and the modal message loop.
#include "toolkit/native_window.h"

#include <map>
#include <unordered_map>

#include "platform/window.h"
#include "toolkit/paint_manager.h"

namespace skinui {
namespace {

struct window_class {
    std::uint32_t style = 0;
    native_window::window_procedure proc = nullptr;
};

// The registered classes by name (RegisterClass's table).
std::map<std::wstring, window_class>& classes() {
    static std::map<std::wstring, window_class> registered;
    return registered;
}

// The object bound to each window (the window's user-data slot).
std::unordered_map<platform::window_handle, native_window*>& bound_objects() {
    static std::unordered_map<platform::window_handle, native_window*> bound;
    return bound;
}

// The object whose window is being created: CreateWindowEx's creation
// parameter, taken by the window procedure on WM_NCCREATE.
thread_local native_window* t_creating = nullptr;

// The one handler every toolkit window is registered with.
class procedure_handler final : public platform::message_handler {
public:
    platform::lresult handle_message(platform::window_handle window, std::uint32_t id, platform::wparam w,
                                     platform::lparam l) override {
        return native_window::window_proc(window, id, w, l);
    }
};

procedure_handler& procedure() {
    static procedure_handler handler;
    return handler;
}

// Where a window goes without a size or position of its own, on a display
// that has no default place of its own.
constexpr platform::rect DEFAULT_BOUNDS{0, 0, 320, 240};

platform::rect creation_bounds(int x, int y, int width, int height) {
    if (x == CW_USEDEFAULT || y == CW_USEDEFAULT) {
        x = DEFAULT_BOUNDS.left;
        y = DEFAULT_BOUNDS.top;
    }
    if (width == CW_USEDEFAULT || height == CW_USEDEFAULT || width < 0 || height < 0) {
        width = DEFAULT_BOUNDS.width();
        height = DEFAULT_BOUNDS.height();
    }
    return {x, y, x + width, y + height};
}

}  // namespace

platform::lresult default_window_proc(platform::window_handle window, std::uint32_t id, platform::wparam w,
                                      platform::lparam l) {
    using namespace platform;
    switch (id) {
        case WM_NCCREATE:
        case WM_NCACTIVATE:
            return 1;
        case WM_NCHITTEST:
            return HTCLIENT;
        case WM_CLOSE:
            destroy_window(window);
            return 0;
        case WM_SYSKEYDOWN:
            if (w == VK_F4) send_message(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            return 0;
        case WM_NCLBUTTONDOWN:
            if (w == static_cast<wparam>(HTCAPTION)) begin_window_drag(window, point_from_lparam(l));
            return 0;
        case WM_NCLBUTTONDBLCLK:
            if (w == static_cast<wparam>(HTCAPTION)) {
                send_message(window, WM_SYSCOMMAND, is_maximized(window) ? SC_RESTORE : SC_MAXIMIZE, l);
            }
            return 0;
        case WM_SYSCOMMAND:
            switch (w & 0xFFF0) {
                case SC_CLOSE:
                    send_message(window, WM_CLOSE, 0, 0);
                    break;
                case SC_MINIMIZE:
                    show_window(window, SW_MINIMIZE);
                    break;
                case SC_MAXIMIZE:
                    show_window(window, SW_MAXIMIZE);
                    break;
                case SC_RESTORE:
                    show_window(window, SW_RESTORE);
                    break;
                default:
                    break;
            }
            return 0;
        default:
            return 0;
    }
}

bool is_window_class_registered(const std::wstring& class_name) {
    return classes().count(class_name) != 0;
}

native_window::~native_window() {
    const auto found = bound_objects().find(window_);
    if (window_ != 0 && found != bound_objects().end() && found->second == this) bound_objects().erase(found);
}

platform::lresult native_window::handle_message(std::uint32_t id, platform::wparam w, platform::lparam l) {
    window_procedure previous = previous_proc_ != nullptr ? previous_proc_ : &default_window_proc;
    return previous(window_, id, w, l);
}

void native_window::on_final_message(platform::window_handle) {}

platform::lresult native_window::window_proc(platform::window_handle window, std::uint32_t id, platform::wparam w,
                                             platform::lparam l) {
    native_window* object = nullptr;
    if (id == platform::WM_NCCREATE && t_creating != nullptr) {
        object = t_creating;
        t_creating = nullptr;
        object->window_ = window;
        bound_objects()[window] = object;
        return object->handle_message(id, w, l);
    }
    const auto found = bound_objects().find(window);
    if (found != bound_objects().end()) object = found->second;
    if (object == nullptr) return default_window_proc(window, id, w, l);
    if (id != platform::WM_NCDESTROY) return object->handle_message(id, w, l);

    window_procedure previous = object->previous_proc_ != nullptr ? object->previous_proc_ : &default_window_proc;
    const platform::lresult result = previous(window, id, w, l);
    bound_objects().erase(window);
    // Subclassing is undone with the binding; these windows never subclass.
    object->subclassed_ = false;
    object->window_ = 0;
    object->on_final_message(window);
    return result;
}

// A class is registered once; a second window of the same class reuses it.
bool native_window::register_window_class() {
    const std::wstring name = window_class_name();
    if (name.empty()) return false;
    classes().try_emplace(name, window_class{class_style(), &default_window_proc});
    return true;
}

// A superclass takes the style of an existing class under its own name; the
// existing class's procedure receives what the object does not handle.
bool native_window::register_superclass() {
    const std::wstring name = window_class_name();
    const auto base = classes().find(super_class_name());
    if (name.empty() || base == classes().end()) return false;
    previous_proc_ = base->second.proc;
    classes().try_emplace(name, window_class{base->second.style, base->second.proc});
    return true;
}

platform::window_handle native_window::create(platform::window_handle parent, const std::wstring& text,
                                              std::uint32_t style, std::uint32_t ex_style, int x, int y, int width,
                                              int height, void* menu) {
    (void)menu;  // no window of the toolkit has a menu
    const bool registered = super_class_name() != nullptr ? register_superclass() : register_window_class();
    if (!registered) return 0;
    platform::window_params params;
    params.class_name = window_class_name();
    params.title = text;
    params.owner = parent;
    params.bounds = creation_bounds(x, y, width, height);
    params.default_position = x == CW_USEDEFAULT || y == CW_USEDEFAULT;
    params.default_size = width == CW_USEDEFAULT || height == CW_USEDEFAULT;
    params.class_style = classes()[params.class_name].style;
    params.style = style;
    params.ex_style = ex_style;
    t_creating = this;
    const platform::window_handle created = platform::create_window(params, &procedure());
    t_creating = nullptr;
    window_ = created;
    return created;
}

void native_window::center_window() {
    const platform::rect window = platform::window_rect(window_);
    const platform::window_handle owner = platform::owner_of(window_);
    const platform::rect work = platform::work_area_near(owner != 0 ? owner : window_);
    // An owner whose geometry cannot be read counts as no owner.
    const platform::rect owner_rect = owner != 0 ? platform::window_rect(owner) : platform::rect{};
    const bool over_owner = owner != 0 && !platform::is_minimized(owner) && !owner_rect.empty();
    const platform::rect ref = over_owner ? owner_rect : work;
    const int width = window.width();
    const int height = window.height();
    int left = (ref.left + ref.right) / 2 - width / 2;
    int top = (ref.top + ref.bottom) / 2 - height / 2;
    if (left < work.left) {
        left = work.left;
    } else if (left + width > work.right) {
        left = work.right - width;
    }
    if (top < work.top) {
        top = work.top;
    } else if (top + height > work.bottom) {
        top = work.bottom - height;
    }
    platform::move_window(window_, left, top, width, height);
}

unsigned native_window::show_modal() {
    const platform::window_handle owner = platform::owner_of(window_);
    // The window manager keeps a modal window above the owner it blocks.
    if (owner != 0) platform::set_window_modal(window_, true);
    platform::show_window(window_, platform::SW_SHOWNORMAL);
    if (owner != 0) platform::enable_window(owner, false);
    unsigned result = 0;
    platform::message msg;
    bool quit = false;
    while (platform::is_window(window_)) {
        if (!platform::get_message(msg)) {
            quit = true;
            break;
        }
        // The owner is enabled before the close goes through, so that the
        // activation passes to it when the window goes; a window that
        // declines its close stays modal, and its owner disabled.
        const bool closing = msg.id == platform::WM_CLOSE && msg.window == window_;
        if (closing) {
            result = static_cast<unsigned>(msg.w);
            if (owner != 0) {
                platform::enable_window(owner, true);
                platform::set_focus(owner);
            }
        }
        if (!paint_manager::translate_message(msg)) platform::dispatch_message(msg);
        if (closing && owner != 0 && platform::is_window(window_)) platform::enable_window(owner, false);
    }
    if (owner != 0) {
        platform::enable_window(owner, true);
        platform::set_focus(owner);
    }
    // Every enclosing loop of the thread ends as well.
    if (quit) platform::post_quit_message(static_cast<int>(msg.w));
    return result;
}

platform::lresult native_window::send_message(std::uint32_t id, platform::wparam w, platform::lparam l) {
    return platform::send_message(window_, id, w, l);
}

bool native_window::post_message(std::uint32_t id, platform::wparam w, platform::lparam l) {
    return platform::post_message(window_, id, w, l);
}

}  // namespace skinui
