// The run sequence with its windows on the off-screen display, against an
// update service and package host on 127.0.0.1: OK downloads and installs,
// Return declines, and without a display nothing is shown or installed.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/text_utils.h"
#include "platform/single_instance.h"
#include "tests/support/stderr_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/update_check/test_server.h"
#include "tests/windows/window_test_support.h"
#include "windows/dlg_hint_update.h"

namespace {

using namespace window_test;

// The package is an installer the system's shell runs: a shell script on
// Linux, a command script on Windows.
#ifdef _WIN32
const std::string INSTALLER = "tool_setup.cmd";
std::string installer_text(const std::string& marker) {
    return "@echo installed> \"" + marker + "\"\r\n";
}
#else
const std::string INSTALLER = "tool_setup.sh";
std::string installer_text(const std::string& marker) {
    return "#!/bin/sh\necho installed > " + marker + "\n";
}
#endif
const std::string INSTALLER_PATH = "/pkg/" + INSTALLER;

bool file_appears(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        if (std::filesystem::exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class run_sequence_test : public ::testing::Test {
protected:
    void SetUp() override {
        reset_environment();
        platform::single_instance probe(L"Global\\TAMSA_UPDATER_2018");
        if (probe.create_result() != platform::single_instance::result::created) {
            GTEST_SKIP() << "another updater on this machine holds the single-instance marker";
        }
        installed_ = scratch_.file("installed.txt");
        installer_ = installer_text(installed_);
        server_.server().Get("/soft/update/search", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"code":0,"data":{"version":"2.0","blockurl":[{"url":")" + server_.url(INSTALLER_PATH) +
                                R"(","ver_range":"1.0-2.0"}]}})",
                            "application/json");
        });
        server_.server().Get(INSTALLER_PATH, [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(installer_, "application/octet-stream");
        });
        ASSERT_TRUE(server_.start());
        settings_ = module_dir() + "update.ini";
        std::ofstream(settings_) << "[UPDATE]\nhost=" << server_.host() << "\n";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove(settings_, ignored);
        std::filesystem::remove(module_dir() + INSTALLER, ignored);
        reset_environment();
    }

    std::wstring command_line() const {
        return L"-channel=stable -prod=tool -ver=1.0 -quitmsgid=" + std::to_wstring(QUIT_MESSAGE) + L" -hwnd=" +
               std::to_wstring(product_.handle);
    }
    bool package_requested() {
        for (const auto& request : server_.requests()) {
            if (request.path == INSTALLER_PATH) return true;
        }
        return false;
    }

    test_support::temp_dir scratch_;
    test_support::test_server server_;
    product_window product_;
    std::string settings_;
    std::string installed_;
    std::string installer_;
};

TEST_F(run_sequence_test, ok_downloads_then_the_product_is_asked_to_quit_and_the_installer_runs) {
    updater_app app;
    modal_script::script script;
    platform::window_handle owner = 0;
    script.later([&] {
        ASSERT_NE(app.hint_window, nullptr);
        owner = platform::owner_of(app.hint_window->handle());
        post_click(*app.hint_window, L"okbtn");
    });
    app.run(command_line());
    EXPECT_EQ(owner, product_.handle) << "the product's window owns the hint window";
    ASSERT_NE(app.task, nullptr);
    EXPECT_EQ(app.task->package_state.load(), package_ready);
    EXPECT_TRUE(product_.got(QUIT_MESSAGE)) << "the product is asked to quit before the installer starts";
    EXPECT_TRUE(file_appears(installed_)) << "the installer ran";
    app.shutdown();
    EXPECT_EQ(app.task, nullptr);
    EXPECT_EQ(app.hint_window, nullptr) << "shutdown frees the hint window";
}

TEST_F(run_sequence_test, return_on_the_hint_window_declines_without_download_or_install) {
    updater_app app;
    modal_script::script script;
    script.later([&] { modal_script::press_key(app.hint_window->handle(), platform::VK_RETURN); });
    app.run(command_line());
    ASSERT_NE(app.task, nullptr);
    EXPECT_EQ(app.task->package_state.load(), package_none);
    EXPECT_FALSE(app.task->worker_thread.joinable()) << "no worker was started";
    EXPECT_FALSE(package_requested());
    EXPECT_FALSE(product_.got(QUIT_MESSAGE)) << "no minimum version: the product is brought back, not closed";
    app.shutdown();
    EXPECT_FALSE(std::filesystem::exists(installed_));
}

TEST_F(run_sequence_test, without_a_display_the_run_logs_one_line_and_shows_and_installs_nothing) {
    updater_app app;
    app.windows_available = false;
    test_support::stderr_capture log(scratch_.file("log.txt"));
    app.run(command_line());
    log.restore();
    EXPECT_EQ(app.hint_window, nullptr);
    EXPECT_FALSE(package_requested());
    EXPECT_FALSE(product_.got(QUIT_MESSAGE));
    EXPECT_NE(log.text().find("[TamsaUpdate]: no display for the update windows"), std::string::npos) << log.text();
    app.shutdown();
}

TEST_F(run_sequence_test, a_product_window_that_does_not_exist_leaves_the_hint_window_unowned) {
    updater_app app;
    modal_script::script script;
    platform::window_handle owner = 1;
    script.later([&] {
        owner = platform::owner_of(app.hint_window->handle());
        post_click(*app.hint_window, L"cancelbtn");
    });
    // A handle that names no window of ours and, without an X server to
    // ask, no window of another program.
    const std::wstring line = L"-channel=stable -prod=tool -ver=1.0 -quitmsgid=5 -hwnd=2147000000";
    app.run(line);
    EXPECT_EQ(owner, 0u);
    app.shutdown();
}

}  // namespace
