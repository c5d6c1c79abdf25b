// Tests of closing the product and bringing it back, against a real product stand-in.
#include "core/process_control.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "app/updater_app.h"
#include "core/text_utils.h"
#include "core/update_task.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t QUIT_ID = 49200;

TEST(process_names, match_ignoring_case_for_every_letter) {
    EXPECT_TRUE(equal_ignoring_case(L"Product.exe", L"PRODUCT.EXE"));
    EXPECT_TRUE(equal_ignoring_case(L"\u00C4pp.exe", L"\u00E4PP.exe"));
    EXPECT_TRUE(equal_ignoring_case(L"\u0416.exe", L"\u0436.exe"));
    EXPECT_FALSE(equal_ignoring_case(L"Product.exe", L"Product.ex"));
    EXPECT_FALSE(equal_ignoring_case(L"Product.exe", L"Product.exe "));
    EXPECT_TRUE(equal_ignoring_case(L"", L""));
}

bool wait_for_text(const std::string& path, const std::string& text, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (test_support::read_file(path).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Runs copies of the product stand-in under chosen executable names. Every
// name carries a tag of this test's own, so that tests running at the same
// time never find, message or kill each other's products.
class product_fixture : public testing::Test {
protected:
    void SetUp() override {
        tag_ = "-" + std::to_string(std::random_device{}()) + "-" + std::to_string(std::random_device{}());
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "DISPLAY is not set";
        dir_ = fs::temp_directory_path() /
               ("tamsa_process_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        for (auto& product : products_) product.process.kill_now();
        products_.clear();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    struct running_product {
        test_support::child_process process;
        platform::window_handle window = 0;
        std::string record;
    };

    // The name with this test's tag before its last dot (or at its end).
    std::string tagged(const std::string& name) const {
        const std::size_t dot = name.rfind('.');
        return dot == std::string::npos ? name + tag_ : name.substr(0, dot) + tag_ + name.substr(dot);
    }
    std::wstring tagged(const std::wstring& name) const {
        const std::wstring tag(tag_.begin(), tag_.end());
        const std::size_t dot = name.rfind(L'.');
        return dot == std::wstring::npos ? name + tag : name.substr(0, dot) + tag + name.substr(dot);
    }

    // Starts the stand-in as dir/name (tagged); mode is "obey" or "ignore".
    running_product& start_product(const std::string& name, const std::string& mode, bool names_pid = false) {
        fs::path program = dir_ / tagged(name);
        if (!fs::exists(program)) fs::copy_file(FAKE_PRODUCT_PATH, program);
        products_.emplace_back();
        running_product& product = products_.back();
        product.record = (dir_ / (tagged(name) + "." + std::to_string(products_.size()) + ".log")).string();
        std::vector<std::string> argv{program.string(), std::to_string(QUIT_ID), mode, product.record};
        if (names_pid) argv.push_back("pid");
        EXPECT_TRUE(product.process.start(argv));
        std::string line = product.process.read_line(10000);
        product.window = static_cast<platform::window_handle>(std::strtoull(line.c_str(), nullptr, 10));
        EXPECT_NE(product.window, 0u) << "the product printed [" << line << "] instead of its window id";
        return product;
    }

    // A task for the product whose executable name is exe_name (tagged; an
    // empty name stays empty).
    std::unique_ptr<update_task> make_task(const std::wstring& exe_name, platform::window_handle window) {
        updater_app app;
        app.exe_name = exe_name.empty() ? exe_name : tagged(exe_name);
        app.product_window = window;
        app.quit_message_id = QUIT_ID;
        return std::make_unique<update_task>(app);
    }

    std::string tag_;
    fs::path dir_;
    std::list<running_product> products_;
};

TEST_F(product_fixture, a_product_that_obeys_quits_and_is_not_killed) {
    running_product& product = start_product("Product.exe", "obey");
    auto task = make_task(L"Product.exe", product.window);
    task->close_product();
    ASSERT_TRUE(product.process.wait_for_exit(10000));
    EXPECT_TRUE(product.process.exited()) << "killed by signal " << product.process.killed_by_signal();
    EXPECT_EQ(product.process.exit_code(), 0);
    EXPECT_EQ(test_support::read_file(product.record), "message\n");
}

TEST_F(product_fixture, a_product_that_ignores_the_message_is_killed_after_the_wait) {
    running_product& product = start_product("Product.exe", "ignore");
    auto task = make_task(L"Product.exe", product.window);
    const auto started = std::chrono::steady_clock::now();
    task->close_product();
    // The program's own wait, 2000 ms, ran out before the kill.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2000));
    ASSERT_TRUE(product.process.wait_for_exit(10000));
    EXPECT_EQ(product.process.killed_by_signal(), 9);
    // It got the message and lived on for a while: the kill came after the wait.
    std::string record = test_support::read_file(product.record);
    EXPECT_EQ(record.rfind("message\nalive\n", 0), 0u) << "record: " << record;
}

TEST_F(product_fixture, of_two_processes_only_the_first_found_is_waited_for_and_killed) {
    running_product& one = start_product("twin.exe", "ignore");
    running_product& two = start_product("twin.exe", "ignore");
    process_snapshot snapshot;
    platform::process_entry first;
    ASSERT_TRUE(snapshot.find(tagged(std::wstring(L"twin.exe")), first));
    running_product& found = first.pid == one.process.pid() ? one : two;
    running_product& other = first.pid == one.process.pid() ? two : one;
    ASSERT_EQ(found.process.pid(), first.pid);
    platform::process_entry second;
    ASSERT_TRUE(snapshot.find(tagged(std::wstring(L"twin.exe")), second)) << "the walk goes on after the first match";
    EXPECT_EQ(second.pid, other.process.pid());

    auto task = make_task(L"twin.exe", found.window);
    task->close_product();
    ASSERT_TRUE(found.process.wait_for_exit(10000));
    EXPECT_EQ(found.process.killed_by_signal(), 9);
    EXPECT_TRUE(other.process.running()) << "the second process must stay";
    EXPECT_EQ(test_support::read_file(other.record), "") << "only the product's window gets the message";
}

TEST_F(product_fixture, a_first_process_that_quits_leaves_the_other_alone) {
    // Both would obey, but only the first one found gets the message.
    running_product& one = start_product("twin.exe", "obey");
    running_product& two = start_product("twin.exe", "obey");
    process_snapshot snapshot;
    platform::process_entry first;
    ASSERT_TRUE(snapshot.find(tagged(std::wstring(L"twin.exe")), first));
    running_product& found = first.pid == one.process.pid() ? one : two;
    running_product& other = first.pid == one.process.pid() ? two : one;
    auto task = make_task(L"twin.exe", found.window);
    task->close_product();
    ASSERT_TRUE(found.process.wait_for_exit(10000));
    EXPECT_EQ(found.process.exit_code(), 0);
    EXPECT_TRUE(other.process.running());
    EXPECT_EQ(test_support::read_file(other.record), "");
}

// A window that names its process: that process is the product, not the
// first (oldest) one of the name; a window whose process has another name
// is left alone, and nothing is killed by name instead.
TEST_F(product_fixture, the_process_of_the_products_window_is_the_one_closed) {
    running_product& older = start_product("twin.exe", "ignore", true);
    running_product& younger = start_product("twin.exe", "ignore", true);
    running_product& stranger = start_product("other.exe", "ignore", true);

    auto task = make_task(L"twin.exe", younger.window);
    task->close_product();
    ASSERT_TRUE(younger.process.wait_for_exit(10000));
    EXPECT_EQ(younger.process.killed_by_signal(), 9);
    EXPECT_TRUE(older.process.running()) << "the oldest process of the name is not the product";

    auto wrong = make_task(L"twin.exe", stranger.window);
    wrong->close_product();
    EXPECT_TRUE(stranger.process.running()) << "a window of another program was taken for the product";
    EXPECT_TRUE(older.process.running()) << "the name lookup ran although the window names its process";
}

struct name_case {
    const char* file_name;
    const wchar_t* exe_name;
    bool killed;
};

// No message is sent (window 0), so the product ends only if it is found.
TEST_F(product_fixture, names_that_differ_in_letter_case_match) {
    const name_case cases[] = {
        {"product.EXE", L"PRODUCT.exe", true},
        {"\xC3\x84pp.exe", L"\u00E4PP.EXE", true},
        {"product.exe", L"product.ex", false},
        {"product2.exe", L"product", false},
    };
    for (const name_case& c : cases) {
        running_product& product = start_product(c.file_name, "ignore");
        auto task = make_task(c.exe_name, 0);
        task->close_product();
        if (c.killed) {
            ASSERT_TRUE(product.process.wait_for_exit(10000)) << c.file_name;
            EXPECT_EQ(product.process.killed_by_signal(), 9) << c.file_name;
        } else {
            EXPECT_TRUE(product.process.running()) << c.file_name << " must not match " << wide_to_utf8(c.exe_name);
        }
        product.process.kill_now();
    }
}

TEST_F(product_fixture, an_empty_exe_name_only_sends_the_message) {
    running_product& product = start_product("Product.exe", "ignore");
    auto task = make_task(L"", product.window);
    task->close_product();
    EXPECT_TRUE(wait_for_text(product.record, "message", 10000));
    EXPECT_TRUE(product.process.running());
}

TEST_F(product_fixture, terminate_by_name_reports_whether_it_killed) {
    running_product& product = start_product("victim.exe", "ignore");
    EXPECT_EQ(terminate_process_by_name(L"no-such-product.exe"), 0);
    EXPECT_NE(terminate_process_by_name(tagged(std::wstring(L"VICTIM.exe"))), 0);
    ASSERT_TRUE(product.process.wait_for_exit(10000));
    EXPECT_EQ(product.process.killed_by_signal(), 9);
}

struct decline_case {
    const char* version;
    const char* min_version;
    bool closed;
};

TEST_F(product_fixture, declining_closes_an_outdated_product_or_brings_it_back) {
    const decline_case cases[] = {
        {"9", "10", false},
        {"1.2", "1.2.1", true},
        {"4.1", "4.1", false},
        {"4.1", "", false},
    };
    for (const decline_case& c : cases) {
        running_product& product = start_product("Product.exe", "obey");
        auto task = make_task(L"Product.exe", product.window);
        task->version = c.version;
        task->min_version = c.min_version;
        task->decline_update();
        const std::string which = std::string("version ") + c.version + " min_version [" + c.min_version + "]";
        if (c.closed) {
            ASSERT_TRUE(product.process.wait_for_exit(10000)) << which;
            EXPECT_EQ(product.process.exit_code(), 0) << which;
        } else {
            EXPECT_TRUE(wait_for_text(product.record, "mapped", 10000)) << which << ": window not shown";
            EXPECT_TRUE(product.process.running()) << which;
            EXPECT_EQ(test_support::read_file(product.record).find("message"), std::string::npos) << which;
        }
        product.process.kill_now();
    }
}

// Xlib's default error handler ends the process on a bad window id; posting
// to and raising a window that does not exist must just fail.
TEST(process_control_without_product, a_window_that_is_no_window_fails_silently) {
    updater_app app;
    app.exe_name = L"no-such-product.exe";
    app.product_window = 0x7FFFFFF0;
    app.quit_message_id = QUIT_ID;
    update_task task(app);
    task.close_product();
    task.min_version = "9";
    task.version = "1";
    task.decline_update();
    task.min_version = "";
    task.decline_update();
}

}  // namespace
