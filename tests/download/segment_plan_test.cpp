// The segment plan, the progress scaling and the names derived from paths
// and package addresses.
#include "download/segment_plan.h"

#include <gtest/gtest.h>

#include "core/text_utils.h"
#include "download/package_download.h"
#include "download/segment_downloader.h"

namespace {

std::string describe(const std::vector<segment_range>& plan) {
    std::string text;
    for (const auto& range : plan) text += (text.empty() ? "" : " ") + range_text(range);
    return text.empty() ? "(whole file)" : text;
}

TEST(segment_plan, splits_into_four_ranges_with_the_remainder_last) {
    struct plan_case {
        std::uint64_t total;
        const char* expected;
    };
    const plan_case cases[] = {
        {1000, "0-249 250-499 500-749 750-999"},
        {10, "0-1 2-3 4-5 6-9"},
        {4, "0-0 1-1 2-2 3-3"},
        {7, "0-0 1-1 2-2 3-6"},
        // Fewer bytes than segments, or no length at all: one whole transfer, never "0--1".
        {3, "(whole file)"},
        {1, "(whole file)"},
        {0, "(whole file)"},
        {4294967297ull, "0-1073741823 1073741824-2147483647 2147483648-3221225471 3221225472-4294967296"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(describe(plan_segments(c.total, 4)), c.expected) << "total " << c.total;
    }
}

TEST(segment_plan, ranges_cover_every_byte_once) {
    for (std::uint64_t total : {4ull, 5ull, 999ull, 1000ull, 1001ull, 268435459ull}) {
        const auto plan = plan_segments(total, 4);
        ASSERT_EQ(plan.size(), 4u) << "total " << total;
        std::uint64_t covered = 0;
        for (std::size_t i = 0; i < plan.size(); ++i) {
            EXPECT_EQ(static_cast<std::uint64_t>(plan[i].first), covered) << "total " << total << " segment " << i;
            covered += plan[i].length();
        }
        EXPECT_EQ(covered, total);
    }
}

TEST(progress_scaling, keeps_the_ratio_in_31_bits) {
    struct scale_case {
        std::uint64_t total;
        std::uint64_t done;
        progress_values expected;
    };
    const std::uint64_t GIB = 1ull << 30;
    const scale_case cases[] = {
        {1000, 250, {1000, 250}},
        {0x7FFFFFFF, 0x7FFFFFFF, {0x7FFFFFFF, 0x7FFFFFFF}},
        {2 * GIB, GIB, {0x40000000, 0x20000000}},
        {3 * GIB, 3 * GIB, {0x60000000, 0x60000000}},
        {5 * GIB + 1, GIB, {0x50000000, 0x10000000}},
        // Never more done than total, whatever a host sends.
        {1000, 4000, {1000, 1000}},
        {0, 10, {0, 0}},
    };
    for (const auto& c : cases) {
        const progress_values got = scale_progress(c.total, c.done);
        EXPECT_EQ(got, c.expected) << "total " << c.total << " done " << c.done << ": got " << got.total << "/"
                                   << got.done << ", expected " << c.expected.total << "/" << c.expected.done;
        EXPECT_LE(got.total, 0x7FFFFFFFu);
    }
}

TEST(progress_step, counts_whole_percents_of_the_message_values) {
    struct step_case {
        std::uint32_t total;
        std::uint32_t done;
        std::uint32_t expected;
    };
    const step_case cases[] = {
        {1000, 0, 0},
        {1000, 9, 0},
        {1000, 10, 1},
        {1000, 999, 99},
        {1000, 1000, PROGRESS_STEPS},
        // The last step only when everything is done.
        {0x7FFFFFFF, 0x7FFFFFFE, PROGRESS_STEPS - 1},
        {0x7FFFFFFF, 0x7FFFFFFF, PROGRESS_STEPS},
        {3000, 29, 0},
        {3000, 30, 1},
        // Rounded down, as the window takes its whole percent.
        {0x7FFFFFFF, 0x7FFFFFFF / 2, 49},
        {300, 199, 66},
        // Nothing known of the total: one step for the whole.
        {0, 0, 0},
        {0, 5, 0},
        {10, 50, PROGRESS_STEPS},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(progress_step(c.total, c.done), c.expected) << "total " << c.total << " done " << c.done;
    }
}

TEST(file_name_of, takes_the_component_after_the_later_separator) {
    const std::pair<const char*, const char*> cases[] = {
        {"D:\\Tools\\pkg.exe", "pkg.exe"},
        {"/opt/tamsa/pkg.exe", "pkg.exe"},
        {"a/b\\c", "c"},
        {"a\\b/c", "c"},
        {"pkg.exe", "pkg.exe"},
        {"dir/", ""},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(file_name_of(path), expected) << "path " << path;
}

TEST(part_path_of, keeps_the_index_however_long_the_name) {
    const std::string long_name(300, 'n');
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(part_path_of("/x/" + long_name, i), module_dir() + long_name + "-" + std::to_string(i));
    }
}

TEST(package_path, is_the_program_directory_and_the_encoded_file_name) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://host/files/pkg.exe", "pkg.exe"},
        {"http://host/files/", ""},
        {"pkg.exe", "pkg.exe"},
        {"http://host/files/setup 1.exe", "setup%201.exe"},
        {"http://host/get?file=a&v=2", "get%3Ffile%3Da%26v%3D2"},
        {"C:\\dl\\pkg.exe", "pkg.exe"},
        {"http://host/100%.exe", "100%25.exe"},
    };
    for (const auto& [url, name] : cases) {
        EXPECT_EQ(package_path_for(url), module_dir() + name) << "package_url " << url;
    }
}

}  // namespace
