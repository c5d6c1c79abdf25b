// Tests of the machine-wide single-instance marker.
#include "platform/single_instance.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"
#include "tests/support/child_process.h"

namespace {

using result = platform::single_instance::result;

}  // namespace

namespace platform {
// Lets failure messages name the outcome.
void PrintTo(single_instance::result r, std::ostream* out) {
    static const char* const names[] = {"created", "already_exists", "access_denied", "failed"};
    *out << names[static_cast<int>(r)];
}
}  // namespace platform

namespace {

// A name of its own per test run, so parallel test programs don't meet.
std::wstring unique_name(const char* tag) {
    return L"Global\\TAMSA_TEST_" + platform::utf8_to_wide(tag) + L"_" + std::to_wstring(::getpid());
}

TEST(single_instance, second_taker_finds_it_taken_until_the_first_lets_go) {
    const std::wstring name = unique_name("pair");
    {
        platform::single_instance first(name);
        ASSERT_EQ(first.create_result(), result::created) << "errno " << first.last_error();
        EXPECT_TRUE(first.held());
        platform::single_instance second(name);
        EXPECT_EQ(second.create_result(), result::already_exists);
        EXPECT_FALSE(second.held());
        platform::single_instance other(name + L"_other");
        EXPECT_EQ(other.create_result(), result::created) << "another name is another marker";
    }
    platform::single_instance again(name);
    EXPECT_EQ(again.create_result(), result::created) << "released when its holder went away";
}

TEST(single_instance, long_names_stay_distinct) {
    const std::wstring head = unique_name("long") + std::wstring(300, L'x');
    platform::single_instance a(head + L"A");
    platform::single_instance b(head + L"B");
    platform::single_instance a_again(head + L"A");
    EXPECT_EQ(a.create_result(), result::created);
    EXPECT_EQ(b.create_result(), result::created);
    EXPECT_EQ(a_again.create_result(), result::already_exists);
}

TEST(single_instance, killed_holder_leaves_no_stale_marker) {
    const std::wstring name = unique_name("killed");
    test_support::child_process holder;
    ASSERT_TRUE(holder.start({PLATFORM_TEST_SLEEPER, "hold", platform::wide_to_utf8(name)}));
    ASSERT_EQ(holder.read_line(10000), std::to_string(static_cast<int>(result::created)));
    {
        platform::single_instance while_held(name);
        EXPECT_EQ(while_held.create_result(), result::already_exists);
    }
    holder.kill_now();
    ASSERT_TRUE(holder.wait_for_exit(10000));
    platform::single_instance after(name);
    EXPECT_EQ(after.create_result(), result::created) << "errno " << after.last_error();
}

TEST(single_instance, started_programs_do_not_inherit_it) {
    const std::wstring name = unique_name("inherit");
    auto marker = std::make_unique<platform::single_instance>(name);
    ASSERT_EQ(marker->create_result(), result::created);
    test_support::child_process child;
    ASSERT_TRUE(child.start({PLATFORM_TEST_SLEEPER, "forever"}));
    ASSERT_EQ(child.read_line(10000), "ready");
    marker.reset();
    platform::single_instance after(name);
    EXPECT_EQ(after.create_result(), result::created) << "the running child still holds the marker";
}

}  // namespace
