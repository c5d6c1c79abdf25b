// The update progress window: starts the download once painted, moves the
// progress bar, asks before stopping, offers a retry after a failure, and
// links to the product's download page.
#pragma once

#include <cstdint>
#include <string>

#include "windows/dlg_base.h"

class update_task;
namespace skinui {
class progress;
}

// The product's download page, used when the window has no task.
inline constexpr char DEFAULT_DOWNLOAD_PAGE[] = "http://lanxi.example/downLoad.html";

class dlg_update : public dlg_base {
public:
    std::wstring window_class_name() const override { return L"CUpdateWnd"; }
    std::wstring skin_file() const override { return L"UpdateWnd.xml"; }
    std::wstring skin_folder() const override { return L""; }
    skin_source skin_source_type() const override { return skin_source::zip_resource; }
    string_or_id resource_id() const override { return string_or_id::from_id(200); }
    std::wstring zip_file_name() const override { return L""; }
    void init_window() override;
    platform::lresult handle_message(std::uint32_t id, platform::wparam w, platform::lparam l) override;
    void notify(skinui::notify_event& event) override;
    // As the close button: asks whether to stop the update.
    void on_close_request() override;

    void on_window_init();
    void update_fore_image(std::uint32_t percent);
    void open_download_page();

    skinui::progress* progress_bar = nullptr;
    update_task* task = nullptr;

private:
    platform::lresult on_download_progress(platform::wparam w, platform::lparam l);
    platform::lresult on_download_done(platform::wparam w);
    void confirm_stop();
};
