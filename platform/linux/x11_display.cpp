// The X11 display of our own windows: one long-lived connection for the UI
// thread, whose events become the window messages the toolkit expects, and
// the window operations of platform/window.h on top-level X windows without
// decorations.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/extensions/shape.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "platform/foreign_window.h"
#include "platform/linux/x11_keys.h"
#include "platform/linux/x11_support.h"
#include "platform/linux/x11_surface.h"
#include "platform/text.h"
#include "platform/window_backend.h"

namespace platform {
namespace {

// Two presses within this time and box make a double-click (Windows'
// defaults: GetDoubleClickTime, SM_CXDOUBLECLK).
constexpr Time DOUBLE_CLICK_MS = 500;
constexpr int DOUBLE_CLICK_BOX = 4;
// _NET_WM_MOVERESIZE direction "move", and _NET_WM_STATE actions.
constexpr long MOVERESIZE_MOVE = 8;
constexpr long STATE_REMOVE = 0;
constexpr long STATE_ADD = 1;

struct atoms {
    Atom wm_protocols, wm_delete_window, wm_state, net_wm_ping, motif_wm_hints, net_wm_name, utf8_string, net_wm_state,
        net_wm_state_modal, net_wm_state_max_vert, net_wm_state_max_horz, net_wm_window_type, net_wm_window_type_normal,
        net_wm_window_type_dialog, net_wm_moveresize, net_active_window, net_wm_pid;
};

atoms intern_atoms(Display* d) {
    using x11::atom;
    return {atom(d, "WM_PROTOCOLS"),
            atom(d, "WM_DELETE_WINDOW"),
            atom(d, "WM_STATE"),
            atom(d, "_NET_WM_PING"),
            atom(d, "_MOTIF_WM_HINTS"),
            atom(d, "_NET_WM_NAME"),
            atom(d, "UTF8_STRING"),
            atom(d, "_NET_WM_STATE"),
            atom(d, "_NET_WM_STATE_MODAL"),
            atom(d, "_NET_WM_STATE_MAXIMIZED_VERT"),
            atom(d, "_NET_WM_STATE_MAXIMIZED_HORZ"),
            atom(d, "_NET_WM_WINDOW_TYPE"),
            atom(d, "_NET_WM_WINDOW_TYPE_NORMAL"),
            atom(d, "_NET_WM_WINDOW_TYPE_DIALOG"),
            atom(d, "_NET_WM_MOVERESIZE"),
            atom(d, "_NET_ACTIVE_WINDOW"),
            atom(d, "_NET_WM_PID")};
}

lparam size_lparam(int width, int height) {
    return static_cast<lparam>((static_cast<std::uint32_t>(height & 0xFFFF) << 16) |
                               static_cast<std::uint32_t>(width & 0xFFFF));
}

size size_of(const rect& r) {
    return {std::max(0, r.width()), std::max(0, r.height())};
}

// One of our windows as the display sees it.
struct x11_window {
    Window id = 0;
    std::wstring title;
    std::uint32_t class_style = 0;
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    window_handle owner = 0;
    rect bounds;  // screen coordinates; the whole window is client area
    rect restore_bounds;
    bool shown = false;   // WS_VISIBLE: shown by show_window, also while minimised
    bool mapped = false;  // asked to be mapped (the window manager may still hold it back)
    bool minimized = false;
    bool maximized = false;
    bool modal = false;
    size corner;
    Cursor cursor = 0;
    GC gc = nullptr;
    std::unique_ptr<x11::surface> pixels;
    // The last left press, for double-clicks, and whether it went to the
    // window manager as a caption drag (its release is then not ours).
    Time last_press_time = 0;
    point last_press;
    bool last_press_caption = false;
    bool press_is_drag = false;
};

class x11_backend final : public window_backend, public event_source {
public:
    explicit x11_backend(Display* display)
        : display_(display),
          screen_(DefaultScreen(display)),
          root_(RootWindow(display, screen_)),
          atoms_(intern_atoms(display)),
          arrow_(XCreateFontCursor(display, XC_left_ptr)),
          hand_(XCreateFontCursor(display, XC_hand2)) {
        // Held keys repeat as presses only, so a repeat is told by the key
        // already being down; a server without XKB sends release pairs.
        Bool supported = False;
        static_cast<void>(XkbSetDetectableAutoRepeat(display_, True, &supported));
        const char* shm = std::getenv("TAMSA_X11_SHM");
        allow_shm_ = shm == nullptr || std::strcmp(shm, "0") != 0;
    }

    // --- event_source ---

    int descriptor() const override { return ConnectionNumber(display_); }

    void pump() override {
        // XPending also flushes what the UI thread asked of the server.
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            translate(event);
        }
    }

    // --- window_backend ---

    window_handle create_window(const window_params& params, message_handler* handler) override;
    void destroy_window(window_handle window) override;
    bool is_window(window_handle window) override { return own(window) || foreign_window_exists(window); }

    rect window_rect(window_handle window) override {
        std::lock_guard lock(mutex_);
        if (const x11_window* w = find(window)) return w->bounds;
        return foreign_window_rect(window);
    }

    rect client_rect(window_handle window) override {
        std::lock_guard lock(mutex_);
        const x11_window* w = find(window);
        return w ? rect{0, 0, size_of(w->bounds).cx, size_of(w->bounds).cy} : rect{};
    }

    void move_window(window_handle window, int x, int y, int width, int height) override;
    void show_window(window_handle window, int show_command) override;

