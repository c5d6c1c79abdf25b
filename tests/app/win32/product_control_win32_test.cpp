// Tests of closing the product and bringing it back on Windows: a real
// product window in another process, found by its executable name through
// the Toolhelp snapshot.
// The program's headers first; windows.h then defines the same names as macros.
// clang-format off
#include "core/process_control.h"
#include "core/text_utils.h"
#include "core/update_task.h"
#include "app/updater_app.h"
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/platform/win32/win32_test_support.h"

namespace {

constexpr std::uint32_t QUIT_ID = WM_USER + 4711;
constexpr DWORD QUIT_EXIT_CODE = 7;  // the product quit on its message; a terminated one ends with 0

TEST(win32_product_control, names_match_ignoring_case_for_every_letter) {
    EXPECT_TRUE(equal_ignoring_case(L"Product.exe", L"PRODUCT.EXE"));
    EXPECT_TRUE(equal_ignoring_case(L"\u00C4pp.exe", L"\u00E4PP.exe"));
    EXPECT_TRUE(equal_ignoring_case(L"\u0416.exe", L"\u0436.exe"));
    EXPECT_TRUE(equal_ignoring_case(L"\u4E0A\u53F7\u5668.exe", L"\u4E0A\u53F7\u5668.EXE"));
    EXPECT_FALSE(equal_ignoring_case(L"Product.exe", L"Product.ex"));
    EXPECT_FALSE(equal_ignoring_case(L"Product.exe", L"Product.exe "));
    EXPECT_FALSE(equal_ignoring_case(std::wstring(L"a\0b", 3), std::wstring(L"a\0c", 3)));
    EXPECT_TRUE(equal_ignoring_case(L"", L""));
}

// A product: the helper program under a name of its own, with its window.
class product {
public:
    // name: the program's name when several copies share one; else the mode's.
    explicit product(const char* mode, const char* name = nullptr) {
        name_ = "TamsaProduct_" + std::to_string(::GetCurrentProcessId()) + "_" + (name ? name : mode) + ".exe";
        std::filesystem::copy_file(TEST_CHILD_PATH, dir_.file(name_));
        process_ = std::make_unique<win32_test::child_process>(
            dir_.file(name_), std::vector<std::string>{"window", std::to_string(QUIT_ID), mode});
        const std::string line = process_->read_line();
        window_ = line.empty() ? 0 : static_cast<platform::window_handle>(std::stoull(line));
    }
    // Set up as the run sequence does from the command line.
    void describe_to(update_task& task) const {
        task.exe_name = name_;
        task.product_window = window_;
        task.quit_message_id = QUIT_ID;
    }
    HWND window() const { return reinterpret_cast<HWND>(window_); }
    win32_test::child_process& process() { return *process_; }

private:
    win32_test::temp_dir dir_;
    std::string name_;
    std::unique_ptr<win32_test::child_process> process_;
    platform::window_handle window_ = 0;
};

struct task_fixture {
    updater_app app;
    update_task task{app};
};

TEST(win32_product_control, a_product_that_obeys_quits_on_its_message_and_is_not_killed) {
    product obeying("obey");
    ASSERT_NE(obeying.window(), nullptr);
    task_fixture fixture;
    obeying.describe_to(fixture.task);
    fixture.task.close_product();
    ASSERT_TRUE(obeying.process().exited(5000));
    EXPECT_EQ(obeying.process().exit_code(), QUIT_EXIT_CODE);
}

TEST(win32_product_control, a_product_that_ignores_its_message_is_terminated_after_the_wait) {
    product ignoring("ignore");
    ASSERT_NE(ignoring.window(), nullptr);
    task_fixture fixture;
    ignoring.describe_to(fixture.task);
    const auto asked = std::chrono::steady_clock::now();
    fixture.task.close_product();
    // The product had its two seconds to quit before it was terminated.
    EXPECT_GE(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(1950));
    // It never ends by itself: only the termination can have ended it.
    ASSERT_TRUE(ignoring.process().exited(5000));
    EXPECT_EQ(ignoring.process().exit_code(), 0u);
}

// Two running copies of the product's program: the copy that owns the
// product's window is the one closed, never the other, which was started
// first and is what a lookup by the name alone finds.
TEST(win32_product_control, the_copy_that_owns_the_window_is_the_one_terminated) {
    product other("ignore", "copy");
    product owner("ignore", "copy");
    ASSERT_NE(owner.window(), nullptr);
    task_fixture fixture;
    owner.describe_to(fixture.task);
    fixture.task.close_product();
    ASSERT_TRUE(owner.process().exited(5000));
    EXPECT_FALSE(other.process().exited(0)) << "the other copy was ended";
}

TEST(win32_product_control, declining_brings_a_current_product_back_and_closes_an_outdated_one) {
    struct decline_case {
        const char* version;
        const char* min_version;
        bool closed;
    };
    const decline_case cases[] = {
        {"9", "10", false},  // a byte order: "9" is not below "10"
        {"1.2", "", false},
        {"1.2", "1.2.1", true},
    };
    for (const decline_case& c : cases) {
        SCOPED_TRACE(std::string(c.version) + " / " + c.min_version);
        product running("obey");
        ASSERT_NE(running.window(), nullptr);
        ::ShowWindow(running.window(), SW_MINIMIZE);
        ASSERT_TRUE(win32_test::eventually([&] { return ::IsIconic(running.window()) != 0; }));
        task_fixture fixture;
        running.describe_to(fixture.task);
        fixture.task.version = c.version;
        fixture.task.min_version = c.min_version;
        fixture.task.decline_update();
        if (c.closed) {
            ASSERT_TRUE(running.process().exited(5000));
            EXPECT_EQ(running.process().exit_code(), QUIT_EXIT_CODE);
        } else {
            EXPECT_TRUE(win32_test::eventually([&] { return ::IsIconic(running.window()) == 0; }))
                << "shown normally again";
            EXPECT_TRUE(::IsWindowVisible(running.window()));
            EXPECT_FALSE(running.process().exited(0));
        }
    }
}

}  // namespace
