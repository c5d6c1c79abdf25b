// Whole attempts of the segmented download engine against a package host on
// 127.0.0.1 that misbehaves in chosen ways.
#include "download/segment_downloader.h"

#include <gtest/gtest.h>

#include "download/md5.h"
#include "download/segment_plan.h"
#include "download_test_support.h"

namespace {

using namespace download_test;

// Bounds short enough for a test to see a stalled host fail the attempt.
constexpr transfer_limits SHORT_LIMITS{2, 1};

struct attempt {
    bool ok = false;
    std::string package;
    std::string digest;  // taken while the package arrived
    std::vector<platform::message> progress;
};

// The engine as the job builds it, reading the process-wide cancel flag.
attempt run_engine(const std::string& url, const std::string& target, const std::atomic<bool>* paused,
                   transfer_limits limits = {}) {
    message_recorder window;
    attempt result;
    {
        segment_downloader engine(url, url, target, window.window(), download_flags{paused, &g_update_cancelled},
                                  limits);
        result.ok = engine.download();
        result.digest = engine.package_digest();
    }
    result.package = read_file(target);
    window.drain();
    result.progress = window.of(WM_DOWNLOAD_PROGRESS);
    return result;
}

// Progress messages count up to the package size and always carry it as total.
void expect_progress_up_to(const std::vector<platform::message>& progress, std::size_t size) {
    ASSERT_FALSE(progress.empty());
    platform::lparam last = 0;
    for (const auto& msg : progress) {
        EXPECT_EQ(msg.w, size) << "total in a progress message";
        EXPECT_GE(msg.l, last) << "bytes done went backwards";
        EXPECT_LE(static_cast<std::size_t>(msg.l), size);
        last = msg.l;
    }
    EXPECT_EQ(static_cast<std::size_t>(progress.back().l), size);
}

struct host_case {
    const char* name;
    std::size_t size;
    host_fault fault;
    int fault_segment;  // which of the four planned segments misbehaves (whole-file faults: their byte count)
    const char* folder;
    bool limited;
    bool ready;  // the package arrives intact; otherwise the attempt fails
};

const host_case HOST_CASES[] = {
    {"healthy host", 1000, host_fault::none, 0, "files", false, true},
    {"large package", 3 * 1024 * 1024 + 3, host_fault::none, 0, "files", false, true},
    {"ranges ignored", 300000, host_fault::ignore_ranges, 0, "files", false, true},
    {"redirect", 100000, host_fault::none, 0, "moved", false, true},
    {"slow body", 64 * 1024, host_fault::slow_body, 0, "files", false, true},
    {"no length", 50000, host_fault::no_length, 0, "files", false, true},
    {"three bytes", 3, host_fault::none, 0, "files", false, true},
    {"empty package", 0, host_fault::none, 0, "files", false, true},
    {"404 on one segment", 100000, host_fault::not_found, 2, "files", false, false},
    {"connection dropped", 400000, host_fault::drop_connection, 1, "files", false, false},
    {"wrong range answered", 100000, host_fault::wrong_range, 3, "files", false, false},
    {"stalled segment", 400000, host_fault::stall, 0, "files", true, false},
    {"whole transfer shorter than the probe", 100000, host_fault::whole_length_differs, 5, "files", false, false},
    {"whole transfer longer than the probe", 100000, host_fault::whole_length_differs, -5, "files", false, false},
    {"close-delimited body cut short", 100000, host_fault::close_delimited_cut, 0, "files", false, false},
};

TEST(segment_downloader, package_is_intact_or_the_attempt_fails) {
    for (const auto& c : HOST_CASES) {
        SCOPED_TRACE(c.name);
        const std::string body = package_bytes(c.size);
        const auto plan = plan_segments(c.size, 4);
        // The whole-file faults take their number as it is.
        const bool whole_fault =
            c.fault == host_fault::whole_length_differs || c.fault == host_fault::close_delimited_cut;
        const std::int64_t fault_offset =
            whole_fault ? c.fault_segment : (plan.empty() ? 0 : plan[c.fault_segment].first);
        package_host host(body, c.fault, fault_offset);
        temp_dir dir;
        const std::string name = unique_package_name("engine");
        const std::string target = dir.file(name);

        const attempt got =
            run_engine(host.url(name, c.folder), target, nullptr, c.limited ? SHORT_LIMITS : transfer_limits{});
        host.release();

        EXPECT_EQ(got.ok, c.ready);
        if (c.ready) {
            EXPECT_TRUE(got.package == body)
                << "package of " << got.package.size() << " bytes, expected " << body.size() << " identical bytes";
            // Without a length there is no total to report progress against.
            if (c.size > 0 && c.fault != host_fault::no_length) expect_progress_up_to(got.progress, c.size);
            // The digest taken on the way is the merged file's.
            md5 whole;
            whole.update(got.package.data(), got.package.size());
            EXPECT_EQ(got.digest, whole.hex_digest());
        } else {
            // Nothing broken may look like a package: the target stays empty.
            EXPECT_EQ(got.package.size(), 0u) << "a failed attempt left a package";
        }
        EXPECT_TRUE(file_exists(target)) << "the validated target file should exist";
        EXPECT_TRUE(leftover_parts(name).empty()) << "part files left beside the program";
        EXPECT_FALSE(host.stall_timed_out());
    }
}

TEST(segment_downloader, asks_for_the_planned_ranges_or_the_whole_file) {
    struct request_case {
        const char* name;
        std::size_t size;
        host_fault fault;
        std::vector<std::string> expected;  // in any order after the probe
    };
    const request_case cases[] = {
        {"four ranges", 1000, host_fault::none, {"", "bytes=0-249", "bytes=250-499", "bytes=500-749", "bytes=750-999"}},
        {"too small for ranges", 3, host_fault::none, {"", ""}},
        {"no length", 5000, host_fault::no_length, {"", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        package_host host(package_bytes(c.size), c.fault);
        temp_dir dir;
        const std::string name = unique_package_name("ranges");
        EXPECT_TRUE(run_engine(host.url(name), dir.file(name), nullptr).ok);
        std::vector<std::string> asked = host.ranges_asked();
        ASSERT_FALSE(asked.empty());
        std::sort(asked.begin() + 1, asked.end());
        EXPECT_EQ(asked, c.expected);
    }
}

TEST(segment_downloader, ranges_ignored_fetches_one_whole_copy) {
    const std::string body = package_bytes(200000);
    package_host host(body, host_fault::ignore_ranges);
    temp_dir dir;
    const std::string name = unique_package_name("ignored");
    const attempt got = run_engine(host.url(name), dir.file(name), nullptr);
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.package.size(), body.size()) << "never four copies";
    // The probe and one whole transfer, besides up to four refused range requests.
    const auto asked = host.ranges_asked();
    EXPECT_EQ(std::count(asked.begin(), asked.end(), ""), 2);
    EXPECT_LE(asked.size(), 6u);
}

TEST(segment_downloader, target_that_cannot_be_created_sends_nothing) {
    package_host host(package_bytes(1000));
    temp_dir dir;
    std::filesystem::create_directory(dir.file("taken"));
    testing::internal::CaptureStderr();
    const attempt got = run_engine(host.url("x.pkg"), dir.file("taken"), nullptr);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(got.ok);
    EXPECT_TRUE(host.ranges_asked().empty());
    const std::string line = "[TamsaUpdate] check_file_name_validate :" + dir.file("taken") + " invalidate \n";
    EXPECT_NE(log.find(line), std::string::npos) << "log was: " << log;
}

TEST(segment_downloader, part_file_that_cannot_be_created_fails_the_attempt) {
    const std::string body = package_bytes(100000);
    package_host host(body);
    temp_dir dir;
    const std::string name = unique_package_name("gap");
    const std::string blocked = part_path_of(name, 2);
    std::filesystem::create_directory(blocked);
    const attempt got = run_engine(host.url(name), dir.file(name), nullptr);
    std::error_code error;
    std::filesystem::remove(blocked, error);
    EXPECT_FALSE(got.ok);
    EXPECT_EQ(got.package.size(), 0u) << "a package with a gap was joined";
    EXPECT_TRUE(leftover_parts(name).empty());
}

TEST(segment_downloader, joins_segments_in_order_whatever_order_they_arrive) {
    // The first segment stalls until the others are done, so it arrives last.
    const std::string body = package_bytes(400000);
    package_host host(body, host_fault::stall, 0);
    temp_dir dir;
    const std::string name = unique_package_name("order");
    std::jthread releaser([&] {
        host.wait_until_stalled();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        host.release();
    });
    const attempt got = run_engine(host.url(name), dir.file(name), nullptr);
    releaser.join();
    EXPECT_TRUE(got.ok);
    EXPECT_TRUE(got.package == body) << "joined package differs from the original";
}

// A package of many more chunks than the bar has steps: one message per
// whole percent at most (each a system call, and on Windows a trip to
// the window's queue), and the last one still carries the whole size.
TEST(segment_downloader, progress_is_posted_once_per_step_of_the_bar) {
    const std::size_t size = 24 * 1024 * 1024;  // over 1500 chunks of libcurl's 16 KiB at most
    const std::string body = package_bytes(size);
    package_host host(body, host_fault::none, 0);
    temp_dir dir;
    const std::string name = unique_package_name("steps");
    const attempt got = run_engine(host.url(name), dir.file(name), nullptr);
    host.release();
    ASSERT_TRUE(got.ok);
    expect_progress_up_to(got.progress, size);
    EXPECT_LE(got.progress.size(), PROGRESS_STEPS + 1u);
    std::size_t repeats = 0;
    for (std::size_t i = 1; i < got.progress.size(); ++i) {
        const auto step = [&](std::size_t k) { return progress_step(got.progress[k].w, got.progress[k].l); };
        if (step(i) == step(i - 1)) ++repeats;
    }
    EXPECT_EQ(repeats, 0u) << "messages that repeat the step of the one before";
}

TEST(segment_downloader, stop_flag_ends_the_attempt_without_another_byte) {
    cancel_flag_reset reset;
    const std::string body = package_bytes(400000);
    // Segment 0 sets the stop flag halfway and then sends nothing more: only
    // the loop's own check of the flag can end the attempt.
    package_host host(body, host_fault::cancel_then_stall, 0);
    temp_dir dir;
    const std::string name = unique_package_name("cancel");
    const attempt got = run_engine(host.url(name), dir.file(name), nullptr);
    host.release();
    EXPECT_FALSE(got.ok);
    EXPECT_FALSE(host.stall_timed_out()) << "the attempt waited for the stalled host instead of stopping";
    EXPECT_EQ(got.package.size(), 0u);
    for (const auto& msg : got.progress) {
        EXPECT_LE(static_cast<std::uint64_t>(msg.l), host.bytes_before_cancel()) << "bytes written after the stop";
    }
    EXPECT_TRUE(leftover_parts(name).empty());
}

TEST(segment_downloader, paused_progress_is_counted_and_reported_in_full_later) {
    const std::size_t size = 512 * 1024;
    const std::string body = package_bytes(size);
    package_host host(body, host_fault::stall, 0);
    temp_dir dir;
    const std::string name = unique_package_name("paused");
    task_fixture fixture;
    fixture.task.progress_paused = true;
    message_recorder window;
    bool ok = false;
    std::jthread worker([&] {
        segment_downloader engine(host.url(name), host.url(name), dir.file(name), window.window(),
                                  download_flags{&fixture.task.progress_paused, &g_update_cancelled});
        ok = engine.download();
    });
    ASSERT_TRUE(host.wait_until_stalled());
    // Wait (bounded) until the three other segments and half the first are on disk.
    const std::uint64_t most = size - size / 8 - 4 * 4096;
    std::uint64_t on_disk = 0;
    for (int i = 0; i < 200 && on_disk < most; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        on_disk = 0;
        for (int k = 0; k < 4; ++k) {
            std::error_code error;
            const auto part = std::filesystem::file_size(part_path_of(name, k), error);
            if (!error) on_disk += part;
        }
    }
    window.drain();
    EXPECT_EQ(window.count(WM_DOWNLOAD_PROGRESS), 0u) << "progress posted while paused";
    fixture.task.progress_paused = false;
    host.release();
    worker.join();
    window.drain();
    EXPECT_TRUE(ok);
    EXPECT_TRUE(read_file(dir.file(name)) == body);
    const auto progress = window.of(WM_DOWNLOAD_PROGRESS);
    ASSERT_FALSE(progress.empty());
    EXPECT_GE(static_cast<std::uint64_t>(progress.front().l), on_disk)
        << "the first message after the pause should carry every byte counted meanwhile";
    EXPECT_EQ(static_cast<std::size_t>(progress.back().l), size);
}

TEST(segment_downloader, dead_host_fails_without_hanging) {
    // A port that was just free: nothing listens there.
    int port = 0;
    {
        httplib::Server probe;
        port = probe.bind_to_any_port("127.0.0.1");
    }
    temp_dir dir;
    const std::string name = unique_package_name("dead");
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/files/" + name;
    const attempt got = run_engine(url, dir.file(name), nullptr, SHORT_LIMITS);
    EXPECT_FALSE(got.ok);
    EXPECT_TRUE(leftover_parts(name).empty());
}

}  // namespace
