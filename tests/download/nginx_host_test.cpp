// Whole download attempts against nginx as the package host.
#include "nginx_host.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <set>
#include <sstream>

#include "download/md5.h"
#include "download/package_download.h"
#include "download/segment_downloader.h"
#include "download_test_support.h"

namespace {

using namespace download_test;

class nginx_package_host : public testing::Test {
protected:
    void SetUp() override {
        if (!file_exists(NGINX_BINARY)) GTEST_SKIP() << NGINX_BINARY << " is not installed";
        host_ = std::make_unique<nginx_host>(dir_.dir() + "nginx");
        ASSERT_TRUE(host_->running()) << "nginx did not start; see " << dir_.dir() << "nginx/error.log";
    }
    void TearDown() override { host_.reset(); }

    // One job attempt for the file at path on the host; the package is stored in package.
    package_state_value run_job(const std::string& path, const std::string& expected_md5, std::string& package) {
        task_fixture fixture;
        message_recorder window;
        fixture.task.package_url = host_->url(path);
        fixture.task.package_md5 = expected_md5;
        fixture.task.progress_window = window.window();
        download_thread_proc(&fixture.task);
        window.drain();
        package = read_file(fixture.task.package_path);
        std::error_code error;
        std::filesystem::remove(fixture.task.package_path, error);
        EXPECT_EQ(window.count(WM_DOWNLOAD_DONE), 1u);
        return static_cast<package_state_value>(fixture.task.package_state.load());
    }

