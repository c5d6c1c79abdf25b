// The application object: the run sequence, the launch parameters and shutdown.
#include "app/updater_app.h"

#include <curl/curl.h>

#include <cassert>
#include <climits>
#include <cstdint>
#include <cwctype>

#include "app/command_line_parser.h"
#include "core/run_log.h"
#include "core/text_utils.h"
#include "core/update_task.h"
#include "download/leftover_cleanup.h"
#include "download/release_signature.h"
#include "platform/com.h"
#include "platform/foreign_window.h"
#include "platform/last_error.h"
#include "platform/process.h"
#include "platform/single_instance.h"
#include "platform/window.h"
#include "skin/resource_table.h"
#include "toolkit/paint_manager.h"
#include "windows/dlg_hint_update.h"

namespace {

// One updater per machine, across sessions.
const wchar_t* const INSTANCE_MARKER_NAME = L"Global\\TAMSA_UPDATER_2018";
// ShellExecute's convention: a result above 31 is success.
constexpr std::intptr_t SHELL_SUCCESS_MIN = 32;

// The leading decimal number of a text, saturated at the signed 32-bit range:
// white space skipped, one optional sign, digits up to the first non-digit.
std::int32_t parse_decimal(const std::wstring& text) {
    std::size_t i = 0;
    while (i < text.size() && std::iswspace(static_cast<std::wint_t>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > limit) {
            value = limit;
            // Further digits cannot bring it back into range.
            while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') ++i;
            break;
        }
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace

// The hint window object goes; it leaves its paint manager's notifiers and
// frees the manager with its tree. The native window and the progress
// window object stay until the process ends.
void hint_window_deleter::operator()(dlg_hint_update* window) const {
    delete window;
}

updater_app::updater_app() = default;

updater_app::~updater_app() = default;

bool updater_app::parse_parameters(const std::wstring& command_line) {
    command_line_parser parser;
    if (!command_line.empty()) parser.parse(command_line);
    channel = parser.get(L"channel");
    exe_name = parser.get(L"exename");
    page_url = parser.get(L"url");
    product = parser.get(L"prod");
    if (product.empty()) {
        debug_log("TamsaUpdater: Product Name Empty \n");
        return false;
    }
    version = parser.get(L"ver");
    // The 32-bit result is kept as it is: a negative number becomes a large
    // unsigned id or handle value.
    quit_message_id = static_cast<std::uint32_t>(parse_decimal(parser.get(L"quitmsgid")));
    product_window =
        static_cast<platform::window_handle>(static_cast<std::uint32_t>(parse_decimal(parser.get(L"hwnd"))));
    if (!channel.empty() && !version.empty() && quit_message_id != 0 && product_window != 0) {
        return true;
    }
    // The version is text, so it is shown as text in its field.
    debug_log_w(L"[Updater] Params Error: channel => [%s],version => [%s],hwnd => [%d],quitmsgid => [%d]",
                channel.c_str(), version.c_str(), static_cast<int>(static_cast<std::int32_t>(product_window)),
                static_cast<int>(static_cast<std::int32_t>(quit_message_id)));
    return false;
}

void updater_app::run(const std::wstring& command_line) {
    instance_event = std::make_unique<platform::single_instance>(INSTANCE_MARKER_NAME);
    switch (instance_event->create_result()) {
        case platform::single_instance::result::created:
            break;
        case platform::single_instance::result::already_exists:
        case platform::single_instance::result::access_denied:
            // Another updater runs (or holds a marker we may not open).
            instance_event.reset();
            return;
        case platform::single_instance::result::failed:
            break;
    }
    if (!log_path.empty()) (void)start_run_log(log_path);
    if (instance_event->create_result() == platform::single_instance::result::failed) {
        // The marker could not be made at all: the run goes on without it.
        debug_log("[TamsaUpdate]: single instance marker failed GetLastError =>%d \n", instance_event->last_error());
        instance_event.reset();
    }
    if (parse_parameters(command_line)) {
        run_update();
    }
    instance_event.reset();
}

void updater_app::run_update() {
    CURLcode curl_result = curl_global_init(CURL_GLOBAL_ALL);
    if (curl_result != CURLE_OK) {
        // Not fatal here: the update request reports its own failure.
        debug_log("[TamsaUpdate]: curl_global_init =>%d \n", static_cast<int>(curl_result));
    }
    if (!platform::initialize_com()) {
        curl_global_cleanup();
        return;
    }
    if (!task) {
        task = std::make_unique<update_task>(*this);
        task->signed_releases = release_keys_compiled();
        // Every run starts from a directory without leftovers of earlier runs.
        clear_files();
    }
    if (!task->GetFileHash()) {
        curl_global_cleanup();
        return;
    }
    if (!windows_available) {
        debug_log("[TamsaUpdate]: no display for the update windows; the update is not shown \n");
        return;
    }
    // The toolkit finds the skin among the program's own resources.
    skinui::paint_manager::set_resource_module(&find_resource);
    show_hint_window();
    if (task->package_state.load(std::memory_order_acquire) != package_ready) return;
    install_package();
}

void updater_app::install_package() {
    task->close_product();
    platform::clear_last_error();
    // The package the worker verified and still holds is what starts, never
    // whatever its name may name by now.
    std::intptr_t result = task->package_file.start("", ".");
    int last_error = platform::last_error();
    task->package_file.release();
    if (result < SHELL_SUCCESS_MIN) {
        debug_log("[TamsaUpdate]: InstallUpdate =>%s GetLastError =>%d \n", task->package_path.c_str(), last_error);
    }
}

void updater_app::show_hint_window() {
    // WS_VISIBLE | WS_OVERLAPPEDWINDOW, and WS_EX_WINDOWEDGE.
    constexpr std::uint32_t HINT_STYLE = 0x10CF0000;
    constexpr std::uint32_t HINT_EX_STYLE = 0x100;
    hint_window.reset(new dlg_hint_update());
    hint_window->task = task.get();
    const bool product_is_window =
        product_window != 0 && (platform::is_window(product_window) || platform::foreign_window_exists(product_window));
    hint_window->create(product_is_window ? product_window : 0, L"自动更新", HINT_STYLE, HINT_EX_STYLE);
    hint_window->center_window();
    hint_window->show_modal();
}

void updater_app::shutdown() {
    if (task) {
        // The program is ending: a transfer still under way stops within a
        // second, so the join below never waits on the network.
        g_update_cancelled.store(true);
        if (task->worker_thread.joinable()) task->worker_thread.join();
        task.reset();
    }
    hint_window.reset();
    exe_name.clear();
    channel.clear();
    page_url.clear();
    product.clear();
    version.clear();
}