    bool is_window_visible(window_handle window) override {
        std::lock_guard lock(mutex_);
        const x11_window* w = find(window);
        return w != nullptr && w->shown;
    }
    bool is_maximized(window_handle window) override {
        std::lock_guard lock(mutex_);
        const x11_window* w = find(window);
        return w != nullptr && w->maximized;
    }
    bool is_minimized(window_handle window) override {
        {
            std::lock_guard lock(mutex_);
            if (const x11_window* w = find(window)) return w->minimized;
        }
        return foreign_window_minimized(window);
    }

    // Another program cannot be disabled on X11; it is told with the
    // private client message {WM_ENABLE, 0 or 1, 0} and ignores input itself.
    void enable_window(window_handle window, bool enable) override {
        if (book_.set_enabled(window, enable)) return;
        if (!post_foreign_message(window, WM_ENABLE, enable ? 1 : 0, 0)) return;
        std::lock_guard lock(mutex_);
        foreign_enabled_[window] = enable;
    }
    bool is_window_enabled(window_handle window) override {
        if (own(window)) return book_.enabled(window);
        std::lock_guard lock(mutex_);
        auto it = foreign_enabled_.find(window);
        return it == foreign_enabled_.end() || it->second;
    }

    window_handle owner_of(window_handle window) override {
        std::lock_guard lock(mutex_);
        const x11_window* w = find(window);
        return w ? w->owner : 0;
    }

    // One screen: every window of ours is on the same monitor.
    rect monitor_rect_near(window_handle window) override {
        if (window != 0 && !own(window)) return foreign_monitor_rect(window);
        return x11::screen_rect(display_);
    }
    rect work_area_near(window_handle window) override {
        if (window != 0 && !own(window)) return foreign_work_area(window);
        return x11::work_area(display_);
    }

    void set_window_text(window_handle window, const std::wstring& text) override;
    std::wstring window_text(window_handle window) override {
        std::lock_guard lock(mutex_);
        const x11_window* w = find(window);
        return w ? w->title : std::wstring{};
    }
    std::uint32_t window_style(window_handle window) override {
        std::lock_guard lock(mutex_);
        const x11_window* w = find(window);
        return w ? w->style : 0;
    }
    void set_window_style(window_handle window, std::uint32_t style) override {
        std::lock_guard lock(mutex_);
        if (x11_window* w = find(window)) w->style = style;
    }
    void set_window_modal(window_handle window, bool modal) override;
    void set_window_round_corners(window_handle window, size corner) override;

    void invalidate_rect(window_handle window, const rect* area) override { book_.invalidate(window, area); }
    rect take_update_rect(window_handle window) override { return book_.take_update(window); }
    void present(window_handle window, const std::uint32_t* pixels, int width, int height, int stride,
                 const rect& area) override;

    void set_capture(window_handle window) override { book_.set_capture(window); }
    void release_capture() override { book_.release_capture(); }
    window_handle get_capture() override { return book_.capture(); }
    void set_focus(window_handle window) override;
    window_handle get_focus() override { return book_.focus(); }
    void set_cursor(cursor_kind cursor) override;
    cursor_kind current_cursor() override {
        std::lock_guard lock(mutex_);
        return cursor_;
    }

    void begin_window_drag(window_handle window, point screen_point) override;
    void minimize_window(window_handle window) override { show_window(window, SW_MINIMIZE); }

private:
    bool own(window_handle window) {
        std::lock_guard lock(mutex_);
        return find(window) != nullptr;
    }
    x11_window* find(window_handle window) {
        auto it = windows_.find(window);
        return it == windows_.end() ? nullptr : it->second.get();
    }

    void set_window_properties(const x11_window& w, const window_params& params);
    void write_state_property(const x11_window& w);
    void change_state(const x11_window& w, long action, Atom first, Atom second);
    void apply_size_hints(window_handle window, const minmax_info& info, const rect& bounds);
    minmax_info ask_minmax(window_handle window);
    void map(window_handle window, bool activate);
    void maximize(window_handle window);
    void restore_from_maximized(window_handle window);
    void iconify(window_handle window);
    void request_activation(Window id);
    void define_cursor(x11_window& w, Cursor cursor);

    void translate(XEvent& event);
    void on_configure(const XConfigureEvent& event);
    void on_property(const XPropertyEvent& event);
    void on_key(XKeyEvent& event, bool press);
    void on_button(const XButtonEvent& event, bool press);
    void on_left_press(window_handle window, const XButtonEvent& event);
    void on_motion(const XMotionEvent& event);
    void on_focus(const XFocusChangeEvent& event, bool in);
    void on_client_message(const XClientMessageEvent& event);

