// The update progress window: starts the download once painted, moves the
// progress bar, asks before stopping, offers a retry after a failure, and
// links to the product's download page.
#include "windows/dlg_update.h"

#include <cstdio>
#include <cwchar>

#include "core/text_utils.h"
#include "core/update_task.h"
#include "platform/message_queue.h"
#include "platform/process.h"
#include "platform/window.h"
#include "toolkit/message_box.h"
#include "toolkit/progress.h"

namespace {

// The boxes' texts in code page 936, as the message box's narrow form takes
// them: "温馨提示", "下载更新程序失败，请重试" and
// "正在更新，点击确定将终止程序更新，您确定要停止更新吗？".
constexpr char BOX_CAPTION[] = "\xce\xc2\xdc\xb0\xcc\xe1\xca\xbe";
constexpr char RETRY_TEXT[] =
    "\xcf\xc2\xd4\xd8\xb8\xfc\xd0\xc2\xb3\xcc\xd0\xf2\xca\xa7\xb0\xdc\xa3\xac\xc7\xeb\xd6\xd8\xca\xd4";
constexpr char STOP_TEXT[] =
    "\xd5\xfd\xd4\xda\xb8\xfc\xd0\xc2\xa3\xac\xb5\xe3\xbb\xf7\xc8\xb7\xb6\xa8\xbd\xab\xd6\xd5\xd6\xb9\xb3\xcc\xd0"
    "\xf2\xb8\xfc\xd0\xc2\xa3\xac\xc4\xfa\xc8\xb7\xb6\xa8\xd2\xaa\xcd\xa3\xd6\xb9\xb8\xfc\xd0\xc2\xc2\xf0\xa3\xbf";

const wchar_t WINDOW_TITLE[] = L"自动更新";
// The bar's width and height in the layout (and the size of progbg.png).
constexpr std::uint32_t BAR_WIDTH = 498;
constexpr int BAR_HEIGHT = 14;
// The shell's convention: a result above 31 is success.
constexpr std::intptr_t SHELL_SUCCESS_MIN = 32;

bool starts_with_ignoring_case(const std::string& text, const char* prefix) {
    std::size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= text.size()) return false;
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// The shell opens whatever it is given, a local program too; the link is
// only ever a web page: an http or https address with a host and no blanks
// or control characters.
bool is_web_address(const std::string& address) {
    std::size_t host = 0;
    if (starts_with_ignoring_case(address, "http://")) {
        host = 7;
    } else if (starts_with_ignoring_case(address, "https://")) {
        host = 8;
    } else {
        return false;
    }
    if (address.size() <= host || address[host] == '/') return false;
    for (const char c : address) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return false;
    }
    return true;
}

}  // namespace

void dlg_update::init_window() {
    progress_bar = dynamic_cast<skinui::progress*>(paint_manager.find_control(L"progress"));
}

platform::lresult dlg_update::handle_message(std::uint32_t id, platform::wparam w, platform::lparam l) {
    switch (id) {
        case WM_DOWNLOAD_START:
            if (task != nullptr) task->start_download(window_);
            return 0;
        case WM_DOWNLOAD_PROGRESS:
            return on_download_progress(w, l);
        case WM_DOWNLOAD_DONE:
            return on_download_done(w);
        default:
            return dlg_base::handle_message(id, w, l);
    }
}

void dlg_update::notify(skinui::notify_event& event) {
    if (event.type == L"link") {
        open_download_page();
    } else if (event.type == L"click") {
        const std::wstring name = event.sender != nullptr ? event.sender->name() : std::wstring();
        if (name == L"closebtn") {
            confirm_stop();
        } else if (name == L"minbtn") {
            send_message(platform::WM_SYSCOMMAND, platform::SC_MINIMIZE, 0);
        }
    } else if (event.type == L"windowinit") {
        on_window_init();
    }
}

void dlg_update::on_close_request() {
    confirm_stop();
}

