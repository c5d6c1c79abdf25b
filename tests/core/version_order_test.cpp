// Tests of the version orders: the byte order of the update decision and
// declining, and the dotted-number order of a program built with release keys.
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

TEST(version_order, dotted_order_compares_fields_as_numbers) {
    struct case_row {
        std::string left;
        std::string right;
        int expected;
    };
    const std::string huge(5000, '9');
    const case_row cases[] = {
        {"1.10.0", "1.9.0", 1},  // the byte order says the opposite
        {"1.0.10", "1.0.9", 1},
        {"2.0.0", "2.0.0", 0},
        {"10", "9", 1},
        // Missing and empty fields count as 0.
        {"1.2", "1.2.0", 0},
        {"1.2", "1.2.0.0.0", 0},
        {"1.2", "1.2.1", -1},
        {"1..2", "1.0.2", 0},
        {"", "0", 0},
        {"1.", "1", 0},
        {"", "0.0.1", -1},
        // Leading zeros do not count.
        {"1.01", "1.1", 0},
        {"007", "10", -1},
        {"0000000000000000000000000000000002", "1", 1},
        // Numbers before any other field; other fields as bytes.
        {"2.0.0-rc1", "2.0.0", 1},
        {"1.2.rc", "1.2", 1},
        {"1.2a", "1.10", 1},
        {"1.beta", "1.alpha", 1},
        {"1.x", "1.999999", 1},
        {"1.\xE5", "1.z", 1},
        {"v2", "v10", 1},  // not digits only: compared as bytes
        // Digit runs far beyond any machine number.
        {huge, huge, 0},
        {huge + "0", huge, 1},
        {"1." + huge, "1." + huge + ".1", -1},
        {"0" + huge, huge, 0},
        {huge, "18446744073709551616", 1},
        {"18446744073709551616", "18446744073709551615", 1},
        {"4294967296", "1", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sign(compare_dotted_versions(c.left, c.right)), c.expected)
            << c.left.substr(0, 40) << " vs " << c.right.substr(0, 40);
        EXPECT_EQ(sign(compare_dotted_versions(c.right, c.left)), -c.expected)
            << c.right.substr(0, 40) << " vs " << c.left.substr(0, 40);
        EXPECT_EQ(dotted_version_is_newer(c.left, c.right), c.expected > 0) << c.left.substr(0, 40);
    }
}

// A total order: every three texts of a mixed set compare transitively, so
// no chain of genuine releases can lead back below where it started.
TEST(version_order, dotted_order_is_transitive_over_mixed_fields) {
    const std::string texts[] = {"",    "0",   "1",    "01", "1a",  "9",  "10",       "1.0", "1.10", "1.9",
                                 "1.x", "1..", "1.-1", "a",  "10a", "9a", "1.0.0-rc", "2",   "v1",   "\xFF"};
    for (const std::string& a : texts) {
        for (const std::string& b : texts) {
            for (const std::string& c : texts) {
                const int ab = sign(compare_dotted_versions(a, b));
                const int bc = sign(compare_dotted_versions(b, c));
                const int ac = sign(compare_dotted_versions(a, c));
                if (ab <= 0 && bc <= 0) {
                    EXPECT_LE(ac, 0) << a << " <= " << b << " <= " << c;
                }
                if (ab == 0 && bc == 0) {
                    EXPECT_EQ(ac, 0) << a << " == " << b << " == " << c;
                }
            }
        }
    }
}

}  // namespace