    Display* display_;
    int screen_;
    Window root_;
    atoms atoms_;
    Cursor arrow_;
    Cursor hand_;
    bool allow_shm_ = true;
    window_bookkeeping book_;
    std::mutex mutex_;
    std::map<window_handle, std::unique_ptr<x11_window>> windows_;
    std::map<window_handle, bool> foreign_enabled_;
    window_handle pointer_window_ = 0;  // the window of ours the pointer is over
    cursor_kind cursor_ = cursor_kind::arrow;
    std::vector<unsigned> keys_down_ = std::vector<unsigned>(256, 0);
};

// --- creation and properties ---

window_handle x11_backend::create_window(const window_params& params, message_handler* handler) {
    if (handler == nullptr) return 0;
    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None;  // we paint everything; no flash of a background
    attributes.bit_gravity = NorthWestGravity;
    attributes.event_mask = ExposureMask | StructureNotifyMask | KeyPressMask | KeyReleaseMask | ButtonPressMask |
                            ButtonReleaseMask | PointerMotionMask | EnterWindowMask | LeaveWindowMask |
                            FocusChangeMask | PropertyChangeMask;
    const size wanted = size_of(params.bounds);
    const std::uint64_t mark = x11::error_mark(display_);
    // X has no empty windows; the bookkeeping keeps the size asked for.
    const Window id = XCreateWindow(display_, root_, params.bounds.left, params.bounds.top,
                                    static_cast<unsigned>(std::max(1, wanted.cx)),
                                    static_cast<unsigned>(std::max(1, wanted.cy)), 0, CopyFromParent, InputOutput,
                                    CopyFromParent, CWBackPixmap | CWBitGravity | CWEventMask, &attributes);
    if (id == 0 || x11::failed_since(display_, mark)) {
        debug_output("[TamsaUpdate]: XCreateWindow failed");
        return 0;
    }
    auto w = std::make_unique<x11_window>();
    w->id = id;
    w->title = params.title;
    w->class_style = params.class_style;
    w->style = params.style;
    w->ex_style = params.ex_style;
    w->owner = params.owner;
    w->bounds = {params.bounds.left, params.bounds.top, params.bounds.left + wanted.cx, params.bounds.top + wanted.cy};
    w->gc = XCreateGC(display_, id, 0, nullptr);
    set_window_properties(*w, params);
    if (!register_window_handle(id, handler)) {
        XFreeGC(display_, w->gc);
        XDestroyWindow(display_, id);
        return 0;
    }
    {
        std::lock_guard lock(mutex_);
        windows_[id] = std::move(w);
    }
    book_.add(id, wanted, false);
    // The connection's events are read by the thread that owns the windows.
    add_event_source(this);
    XFlush(display_);
    // As CreateWindowEx: the creation messages arrive before it returns.
    const lparam create_params = reinterpret_cast<lparam>(&params);
    send_message(id, WM_NCCREATE, 0, create_params);
    send_message(id, WM_CREATE, 0, create_params);
    return id;
}

void x11_backend::set_window_properties(const x11_window& w, const window_params& params) {
    // No decorations: the skin draws the whole window (_MOTIF_WM_HINTS
    // flags = decorations, decorations = none).
    const long motif[5] = {2, 0, 0, 0, 0};
    XChangeProperty(display_, w.id, atoms_.motif_wm_hints, atoms_.motif_wm_hints, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(motif), 5);
    Atom protocols[2] = {atoms_.wm_delete_window, atoms_.net_wm_ping};
    if (XSetWMProtocols(display_, w.id, protocols, 2) == 0) debug_output("[TamsaUpdate]: XSetWMProtocols failed");
    if (params.owner != 0) XSetTransientForHint(display_, w.id, static_cast<Window>(params.owner));
    const long pid = static_cast<long>(::getpid());
    XChangeProperty(display_, w.id, atoms_.net_wm_pid, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    std::string class_name = wide_to_utf8(params.class_name);
    XClassHint class_hint{class_name.data(), class_name.data()};
    XSetClassHint(display_, w.id, &class_hint);
    XWMHints hints{};
    hints.flags = InputHint | StateHint;
    hints.input = True;
    hints.initial_state = NormalState;
    XSetWMHints(display_, w.id, &hints);
    write_state_property(w);
    const Atom type = w.modal ? atoms_.net_wm_window_type_dialog : atoms_.net_wm_window_type_normal;
    XChangeProperty(display_, w.id, atoms_.net_wm_window_type, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&type), 1);
    std::string title = wide_to_utf8(w.title);
    XChangeProperty(display_, w.id, atoms_.net_wm_name, atoms_.utf8_string, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
    char* list[1] = {title.data()};
    XTextProperty text{};
    if (Xutf8TextListToTextProperty(display_, list, 1, XStdICCTextStyle, &text) >= Success) {
        XSetWMName(display_, w.id, &text);
        XFree(text.value);
    }
}

// The state of a window that is not mapped is its own to write; once
// mapped, the window manager owns the property and is asked instead.
void x11_backend::write_state_property(const x11_window& w) {
    std::vector<Atom> state;
    if (w.modal) state.push_back(atoms_.net_wm_state_modal);
    if (w.maximized) {
        state.push_back(atoms_.net_wm_state_max_vert);
        state.push_back(atoms_.net_wm_state_max_horz);
    }
    XChangeProperty(display_, w.id, atoms_.net_wm_state, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(state.data()), static_cast<int>(state.size()));
}

void x11_backend::change_state(const x11_window& w, long action, Atom first, Atom second) {
    if (!x11::send_client_message(display_, root_, w.id, atoms_.net_wm_state,
                                  SubstructureRedirectMask | SubstructureNotifyMask, action, static_cast<long>(first),
                                  static_cast<long>(second), 1)) {
        debug_output("[TamsaUpdate]: _NET_WM_STATE request failed");
    }
}

void x11_backend::set_window_text(window_handle window, const std::wstring& text) {
    std::lock_guard lock(mutex_);
    x11_window* w = find(window);
    if (w == nullptr) return;
    w->title = text;
    std::string title = wide_to_utf8(text);
    XChangeProperty(display_, w->id, atoms_.net_wm_name, atoms_.utf8_string, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
    char* list[1] = {title.data()};
    XTextProperty property{};
    if (Xutf8TextListToTextProperty(display_, list, 1, XStdICCTextStyle, &property) >= Success) {
        XSetWMName(display_, w->id, &property);
        XFree(property.value);
    }
    XFlush(display_);
}

void x11_backend::set_window_modal(window_handle window, bool modal) {
    std::lock_guard lock(mutex_);
    x11_window* w = find(window);
    if (w == nullptr || w->modal == modal) return;
    w->modal = modal;
    const Atom type = modal ? atoms_.net_wm_window_type_dialog : atoms_.net_wm_window_type_normal;
    XChangeProperty(display_, w->id, atoms_.net_wm_window_type, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&type), 1);
    if (w->mapped) {
        change_state(*w, modal ? STATE_ADD : STATE_REMOVE, atoms_.net_wm_state_modal, 0);
    } else {
        write_state_property(*w);
    }
    XFlush(display_);
}

// The window's shape: the rounded rectangle of CreateRoundRectRgn(0, 0,
// width + 1, height + 1, cx, cy), one rectangle per row through the corners.
void x11_backend::set_window_round_corners(window_handle window, size corner) {
    std::lock_guard lock(mutex_);
    x11_window* w = find(window);
    if (w == nullptr) return;
    w->corner = corner;
    int event_base = 0;
    int error_base = 0;
    if (!XShapeQueryExtension(display_, &event_base, &error_base)) return;
    if (corner.cx <= 0 || corner.cy <= 0) {
        XShapeCombineMask(display_, w->id, ShapeBounding, 0, 0, None, ShapeSet);
        XFlush(display_);
        return;
    }
    const int width = std::max(1, w->bounds.width());
    const int height = std::max(1, w->bounds.height());
    const double rx = std::min(corner.cx, width) / 2.0;
    const double ry = std::min(corner.cy, height) / 2.0;
    std::vector<XRectangle> rows;
    for (int y = 0; y < height; ++y) {
        // Distance of the row's centre from the corner ellipse's centre line.
        const double dy = y + 0.5 < ry ? ry - (y + 0.5) : (y + 0.5 > height - ry ? (y + 0.5) - (height - ry) : 0.0);
        double inset = 0.0;
        if (dy > 0.0) {
            const double t = std::min(1.0, dy / ry);
            inset = rx - rx * std::sqrt(1.0 - t * t);
        }
        const int left = static_cast<int>(inset + 0.5);
        const int row_width = width - 2 * left;
        if (row_width <= 0) continue;
        rows.push_back({static_cast<short>(left), static_cast<short>(y), static_cast<unsigned short>(row_width), 1});
    }
    XShapeCombineRectangles(display_, w->id, ShapeBounding, 0, 0, rows.data(), static_cast<int>(rows.size()), ShapeSet,
                            YXBanded);
    XFlush(display_);
}

void x11_backend::destroy_window(window_handle window) {
    if (!own(window)) return;
    send_message(window, WM_DESTROY, 0, 0);
    send_message(window, WM_NCDESTROY, 0, 0);
    unregister_window(window);
    book_.remove(window);
    std::unique_ptr<x11_window> w;
    {
        std::lock_guard lock(mutex_);
        auto it = windows_.find(window);
        if (it == windows_.end()) return;
        w = std::move(it->second);
        windows_.erase(it);
        if (pointer_window_ == window) pointer_window_ = 0;
    }
    w->pixels.reset();
    XFreeGC(display_, w->gc);
    XDestroyWindow(display_, w->id);
    XFlush(display_);
}

// --- geometry and state ---

void x11_backend::move_window(window_handle window, int x, int y, int width, int height) {
    const rect bounds{x, y, x + std::max(0, width), y + std::max(0, height)};
    bool resized = false;
    bool moved = false;
    bool maximized = false;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        resized = size_of(w->bounds) != size_of(bounds);
        moved = w->bounds.left != bounds.left || w->bounds.top != bounds.top;
        w->bounds = bounds;
        maximized = w->maximized;
        XMoveResizeWindow(display_, w->id, x, y, static_cast<unsigned>(std::max(1, width)),
                          static_cast<unsigned>(std::max(1, height)));
        XFlush(display_);
    }
    // As SetWindowPos: the window hears of its new place at once; the
    // ConfigureNotify that follows then finds nothing changed.
    if (moved) send_message(window, WM_MOVE, 0, make_point_lparam(x, y));
    if (!resized) return;
    book_.set_client_size(window, size_of(bounds));
    send_message(window, WM_SIZE, maximized ? SIZE_MAXIMIZED : SIZE_RESTORED, size_lparam(width, height));
    book_.invalidate(window, nullptr);
}

minmax_info x11_backend::ask_minmax(window_handle window) {
    const rect monitor = x11::screen_rect(display_);
    const rect work = x11::work_area(display_);
    minmax_info info;
    info.max_position = {work.left - monitor.left, work.top - monitor.top};
    info.max_size = {work.width(), work.height()};
    info.min_track_size = {1, 1};
    info.max_track_size = {monitor.width(), monitor.height()};
    send_message(window, WM_GETMINMAXINFO, 0, reinterpret_cast<lparam>(&info));
    return info;
}

// WM_NORMAL_HINTS: where the window is (so that the window manager keeps
// the place we chose) and the limits that WM_GETMINMAXINFO answered.
void x11_backend::apply_size_hints(window_handle window, const minmax_info& info, const rect& bounds) {
    std::lock_guard lock(mutex_);
    x11_window* w = find(window);
    if (w == nullptr) return;
    XSizeHints* hints = XAllocSizeHints();
    if (hints == nullptr) return;
    hints->flags = PPosition | USPosition | PSize | PWinGravity;
    hints->x = bounds.left;
    hints->y = bounds.top;
    hints->width = std::max(1, bounds.width());
    hints->height = std::max(1, bounds.height());
    hints->win_gravity = StaticGravity;
    if (info.min_track_size.x > 0 && info.min_track_size.y > 0) {
        hints->flags |= PMinSize;
        hints->min_width = info.min_track_size.x;
        hints->min_height = info.min_track_size.y;
    }
    if (info.max_track_size.x > 0 && info.max_track_size.y > 0) {
        hints->flags |= PMaxSize;
        hints->max_width = std::max(info.max_track_size.x, info.min_track_size.x);
        hints->max_height = std::max(info.max_track_size.y, info.min_track_size.y);
    }
    XSetWMNormalHints(display_, w->id, hints);
    XFree(hints);
}

void x11_backend::request_activation(Window id) {
    // Source 2: on the user's behalf, which window managers honour.
    if (!x11::send_client_message(display_, root_, id, atoms_.net_active_window,
                                  SubstructureRedirectMask | SubstructureNotifyMask, 2, CurrentTime, 0)) {
        debug_output("[TamsaUpdate]: _NET_ACTIVE_WINDOW request failed");
    }
}

void x11_backend::map(window_handle window, bool activate) {
    rect bounds;
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        bounds = w->bounds;
        first = !w->mapped;
    }
    if (first) apply_size_hints(window, ask_minmax(window), bounds);
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        if (first) write_state_property(*w);
        // Mapping an iconic window also brings it back (ICCCM).
        XMapRaised(display_, w->id);
        w->mapped = true;
        w->shown = true;
        if (activate) request_activation(w->id);
        XFlush(display_);
    }
    book_.set_visible(window, true);
}

