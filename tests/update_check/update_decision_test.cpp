// Tests of the byte-order comparison of versions.
#include "update_check/update_decision.h"

#include <gtest/gtest.h>

namespace {

int sign(int value) {
    return (value > 0) - (value < 0);
}

TEST(compare_versions, orders_as_unsigned_byte_strings) {
    struct case_row {
        std::string left;
        std::string right;
        int expected;
    };
    const case_row cases[] = {
        {"1.0", "1.0", 0},
        {"", "", 0},
        {"1.0.10", "1.0.9", -1},
        {"1.2", "1.2.0", -1},
        {"", "0", -1},
        {"0", "400", -1},
        {"10", "9", -1},
        {"1.0a", "1.0", 1},
        // A byte from 0x80 up is above every ASCII byte.
        {"1.\xE5", "1.z", 1},
        {std::string("1\0"
                     "2",
                     3),
         std::string("1\0"
                     "1",
                     3),
         1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sign(compare_versions(c.left, c.right)), c.expected) << c.left << " vs " << c.right;
        EXPECT_EQ(sign(compare_versions(c.right, c.left)), -c.expected) << c.right << " vs " << c.left;
    }
}

}  // namespace