void dlg_update::on_window_init() {
    if (skinui::control* title = paint_manager.find_control(L"title")) title->set_text(WINDOW_TITLE);
    platform::set_window_text(window_, WINDOW_TITLE);
    post_message(WM_DOWNLOAD_START, 0, 0);
}

// Constant work per message: one value, one image string, and a repaint of
// the bar's rectangle only.
platform::lresult dlg_update::on_download_progress(platform::wparam w, platform::lparam l) {
    if (task != nullptr && task->progress_paused.load()) return dlg_base::handle_message(WM_DOWNLOAD_PROGRESS, w, l);
    const auto total = static_cast<std::int32_t>(static_cast<std::uint32_t>(w));
    const auto written = static_cast<std::int32_t>(static_cast<std::uint32_t>(l));
    std::uint32_t percent = 0;
    if (total != 0 && written != 0) {
        // Through a 64-bit integer: a negative ratio wraps as the 32-bit
        // conversion does instead of being undefined.
        const double ratio = written * 100.0 / total;
        percent = static_cast<std::uint32_t>(static_cast<std::int64_t>(ratio));
    }
    if (progress_bar != nullptr && percent != 0) {
        progress_bar->set_value(static_cast<int>(percent));
        update_fore_image(percent);
    }
    return 0;
}

platform::lresult dlg_update::on_download_done(platform::wparam w) {
    if (w != 0) {
        // While the stop confirmation is open its answer ends the run.
        if (task != nullptr && task->progress_paused.load()) return 0;
        if (progress_bar != nullptr) {
            progress_bar->set_value(100);
            update_fore_image(100);
        }
        platform::post_quit_message(0);
        return 0;
    }
    if (g_update_cancelled.load()) {
        platform::post_quit_message(0);
        return 0;
    }
    const int answer = skinui::message_box_a(window_, RETRY_TEXT, BOX_CAPTION, platform::MB_RETRYCANCEL);
    if (answer == platform::IDRETRY && task != nullptr) {
        task->start_download(window_);
    } else {
        platform::post_quit_message(0);
    }
    return 0;
}

// The download pauses its progress while the user is asked; OK stops the
// update, Cancel lets it go on (or ends the run when it finished meanwhile).
void dlg_update::confirm_stop() {
    if (task != nullptr) task->progress_paused.store(true);
    const int answer = skinui::message_box_a(window_, STOP_TEXT, BOX_CAPTION, platform::MB_OKCANCEL);
    if (answer == platform::IDOK) {
        g_update_cancelled.store(true);
        if (task != nullptr) task->decline_update();
        platform::post_quit_message(0);
        return;
    }
    if (task != nullptr && task->package_state.load(std::memory_order_acquire) == package_ready) {
        if (progress_bar != nullptr) progress_bar->set_value(100);
        platform::post_quit_message(0);
        return;
    }
    if (task != nullptr) task->progress_paused.store(false);
}

void dlg_update::update_fore_image(std::uint32_t percent) {
    if (progress_bar == nullptr) return;
    const std::uint32_t width = percent * BAR_WIDTH / 100;
    wchar_t image[128];
    std::swprintf(image, sizeof image / sizeof image[0], L"file='progfg.png' source='0,0,%d,%d' dest='0,0,%d,%d' ",
                  static_cast<int>(width), BAR_HEIGHT, static_cast<int>(width), BAR_HEIGHT);
    progress_bar->set_fore_image(image);
}

void dlg_update::open_download_page() {
    std::string address = DEFAULT_DOWNLOAD_PAGE;
    if (task != nullptr) address = task->page_url;
    if (address.empty()) {
        debug_log("[TamsaUpdate] URL Empty \n");
        return;
    }
    if (!is_web_address(address)) {
        debug_log("[TamsaUpdate] URL refused, not a web address: %s \n", address.c_str());
        return;
    }
    const std::intptr_t result = platform::shell_open(address, "", "");
    if (result < SHELL_SUCCESS_MIN) debug_log("Open Url:%s ERROR", address.c_str());
}
