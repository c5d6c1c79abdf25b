// The outdated-version hint window: tells the user that an update is due,
// opens the progress window on OK and hands control back to the product on
// close or cancel.
#pragma once

#include <cstdint>
#include <string>

#include "windows/dlg_base.h"

class update_task;
class dlg_update;

class dlg_hint_update : public dlg_base {
public:
    std::wstring window_class_name() const override { return L"CHintUpdateWnd"; }
    std::wstring skin_file() const override { return L"HintUpdateWnd.xml"; }
    std::wstring skin_folder() const override { return L""; }
    skin_source skin_source_type() const override { return skin_source::zip_resource; }
    string_or_id resource_id() const override { return string_or_id::from_id(200); }
    std::wstring zip_file_name() const override { return L""; }
    void init_window() override {}
    void notify(skinui::notify_event& event) override;
    // As the close and cancel buttons: the update is declined.
    void on_close_request() override;

    // Runs the progress window modally; its show_modal result.
    unsigned open_progress_window();

    // Created on OK and never deleted: the window and its object end with the process.
    dlg_update* update_wnd = nullptr;
    update_task* task = nullptr;
};
