// The common base of the updater's windows: a captionless skinned window
// built from a layout of the skin, dragged by its caption band, ending the
// message loops on the system close command.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"
#include "toolkit/native_window.h"
#include "toolkit/notify_event.h"
#include "toolkit/paint_manager.h"

// Where a window's skin comes from.
enum class skin_source {
    files = 1,         // layout and image files in the skin folder
    zip_file = 2,      // a zip file in the skin folder, named by zip_file_name
    xml_resource = 3,  // the layout as a resource of type "xml", id = skin_file as a number
    zip_resource = 4,  // a zip archive in a resource of type "ZIPRES" with id resource_id
};

// A resource given by name or by integer id.
struct string_or_id {
    std::wstring name;
    int id = 0;
    bool is_id = false;
    static string_or_id from_id(int value) { return {{}, value, true}; }
};

// The process's copy of the skin archive that the toolkit reads from; it
// stays valid for the life of the process.
extern std::uint8_t* g_skin_zip_buffer;

class dlg_base : public skinui::native_window, public skinui::notify_receiver {
public:
    dlg_base() = default;
    ~dlg_base() override;

    const wchar_t* super_class_name() const override { return nullptr; }
    std::uint32_t class_style() const override { return platform::CS_DBLCLKS; }
    platform::lresult handle_message(std::uint32_t id, platform::wparam w, platform::lparam l) override;
    void on_final_message(platform::window_handle window) override;

    virtual std::wstring skin_file() const = 0;
    virtual std::wstring skin_folder() const = 0;
    virtual skin_source skin_source_type() const { return skin_source::files; }
    virtual string_or_id resource_id() const { return {}; }
    virtual std::wstring zip_file_name() const { return {}; }
    virtual void init_window() {}
    // A WM_CLOSE from anywhere (the task manager's end task, another
    // program) ends the run as the window's close button does; the system's
    // own handling would destroy the window and leave the run without an end.
    virtual void on_close_request();

    void notify(skinui::notify_event& event) override;

    skinui::paint_manager paint_manager;

private:
    platform::lresult on_create();
    bool open_skin_resource();
    platform::lresult on_nc_hit_test(platform::lparam l);
    void on_size();
    void on_get_min_max_info(platform::lparam l);
    platform::lresult on_sys_command(platform::wparam w, platform::lparam l);
};
