// Web pages in place of the package: told by the Content-Type label and by
// the start of the body. Without a digest or signature to check, either one
// makes the attempt fail; with one, the digest (or signature) alone decides,
// so a real package under a wrong label still arrives and a login page under
// a harmless label never becomes the package.
#include <gtest/gtest.h>

#include <cstdlib>

#include "download/package_download.h"
#include "download_test_support.h"

namespace {

using namespace download_test;

const char* const PAGE_LINE = "with a web page, not the package";

// A host on 127.0.0.1 that serves one body at /files/<any name> under one
// Content-Type, or none at all (byte ranges answered by the library).
class labelled_host {
public:
    labelled_host(std::string body, std::string content_type)
        : body_(std::move(body)), content_type_(std::move(content_type)) {
        server_.Get(R"(/files/(.*))", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(body_, content_type_);
            if (content_type_.empty()) res.headers.erase("Content-Type");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        for (int i = 0; i < 500 && !server_.is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    ~labelled_host() {
        server_.stop();
        if (thread_.joinable()) thread_.join();
    }
    labelled_host(const labelled_host&) = delete;
    labelled_host& operator=(const labelled_host&) = delete;
    std::string url(const std::string& name) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/files/" + name;
    }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::string body_;
    std::string content_type_;
};

struct attempt {
    bool ready = false;
    std::string log;
    std::string package;  // what is at the package's place afterwards
};

attempt fetch_from(const labelled_host& host, const std::string& md5, signature_check check,
                   const std::string& signature = "") {
    const std::string name = unique_package_name("web");
    task_fixture fixture;
    message_recorder window;
    fixture.task.package_url = host.url(name);
    fixture.task.package_md5 = md5;
    fixture.task.package_signature = signature;
    fixture.task.package_version = "2.0.0";
    fixture.task.product = "SampleProduct";
    fixture.task.version = "1.0.0";
    fixture.task.package_path = module_dir() + name;
    fixture.task.progress_window = window.window();
    attempt got;
    testing::internal::CaptureStderr();
    got.ready = fetch_package(fixture.task, encoded_package_url(fixture.task.package_url), {}, &check);
    got.log = testing::internal::GetCapturedStderr();
    window.drain();
    got.package = read_file(fixture.task.package_path);
    std::error_code error;
    std::filesystem::remove(fixture.task.package_path, error);
    EXPECT_TRUE(leftover_parts(name).empty());
    return got;
}

struct body_case {
    const char* name;
    std::string bytes;
    bool page;  // the body's start says web page
};

std::vector<body_case> bodies() {
    std::string package = package_bytes(200000, 21);
    package[0] = 'M';  // starts as an executable does
    package[1] = 'Z';
    return {
        {"login page", "<!DOCTYPE html>\n<html><head><title>Wi-Fi login</title></head><body>log in</body></html>\n",
         true},
        {"BOM, blanks and capitals", "\xEF\xBB\xBF \r\n\t<HTML lang=\"en\"><BODY>portal</BODY></HTML>", true},
        {"XML declaration and a comment before the page",
         "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- portal -->\n<html xmlns=\"http://www.w3.org/1999/xhtml\">"
         "<body>x</body></html>",
         true},
        {"a head without html", "  <head><meta http-equiv=\"refresh\" content=\"0;url=/login\"></head>", true},
        {"a body without html", "<body onload=\"go()\">redirecting</body>", true},
        {"a package", package, false},
        {"a script package that mentions html", "#!/bin/sh\necho '<html>' > index.html\n", false},
        {"an XML file that is no page", "<?xml version=\"1.0\"?>\n<manifest><html-help/></manifest>\n", false},
        {"a word that starts like a tag", "<htmlish>not a page</htmlish>", false},
    };
}

struct label_case {
    const char* type;  // "" sends no Content-Type at all
    bool page;         // the label says web page
};

const label_case LABELS[] = {
    {"text/html; charset=utf-8", true},
    {"application/xhtml+xml", true},
    {"TEXT/HTML", true},
    {"text/plain", false},
    {"application/octet-stream", false},
    {"", false},
};

TEST(web_page, label_or_body_fail_an_unverified_attempt_and_the_digest_decides_a_verified_one) {
    enum class digest { absent, matching, mismatching };
    for (const body_case& body : bodies()) {
        for (const label_case& label : LABELS) {
            labelled_host host(body.bytes, label.type);
            for (const digest kind : {digest::absent, digest::matching, digest::mismatching}) {
                const char* kind_name = kind == digest::absent     ? "no digest"
                                        : kind == digest::matching ? "matching digest"
                                                                   : "mismatching digest";
                SCOPED_TRACE(std::string(body.name) + " / label \"" + label.type + "\" / " + kind_name);
                const std::string md5 = kind == digest::absent     ? ""
                                        : kind == digest::matching ? md5_of(body.bytes)
                                                                   : md5_of(body.bytes + "x");
                const attempt got = fetch_from(host, md5, signature_check{});
                const bool ready = kind == digest::matching || (kind == digest::absent && !body.page && !label.page);
                EXPECT_EQ(got.ready, ready) << got.log;
                if (ready) {
                    EXPECT_TRUE(got.package == body.bytes) << "package of " << got.package.size() << " bytes";
                } else {
                    EXPECT_TRUE(got.package.empty()) << "a refused answer was left as the package";
                }
                // The web page line names the cause where no digest could.
                const bool page_line = kind == digest::absent && (body.page || label.page);
                EXPECT_EQ(got.log.find(PAGE_LINE) != std::string::npos, page_line) << got.log;
            }
        }
    }
}

// Runs a shell command with no terminal input; its exit status.
int run(const std::string& command) {
    return std::system((command + " </dev/null >/dev/null 2>&1").c_str());
}

// With release keys the signature decides as the digest does: a signed
// package labelled as a web page arrives; a login page without a label is
// refused even though the answer gave no digest.
TEST(web_page, a_matching_signature_wins_over_the_label) {
    temp_dir keys;
    const std::string base = keys.file("release");
    ASSERT_EQ(run("minisign -G -W -p " + base + ".pub -s " + base + ".key"), 0);
    signature_check check;
    check.required = true;
    check.keys.resize(1);
    ASSERT_TRUE(parse_release_key(read_file(base + ".pub"), check.keys[0]));
    const std::string package = package_bytes(150000, 23);
    const std::string package_path = keys.write("package", package);
    ASSERT_EQ(run("minisign -S -s " + base + ".key -m " + package_path + " -t 'version=2.0.0 product=SampleProduct'"),
              0);
    const std::string signature = read_file(package_path + ".minisig");

    struct signed_case {
        const char* name;
        std::string served;
        const char* type;
        bool ready;
    };
    const signed_case cases[] = {
        {"signed package labelled a web page", package, "text/html", true},
        {"signed package without a label", package, "", true},
        {"login page without a label", "<!doctype html><html><body>login</body></html>", "", false},
        {"login page labelled text/plain", "<html><body>login</body></html>", "text/plain", false},
    };
    for (const signed_case& c : cases) {
        SCOPED_TRACE(c.name);
        labelled_host host(c.served, c.type);
        const attempt got = fetch_from(host, "", check, signature);
        EXPECT_EQ(got.ready, c.ready) << got.log;
        EXPECT_EQ(got.package == c.served, c.ready);
        if (!c.ready) {
            EXPECT_NE(got.log.find("package signature refused"), std::string::npos) << got.log;
        }
    }
}

}  // namespace
