// The digest thread against part files written by the test: whatever order
// the segments grow in, the digest is the package's, and only when it covers
// every byte.
#include "download/stream_digest.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include "download/md5.h"
#include "download/segment_plan.h"
#include "download_test_support.h"
#include "platform/files.h"

namespace {

using namespace download_test;

std::string blake2b_of(const std::string& bytes) {
    std::string hash(crypto_generichash_BYTES_MAX, '\0');
    if (sodium_init() < 0 ||
        crypto_generichash(reinterpret_cast<unsigned char*>(hash.data()), hash.size(),
                           reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr, 0) != 0) {
        return "libsodium failed";
    }
    return hash;
}

// Appends bytes to a part file and reports the new size, as the engine does.
void append_and_report(stream_digest& digest, const std::string& path, std::size_t segment, const std::string& bytes,
                       std::uint64_t& written) {
    std::ofstream(path, std::ios::binary | std::ios::app)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    written += bytes.size();
    digest.grew(segment, written);
}

TEST(stream_digest, follows_the_segments_in_package_order) {
    const std::string package = package_bytes(300001, 21);
    const auto plan = plan_segments(package.size(), 4);
    struct order_case {
        const char* name;
        std::vector<int> order;    // which segment gets its next piece, in turn
        bool restart_segment_1;    // segment 1 goes back to zero halfway and is written again
        std::int64_t total_delta;  // what finish is told, against the package size
        bool digest_expected;
    };
    const order_case cases[] = {
        {"in order", {0, 0, 1, 1, 2, 2, 3, 3}, false, 0, true},
        {"last segment first", {3, 3, 2, 2, 1, 1, 0, 0}, false, 0, true},
        {"interleaved", {1, 0, 3, 2, 0, 1, 2, 3}, false, 0, true},
        {"a segment restarts", {0, 1, 2, 3, 0, 1, 2, 3}, true, 0, true},
        {"fewer bytes than the package", {0, 0, 1, 1, 2, 2, 3, 3}, false, 1, false},
        {"a segment never finished", {0, 0, 1, 2, 2, 3, 3}, false, 0, false},
    };
    for (const auto& c : cases) {
        for (const bool with_blake2b : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (with_blake2b ? ", with the signature's hash" : ""));
            temp_dir dir;
            std::vector<std::string> paths;
            std::vector<std::uint64_t> lengths;
            for (std::size_t i = 0; i < plan.size(); ++i) {
                paths.push_back(dir.file("part-" + std::to_string(i)));
                lengths.push_back(plan[i].length());
                write_file(paths.back(), "");
            }
            stream_digest digest;
            ASSERT_TRUE(digest.start(paths, lengths, with_blake2b));
            std::vector<std::uint64_t> written(plan.size(), 0);
            std::vector<int> pieces_done(plan.size(), 0);
            for (const int segment : c.order) {
                const auto& range = plan[static_cast<std::size_t>(segment)];
                const std::uint64_t half = range.length() / 2;
                const std::uint64_t from = pieces_done[segment] == 0 ? 0 : half;
                const std::uint64_t to = pieces_done[segment] == 0 ? half : range.length();
                ++pieces_done[segment];
                append_and_report(digest, paths[segment], segment,
                                  package.substr(static_cast<std::size_t>(range.first + from), to - from),
                                  written[segment]);
                if (c.restart_segment_1 && segment == 1 && pieces_done[1] == 2) {
                    write_file(paths[1], "");
                    written[1] = 0;
                    digest.restart(1);
                    append_and_report(digest, paths[1], 1,
                                      package.substr(static_cast<std::size_t>(range.first), range.length()),
                                      written[1]);
                }
            }
            const std::string got = digest.finish(package.size() + c.total_delta);
            EXPECT_EQ(got, c.digest_expected ? md5_of(package) : "");
            // The signature's hash is taken only when asked for, and only whole.
            EXPECT_TRUE(digest.blake2b() == (with_blake2b && c.digest_expected ? blake2b_of(package) : ""));
            if (c.digest_expected) {
                // The running figures count each byte of the package once, a restart included.
                EXPECT_EQ(digest.progress().digested, package.size());
                EXPECT_GT(digest.progress().busy.count(), 0);
            }
        }
    }
}

TEST(stream_digest, whole_file_of_unknown_length_ends_at_finish) {
    const std::string package = package_bytes(70000, 22);
    temp_dir dir;
    const std::string path = dir.file("whole");
    write_file(path, "");
    stream_digest digest;
    ASSERT_TRUE(digest.start({path}, {0}));
    std::uint64_t written = 0;
    append_and_report(digest, path, 0, package.substr(0, 1000), written);
    append_and_report(digest, path, 0, package.substr(1000), written);
    EXPECT_EQ(digest.finish(package.size()), md5_of(package));
}

TEST(stream_digest, a_part_may_go_once_the_thread_is_done_with_it) {
    const std::string package = package_bytes(50000, 23);
    temp_dir dir;
    const std::vector<std::string> paths{dir.file("part-0"), dir.file("part-1")};
    for (const auto& path : paths) write_file(path, "");
    stream_digest digest;
    ASSERT_TRUE(digest.start(paths, {20000, 30000}));
    std::vector<std::uint64_t> written(2, 0);
    append_and_report(digest, paths[0], 0, package.substr(0, 20000), written[0]);
    ASSERT_TRUE(digest.wait_until_done_with(0));
    // Closed by the thread, so this works on every system.
    EXPECT_TRUE(platform::delete_file(paths[0]));
    append_and_report(digest, paths[1], 1, package.substr(20000), written[1]);
    EXPECT_EQ(digest.finish(package.size()), md5_of(package));
    EXPECT_FALSE(digest.wait_until_done_with(1)) << "after the end nothing is waited for";
}

TEST(stream_digest, waiting_on_a_thread_that_gave_up_returns_at_once) {
    temp_dir dir;
    // A part that was never created: the thread cannot read what was reported.
    const std::vector<std::string> paths{dir.file("missing-0"), dir.file("missing-1")};
    stream_digest digest;
    ASSERT_TRUE(digest.start(paths, {10, 10}));
    digest.grew(0, 10);
    EXPECT_FALSE(digest.wait_until_done_with(0));
    EXPECT_EQ(digest.finish(20), "");
    stream_digest never_started;
    EXPECT_FALSE(never_started.wait_until_done_with(0));
}

TEST(stream_digest, stopped_or_never_started_gives_nothing) {
    stream_digest never_started;
    EXPECT_EQ(never_started.finish(0), "");
    temp_dir dir;
    write_file(dir.file("p"), "abc");
    stream_digest stopped;
    ASSERT_TRUE(stopped.start({dir.file("p")}, {3}));
    stopped.grew(0, 3);
    stopped.stop();
    EXPECT_EQ(stopped.finish(3), "");
}

}  // namespace
