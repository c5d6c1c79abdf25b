// A new attempt at the same package keeps what an earlier attempt wrote when
// the host proves that its file is unchanged, and starts from zero otherwise.
#include <gtest/gtest.h>

#include "download/md5.h"
#include "download/package_download.h"
#include "download/segment_downloader.h"
#include "download_test_support.h"
#include "tests/support/eventually.h"

namespace {

using namespace download_test;

constexpr std::size_t PACKAGE_SIZE = 400000;
// The segment whose connection drops halfway in the first attempt.
constexpr int BROKEN_SEGMENT = 2;

std::uint64_t file_size(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<std::uint64_t>(size);
}

struct engine_run {
    bool ok = false;
    std::string digest;
    std::uint64_t resumed = 0;
    std::vector<platform::message> progress;
};

engine_run run_engine(const std::string& url, const std::string& target) {
    message_recorder window;
    engine_run run;
    {
        segment_downloader engine(url, url, target, window.window(), download_flags{nullptr, &g_update_cancelled});
        run.ok = engine.download();
        run.digest = engine.package_digest();
        run.resumed = engine.resumed_bytes();
    }
    window.drain();
    run.progress = window.of(WM_DOWNLOAD_PROGRESS);
    return run;
}

// The requests after the probe, in a fixed order.
std::vector<host_request> segment_requests(std::vector<host_request> requests) {
    if (!requests.empty()) requests.erase(requests.begin());
    std::sort(requests.begin(), requests.end(),
              [](const host_request& a, const host_request& b) { return a.range + a.if_range < b.range + b.if_range; });
    return requests;
}

std::string range_header(std::int64_t first, std::int64_t last) {
    return "bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

enum class expected_second { resumes, all_from_zero, broken_segment_from_zero, resumed_then_restarted };

struct resume_case {
    const char* name;
    host_validators first;
    host_validators second;
    bool file_changes;        // the host serves other bytes (of the same size) in the second attempt
    host_fault second_fault;  // none, or refuse_if_range
    bool lengthen_part;       // the broken segment's part file grows past its segment between the attempts
    expected_second expected;
};

const std::string ETAG = "\"5f3a-61a80\"";
const std::string DATE = "Tue, 01 Dec 2026 10:00:00 GMT";

const resume_case RESUME_CASES[] = {
    {"strong ETag kept", {ETAG, DATE}, {ETAG, DATE}, false, host_fault::none, false, expected_second::resumes},
    {"Last-Modified only", {"", DATE}, {"", DATE}, false, host_fault::none, false, expected_second::resumes},
    {"weak ETag only",
     {"W/" + ETAG, ""},
     {"W/" + ETAG, ""},
     false,
     host_fault::none,
     false,
     expected_second::all_from_zero},
    {"no validator", {"", ""}, {"", ""}, false, host_fault::none, false, expected_second::all_from_zero},
    {"ETag changed with the file",
     {ETAG, DATE},
     {"\"other\"", DATE},
     true,
     host_fault::none,
     false,
     expected_second::all_from_zero},
    {"200 instead of 206",
     {ETAG, ""},
     {ETAG, ""},
     false,
     host_fault::refuse_if_range,
     false,
     expected_second::resumed_then_restarted},
    {"part file longer than its segment",
     {ETAG, ""},
     {ETAG, ""},
     false,
     host_fault::none,
     true,
     expected_second::broken_segment_from_zero},
};

TEST(resume, keeps_held_bytes_only_when_the_host_proves_the_same_file) {
    for (const auto& c : RESUME_CASES) {
        SCOPED_TRACE(c.name);
        const std::string first_body = package_bytes(PACKAGE_SIZE, 1);
        const auto plan = plan_segments(PACKAGE_SIZE, 4);
        const segment_range broken = plan[BROKEN_SEGMENT];
        package_host host(first_body, host_fault::drop_connection, broken.first);
        host.set_validators(c.first);
        temp_dir dir;
        const std::string name = unique_package_name("resume");
        const std::string target = dir.file(name);

        const engine_run first = run_engine(host.url(name), target);
        ASSERT_FALSE(first.ok);
        for (const auto& request : host.take_requests()) {
            EXPECT_EQ(request.if_range, "") << "a first attempt sends no validator";
        }
        const std::string broken_part = part_path_of(name, BROKEN_SEGMENT);
        std::uint64_t held = 0;
        for (int i = 0; i < 4; ++i) held += file_size(part_path_of(name, i));
        const std::uint64_t broken_held = file_size(broken_part);
        const bool provable =
            (!c.first.etag.empty() && !c.first.etag.starts_with("W/")) || !c.first.last_modified.empty();
        if (provable) {
            ASSERT_GT(broken_held, 0u) << "the first attempt should leave half the broken segment";
            ASSERT_LT(broken_held, broken.length());
        } else {
            EXPECT_TRUE(leftover_parts(name).empty()) << "parts kept that no validator can vouch for";
        }
        if (c.lengthen_part) {
            std::ofstream(broken_part, std::ios::binary | std::ios::app) << std::string(broken.length(), 'z');
        }

        const std::string body = c.file_changes ? package_bytes(PACKAGE_SIZE, 2) : first_body;
        host.replace_file(body, c.second);
        host.set_fault(c.second_fault);
        // The host's threads count what they sent once the client has it:
        // the count is taken when it has stopped moving.
        std::uint64_t sent_before = host.range_bytes_sent();
        (void)test_support::eventually([&] {
            const std::uint64_t before = sent_before;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            sent_before = host.range_bytes_sent();
            return sent_before == before;
        });
        const engine_run second = run_engine(host.url(name), target);

        EXPECT_TRUE(second.ok);
        EXPECT_TRUE(read_file(target) == body) << "the package differs from the host's current file";
        EXPECT_EQ(second.digest, md5_of(body));
        EXPECT_TRUE(leftover_parts(name).empty());
        const std::string full_range = range_header(broken.first, broken.last);
        const std::string rest_range = range_header(broken.first + static_cast<std::int64_t>(broken_held), broken.last);
        const std::string validator = c.second.etag.empty() ? c.second.last_modified : c.second.etag;
        std::vector<host_request> expected_requests;
        std::uint64_t expected_resumed = 0;
        switch (c.expected) {
            case expected_second::resumes:
                expected_requests = {{rest_range, validator}};
                expected_resumed = held;
                break;
            case expected_second::broken_segment_from_zero:
                expected_requests = {{full_range, ""}};
                expected_resumed = held - broken_held;
                break;
            case expected_second::resumed_then_restarted:
                expected_requests = {{full_range, ""}, {rest_range, validator}};
                expected_resumed = held - broken_held;
                break;
            case expected_second::all_from_zero:
                for (const auto& range : plan) expected_requests.push_back({range_header(range.first, range.last), ""});
                break;
        }
        const auto requests = segment_requests(host.take_requests());
        ASSERT_EQ(requests.size(), expected_requests.size());
        for (std::size_t i = 0; i < requests.size(); ++i) {
            EXPECT_EQ(requests[i].range, expected_requests[i].range) << "request " << i;
            EXPECT_EQ(requests[i].if_range, expected_requests[i].if_range) << "request " << i;
        }
        EXPECT_EQ(second.resumed, expected_resumed);
        if (c.expected == expected_second::resumes) {
            (void)test_support::eventually(
                [&] { return host.range_bytes_sent() - sent_before >= PACKAGE_SIZE - held; });
            EXPECT_EQ(host.range_bytes_sent() - sent_before, PACKAGE_SIZE - held) << "bytes sent again";
            ASSERT_FALSE(second.progress.empty());
            EXPECT_GE(static_cast<std::uint64_t>(second.progress.front().l), held)
                << "progress should start from the bytes already held";
        }
    }
}

// Removes the package file that a job put beside the program.
struct package_file_guard {
    std::string path;
    ~package_file_guard() {
        std::error_code error;
        if (!path.empty()) std::filesystem::remove(path, error);
    }
};

TEST(resume, a_digest_mismatch_leaves_nothing_to_resume) {
    const std::string body = package_bytes(PACKAGE_SIZE, 3);
    package_host host(body, host_fault::drop_connection, plan_segments(PACKAGE_SIZE, 4)[1].first);
    host.set_validators({ETAG, ""});
    const std::string name = unique_package_name("mismatch");
    task_fixture fixture;
    fixture.task.package_url = host.url(name);
    fixture.task.package_path = module_dir() + name;
    fixture.task.package_md5 = md5_of(body + "other");
    package_file_guard guard{fixture.task.package_path};
    const std::string url = encoded_package_url(fixture.task.package_url);

    EXPECT_FALSE(fetch_package(fixture.task, url));  // broken segment: parts kept
    host.set_fault(host_fault::none);
    (void)host.take_requests();
    EXPECT_FALSE(fetch_package(fixture.task, url));  // resumed and complete, but not the announced file
    EXPECT_EQ(segment_requests(host.take_requests()).size(), 1u) << "the second attempt should resume";
    EXPECT_TRUE(leftover_parts(name).empty());
    EXPECT_FALSE(fetch_package(fixture.task, url));
    for (const auto& request : host.take_requests()) {
        EXPECT_EQ(request.if_range, "") << "bytes of the mismatching package were resumed";
    }
}

TEST(resume, a_failed_attempt_at_another_package_drops_the_held_parts) {
    const std::string body = package_bytes(PACKAGE_SIZE, 4);
    package_host host(body, host_fault::drop_connection, plan_segments(PACKAGE_SIZE, 4)[3].first);
    host.set_validators({ETAG, ""});
    temp_dir dir;
    const std::string first_name = unique_package_name("first");
    EXPECT_FALSE(run_engine(host.url(first_name), dir.file(first_name)).ok);
    EXPECT_EQ(leftover_parts(first_name).size(), 4u) << "the failed attempt should keep its parts";

    const std::string other_name = unique_package_name("other");
    host.set_fault(host_fault::none);
    EXPECT_TRUE(run_engine(host.url(other_name), dir.file(other_name)).ok);
    EXPECT_TRUE(leftover_parts(first_name).empty()) << "parts nobody will resume stayed on disk";
}

TEST(resume, a_stopped_attempt_keeps_nothing) {
    cancel_flag_reset reset;
    const std::string body = package_bytes(PACKAGE_SIZE, 5);
    package_host host(body, host_fault::cancel_then_stall, 0);
    host.set_validators({ETAG, ""});
    temp_dir dir;
    const std::string name = unique_package_name("stopped");
    EXPECT_FALSE(run_engine(host.url(name), dir.file(name)).ok);
    host.release();
    EXPECT_TRUE(leftover_parts(name).empty());
}

}  // namespace

namespace {

using namespace download_test;

// Held parts live for one run of the program only: package_fetch gives up
// after one failed attempt, and its part files must be gone when it ends.
TEST(resume, held_parts_go_when_the_program_ends) {
    const std::string body = package_bytes(PACKAGE_SIZE, 6);
    package_host host(body, host_fault::drop_connection, plan_segments(PACKAGE_SIZE, 4)[2].first);
    host.set_validators({ETAG, ""});
    temp_dir dir;
    const std::string name = unique_package_name("program");
    const std::string command = std::string(PACKAGE_FETCH_BINARY) + " '" + host.url(name) + "' '" + dir.file(name) +
                                "' > '" + dir.file("out.txt") + "' 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_NE(status, 0) << "the attempt should fail";
    EXPECT_NE(read_file(dir.file("out.txt")).find("ok=0"), std::string::npos) << read_file(dir.file("out.txt"));
    EXPECT_TRUE(leftover_parts(name).empty()) << "part files outlived the program";
}

}  // namespace
