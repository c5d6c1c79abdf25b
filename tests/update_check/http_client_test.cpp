// Tests of the HTTP text request against in-process servers on 127.0.0.1.
#include "update_check/http_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/update_check/test_server.h"

namespace {

using namespace std::chrono_literals;
using test_support::test_server;

constexpr int HTTP_OK = 0;
constexpr int HTTP_FAILED = 22;

class http_client_test : public ::testing::Test {
protected:
    void SetUp() override {
        clear_saved_cookies();
        saved_timing_ = default_http_timing();
        set_default_http_timing({10ms, 5000ms, 5000ms});
    }
    void TearDown() override {
        server_.stop();
        clear_saved_cookies();
        set_default_http_timing(saved_timing_);
    }

    // Answers that change from one request to the next: the n-th request
    // gets answers[n], later ones the last.
    void serve_sequence(const std::string& path, std::vector<std::pair<int, std::string>> answers) {
        server_.server().Get(path, [this, answers](const httplib::Request&, httplib::Response& res) {
            const std::size_t n = std::min<std::size_t>(served_++, answers.size() - 1);
            res.status = answers[n].first;
            res.set_content(answers[n].second, "text/plain");
        });
    }

    std::size_t requests_to(const std::string& path) {
        std::size_t count = 0;
        for (const auto& request : server_.requests()) count += request.path == path ? 1 : 0;
        return count;
    }

    test_server server_;
    std::atomic<std::size_t> served_{0};
    http_timing saved_timing_;
};

TEST_F(http_client_test, empty_ok_answer_leaves_the_text_unchanged) {
    serve_sequence("/empty", {{200, ""}});
    ASSERT_TRUE(server_.start());
    http_client client;
    std::string text = "before";
    EXPECT_EQ(client.http_get(server_.url("/empty"), text), HTTP_OK);
    EXPECT_EQ(text, "before");
    EXPECT_EQ(requests_to("/empty"), 1u);
}

TEST_F(http_client_test, request_carries_no_user_agent) {
    std::atomic<bool> had_user_agent{true};
    server_.server().Get("/ua", [&](const httplib::Request& req, httplib::Response& res) {
        had_user_agent = req.has_header("User-Agent");
        res.set_content("x", "text/plain");
    });
    ASSERT_TRUE(server_.start());
    http_client client;
    std::string text;
    ASSERT_EQ(client.http_get(server_.url("/ua"), text), HTTP_OK);
    EXPECT_FALSE(had_user_agent.load());
}

// Each attempt starts from the caller's text: after two failures only the
// last body follows what the caller had; after a late success only its body.
TEST_F(http_client_test, attempts_keep_only_the_last_body) {
    struct case_row {
        const char* name;
        std::vector<std::pair<int, std::string>> answers;
        int result;
        const char* text;
        std::size_t requests;
    };
    const case_row cases[] = {
        {"two 404", {{404, "first 404"}, {404, "second 404"}}, HTTP_FAILED, "kept:second 404", 2},
        {"500 then 200", {{500, "error page"}, {200, "{\"code\":0}"}}, HTTP_OK, "kept:{\"code\":0}", 2},
        {"200 at once", {{200, "answer"}}, HTTP_OK, "kept:answer", 1},
        {"302", {{302, "moved"}}, HTTP_FAILED, "kept:moved", 2},
    };
    for (const auto& c : cases) {
        test_server server;
        std::atomic<std::size_t> served{0};
        server.server().Get("/a", [&](const httplib::Request&, httplib::Response& res) {
            const std::size_t n = std::min<std::size_t>(served++, c.answers.size() - 1);
            res.status = c.answers[n].first;
            if (res.status == 302) res.set_header("Location", "/target");
            res.set_content(c.answers[n].second, "text/plain");
        });
        server.server().Get("/target", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("redirect followed", "text/plain");
        });
        ASSERT_TRUE(server.start()) << c.name;
        http_client client;
        std::string text = "kept:";
        EXPECT_EQ(client.http_get(server.url("/a"), text), c.result) << c.name;
        EXPECT_EQ(text, c.text) << c.name;
        EXPECT_EQ(served.load(), c.requests) << c.name;
        server.stop();
        for (const auto& request : server.requests()) EXPECT_NE(request.path, "/target") << c.name;
    }
}

