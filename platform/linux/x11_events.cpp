// Events of the X11 connection turned into the window messages the toolkit
// expects: configuration, properties, keys, buttons, motion, focus and
// client messages.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "platform/debug_output.h"
#include "platform/linux/x11_backend.h"
#include "platform/linux/x11_keys.h"

namespace platform::x11 {

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
    bounds_change change;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        change = store_bounds(*w, bounds);
    }
    announce_bounds(window, change, bounds, size_lparam(bounds.width(), bounds.height()));
}

void x11_backend::on_property(const XPropertyEvent& event) {
    const window_handle window = event.window;
    // A window destroyed meanwhile has nothing left to read.
    if (!own(window)) return;
    if (event.atom == atoms_.wm_state) {
        const bool iconic = is_iconic(display_, event.window);
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
    const std::uint32_t key = virtual_key(XLookupKeysym(&event, 0));
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
        bool caption = false;
        {
            std::lock_guard lock(mutex_);
            x11_window* w = find(window);
            if (w == nullptr) return;
            caption = w->press_on_caption;
            w->press_on_caption = false;
            w->drag_pending = false;
        }
        if (!caption) book_.post_input(window, WM_LBUTTONUP, keys, client_point);
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
// screen point). A press on the caption becomes the window manager's move
// once the pointer travels past the drag threshold (on_motion), and a
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
        w->press_on_caption = caption;
        w->drag_pending = caption && !double_click;
        maximized = w->maximized;
        class_style = w->class_style;
    }
    if (caption) {
        if (double_click) {
            book_.post_input(window, WM_SYSCOMMAND, maximized ? SC_RESTORE : SC_MAXIMIZE,
                             make_point_lparam(event.x_root, event.y_root));
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
    std::optional<point> drag_from;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        pointer_window_ = window;
        if (w->drag_pending && (event.state & Button1Mask) != 0 &&
            (std::abs(event.x_root - w->last_press.x) >= DRAG_THRESHOLD ||
             std::abs(event.y_root - w->last_press.y) >= DRAG_THRESHOLD)) {
            w->drag_pending = false;
            // The travelled press is no first click of a double-click.
            w->last_press_time = 0;
            drag_from = w->last_press;
        }
    }
    // The move starts from the press point, so the window keeps the spot
    // that was grabbed under the pointer.
    if (drag_from) {
        begin_window_drag(window, *drag_from);
        return;
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

}  // namespace platform::x11
