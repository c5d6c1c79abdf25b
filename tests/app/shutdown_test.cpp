// The program's way out: a download stuck on a host that never answers, or
// drips, ends within a second of the shutdown instead of holding the
// process for as long as the host does.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/updater_app.h"
#include "core/text_utils.h"
#include "core/update_task.h"
#include "tests/support/misbehaving_host.h"
#include "tests/support/temp_dir.h"

namespace {

using test_support::misbehaviour;

TEST(updater_app_shutdown, ends_a_stuck_download_within_a_second) {
    const misbehaviour kinds[] = {misbehaviour::silent, misbehaviour::drip_headers, misbehaviour::drip_body};
    for (const misbehaviour kind : kinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        test_support::misbehaving_host host(kind, std::string(100000, 'p'));
        const std::string name = "shutdown_" + test_support::random_token() + ".pkg";
        {
            updater_app app;
            app.task = std::make_unique<update_task>();
            app.task->package_url = host.url("/files/" + name);
            app.task->start_download(0);
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            const auto start = std::chrono::steady_clock::now();
            app.shutdown();
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_LT(seconds, 1.0) << "the shutdown waited on the network";
            EXPECT_EQ(app.task, nullptr);
        }
        g_update_cancelled.store(false);
        host.stop();
        std::error_code ignored;
        std::filesystem::remove(module_dir() + name, ignored);
        for (int i = 0; i < 4; ++i) {
            EXPECT_FALSE(std::filesystem::exists(module_dir() + name + "-" + std::to_string(i)));
        }
    }
}

}  // namespace