void x11_backend::iconify(window_handle window) {
    bool was_minimized = false;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        was_minimized = w->minimized;
        if (w->mapped) {
            if (XIconifyWindow(display_, w->id, screen_) == 0) debug_output("[TamsaUpdate]: XIconifyWindow failed");
        } else {
            XWMHints hints{};
            hints.flags = StateHint | InputHint;
            hints.input = True;
            hints.initial_state = IconicState;
            XSetWMHints(display_, w->id, &hints);
            XMapWindow(display_, w->id);
            w->mapped = true;
        }
        w->shown = true;
        w->minimized = true;
        XFlush(display_);
    }
    // As ShowWindow: the window hears of it at once; WM_STATE then agrees.
    if (!was_minimized) send_message(window, WM_SIZE, SIZE_MINIMIZED, 0);
    book_.set_visible(window, true);
}

// As ShowWindow(SW_MAXIMIZE): the handler answers WM_GETMINMAXINFO, whose
// placement the window takes; the window manager is told through
// _NET_WM_STATE so that it agrees (and maximises to its work area).
void x11_backend::maximize(window_handle window) {
    const minmax_info info = ask_minmax(window);
    const rect monitor = x11::screen_rect(display_);
    int width = info.max_size.x;
    int height = info.max_size.y;
    if (info.max_track_size.x > 0) width = std::min(width, info.max_track_size.x);
    if (info.max_track_size.y > 0) height = std::min(height, info.max_track_size.y);
    const rect placement{monitor.left + info.max_position.x, monitor.top + info.max_position.y,
                         monitor.left + info.max_position.x + width, monitor.top + info.max_position.y + height};
    bool was_mapped = false;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        if (!w->maximized) w->restore_bounds = w->bounds;
        w->maximized = true;
        w->minimized = false;
        was_mapped = w->mapped;
        if (was_mapped) {
            change_state(*w, STATE_ADD, atoms_.net_wm_state_max_vert, atoms_.net_wm_state_max_horz);
        }
    }
    apply_size_hints(window, info, placement);
    move_window(window, placement.left, placement.top, placement.width(), placement.height());
    if (!was_mapped) map(window, true);
}

