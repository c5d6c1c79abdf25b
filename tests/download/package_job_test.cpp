// The download job: the worker thread, its outcome and message, retries and
// the stop flag, on a real update task against a host on 127.0.0.1.
#include <gtest/gtest.h>

#include "download/md5.h"
#include "download/package_download.h"
#include "download_test_support.h"

namespace {

using namespace download_test;

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Removes the package file that a job put beside the program.
struct package_file_guard {
    std::string path;
    ~package_file_guard() {
        std::error_code error;
        if (!path.empty()) std::filesystem::remove(path, error);
    }
};

TEST(download_thread_proc, stores_the_outcome_then_posts_it) {
    const std::string body = package_bytes(250000);
    package_host host(body);
    struct job_case {
        const char* name;
        std::string expected_md5;
        bool ready;
    };
    const job_case cases[] = {
        {"digest matches in uppercase", upper(md5_of(body)), true},
        {"no digest announced", "", true},
        {"digest of another file", md5_of(body + "x"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = unique_package_name("job");
        task_fixture fixture;
        message_recorder window;
        fixture.task.package_url = host.url(name);
        fixture.task.package_md5 = c.expected_md5;
        fixture.task.progress_window = window.window();
        package_file_guard guard{module_dir() + name};

        testing::internal::CaptureStderr();
        EXPECT_EQ(download_thread_proc(&fixture.task), 0u);
        const std::string log = testing::internal::GetCapturedStderr();
        window.drain();

        EXPECT_EQ(fixture.task.package_path, module_dir() + name);
        EXPECT_NE(log.find("[TamsaUpdate]: UpdateFileName " + module_dir() + name + "\n"), std::string::npos)
            << "log was: " << log;
        EXPECT_EQ(fixture.task.package_state.load(), c.ready ? package_ready : package_failed);
        const auto done = window.of(WM_DOWNLOAD_DONE);
        ASSERT_EQ(done.size(), 1u);
        EXPECT_EQ(done[0].w, c.ready ? 1u : 0u);
        EXPECT_EQ(done[0].l, 0);
        // The outcome is stored before the message, so the message is the last thing posted.
        EXPECT_EQ(window.messages.back().id, WM_DOWNLOAD_DONE);
        // Held until started; on Windows a reader must otherwise share deleting, as the loader does.
        EXPECT_EQ(fixture.task.package_file.valid(), c.ready);
        fixture.task.package_file.release();
        if (c.ready) {
            EXPECT_TRUE(read_file(fixture.task.package_path) == body);
        } else {
            // The digest taken while the package arrived is the one logged, as the file's would be.
            const std::string line =
                "[TamsaUpdate]:  Update File Md5: " + c.expected_md5 + "  Local File Md5: " + md5_of(body) + " \n";
            EXPECT_NE(log.find(line), std::string::npos) << "log was: " << log;
        }
        EXPECT_TRUE(leftover_parts(name).empty());
    }
}

// The name after the address's last "/" must keep the package beside the
// program: a backslash, a colon (a drive) or ".." is refused with a log line
// before anything is fetched or created.
TEST(download_thread_proc, refuses_a_package_name_that_leaves_the_program_directory) {
    const std::string body = package_bytes(50000);
    package_host host(body);
    const std::string escape = unique_package_name("escape");
    struct name_case {
        const char* what;
        std::string url;
        std::string logged_name;
    };
    const name_case refused[] = {
        {"parent by backslash", host.url("..\\" + escape), "..\\" + escape},
        {"subfolder by backslash", host.url("sub\\" + escape), "sub\\" + escape},
        {"drive", host.url("C:" + escape), "C:" + escape},
        {"drive and root", host.url("c:\\" + escape), "c:\\" + escape},
        {"parent", host.url(".."), ".."},
    };
    for (const name_case& c : refused) {
        SCOPED_TRACE(c.what);
        task_fixture fixture;
        message_recorder window;
        fixture.task.package_url = c.url;
        fixture.task.progress_window = window.window();
        testing::internal::CaptureStderr();
        EXPECT_EQ(download_thread_proc(&fixture.task), 0u);
        const std::string log = testing::internal::GetCapturedStderr();
        window.drain();
        EXPECT_NE(log.find("[TamsaUpdate] package file name refused :" + c.logged_name + " \n"), std::string::npos)
            << "log was: " << log;
        EXPECT_EQ(log.find("UpdateFileName"), std::string::npos) << "nothing is fetched";
        EXPECT_EQ(fixture.task.package_state.load(), package_failed);
        ASSERT_EQ(window.of(WM_DOWNLOAD_DONE).size(), 1u);
        EXPECT_EQ(window.of(WM_DOWNLOAD_DONE)[0].w, 0u);
        EXPECT_TRUE(fixture.task.package_path.empty());
        EXPECT_FALSE(file_exists(module_dir() + "..\\" + escape));
        EXPECT_FALSE(file_exists(module_dir() + "../" + escape));
        EXPECT_TRUE(host.ranges_asked().empty());
    }

    // Dots inside a name are harmless.
    const std::string dotted = "dltest_setup.." + escape;
    task_fixture fixture;
    message_recorder window;
    fixture.task.package_url = host.url(dotted);
    fixture.task.progress_window = window.window();
    package_file_guard guard{module_dir() + dotted};
    EXPECT_EQ(download_thread_proc(&fixture.task), 0u);
    window.drain();
    EXPECT_EQ(fixture.task.package_state.load(), package_ready);
    EXPECT_EQ(fixture.task.package_path, module_dir() + dotted);
}

TEST(download_thread_proc, failed_transfer_is_never_ready_even_without_a_digest) {
    const std::string body = package_bytes(100000);
    package_host host(body, host_fault::not_found, plan_segments(body.size(), 4)[1].first);
    const std::string name = unique_package_name("nodigest");
    task_fixture fixture;
    message_recorder window;
    fixture.task.package_url = host.url(name);
    fixture.task.progress_window = window.window();
    package_file_guard guard{module_dir() + name};
    download_thread_proc(&fixture.task);
    window.drain();
    EXPECT_EQ(fixture.task.package_state.load(), package_failed);
    ASSERT_EQ(window.count(WM_DOWNLOAD_DONE), 1u);
    EXPECT_EQ(window.of(WM_DOWNLOAD_DONE)[0].w, 0u);
    EXPECT_EQ(read_file(fixture.task.package_path).size(), 0u) << "an error page became the package";
}

TEST(download_thread_proc, address_ending_in_a_slash_fails) {
    package_host host(package_bytes(1000));
    task_fixture fixture;
    message_recorder window;
    fixture.task.package_url = host.url("");
    fixture.task.progress_window = window.window();
    download_thread_proc(&fixture.task);
    window.drain();
    EXPECT_EQ(fixture.task.package_path, module_dir());
    EXPECT_EQ(fixture.task.package_state.load(), package_failed);
    ASSERT_EQ(window.count(WM_DOWNLOAD_DONE), 1u);
    EXPECT_EQ(window.of(WM_DOWNLOAD_DONE)[0].w, 0u);
    EXPECT_TRUE(host.ranges_asked().empty());
}

TEST(download_thread_proc, without_a_task_does_nothing) {
    EXPECT_EQ(download_thread_proc(nullptr), 1u);
}

TEST(start_download, retry_reuses_the_path_and_puts_the_package_there) {
    const std::string body = package_bytes(300000);
    package_host host(body, host_fault::drop_connection, plan_segments(body.size(), 4)[2].first);
    const std::string name = unique_package_name("retry");
    task_fixture fixture;
    message_recorder window;
    fixture.task.package_url = host.url(name);
    fixture.task.package_md5 = md5_of(body);
    package_file_guard guard{module_dir() + name};

    fixture.task.start_download(window.window());
    ASSERT_TRUE(window.wait_for(WM_DOWNLOAD_DONE, 60000));
    EXPECT_EQ(fixture.task.progress_window, window.window());
    EXPECT_EQ(window.of(WM_DOWNLOAD_DONE)[0].w, 0u);
    EXPECT_EQ(fixture.task.package_state.load(), package_failed);
    const std::string first_path = fixture.task.package_path;

    // A failed attempt puts nothing where the package goes.
    EXPECT_FALSE(file_exists(first_path));
    EXPECT_TRUE(leftover_parts(name).empty());
    host.set_fault(host_fault::none);
    window.messages.clear();
    fixture.task.start_download(window.window());
    ASSERT_TRUE(window.wait_for(WM_DOWNLOAD_DONE, 60000));
    ASSERT_TRUE(fixture.task.worker_thread.joinable());
    fixture.task.worker_thread.join();

    EXPECT_EQ(fixture.task.package_path, first_path);
    EXPECT_EQ(window.of(WM_DOWNLOAD_DONE)[0].w, 1u);
    EXPECT_EQ(fixture.task.package_state.load(), package_ready);
    // Held until it starts, the package shares no deleting: let go to read it.
    fixture.task.package_file.release();
    EXPECT_TRUE(read_file(first_path) == body);
}

TEST(start_download, stopped_update_posts_no_completion_but_stores_the_outcome) {
    cancel_flag_reset reset;
    const std::string body = package_bytes(100000);
    package_host host(body);
    const std::string name = unique_package_name("stopped");
    task_fixture fixture;
    message_recorder window;
    fixture.task.package_url = host.url(name);
    package_file_guard guard{module_dir() + name};
    g_update_cancelled = true;

    fixture.task.start_download(window.window());
    ASSERT_TRUE(fixture.task.worker_thread.joinable());
    fixture.task.worker_thread.join();
    window.drain();

    EXPECT_EQ(window.count(WM_DOWNLOAD_DONE), 0u);
    // A stopped attempt never counts as a ready package, even without a digest.
    EXPECT_EQ(fixture.task.package_state.load(), package_failed);
    EXPECT_TRUE(leftover_parts(name).empty());
}

// A second start while the worker runs (a repeated start message) starts no
// second worker on the same part files; once the attempt has ended, a start
// runs a new one.
TEST(start_download, a_second_start_while_the_worker_runs_is_ignored) {
    const std::string body = package_bytes(300000);
    package_host host(body, host_fault::stall, plan_segments(body.size(), 4)[1].first);
    const std::string name = unique_package_name("twice");
    task_fixture fixture;
    message_recorder window;
    fixture.task.package_url = host.url(name);
    fixture.task.package_md5 = md5_of(body);
    package_file_guard guard{module_dir() + name};

    fixture.task.start_download(window.window());
    ASSERT_TRUE(host.wait_until_stalled());
    const std::thread::id first_worker = fixture.task.worker_thread.get_id();
    testing::internal::CaptureStderr();
    fixture.task.start_download(window.window());
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("a download is already running"), std::string::npos) << log;
    EXPECT_EQ(fixture.task.worker_thread.get_id(), first_worker);

    host.set_fault(host_fault::none);
    host.release();
    ASSERT_TRUE(window.wait_for(WM_DOWNLOAD_DONE, 60000));
    EXPECT_EQ(window.of(WM_DOWNLOAD_DONE)[0].w, 1u);
    // The probe and four ranges of one attempt, nothing of a second.
    EXPECT_EQ(host.take_requests().size(), 5u);
    fixture.task.package_file.release();
    EXPECT_TRUE(read_file(module_dir() + name) == body);

    // The ended attempt is joined and a new one runs.
    window.messages.clear();
    fixture.task.start_download(window.window());
    ASSERT_TRUE(window.wait_for(WM_DOWNLOAD_DONE, 60000));
    EXPECT_EQ(window.of(WM_DOWNLOAD_DONE)[0].w, 1u);
}

// The package's name comes from the service and stays the same from release
// to release: a regular file of that name beside the program (an older
// package, one an earlier version of this program left, an empty one) is
// replaced by the verified package, and stays byte for byte when the
// download fails.
TEST(fetch_package, replaces_a_regular_file_of_the_packages_name_only_when_verified) {
    const std::string body = package_bytes(200000);
    struct place_case {
        const char* what;
        bool earlier_package_of_ours;
        std::string content;
        std::string md5;
        bool ready;
    };
    const place_case cases[] = {
        {"unlisted file, download fails its digest", false, "older package", md5_of("other"), false},
        {"unlisted file, download succeeds", false, "older package", md5_of(body), true},
        {"our earlier package", true, "older package", md5_of(body), true},
        {"an empty file", false, "", md5_of(body), true},
    };
    package_host host(body);
    for (const place_case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = unique_package_name("inway");
        package_file_guard guard{module_dir() + name};
        task_fixture fixture;
        fixture.task.package_url = host.url(name);
        fixture.task.package_md5 = c.md5;
        message_recorder window;
        fixture.task.progress_window = window.window();
        if (c.earlier_package_of_ours) {
            // An earlier package of this name, put there by the job itself.
            task_fixture earlier;
            earlier.task.package_url = host.url(name);
            earlier.task.progress_window = window.window();
            testing::internal::CaptureStderr();
            ASSERT_TRUE(earlier.task.download_package());
            (void)testing::internal::GetCapturedStderr();
            earlier.task.package_file.release();
        }
        write_file(module_dir() + name, c.content);
        testing::internal::CaptureStderr();
        const bool ok = fixture.task.download_package();
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ok, c.ready) << log;
        EXPECT_EQ(fixture.task.package_file.valid(), c.ready);
        fixture.task.package_file.release();
        if (c.ready) {
            EXPECT_TRUE(read_file(module_dir() + name) == body);
        } else {
            EXPECT_EQ(read_file(module_dir() + name), c.content) << log;
        }
        EXPECT_TRUE(leftover_parts(name).empty());
    }
}

// Range answers from two versions of the file (here: the first half of the
// ranges from the probe's version, the rest from a newer one) must never
// make one package, even when no digest is announced: the attempt starts
// again and the package is the newer version whole.
TEST(fetch_package, ranges_from_another_version_start_the_attempt_again) {
    const std::string old_body = package_bytes(400000, 1);
    const std::string new_body = package_bytes(400000, 2);
    std::mutex lock;
    int probes = 0;
    httplib::Server server;
    server.Get(R"(/files/(.*))", [&](const httplib::Request& req, httplib::Response& res) {
        const std::string range = req.get_header_value("Range");
        std::lock_guard<std::mutex> guard(lock);
        if (range.empty()) {
            ++probes;
            res.set_header("ETag", probes == 1 ? "\"v1\"" : "\"v2\"");
            res.set_content(probes == 1 ? old_body : new_body, "application/octet-stream");
            return;
        }
        const std::size_t first = std::stoul(range.substr(6, range.find('-') - 6));
        // In the first attempt only the first half of the ranges is the probe's version.
        const bool old_version = probes == 1 && first < old_body.size() / 2;
        res.set_header("ETag", old_version ? "\"v1\"" : "\"v2\"");
        // The server cuts the asked range out of the whole body.
        res.set_content(old_version ? old_body : new_body, "application/octet-stream");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread thread([&] { server.listen_after_bind(); });
    for (int i = 0; i < 500 && !server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));

    const std::string name = unique_package_name("versions");
    package_file_guard guard{module_dir() + name};
    task_fixture fixture;
    fixture.task.package_url = "http://127.0.0.1:" + std::to_string(port) + "/files/" + name;
    message_recorder window;
    fixture.task.progress_window = window.window();
    testing::internal::CaptureStderr();
    const bool ok = fixture.task.download_package();
    const std::string log = testing::internal::GetCapturedStderr();
    server.stop();
    thread.join();

    EXPECT_TRUE(ok) << log;
    fixture.task.package_file.release();
    EXPECT_TRUE(read_file(module_dir() + name) == new_body) << "a package of two versions; log:\n" << log;
    EXPECT_NE(log.find("comes from another version of the file"), std::string::npos) << log;
    EXPECT_EQ(probes, 2);
    EXPECT_TRUE(leftover_parts(name).empty());
}

}  // namespace