    temp_dir dir_;
    std::unique_ptr<nginx_host> host_;
};

std::string md5_of(const std::string& bytes) {
    md5 context;
    context.update(bytes.data(), bytes.size());
    return context.hex_digest();
}

TEST_F(nginx_package_host, delivers_packages_byte_identical) {
    struct nginx_case {
        const char* name;
        std::size_t size;
        const char* folder;  // "/" plain, "/limited/" rate-limited, "/moved/" redirecting
    };
    const nginx_case cases[] = {
        {"plain", 5 * 1024 * 1024 + 1, "/"},
        {"rate limited", 1024 * 1024, "/limited/"},
        {"redirected", 300000, "/moved/"},
        {"two bytes", 2, "/"},
        {"empty", 0, "/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = unique_package_name("nginx");
        const std::string body = package_bytes(c.size, static_cast<unsigned>(c.size));
        write_file(host_->www() + name, body);
        std::string package;
        EXPECT_EQ(run_job(c.folder + name, md5_of(body), package), package_ready);
        EXPECT_TRUE(package == body) << "got " << package.size() << " bytes, expected " << body.size();
        EXPECT_TRUE(leftover_parts(name).empty());
    }
}

TEST_F(nginx_package_host, missing_package_fails) {
    const std::string name = unique_package_name("nginx_missing");
    std::string package;
    EXPECT_EQ(run_job("/" + name, "", package), package_failed);
    EXPECT_EQ(package.size(), 0u) << "nginx's error page became the package";
    EXPECT_TRUE(leftover_parts(name).empty());
}

TEST_F(nginx_package_host, package_changed_under_the_digest_fails) {
    const std::string name = unique_package_name("nginx_changed");
    const std::string body = package_bytes(100000);
    write_file(host_->www() + name, body + "!");
    std::string package;
    EXPECT_EQ(run_job("/" + name, md5_of(body), package), package_failed);
}

}  // namespace

namespace {

using namespace download_test;

// One request line of nginx's access log.
struct logged_request {
    std::string connection;
    std::string protocol;
    int status = 0;
    std::string range;
    std::string if_range;
};

std::vector<logged_request> parse_access_log(const std::string& log) {
    std::vector<logged_request> requests;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        logged_request request;
        fields >> request.connection >> request.protocol >> request.status >> std::quoted(request.range) >>
            std::quoted(request.if_range);
        if (fields) requests.push_back(request);
    }
    return requests;
}

TEST(nginx_tls_host, segments_arrive_over_https_and_http2) {
    if (!file_exists(NGINX_BINARY) || !file_exists("/usr/bin/openssl")) GTEST_SKIP() << "nginx or openssl missing";
    struct tls_case {
        const char* name;
        nginx_protocol protocol;
        const char* segment_protocol;  // as nginx logs it
        bool one_connection;           // the four segments share one multiplexed connection
    };
    const tls_case cases[] = {
        {"HTTPS over HTTP/1.1", nginx_protocol::https, "HTTP/1.1", false},
        {"HTTPS over HTTP/2", nginx_protocol::https_http2, "HTTP/2.0", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        temp_dir dir;
        nginx_host host(dir.dir() + "nginx", "200k", c.protocol);
        ASSERT_TRUE(host.running()) << "nginx did not start; see " << dir.dir() << "nginx/error.log";
        const std::string name = unique_package_name("tls");
        const std::string body = package_bytes(3 * 1024 * 1024 + 5, 11);
        write_file(host.www() + name, body);
        task_fixture fixture;
        message_recorder window;
        fixture.task.package_url = host.url("/" + name);
        fixture.task.package_md5 = md5_of(body);
        fixture.task.progress_window = window.window();
        download_thread_proc(&fixture.task);
        window.drain();
        EXPECT_EQ(fixture.task.package_state.load(), package_ready);
        EXPECT_TRUE(read_file(fixture.task.package_path) == body);
        std::error_code error;
        std::filesystem::remove(fixture.task.package_path, error);
        EXPECT_TRUE(leftover_parts(name).empty());

        std::set<std::string> connections;
        int segments = 0;
        for (const auto& request : parse_access_log(host.access_log())) {
            if (request.range == "-") continue;  // the size probe
            ++segments;
            connections.insert(request.connection);
            EXPECT_EQ(request.protocol, c.segment_protocol);
            EXPECT_EQ(request.status, 206) << "range " << request.range;
        }
        EXPECT_EQ(segments, 4);
        EXPECT_EQ(connections.size(), c.one_connection ? 1u : 4u) << "connections used by the segments";
    }
}

// A retry against nginx after it went away mid-transfer: its strong ETag lets
// the second attempt ask only for the rest of each segment.
TEST(nginx_tls_host, retry_over_http2_resumes_with_the_etag) {
    if (!file_exists(NGINX_BINARY) || !file_exists("/usr/bin/openssl")) GTEST_SKIP() << "nginx or openssl missing";
    temp_dir dir;
    nginx_host host(dir.dir() + "nginx", "200k", nginx_protocol::https_http2);
    ASSERT_TRUE(host.running());
    const std::string name = unique_package_name("tls_resume");
    const std::string body = package_bytes(1024 * 1024, 12);
    write_file(host.www() + name, body);
    task_fixture fixture;
    fixture.task.package_path = module_dir() + name;
    fixture.task.package_md5 = md5_of(body);
    const std::string url = host.url("/limited/" + name);

    bool first_ok = true;
    std::thread first([&] { first_ok = fetch_package(fixture.task, url); });
    // Wait (bounded) until every segment has bytes on disk, then take the host away.
    for (int i = 0; i < 500; ++i) {
        int started = 0;
        for (int k = 0; k < 4; ++k) {
            std::error_code error;
            started +=
                std::filesystem::file_size(part_path_of(download_path_for(module_dir() + name), k), error) > 0 && !error
                    ? 1
                    : 0;
        }
        if (started == 4) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    host.stop();
    first.join();
    EXPECT_FALSE(first_ok);
    ASSERT_TRUE(host.start_again());

    EXPECT_TRUE(fetch_package(fixture.task, url));
    EXPECT_TRUE(read_file(fixture.task.package_path) == body);
    std::error_code error;
    std::filesystem::remove(fixture.task.package_path, error);
    EXPECT_TRUE(leftover_parts(name).empty());
    int resumed = 0;
    for (const auto& request : parse_access_log(host.access_log())) {
        if (request.if_range.empty() || request.if_range == "-") continue;
        ++resumed;
        EXPECT_EQ(request.status, 206) << "range " << request.range;
        EXPECT_EQ(request.protocol, "HTTP/2.0");
    }
    EXPECT_EQ(resumed, 4) << "segments resumed with If-Range";
}

}  // namespace
