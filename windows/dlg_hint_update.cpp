// The outdated-version hint window: tells the user that an update is due,
// opens the progress window on OK and hands control back to the product on
// close or cancel.
#include "windows/dlg_hint_update.h"

#include <vector>

#include "core/update_task.h"
#include "platform/message_queue.h"
#include "platform/window.h"
#include "toolkit/control.h"
#include "windows/dlg_update.h"

namespace {

const wchar_t WINDOW_TITLE[] = L"自动更新";
// WS_VISIBLE | WS_OVERLAPPEDWINDOW
constexpr std::uint32_t PROGRESS_WINDOW_STYLE = 0x10CF0000;

// Every progress window made, kept until the process ends (they are never
// deleted: their native windows stay as last painted).
std::vector<dlg_update*>* const g_progress_windows = new std::vector<dlg_update*>();

}  // namespace

void dlg_hint_update::notify(skinui::notify_event& event) {
    if (event.type == L"windowinit") {
        platform::set_window_text(window_, WINDOW_TITLE);
        return;
    }
    if (event.type != L"click" || event.sender == nullptr) return;
    const std::wstring& name = event.sender->name();
    if (name == L"okbtn") {
        open_progress_window();
    } else if (name == L"closebtn" || name == L"cancelbtn") {
        on_close_request();
    }
}

void dlg_hint_update::on_close_request() {
    platform::show_window(window_, platform::SW_HIDE);
    if (task != nullptr) task->decline_update();
    platform::post_quit_message(0);
}

unsigned dlg_hint_update::open_progress_window() {
    platform::show_window(window_, platform::SW_HIDE);
    // Only a pop-up window reports its owner as parent; the hint window is
    // overlapped, so the product's window stays as it is.
    const bool popup = (platform::window_style(window_) & platform::WS_POPUP) != 0;
    const platform::window_handle parent = popup ? platform::owner_of(window_) : 0;
    if (parent != 0) platform::show_window(parent, platform::SW_HIDE);

    update_wnd = new dlg_update();
    g_progress_windows->push_back(update_wnd);
    update_wnd->task = task;
    update_wnd->create(0, WINDOW_TITLE, PROGRESS_WINDOW_STYLE, 0);
    update_wnd->center_window();
    return update_wnd->show_modal();
}