void x11_backend::restore_from_maximized(window_handle window) {
    rect restore;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr || !w->maximized) return;
        w->maximized = false;
        restore = w->restore_bounds;
        if (w->mapped) change_state(*w, STATE_REMOVE, atoms_.net_wm_state_max_vert, atoms_.net_wm_state_max_horz);
    }
    if (!restore.empty()) move_window(window, restore.left, restore.top, restore.width(), restore.height());
}

void x11_backend::show_window(window_handle window, int show_command) {
    if (!own(window)) return;
    switch (show_command) {
        case SW_HIDE: {
            {
                std::lock_guard lock(mutex_);
                x11_window* w = find(window);
                if (w == nullptr) return;
                if (w->mapped && XWithdrawWindow(display_, w->id, screen_) == 0) {
                    debug_output("[TamsaUpdate]: XWithdrawWindow failed");
                }
                w->mapped = false;
                w->shown = false;
                XFlush(display_);
            }
            book_.set_visible(window, false);
            return;
        }
        case SW_MINIMIZE:
        case SW_SHOWMINIMIZED:
        case SW_SHOWMINNOACTIVE:
        case SW_FORCEMINIMIZE:
            return iconify(window);
        case SW_MAXIMIZE:
            return maximize(window);
        case SW_SHOWNORMAL:
        case SW_RESTORE: {
            bool minimized = false;
            {
                std::lock_guard lock(mutex_);
                x11_window* w = find(window);
                minimized = w != nullptr && w->minimized;
            }
            // SW_RESTORE brings a minimised window back as it was; from the
            // maximised state, and always with SW_SHOWNORMAL, to its normal place.
            if (show_command == SW_SHOWNORMAL || !minimized) restore_from_maximized(window);
            return map(window, true);
        }
        case SW_SHOWNOACTIVATE:
            return map(window, false);
        default:
            return map(window, true);
    }
}

