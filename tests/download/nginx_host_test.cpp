// Whole download attempts against nginx as the package host.
#include "nginx_host.h"

#include <gtest/gtest.h>

#include "download/md5.h"
#include "download/package_download.h"
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
