// Tests of the one version order, used by the update decision and by declining.
#include "core/version_order.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int sign(int value) {
    return (value > 0) - (value < 0);
}

TEST(version_order, compares_unsigned_bytes_with_a_prefix_lower) {
    struct case_row {
        std::string left;
        std::string right;
        int expected;
    };
    const case_row cases[] = {
        {"1.0", "1.0", 0},
        {"", "", 0},
        {"4.1", "4.1", 0},
        {"1.0.10", "1.0.9", -1},
        {"1.2", "1.2.0", -1},
        {"1.2", "1.2.1", -1},
        {"", "0", -1},
        {"0", "400", -1},
        {"10", "9", -1},  // the digit 1 sorts before the digit 9
        {"1.0a", "1.0", 1},
        {"4.1", "", 1},
        // Bytes from 0x80 up are above every ASCII byte, not negative.
        {"1.\xE5", "1.z", 1},
        {"1.\x80", "1.\x7F", 1},
        {std::string{'1', '\0', '2'}, std::string{'1', '\0', '1'}, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sign(compare_versions(c.left, c.right)), c.expected) << c.left << " vs " << c.right;
        EXPECT_EQ(sign(compare_versions(c.right, c.left)), -c.expected) << c.right << " vs " << c.left;
        EXPECT_EQ(version_is_lower(c.left, c.right), c.expected < 0) << c.left << " vs " << c.right;
    }
}

}  // namespace
