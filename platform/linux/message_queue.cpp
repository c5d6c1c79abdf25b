// The window-message system on Linux: one queue per thread, woken through an
// eventfd so that posting from any thread is cheap, and a registry of the
// process's window handles.
#include "platform/message_queue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

class thread_queue {
public:
    thread_queue() : wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~thread_queue() {
        if (wake_fd_ >= 0) ::close(wake_fd_);  // result ignored: nothing to do on failure
    }
    thread_queue(const thread_queue&) = delete;
    thread_queue& operator=(const thread_queue&) = delete;

    // False once the owning thread has ended.
    bool push(const message& msg) {
        bool was_empty = false;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (closed_) return false;
            was_empty = messages_.empty();
            messages_.push_back(msg);
        }
        // Only the first message after an empty queue needs to wake the owner;
        // it re-checks the queue after every wake-up.
        if (was_empty) wake();
        return true;
    }

    // WM_QUIT is a flag, as on Windows: it comes once every message posted
    // before or after it has been taken, and posting it again only renews it.
    void post_quit(int exit_code) {
        bool was_empty = false;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (closed_) return;
            was_empty = messages_.empty() && !quit_pending_;
            quit_pending_ = true;
            quit_code_ = exit_code;
        }
        if (was_empty) wake();
    }

    bool pop(message& out) {
        std::lock_guard<std::mutex> guard(lock_);
        if (!messages_.empty()) {
            out = messages_.front();
            messages_.pop_front();
            return true;
        }
        if (!quit_pending_) return false;
        quit_pending_ = false;
        out = {0, WM_QUIT, static_cast<wparam>(quit_code_), 0};
        return true;
    }

    void close() {
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
        messages_.clear();
        quit_pending_ = false;
    }

    int wake_descriptor() const { return wake_fd_; }

    void drain_wake() {
        std::uint64_t count = 0;
        // Non-blocking: EAGAIN just means nobody posted since the last drain.
        while (::read(wake_fd_, &count, sizeof count) < 0 && errno == EINTR) {
        }
    }

    // Owner-thread only.
    std::vector<event_source*> sources;

