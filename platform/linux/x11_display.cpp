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
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "platform/linux/x11_backend.h"
#include "platform/text.h"

namespace platform::x11 {

atoms intern_atoms(Display* d) {
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

x11_backend::x11_backend(Display* display)
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
    const std::uint64_t mark = error_mark(display_);
    // X has no empty windows; the bookkeeping keeps the size asked for.
    const Window id = XCreateWindow(display_, root_, params.bounds.left, params.bounds.top,
                                    static_cast<unsigned>(std::max(1, wanted.cx)),
                                    static_cast<unsigned>(std::max(1, wanted.cy)), 0, CopyFromParent, InputOutput,
                                    CopyFromParent, CWBackPixmap | CWBitGravity | CWEventMask, &attributes);
    if (id == 0 || failed_since(display_, mark)) {
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
    if (!send_client_message(display_, root_, w.id, atoms_.net_wm_state,
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

// --- painting, focus, cursor, dragging ---

void x11_backend::present(window_handle window, const std::uint32_t* pixels, int width, int height, int stride,
                          const rect& area) {
    std::lock_guard lock(mutex_);
    x11_window* w = find(window);
    if (w == nullptr) return;
    if (!w->pixels) {
        w->pixels = std::make_unique<surface>(display_, DefaultVisual(display_, screen_),
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

}  // namespace platform::x11

namespace platform {

window_backend* x11_window_backend() {
    // Connected once, on first use, and kept for the process's life; the
    // connection belongs to the thread that makes the windows.
    static x11::x11_backend* instance = [] {
        Display* display = x11::open_display();
        return display ? new x11::x11_backend(display) : nullptr;
    }();
    return instance;
}

}  // namespace platform