// A status line of 200 followed by a body that breaks off is no success.
TEST_F(http_client_test, broken_off_body_is_a_failed_attempt) {
    std::atomic<int> calls{0};
    server_.server().Get("/short", [&](const httplib::Request&, httplib::Response& res) {
        const int call = calls++;
        if (call == 0) {
            res.set_content_provider(100, "text/plain", [](std::size_t, std::size_t, httplib::DataSink& sink) {
                sink.write("0123456789", 10);
                return false;  // drops the connection after 10 of 100 bytes
            });
        } else {
            res.set_content("complete", "text/plain");
        }
    });
    ASSERT_TRUE(server_.start());
    http_client client;
    std::string text;
    EXPECT_EQ(client.http_get(server_.url("/short"), text), HTTP_OK);
    EXPECT_EQ(text, "complete");
    EXPECT_EQ(calls.load(), 2);
}

TEST_F(http_client_test, closed_port_fails_after_two_attempts) {
    ASSERT_TRUE(server_.start());
    const std::string url = server_.url("/gone");
    server_.stop();
    http_client client;
    std::string text;
    EXPECT_EQ(client.http_get(url, text), HTTP_FAILED);
    EXPECT_EQ(text, "");
}

TEST_F(http_client_test, silent_server_times_out) {
    server_.server().Get("/silent", [this](const httplib::Request&, httplib::Response& res) {
        server_.wait_until_stopped();
        res.set_content("too late", "text/plain");
    });
    ASSERT_TRUE(server_.start());
    http_client client;
    client.timing = {10ms, 300ms, 300ms};
    std::string text;
    EXPECT_EQ(client.http_get(server_.url("/silent"), text), HTTP_FAILED);
    EXPECT_EQ(text, "");
    EXPECT_EQ(requests_to("/silent"), 2u);
}

// The updater checks no certificate: a self-signed one for another name is
// accepted. On Windows (Schannel) the host is the test fixture's HTTPS host
// on the build machine's side of 127.0.0.1, whose address is in the file
// named by TAMSA_TEST_HTTPS_HOST_FILE; elsewhere it runs in the test.
#ifdef _WIN32
TEST_F(http_client_test, https_with_self_signed_certificate) {
    const char* address_file = std::getenv("TAMSA_TEST_HTTPS_HOST_FILE");
    ASSERT_NE(address_file, nullptr) << "TAMSA_TEST_HTTPS_HOST_FILE names no HTTPS host";
    const std::string host = test_support::read_file(address_file);
    ASSERT_EQ(host.rfind("127.0.0.1:", 0), 0u) << "no address in " << address_file << ": " << host;
    http_client client;
    std::string text;
    EXPECT_EQ(client.http_get("https://" + host + "/secure", text), HTTP_OK);
    EXPECT_EQ(text, "over tls");
}
#else
TEST_F(http_client_test, https_with_self_signed_certificate) {
    test_support::temp_dir dir;
    const std::string cert = dir.file("cert.pem");
    const std::string key = dir.file("key.pem");
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=tamsa.test -keyout '" +
                                key + "' -out '" + cert + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    test_server server(cert, key);
    ASSERT_TRUE(server.valid());
    server.server().Get(
        "/secure", [](const httplib::Request&, httplib::Response& res) { res.set_content("over tls", "text/plain"); });
    ASSERT_TRUE(server.start());
    http_client client;
    std::string text;
    EXPECT_EQ(client.http_get(server.url("/secure", "https"), text), HTTP_OK);
    EXPECT_EQ(text, "over tls");
}
#endif

TEST_F(http_client_test, cookies_of_a_success_go_with_later_requests) {
    server_.server().Get("/login", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "sid=abc123; Path=/");
        res.set_content("ok", "text/plain");
    });
    server_.server().Get("/echo",
                         [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
    ASSERT_TRUE(server_.start());
    {
        http_client first;
        std::string text;
        ASSERT_EQ(first.http_get(server_.url("/login"), text), HTTP_OK);
    }
    const auto saved = saved_cookie_lines();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_NE(saved[0].find("sid\tabc123"), std::string::npos) << saved[0];

    http_client second;
    std::string text;
    ASSERT_EQ(second.http_get(server_.url("/echo"), text), HTTP_OK);
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].cookie, "");
    EXPECT_EQ(requests[1].cookie, "sid=abc123");
}