private:
    void wake() {
        const std::uint64_t one = 1;
        // EAGAIN (the counter is full) still leaves the descriptor readable.
        while (::write(wake_fd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

    std::mutex lock_;
    std::deque<message> messages_;
    bool quit_pending_ = false;
    int quit_code_ = 0;
    bool closed_ = false;
    int wake_fd_;
};

struct window_entry {
    message_handler* handler = nullptr;
    std::shared_ptr<thread_queue> queue;
};

// Handles we hand out start above the 29-bit range of X11 resource ids, so
// they never collide with the ids that a backend registers.
constexpr window_handle FIRST_OWN_HANDLE = 0x20000000;

struct window_registry {
    std::mutex lock;
    std::unordered_map<window_handle, window_entry> windows;
    window_handle next_handle = FIRST_OWN_HANDLE;
};

// Never destroyed, so that threads ending during process exit still find it.
window_registry& registry() {
    static window_registry* instance = new window_registry;
    return *instance;
}

void forget_windows_of(const thread_queue* queue) {
    window_registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    std::erase_if(reg.windows, [queue](const auto& item) { return item.second.queue.get() == queue; });
}

// The calling thread's queue, made on first use. When the thread ends its
// windows are forgotten and posts to it fail, as with windows of an ended
// thread.
class queue_owner {
public:
    queue_owner() : queue_(std::make_shared<thread_queue>()) {}
    ~queue_owner() {
        queue_->close();
        forget_windows_of(queue_.get());
    }
    queue_owner(const queue_owner&) = delete;
    queue_owner& operator=(const queue_owner&) = delete;
    const std::shared_ptr<thread_queue>& queue() const { return queue_; }

private:
    std::shared_ptr<thread_queue> queue_;
};

const std::shared_ptr<thread_queue>& current_queue() {
    thread_local queue_owner owner;
    return owner.queue();
}

bool find_window(window_handle window, window_entry& out) {
    window_registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    const auto found = reg.windows.find(window);
    if (found == reg.windows.end()) return false;
    out = found->second;
    return true;
}

// Lets every event source turn what it has into messages. Called before the
// thread blocks too, since a source may hold events it has already read from
// its descriptor (Xlib does).
void pump_sources(thread_queue& queue) {
    const std::vector<event_source*> sources = queue.sources;  // a pump may remove a source
    for (event_source* source : sources) {
        if (std::find(queue.sources.begin(), queue.sources.end(), source) != queue.sources.end()) source->pump();
    }
}

// Waits until the wake-up descriptor or a source's descriptor is ready, or
// timeout_ms passes (-1: no limit). Pumps the sources that are ready.
void wait_for_input(thread_queue& queue, int timeout_ms) {
    std::vector<pollfd> fds;
    fds.push_back({queue.wake_descriptor(), POLLIN, 0});
    for (const event_source* source : queue.sources) fds.push_back({source->descriptor(), POLLIN, 0});
    // Without a wake-up descriptor (eventfd failed) posts are noticed by polling.
    if (queue.wake_descriptor() < 0 && (timeout_ms < 0 || timeout_ms > 10)) timeout_ms = 10;
    const int ready = ::poll(fds.data(), fds.size(), timeout_ms);
    if (ready <= 0) return;  // time-out, or EINTR: the caller loops and checks its deadline
    if (fds[0].revents != 0) queue.drain_wake();
    bool source_ready = false;
    for (std::size_t i = 1; i < fds.size(); ++i) source_ready = source_ready || fds[i].revents != 0;
    if (source_ready) pump_sources(queue);
}

// The common loop of get_message and wait_message; timeout_ms -1 waits forever.
bool next_message(message& out, int timeout_ms) {
    thread_queue& queue = *current_queue();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    for (;;) {
        if (queue.pop(out)) return true;
        pump_sources(queue);
        if (queue.pop(out)) return true;
        int wait_ms = -1;
        if (timeout_ms >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            wait_ms = static_cast<int>(left.count());
        }
        wait_for_input(queue, wait_ms);
    }
}

}  // namespace

window_handle register_window(message_handler* handler) {
    const std::shared_ptr<thread_queue>& queue = current_queue();
    window_registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    while (reg.windows.count(reg.next_handle) != 0) ++reg.next_handle;
    const window_handle handle = reg.next_handle++;
    reg.windows[handle] = {handler, queue};
    return handle;
}

bool register_window_handle(window_handle window, message_handler* handler) {
    if (window == 0) return false;
    const std::shared_ptr<thread_queue>& queue = current_queue();
    window_registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    return reg.windows.try_emplace(window, window_entry{handler, queue}).second;
}

void unregister_window(window_handle window) {
    window_registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    reg.windows.erase(window);
}

bool is_registered_window(window_handle window) {
    window_registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    return reg.windows.count(window) != 0;
}

bool post_message(window_handle window, std::uint32_t id, wparam w, lparam l) {
    if (window == 0) return false;
    window_entry entry;
    if (!find_window(window, entry)) return false;
    return entry.queue->push({window, id, w, l});
}

lresult send_message(window_handle window, std::uint32_t id, wparam w, lparam l) {
    window_entry entry;
    if (!find_window(window, entry) || entry.handler == nullptr) return 0;
    return entry.handler->handle_message(window, id, w, l);
}

void post_quit_message(int exit_code) {
    current_queue()->post_quit(exit_code);
}

bool get_message(message& out) {
    next_message(out, -1);
    return out.id != WM_QUIT;
}

bool wait_message(message& out, int timeout_ms) {
    if (next_message(out, std::max(timeout_ms, 0))) return true;
    out = message{};
    return false;
}

bool peek_message(message& out) {
    thread_queue& queue = *current_queue();
    if (queue.pop(out)) return true;
    pump_sources(queue);
    return queue.pop(out);
}

lresult dispatch_message(const message& msg) {
    if (msg.window == 0) return 0;
    return send_message(msg.window, msg.id, msg.w, msg.l);
}

void add_event_source(event_source* source) {
    if (source == nullptr) return;
    std::vector<event_source*>& sources = current_queue()->sources;
    if (std::find(sources.begin(), sources.end(), source) == sources.end()) sources.push_back(source);
}

void remove_event_source(event_source* source) {
    std::vector<event_source*>& sources = current_queue()->sources;
    std::erase(sources, source);
}

}  // namespace platform