// --- painting, focus, cursor, dragging ---

void x11_backend::present(window_handle window, const std::uint32_t* pixels, int width, int height, int stride,
                          const rect& area) {
    std::lock_guard lock(mutex_);
    x11_window* w = find(window);
    if (w == nullptr) return;
    if (!w->pixels) {
        w->pixels = std::make_unique<x11::surface>(display_, DefaultVisual(display_, screen_),
                                                   DefaultDepth(display_, screen_), allow_shm_);
    }
    if (!w->pixels->put(w->id, w->gc, pixels, width, height, stride, area)) return;
    XFlush(display_);
}

void x11_backend::set_focus(window_handle window) {
    if (window != 0 && !own(window)) {
        activate_foreign_window(window);
        book_.set_focus(0);
        return;
    }
    if (window != 0) {
        std::lock_guard lock(mutex_);
        const x11_window* w = find(window);
        XWindowAttributes attributes{};
        // Only a viewable window can take the input focus.
        if (w != nullptr && XGetWindowAttributes(display_, w->id, &attributes) != 0 &&
            attributes.map_state == IsViewable) {
            XSetInputFocus(display_, w->id, RevertToParent, CurrentTime);
            XFlush(display_);
        }
    }
    book_.set_focus(window);
}

void x11_backend::define_cursor(x11_window& w, Cursor cursor) {
    if (w.cursor == cursor) return;
    w.cursor = cursor;
    XDefineCursor(display_, w.id, cursor);
    XFlush(display_);
}

// The cursor goes on the window under the pointer (or the focused one),
// as SetCursor changes the pointer wherever it is.
void x11_backend::set_cursor(cursor_kind cursor) {
    const window_handle focus = book_.focus();
    std::lock_guard lock(mutex_);
    cursor_ = cursor;
    x11_window* w = find(pointer_window_ != 0 ? pointer_window_ : focus);
    if (w != nullptr) define_cursor(*w, cursor == cursor_kind::hand ? hand_ : arrow_);
}

// The window manager moves the window with the pointer; it needs the
// pointer, so the press's implicit grab is given up first.
void x11_backend::begin_window_drag(window_handle window, point screen_point) {
    std::lock_guard lock(mutex_);
    x11_window* w = find(window);
    if (w == nullptr) return;
    XUngrabPointer(display_, CurrentTime);
    // A press handled late (the button already up) would leave the window
    // manager waiting for a release that never comes.
    Window root = 0;
    Window child = 0;
    int root_x = 0;
    int root_y = 0;
    int x = 0;
    int y = 0;
    unsigned mask = 0;
    if (XQueryPointer(display_, w->id, &root, &child, &root_x, &root_y, &x, &y, &mask) == 0 ||
        (mask & Button1Mask) == 0) {
        return;
    }
    if (!x11::send_client_message(display_, root_, w->id, atoms_.net_wm_moveresize,
                                  SubstructureRedirectMask | SubstructureNotifyMask, screen_point.x, screen_point.y,
                                  MOVERESIZE_MOVE, Button1, 1)) {
        debug_output("[TamsaUpdate]: _NET_WM_MOVERESIZE request failed");
    }
    XFlush(display_);
}

// --- events ---

void x11_backend::translate(XEvent& event) {
    const window_handle window = event.xany.window;
    switch (event.type) {
        case Expose: {
            const rect area{event.xexpose.x, event.xexpose.y, event.xexpose.x + event.xexpose.width,
                            event.xexpose.y + event.xexpose.height};
            book_.invalidate(window, &area);
            break;
        }
        case ConfigureNotify:
            on_configure(event.xconfigure);
            break;
        case PropertyNotify:
            on_property(event.xproperty);
            break;
        case KeyPress:
        case KeyRelease:
            on_key(event.xkey, event.type == KeyPress);
            break;
        case ButtonPress:
        case ButtonRelease:
            on_button(event.xbutton, event.type == ButtonPress);
            break;
        case MotionNotify:
            on_motion(event.xmotion);
            break;
        case EnterNotify: {
            std::lock_guard lock(mutex_);
            if (find(window) != nullptr) pointer_window_ = window;
            break;
        }
        case LeaveNotify:
            // Moving onto a child is no leaving; grabs are not the pointer's moves.
            if (event.xcrossing.detail != NotifyInferior && event.xcrossing.mode == NotifyNormal) {
                {
                    std::lock_guard lock(mutex_);
                    if (pointer_window_ == window) pointer_window_ = 0;
                }
                book_.post_input(window, WM_MOUSELEAVE, 0, 0);
            }
            break;
        case FocusIn:
        case FocusOut:
            on_focus(event.xfocus, event.type == FocusIn);
            break;
        case ClientMessage:
            on_client_message(event.xclient);
            break;
        case MappingNotify:
            if (event.xmapping.request == MappingKeyboard || event.xmapping.request == MappingModifier) {
                XRefreshKeyboardMapping(&event.xmapping);
            }
            break;
        default:
            break;
    }
}