// Cookies of failed answers are never saved, and a request made while
// nothing is saved erases what its handle still holds.
TEST_F(http_client_test, request_without_saved_cookies_sends_none) {
    server_.server().Get("/refuse", [](const httplib::Request&, httplib::Response& res) {
        res.status = 403;
        res.set_header("Set-Cookie", "tried=1; Path=/");
        res.set_content("no", "text/plain");
    });
    server_.server().Get("/echo",
                         [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
    ASSERT_TRUE(server_.start());
    http_client client;
    std::string text;
    ASSERT_EQ(client.http_get(server_.url("/refuse"), text), HTTP_FAILED);
    EXPECT_TRUE(saved_cookie_lines().empty());
    ASSERT_EQ(client.http_get(server_.url("/echo"), text), HTTP_OK);

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].cookie, "");
    EXPECT_EQ(requests[1].cookie, "tried=1") << "the second attempt keeps the first answer's cookie";
    EXPECT_EQ(requests[2].cookie, "") << "a new request starts without cookies when none are saved";
}

// The names and values of the saved cookie lines ("name=value", in order).
std::vector<std::string> saved_pairs() {
    std::vector<std::string> pairs;
    for (const std::string& line : saved_cookie_lines()) {
        // Netscape format: domain, subdomains, path, secure, expiry, name, value.
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
            fields.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        fields.push_back(line.substr(start));
        if (fields.size() >= 7) pairs.push_back(fields[5] + "=" + fields[6]);
    }
    return pairs;
}

// The saved list is replaced by the handle's whole list after a success (so
// it holds what was sent plus what the answer set or changed); a failure, or
// a success whose handle holds no cookie at all, keeps it as it was.
TEST_F(http_client_test, a_success_replaces_the_saved_cookies_with_what_its_handle_holds) {
    struct step {
        const char* what;
        int status;
        const char* set_cookie;  // nullptr: none
        std::vector<std::string> saved_after;
    };
    const std::vector<step> steps = {
        {"a success without cookies while none are saved", 200, nullptr, {}},
        {"a success sets the first cookie", 200, "a=1; Path=/", {"a=1"}},
        {"a failure's cookie is not saved", 404, "b=2; Path=/", {"a=1"}},
        {"a success adds to what it sent", 200, "c=3; Path=/", {"a=1", "c=3"}},
        {"a success changes a value in place", 200, "a=9; Path=/", {"a=9", "c=3"}},
        {"a success without cookies keeps what it sent", 200, nullptr, {"a=9", "c=3"}},
    };
    std::atomic<std::size_t> current{0};
    server_.server().Get("/step", [&](const httplib::Request&, httplib::Response& res) {
        const step& now = steps[current.load()];
        res.status = now.status;
        if (now.set_cookie != nullptr) res.set_header("Set-Cookie", now.set_cookie);
        res.set_content("x", "text/plain");
    });
    ASSERT_TRUE(server_.start());
    for (std::size_t i = 0; i < steps.size(); ++i) {
        current = i;
        http_client client;
        std::string text;
        (void)client.http_get(server_.url("/step"), text);
        std::vector<std::string> got = saved_pairs();
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, steps[i].saved_after) << steps[i].what;
    }
}

TEST(append_response_text, refuses_what_it_cannot_append) {
    constexpr std::size_t ABORT = std::numeric_limits<std::size_t>::max();
    char data[] = "abcdef";
    std::string text = "x";
    EXPECT_EQ(append_response_text(data, 1, 3, nullptr), ABORT);
    EXPECT_EQ(append_response_text(nullptr, 1, 3, &text), ABORT);
    EXPECT_EQ(append_response_text(data, 0, 3, &text), ABORT);
    EXPECT_EQ(append_response_text(data, 1, 0, &text), ABORT);
    EXPECT_EQ(append_response_text(data, ABORT / 2, 3, &text), ABORT);
    EXPECT_EQ(text, "x");
    EXPECT_EQ(append_response_text(data, 1, 3, &text), 3u);
    EXPECT_EQ(append_response_text(data + 3, 3, 1, &text), 3u);
    EXPECT_EQ(text, "xabcdef");
}

}  // namespace
