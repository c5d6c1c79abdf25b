// Tests of the Win32 text conversions.
#include <gtest/gtest.h>
#include "platform/text.h"
TEST(win32_text, placeholder_build) { EXPECT_EQ(platform::wide_to_utf8(L"a"), "a"); }
