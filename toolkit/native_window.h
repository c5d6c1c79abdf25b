// The toolkit's wrapper of one native top-level window: class registration,
// the window procedure that binds the window to its object, creation,
// centring and the modal message loop.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message_queue.h"
#include "platform/types.h"

namespace skinui {

// CreateWindowEx's "use the default" position and size.
inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

class native_window {
public:
    using window_procedure = platform::lresult (*)(platform::window_handle, std::uint32_t, platform::wparam,
                                                   platform::lparam);

    native_window() = default;
    // Unbinds a window that outlives its object: its later messages get the
    // default handling instead of reaching a deleted object.
    virtual ~native_window();
    native_window(const native_window&) = delete;
    native_window& operator=(const native_window&) = delete;

    virtual std::wstring window_class_name() const = 0;
    // Null: the class is registered, not superclassed.
    virtual const wchar_t* super_class_name() const { return nullptr; }
    virtual std::uint32_t class_style() const { return 0; }
    // Unhandled messages go to the previous window procedure.
    virtual platform::lresult handle_message(std::uint32_t id, platform::wparam w, platform::lparam l);
    // Called once the window is gone (after WM_NCDESTROY).
    virtual void on_final_message(platform::window_handle window);

    // Registers the class and creates the window; its handle, or 0.
    platform::window_handle create(platform::window_handle parent, const std::wstring& text, std::uint32_t style,
                                   std::uint32_t ex_style, int x = CW_USEDEFAULT, int y = CW_USEDEFAULT,
                                   int width = CW_USEDEFAULT, int height = CW_USEDEFAULT, void* menu = nullptr);
    // Centres the window over its owner (when it has one that is not
    // minimised) or on the work area, kept inside that work area.
    void center_window();
    // Shows the window and runs a message loop until WM_QUIT, with the owner
    // disabled meanwhile; the WM_QUIT is posted again for enclosing loops.
    // Returns the wParam of a WM_CLOSE seen for this window, else 0.
    unsigned show_modal();

    platform::lresult send_message(std::uint32_t id, platform::wparam w = 0, platform::lparam l = 0);
    bool post_message(std::uint32_t id, platform::wparam w = 0, platform::lparam l = 0);
    platform::window_handle handle() const { return window_; }

    // The procedure every window of the toolkit is bound to.
    static platform::lresult window_proc(platform::window_handle window, std::uint32_t id, platform::wparam w,
                                         platform::lparam l);

protected:
    bool register_window_class();
    bool register_superclass();

    platform::window_handle window_ = 0;
    // Receives what handle_message does not handle.
    window_procedure previous_proc_ = nullptr;
    bool subclassed_ = false;
};

// The system's default handling of a message for our windows: closing,
// system commands (minimise, maximise, restore, close), caption drag.
platform::lresult default_window_proc(platform::window_handle window, std::uint32_t id, platform::wparam w,
                                      platform::lparam l);

// The window classes registered so far (by name), for tests and tools.
bool is_window_class_registered(const std::wstring& class_name);

}  // namespace skinui
