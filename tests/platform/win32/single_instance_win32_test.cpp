// Tests of the single-instance marker on Windows (a named event).
#include <gtest/gtest.h>

#include <string>

#include "platform/single_instance.h"
#include "platform/text.h"
#include "win32_test_support.h"

namespace {

using result = platform::single_instance::result;

// A name of its own per test program, so parallel runs don't meet.
std::wstring unique_name(const char* tag) {
    return L"Global\\TAMSA_TEST_" + platform::utf8_to_wide(tag) + L"_" + std::to_wstring(::GetCurrentProcessId());
}

TEST(win32_single_instance, second_taker_finds_it_taken_until_the_first_lets_go) {
    const std::wstring name = unique_name("pair");
    {
        platform::single_instance first(name);
        ASSERT_EQ(first.create_result(), result::created) << "error " << first.last_error();
        EXPECT_TRUE(first.held());
        platform::single_instance second(name);
        EXPECT_EQ(second.create_result(), result::already_exists);
        EXPECT_EQ(second.last_error(), 183) << "ERROR_ALREADY_EXISTS";
        EXPECT_FALSE(second.held());
        platform::single_instance other(name + L"_other");
        EXPECT_EQ(other.create_result(), result::created);
    }
    platform::single_instance again(name);
    EXPECT_EQ(again.create_result(), result::created) << "released when its holder went away";
}

TEST(win32_single_instance, killed_holder_leaves_no_stale_marker) {
    const std::wstring name = unique_name("killed");
    win32_test::child_process holder(TEST_CHILD_PATH, {"hold", platform::wide_to_utf8(name)});
    ASSERT_TRUE(holder.started());
    ASSERT_EQ(holder.read_line(), std::to_string(static_cast<int>(result::created)));
    {
        platform::single_instance while_held(name);
        EXPECT_EQ(while_held.create_result(), result::already_exists);
    }
    holder.kill();
    platform::single_instance after(name);
    EXPECT_EQ(after.create_result(), result::created) << "error " << after.last_error();
}

TEST(win32_single_instance, started_programs_do_not_inherit_it) {
    const std::wstring name = unique_name("inherit");
    auto marker = std::make_unique<platform::single_instance>(name);
    ASSERT_EQ(marker->create_result(), result::created);
    win32_test::child_process child(TEST_CHILD_PATH, {"forever"});
    ASSERT_TRUE(child.started());
    ASSERT_EQ(child.read_line(), "ready");
    marker.reset();
    platform::single_instance after(name);
    EXPECT_EQ(after.create_result(), result::created) << "the running child still holds the marker";
}

}  // namespace
