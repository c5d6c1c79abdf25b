// Renders the updater's real windows and message boxes on the off-screen
// display into PNG files, as the user would see them:
//   render_windows OUT_DIR
// writes hint_window.png, update_window.png (the bar at 42 %),
// stop_box.png and retry_box.png.
#include <cstdio>
#include <functional>
#include <string>

#include "core/update_task.h"
#include "platform/message_queue.h"
#include "platform/offscreen/offscreen_display.h"
#include "platform/window.h"
#include "skin/resource_table.h"
#include "toolkit/message_box.h"
#include "toolkit/paint_manager.h"
#include "tools/render_layout/png_output.h"
#include "windows/dlg_hint_update.h"
#include "windows/dlg_update.h"

namespace {

// Dispatches what is queued (the first paint and what it posts).
void settle() {
    platform::message msg;
    while (platform::peek_message(msg)) platform::dispatch_message(msg);
}

bool save(platform::window_handle window, const std::string& path) {
    const platform::offscreen_image image = platform::offscreen_pixels(window);
    skinui::surface out;
    out.resize(image.width, image.height);
    out.pixels = image.pixels;
    const bool ok = render_layout::write_surface_png(out, path);
    std::printf("%s %s (%d x %d)\n", ok ? "wrote" : "could not write", path.c_str(), image.width, image.height);
    return ok;
}

// Runs one step from inside the box's own loop, once it has painted.
class box_camera final : public platform::message_handler {
public:
    box_camera() {
        platform::window_params params;
        params.class_name = L"BoxCamera";
        params.bounds = {0, 0, 1, 1};
        window_ = platform::create_window(params, this);
    }
    ~box_camera() override { platform::destroy_window(window_); }
    void shoot(const std::string& path) {
        path_ = path;
        platform::post_message(window_, SHOOT, 0, 0);
    }
    platform::lresult handle_message(platform::window_handle, std::uint32_t id, platform::wparam w,
                                     platform::lparam) override {
        if (id != SHOOT) return 0;
        if (w == 0) {
            platform::post_message(window_, SHOOT, 1, 0);  // after the box's first paint
            return 0;
        }
        const platform::window_handle box = skinui::current_message_box();
        ok_ = save(box, path_);
        platform::post_message(box, platform::WM_KEYDOWN, platform::VK_ESCAPE, 0);
        return 0;
    }
    bool ok() const { return ok_; }

private:
    static constexpr std::uint32_t SHOOT = platform::WM_USER + 1;
    platform::window_handle window_ = 0;
    std::string path_;
    bool ok_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: render_windows OUT_DIR\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    platform::set_offscreen_work_area({0, 0, 1280, 800});
    skinui::paint_manager::set_resource_module(&find_resource);
    bool ok = true;

    dlg_hint_update hint;
    hint.create(0, L"自动更新", 0x10CF0000, 0x100);
    hint.center_window();
    platform::show_window(hint.handle(), platform::SW_SHOWNORMAL);
    settle();
    ok = save(hint.handle(), dir + "hint_window.png") && ok;

    dlg_update progress_window;
    progress_window.create(0, L"自动更新", 0x10CF0000, 0);
    progress_window.center_window();
    platform::show_window(progress_window.handle(), platform::SW_SHOWNORMAL);
    settle();
    progress_window.send_message(WM_DOWNLOAD_PROGRESS, 1000, 420);
    settle();
    ok = save(progress_window.handle(), dir + "update_window.png") && ok;

    box_camera camera;
    camera.shoot(dir + "stop_box.png");
    skinui::message_box(progress_window.handle(), L"正在更新，点击确定将终止程序更新，您确定要停止更新吗？",
                        L"温馨提示", platform::MB_OKCANCEL);
    ok = camera.ok() && ok;
    camera.shoot(dir + "retry_box.png");
    skinui::message_box(progress_window.handle(), L"下载更新程序失败，请重试", L"温馨提示", platform::MB_RETRYCANCEL);
    ok = camera.ok() && ok;
    return ok ? 0 : 1;
}
