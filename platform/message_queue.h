// The window-message system: per-thread queues, posting from any thread, a
// blocking get for the thread that owns the windows, and dispatch to a
// window's handler. Other event streams (the X11 connection) are merged into
// the same wait through event sources.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

struct message {
    window_handle window = 0;  // 0 for thread messages such as WM_QUIT
    std::uint32_t id = WM_NULL;
    wparam w = 0;
    lparam l = 0;
};

// Receives the messages dispatched to one window.
class message_handler {
public:
    virtual ~message_handler() = default;
    virtual lresult handle_message(window_handle window, std::uint32_t id, wparam w, lparam l) = 0;
};

// A descriptor-driven producer of messages for the calling thread's queue
// (for example the X11 connection). get_message waits on every source's
// descriptor together with the queue's own wake-up descriptor.
class event_source {
public:
    virtual ~event_source() = default;
    virtual int descriptor() const = 0;
    // Turns whatever is ready into posted messages; never blocks.
    virtual void pump() = 0;
};

// Binds a handler to a new window handle owned by the calling thread. The
// handle is unique for the process's life (never reused).
window_handle register_window(message_handler* handler);
// Binds a handler to a handle that a backend created (an X11 window id).
bool register_window_handle(window_handle window, message_handler* handler);
void unregister_window(window_handle window);
// True while the handle is registered in this process.
bool is_registered_window(window_handle window);

// Queues a message for the thread that owns the window; safe from any thread.
// Only this process's windows: false for handle 0, for a handle not
// registered here and for a window whose thread has ended. Another program's
// window is reached through post_foreign_message, so a program that never
// talks to one (a download tool) does not carry the window system's client.
bool post_message(window_handle window, std::uint32_t id, wparam w, lparam l);
// Calls the window's handler at once on the calling thread; 0 when unknown.
lresult send_message(window_handle window, std::uint32_t id, wparam w, lparam l);

// Queues WM_QUIT with the exit code for the calling thread.
void post_quit_message(int exit_code);

// Waits for the next message of the calling thread. Returns false when it is
// WM_QUIT (the message is still filled in), true otherwise.
bool get_message(message& out);
// Like get_message but gives up after timeout_ms; returns false on time-out
// with out.id set to WM_NULL. A WM_QUIT is returned as true with id WM_QUIT.
bool wait_message(message& out, int timeout_ms);
// Takes the next message if one is queued, without waiting.
bool peek_message(message& out);

// Calls the handler of msg.window; 0 when the window is unknown.
lresult dispatch_message(const message& msg);

// Event sources of the calling thread's queue.
void add_event_source(event_source* source);
void remove_event_source(event_source* source);

}  // namespace platform
