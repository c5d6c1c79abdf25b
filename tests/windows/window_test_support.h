// Shared pieces of the window tests: a product window that records what it
// is sent, an update task built as the run builds it, and synthetic input
// (clicks on named controls, keys) for the off-screen display.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/updater_app.h"
#include "core/update_task.h"
#include "platform/message_queue.h"
#include "platform/offscreen/offscreen_display.h"
#include "platform/text.h"
#include "platform/window.h"
#include "skin/resource_table.h"
#include "tests/toolkit/modal_script.h"
#include "toolkit/control.h"
#include "toolkit/paint_manager.h"
#include "toolkit/skin_resources.h"
#include "windows/dlg_base.h"

namespace platform {
inline std::ostream& operator<<(std::ostream& out, const rect& r) {
    return out << r.left << ',' << r.top << ',' << r.right << ',' << r.bottom;
}
}  // namespace platform

namespace window_test {

// The private quit message the product names on its command line.
inline constexpr std::uint32_t QUIT_MESSAGE = platform::WM_USER + 77;

// A stand-in for the product's main window: records the messages it gets.
class product_window final : public platform::message_handler {
public:
    explicit product_window(platform::rect bounds = {200, 150, 1000, 650}) {
        platform::window_params params;
        params.class_name = L"ProductWnd";
        params.bounds = bounds;
        handle = platform::create_window(params, this);
        platform::show_window(handle, platform::SW_SHOWNORMAL);
    }
    ~product_window() override { platform::destroy_window(handle); }
    platform::lresult handle_message(platform::window_handle, std::uint32_t id, platform::wparam,
                                     platform::lparam) override {
        seen.push_back(id);
        return 0;
    }
    // Dispatched messages and those still queued for it.
    bool got(std::uint32_t id) {
        platform::message msg;
        std::vector<platform::message> others;
        while (platform::peek_message(msg)) {
            if (msg.window == handle)
                seen.push_back(msg.id);
            else
                others.push_back(msg);
        }
        for (const platform::message& m : others) {
            if (m.id == platform::WM_QUIT) {
                platform::post_quit_message(static_cast<int>(m.w));
            } else {
                platform::post_message(m.window, m.id, m.w, m.l);
            }
        }
        return std::find(seen.begin(), seen.end(), id) != seen.end();
    }
    platform::window_handle handle = 0;
    std::vector<std::uint32_t> seen;
};

// An update task as the run builds it. With min_version above version a
// decline closes the product, which then gets QUIT_MESSAGE.
inline std::unique_ptr<update_task> make_task(platform::window_handle product, const std::string& version = "1.0",
                                              const std::string& min_version = "") {
    updater_app app;
    app.channel = L"stable";
    app.product = L"tool";
    app.version = platform::utf8_to_wide(version);
    app.quit_message_id = QUIT_MESSAGE;
    app.product_window = product;
    auto task = std::make_unique<update_task>(app);
    task->min_version = min_version;
    return task;
}

// The off-screen display with the work area of a 1280 x 800 screen, the
// skin from the program's resources, and the run's flags at their start.
inline void reset_environment() {
    platform::select_display(platform::display_kind::offscreen);
    platform::set_offscreen_work_area({0, 0, 1280, 800});
    skinui::paint_manager::set_resource_module(&find_resource);
    g_update_cancelled.store(false);
    platform::message msg;
    while (platform::peek_message(msg)) {
    }
}

// Dispatches what is queued now (a first paint and what it posts).
inline void settle() {
    platform::message msg;
    for (int i = 0; i < 1000 && platform::peek_message(msg); ++i) {
        if (!skinui::paint_manager::translate_message(msg)) platform::dispatch_message(msg);
    }
}

inline platform::point centre_of(const dlg_base& window, const wchar_t* name) {
    const skinui::control* c = window.paint_manager.find_control(name);
    if (c == nullptr) return {-1, -1};
    const platform::rect r = c->pos();
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// Posts a press and release of the left button on a named control.
inline void post_click(const dlg_base& window, const wchar_t* name) {
    const platform::point p = centre_of(window, name);
    const platform::lparam at = platform::make_point_lparam(p.x, p.y);
    platform::post_message(window.handle(), platform::WM_LBUTTONDOWN, platform::MK_LBUTTON, at);
    platform::post_message(window.handle(), platform::WM_LBUTTONUP, 0, at);
}

inline bool quit_queued() {
    platform::message msg;
    bool quit = false;
    while (platform::peek_message(msg)) quit = quit || msg.id == platform::WM_QUIT;
    return quit;
}

}  // namespace window_test
