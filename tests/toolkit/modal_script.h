// Runs test steps from inside modal message loops: each step is posted to a
// hidden off-screen window and runs when whatever loop is running dispatches
// it, as a user's input would arrive while a window or box is open.
#pragma once

#include <deque>
#include <functional>
#include <utility>

#include "platform/message_queue.h"
#include "platform/window.h"
#include "toolkit/message_box.h"

namespace modal_script {

class script final : public platform::message_handler {
public:
    script() {
        platform::window_params params;
        params.class_name = L"ScriptWnd";
        params.bounds = {0, 0, 1, 1};
        window_ = platform::create_window(params, this);
    }
    ~script() override {
        platform::destroy_window(window_);
        platform::message msg;
        while (platform::peek_message(msg)) {
        }
    }
    script(const script&) = delete;
    script& operator=(const script&) = delete;

    // Queues a step behind everything posted so far.
    void then(std::function<void()> step) {
        steps_.push_back(std::move(step));
        platform::post_message(window_, STEP, 0, 0);
    }
    // Queues a step that runs once the messages queued before it ran, so
    // that a window opened by an earlier step has painted meanwhile.
    void later(std::function<void()> step) {
        then([this, step = std::move(step)]() mutable { then(std::move(step)); });
    }

    platform::lresult handle_message(platform::window_handle, std::uint32_t id, platform::wparam,
                                     platform::lparam) override {
        if (id != STEP || steps_.empty()) return 0;
        std::function<void()> step = std::move(steps_.front());
        steps_.pop_front();
        step();
        return 0;
    }

    platform::window_handle window() const { return window_; }

private:
    static constexpr std::uint32_t STEP = platform::WM_USER + 900;
    platform::window_handle window_ = 0;
    std::deque<std::function<void()>> steps_;
};

// Input to the innermost open message box, as the display would post it.
inline void press_key(platform::window_handle window, platform::wparam vk) {
    platform::post_message(window, platform::WM_KEYDOWN, vk, 0);
    platform::post_message(window, platform::WM_KEYUP, vk, 0);
}
inline void box_key(platform::wparam vk) {
    press_key(skinui::current_message_box(), vk);
}

}  // namespace modal_script
