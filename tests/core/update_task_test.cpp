// Tests of the update task record: construction from the launch parameters
// and destruction while a worker still runs.
#include "core/update_task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/text.h"

namespace {

TEST(update_task, copies_the_launch_parameters_as_narrow_text) {
    launch_parameters parameters;
    parameters.exe_name = L"Product.exe";
    parameters.channel = L"beta";
    parameters.page_url = L"http://example.invalid/p";
    parameters.product = L"\u4E0A\u53F7\u5668";
    parameters.version = L"4.1";
    parameters.quit_message_id = 49200;
    parameters.product_window = 12345;
    const update_task task(parameters);
    EXPECT_EQ(task.exe_name, "Product.exe");
    EXPECT_EQ(task.channel, "beta");
    EXPECT_EQ(task.page_url, "http://example.invalid/p");
    // The system's narrow code page: UTF-8 on Linux, GBK under code page 936.
    EXPECT_EQ(task.product, platform::wide_to_narrow(L"\u4E0A\u53F7\u5668"));
    EXPECT_EQ(platform::narrow_to_wide(task.product), L"\u4E0A\u53F7\u5668");
    EXPECT_EQ(task.version, "4.1");
    EXPECT_EQ(task.quit_message_id, 49200u);
    EXPECT_EQ(task.product_window, 12345u);
    EXPECT_EQ(task.package_state.load(), package_none);
    EXPECT_FALSE(task.worker_thread.joinable());
}

// A record that goes away while its worker still runs (an early return, a
// failed step before shutdown) waits for the worker instead of ending the
// process; the worker may use the record until it ends.
TEST(update_task, destruction_waits_for_a_running_worker) {
    std::atomic<bool> worker_done{false};
    {
        auto task = std::make_unique<update_task>();
        update_task* record = task.get();
        task->worker_thread = std::thread([record, &worker_done] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            record->package_state.store(package_failed);
            worker_done = true;
        });
        task.reset();
    }
    EXPECT_TRUE(worker_done.load());
}

}  // namespace
