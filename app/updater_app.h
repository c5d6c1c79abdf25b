// The application object: launch parameters, the update run and its windows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/launch_parameters.h"
#include "platform/types.h"

class update_task;
class dlg_hint_update;
namespace platform {
class single_instance;
}

// Frees the hint window; defined beside the run sequence so that this header
// needs only the window's declaration.
struct hint_window_deleter {
    void operator()(dlg_hint_update* window) const;
};

// The launch parameters are the application object's own fields.
class updater_app : public launch_parameters {
public:
    updater_app();
    ~updater_app();
    updater_app(const updater_app&) = delete;
    updater_app& operator=(const updater_app&) = delete;

    void run(const std::wstring& command_line);
    bool parse_parameters(const std::wstring& command_line);
    void show_hint_window();
    void shutdown();

    std::unique_ptr<update_task> task;
    std::unique_ptr<dlg_hint_update, hint_window_deleter> hint_window;
    std::unique_ptr<platform::single_instance> instance_event;
    // False when no display can show the windows: the run then ends after
    // the update check, without windows and without installing.
    bool windows_available = true;
    // The run log's file, opened only once this updater holds the
    // single-instance marker: a second updater never touches it. Empty: none.
    std::string log_path;

private:
    // Steps of run after the parameters were accepted.
    void run_update();
    // Closes the product and starts the verified package.
    void install_package();
};