void x11_backend::on_configure(const XConfigureEvent& event) {
    const window_handle window = event.window;
    rect bounds{event.x, event.y, event.x + event.width, event.y + event.height};
    if (!event.send_event) {
        // A real event is relative to the parent, which is the window
        // manager's frame once it has reparented us; the synthetic one that
        // the window manager sends is in root coordinates already.
        int x = 0;
        int y = 0;
        Window child = 0;
        if (XTranslateCoordinates(display_, event.window, root_, 0, 0, &x, &y, &child) == 0) return;
        bounds = {x, y, x + event.width, y + event.height};
    }
    bool resized = false;
    bool moved = false;
    bool maximized = false;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        resized = size_of(w->bounds) != size_of(bounds);
        moved = w->bounds.left != bounds.left || w->bounds.top != bounds.top;
        w->bounds = bounds;
        maximized = w->maximized;
    }
    if (moved) send_message(window, WM_MOVE, 0, make_point_lparam(bounds.left, bounds.top));
    if (!resized) return;
    book_.set_client_size(window, size_of(bounds));
    send_message(window, WM_SIZE, maximized ? SIZE_MAXIMIZED : SIZE_RESTORED,
                 size_lparam(bounds.width(), bounds.height()));
    book_.invalidate(window, nullptr);
}

void x11_backend::on_property(const XPropertyEvent& event) {
    const window_handle window = event.window;
    // A window destroyed meanwhile has nothing left to read.
    if (!own(window)) return;
    if (event.atom == atoms_.wm_state) {
        const bool iconic = x11::is_iconic(display_, event.window);
        bool changed = false;
        rect bounds;
        bool maximized = false;
        {
            std::lock_guard lock(mutex_);
            x11_window* w = find(window);
            if (w == nullptr) return;
            changed = w->minimized != iconic;
            w->minimized = iconic;
            bounds = w->bounds;
            maximized = w->maximized;
        }
        if (!changed) return;
        if (iconic) {
            send_message(window, WM_SIZE, SIZE_MINIMIZED, 0);
        } else {
            send_message(window, WM_SIZE, maximized ? SIZE_MAXIMIZED : SIZE_RESTORED,
                         size_lparam(bounds.width(), bounds.height()));
        }
        return;
    }
    if (event.atom != atoms_.net_wm_state || event.state != PropertyNewValue) return;
    // The window manager says whether it holds the window maximised.
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, event.window, atoms_.net_wm_state, 0, 64, False, XA_ATOM, &type, &format, &count,
                           &after, &data) != Success) {
        return;
    }
    bool vert = false;
    bool horz = false;
    for (unsigned long i = 0; data != nullptr && format == 32 && i < count; ++i) {
        const Atom a = reinterpret_cast<Atom*>(data)[i];
        vert = vert || a == atoms_.net_wm_state_max_vert;
        horz = horz || a == atoms_.net_wm_state_max_horz;
    }
    if (data != nullptr) XFree(data);
    std::lock_guard lock(mutex_);
    if (x11_window* w = find(window); w != nullptr && w->mapped) w->maximized = vert && horz;
}

void x11_backend::on_key(XKeyEvent& event, bool press) {
    const window_handle window = event.window;
    const std::uint32_t key = x11::virtual_key(XLookupKeysym(&event, 0));
    const unsigned code = event.keycode & 0xFF;
    const bool repeat = press && keys_down_[code] != 0;
    keys_down_[code] = press ? 1 : 0;
    const bool alt = (event.state & Mod1Mask) != 0 || key == VK_MENU;
    // lParam as Windows packs it: repeat count, scan code, Alt (context),
    // previous key state, transition.
    lparam l = 1 | static_cast<lparam>((code >= 8 ? code - 8 : 0) & 0xFF) << 16;
    if (alt) l |= lparam{1} << 29;
    if (!press || repeat) l |= lparam{1} << 30;
    if (!press) l |= lparam{1} << 31;
    if (key != 0) {
        const std::uint32_t id = alt ? (press ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (press ? WM_KEYDOWN : WM_KEYUP);
        book_.post_input(window, id, key, l);
    }
    if (!press) return;
    // Alt+F4 is the system close command, as the default window procedure makes it.
    if (alt && key == VK_F4) {
        book_.post_input(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return;
    }
    if (alt || (event.state & ControlMask) != 0) return;
    char text[8] = {};
    KeySym symbol = 0;
    const int length = XLookupString(&event, text, sizeof text, &symbol, nullptr);
    wparam ch = 0;
    if (symbol >= 0x1000100 && symbol <= 0x110FFFF) {
        ch = static_cast<wparam>(symbol - 0x1000000);  // a Unicode key symbol
    } else if (length == 1) {
        ch = static_cast<unsigned char>(text[0]);  // Latin-1
    }
    if (ch >= 0x20 && ch != 0x7F) book_.post_input(window, WM_CHAR, ch, l);
}

void x11_backend::on_button(const XButtonEvent& event, bool press) {
    const window_handle window = event.window;
    if (!book_.enabled(window)) return;  // a disabled window takes no input, not even a hit test
    const lparam client_point = make_point_lparam(event.x, event.y);
    wparam keys = 0;
    if (event.state & ShiftMask) keys |= MK_SHIFT;
    if (event.state & ControlMask) keys |= MK_CONTROL;
    if (event.button == Button1) {
        if (press) return on_left_press(window, event);
        bool drag = false;
        {
            std::lock_guard lock(mutex_);
            x11_window* w = find(window);
            if (w == nullptr) return;
            drag = w->press_is_drag;
            w->press_is_drag = false;
        }
        if (!drag) book_.post_input(window, WM_LBUTTONUP, keys, client_point);
        return;
    }
    if (event.button == Button3) {
        book_.post_input(window, press ? WM_RBUTTONDOWN : WM_RBUTTONUP, keys, client_point);
        return;
    }
    if ((event.button == Button4 || event.button == Button5) && press) {
        const int delta = event.button == Button4 ? 120 : -120;
        const wparam w = (static_cast<wparam>(static_cast<std::uint16_t>(delta)) << 16) | keys;
        book_.post_input(window, WM_MOUSEWHEEL, w, make_point_lparam(event.x_root, event.y_root));
    }
}

// A left press asks the window what lies there (WM_NCHITTEST with the
// screen point). The caption starts the window manager's move, and a
// double-click on it maximises or restores; a handler that does not answer
// (0) gets the press as client input, as the default procedure would say.
void x11_backend::on_left_press(window_handle window, const XButtonEvent& event) {
    const lresult hit = send_message(window, WM_NCHITTEST, 0, make_point_lparam(event.x_root, event.y_root));
    if (hit < 0) return;  // HTERROR, HTTRANSPARENT
    const bool caption = hit == HTCAPTION;
    bool double_click = false;
    bool maximized = false;
    std::uint32_t class_style = 0;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        const point here{event.x_root, event.y_root};
        double_click = w->last_press_time != 0 && w->last_press_caption == caption &&
                       event.time - w->last_press_time <= DOUBLE_CLICK_MS &&
                       std::abs(here.x - w->last_press.x) <= DOUBLE_CLICK_BOX &&
                       std::abs(here.y - w->last_press.y) <= DOUBLE_CLICK_BOX;
        // A third press starts a new pair.
        w->last_press_time = double_click ? 0 : event.time;
        w->last_press = here;
        w->last_press_caption = caption;
        w->press_is_drag = caption && !double_click;
        maximized = w->maximized;
        class_style = w->class_style;
    }
    if (caption) {
        if (double_click) {
            book_.post_input(window, WM_SYSCOMMAND, maximized ? SC_RESTORE : SC_MAXIMIZE,
                             make_point_lparam(event.x_root, event.y_root));
        } else {
            begin_window_drag(window, {event.x_root, event.y_root});
        }
        return;
    }
    wparam keys = MK_LBUTTON;
    if (event.state & ShiftMask) keys |= MK_SHIFT;
    if (event.state & ControlMask) keys |= MK_CONTROL;
    const std::uint32_t id = double_click && (class_style & CS_DBLCLKS) ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN;
    book_.post_input(window, id, keys, make_point_lparam(event.x, event.y));
}

// As on Windows, the pointer's shape is settled (WM_SETCURSOR; the class's
// arrow when the handler leaves it) before the move is posted.
void x11_backend::on_motion(const XMotionEvent& event) {
    const window_handle window = event.window;
    if (!book_.enabled(window)) return;
    {
        std::lock_guard lock(mutex_);
        if (find(window) == nullptr) return;
        pointer_window_ = window;
    }
    const lresult handled =
        send_message(window, WM_SETCURSOR, window, static_cast<lparam>(HTCLIENT | (WM_MOUSEMOVE << 16)));
    if (handled == 0) {
        std::lock_guard lock(mutex_);
        cursor_ = cursor_kind::arrow;
        if (x11_window* w = find(window)) define_cursor(*w, arrow_);
    }
    wparam keys = 0;
    if (event.state & Button1Mask) keys |= MK_LBUTTON;
    if (event.state & ShiftMask) keys |= MK_SHIFT;
    if (event.state & ControlMask) keys |= MK_CONTROL;
    book_.post_input(window, WM_MOUSEMOVE, keys, make_point_lparam(event.x, event.y));
}

void x11_backend::on_focus(const XFocusChangeEvent& event, bool in) {
    // Focus moves of keyboard grabs (the window manager's key bindings)
    // and of the pointer root are no change of the window's focus.
    if (event.mode == NotifyGrab || event.mode == NotifyUngrab || event.detail == NotifyPointer ||
        event.detail == NotifyInferior) {
        return;
    }
    const window_handle window = event.window;
    if (!own(window)) return;
    if (!in) {
        if (book_.focus() == window) book_.set_focus(0);
        return;
    }
    if (book_.enabled(window)) {
        book_.set_focus(window);
        return;
    }
    // A disabled window passes the focus on to an enabled window it owns
    // (its modal dialog), as Windows activates the owned popup instead.
    window_handle popup = 0;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [handle, w] : windows_) {
            if (w->owner == window && w->shown && book_.enabled(handle)) popup = handle;
        }
    }
    if (popup != 0) set_focus(popup);
}

void x11_backend::on_client_message(const XClientMessageEvent& event) {
    if (event.message_type != atoms_.wm_protocols || event.format != 32) return;
    const Atom protocol = static_cast<Atom>(event.data.l[0]);
    if (protocol == atoms_.wm_delete_window) {
        // The window manager's close is the system close command.
        book_.post_input(event.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (protocol == atoms_.net_wm_ping) {
        XClientMessageEvent reply = event;
        reply.window = root_;
        XEvent out{};
        out.xclient = reply;
        if (XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &out) == 0) {
            debug_output("[TamsaUpdate]: _NET_WM_PING reply failed");
        }
        XFlush(display_);
    }
}

}  // namespace

window_backend* x11_window_backend() {
    // Connected once, on first use, and kept for the process's life; the
    // connection belongs to the thread that makes the windows.
    static x11_backend* instance = [] {
        Display* display = x11::open_display();
        return display ? new x11_backend(display) : nullptr;
    }();
    return instance;
}

}  // namespace platform
