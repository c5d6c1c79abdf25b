// Tests of GetFileHash end to end: update.ini, the request, the passes and
// the reading of the answer, against an in-process service on 127.0.0.1.
#include "update_check/update_query.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

#include "core/text_utils.h"
#include "core/update_task.h"
#include "tests/support/stderr_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/update_check/test_server.h"
#include "update_check/http_client.h"
#include "update_check/update_settings.h"

namespace {

using namespace std::chrono_literals;
using answer = std::pair<int, std::string>;

const char* const SEARCH_PATH = "/soft/update/search";

// The outcome of one GetFileHash.
struct check_result {
    bool result = false;
    std::string log;
    std::size_t requests = 0;
};

class get_file_hash_test : public ::testing::Test {
protected:
    void SetUp() override {
        saved_timing_ = default_http_timing();
        set_default_http_timing({1ms, 5000ms, 5000ms});
        set_query_pass_wait(1ms);
        clear_saved_cookies();
        server_.server().Get(SEARCH_PATH, [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard<std::mutex> guard(lock_);
            const std::size_t n = std::min(served_++, answers_.size() - 1);
            res.status = answers_[n].first;
            res.set_content(answers_[n].second, "application/json");
        });
        ASSERT_TRUE(server_.start());
        set_update_settings_path(utf8_to_wide(dir_.file("update.ini")));
        write_settings("");
    }
    void TearDown() override {
        server_.stop();
        set_update_settings_path(L"");
        set_query_pass_wait(3000ms);
        set_default_http_timing(saved_timing_);
        clear_saved_cookies();
    }

    // update.ini naming the test service, with extra lines of [UPDATE].
    void write_settings(const std::string& update_lines) {
        dir_.write("update.ini", "[UPDATE]\nhost=" + server_.host() + "\n" + update_lines);
    }

    std::unique_ptr<update_task> make_task(const std::wstring& version, const std::wstring& product = L"tool") {
        launch_parameters app;
        app.channel = L"stable";
        app.product = product;
        app.version = version;
        app.exe_name = L"tool.exe";
        app.quit_message_id = 1;
        app.product_window = 1;
        return std::make_unique<update_task>(app);
    }

    // Runs the check with the given answers (the last one repeats).
    check_result run(update_task& task, std::vector<answer> answers) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            answers_ = std::move(answers);
            served_ = 0;
        }
        const std::size_t before = server_.requests().size();
        test_support::stderr_capture capture(dir_.file("log.txt"));
        EXPECT_TRUE(capture.active());
        check_result outcome;
        outcome.result = task.GetFileHash();
        capture.restore();
        outcome.log = capture.text();
        outcome.requests = server_.requests().size() - before;
        return outcome;
    }

    check_result run_ok(const std::wstring& version, const std::string& body) {
        auto task = make_task(version);
        return run(*task, {{200, body}});
    }

    std::string req_line(const std::string& target) const {
        return "[TamsaUpdate]: GetFileHash Req " + server_.url(target) + "\n";
    }

    test_support::temp_dir dir_;
    test_support::test_server server_;
    std::mutex lock_;
    std::vector<answer> answers_{{200, ""}};
    std::size_t served_ = 0;
    http_timing saved_timing_;
};

// Removes the request lines, leaving what the reading of the answer logged.
std::string without_request_lines(const std::string& log) {
    std::string rest;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        end = end == std::string::npos ? log.size() : end + 1;
        const std::string line = log.substr(start, end - start);
        if (line.rfind("[TamsaUpdate]: GetFileHash Req ", 0) != 0) rest += line;
        start = end;
    }
    return rest;
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST_F(get_file_hash_test, request_url_carries_the_launch_values_and_type) {
    struct case_row {
        const char* name;
        std::wstring product;
        std::wstring version;
        const char* settings;
        const char* target;
    };
    const case_row cases[] = {
        {"blank in product", L"Tool 2", L"1.0", "", "channel=stable&product=Tool%202&ver=1.0&type=2"},
        {"non-ASCII product", L"\u5de5\u5177", L"1.0", "", "channel=stable&product=%E5%B7%A5%E5%85%B7&ver=1.0&type=2"},
        {"kept characters", L"a.b_c-d*e~f/g", L"1.0", "", "channel=stable&product=a.b_c-d*e~f%2Fg&ver=1.0&type=2"},
        {"version 0", L"tool", L"0", "", "channel=stable&product=tool&ver=400&type=2"},
        {"version 00", L"tool", L"00", "", "channel=stable&product=tool&ver=00&type=2"},
        {"version 0.1", L"tool", L"0.1", "", "channel=stable&product=tool&ver=0.1&type=2"},
        {"is_test 1", L"tool", L"1.0", "is_test=1\n", "channel=stable&product=tool&ver=1.0&type=1"},
        {"is_test -3", L"tool", L"1.0", "is_test=-3\n", "channel=stable&product=tool&ver=1.0&type=-3"},
        {"is_test 12abc", L"tool", L"1.0", "is_test=12abc\n", "channel=stable&product=tool&ver=1.0&type=12"},
        {"is_test empty", L"tool", L"1.0", "is_test=\n", "channel=stable&product=tool&ver=1.0&type=0"},
        {"is_test in another section", L"tool", L"1.0", "[OTHER]\nis_test=7\n",
         "channel=stable&product=tool&ver=1.0&type=2"},
    };
    for (const auto& c : cases) {
        write_settings(c.settings);
        auto task = make_task(c.version, c.product);
        const check_result outcome = run(*task, {{200, "{\"code\":0}"}});
        const std::string target = std::string(SEARCH_PATH) + "?" + c.target;
        const auto requests = server_.requests();
        ASSERT_FALSE(requests.empty()) << c.name;
        EXPECT_EQ(requests.back().target, target) << c.name;
        EXPECT_EQ(outcome.log, req_line(target)) << c.name;
        EXPECT_EQ(outcome.requests, 1u) << c.name;
    }
}

TEST_F(get_file_hash_test, url_without_settings_file_uses_default_host_and_type_2) {
    std::filesystem::remove(dir_.file("update.ini"));
    const update_settings settings = read_update_settings(update_settings_path());
    auto task = make_task(L"1.0");
    EXPECT_EQ(compose_query_url(*task, settings.host, settings.is_test),
              "http://" + default_update_host() + "/soft/update/search?channel=stable&product=tool&ver=1.0&type=2");
}

TEST_F(get_file_hash_test, overlong_url_is_refused_without_a_request) {
    auto task = make_task(L"1.0", std::wstring(500, L'x'));
    const check_result outcome = run(*task, {{200, "{\"code\":0}"}});
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.requests, 0u);
    EXPECT_NE(outcome.log.find("[TamsaUpdate]: GetFileHash Req URL too long"), std::string::npos) << outcome.log;
}

// Each answer that ends the check before a decision, with the one line it
// leaves after the request lines ("" for none).
TEST_F(get_file_hash_test, failed_answers_log_one_line) {
    const std::string html = "<html>not found</html>";
    // A captive portal's login page: longer than what is shown, with line
    // breaks, a tab and non-ASCII bytes that must not reach the log as they are.
    const std::string login =
        "<!DOCTYPE html>\n<html><head><title>Caf\xc3\xa9 Wi-Fi</title></head>\t<body>"
        "<form action=\"/login\">Accept the terms to continue</form></body></html>";
    const std::string login_shown = "<!DOCTYPE html>.<html><head><title>Caf.. Wi-Fi</title></head>.<body><form action";
    struct case_row {
        const char* name;
        std::vector<answer> answers;
        std::string line;
        std::size_t requests;
        std::size_t error_lines;
    };
    const case_row cases[] = {
        {"empty body", {{200, ""}}, "[TamsaUpdate]: GetFileHash Resp Empty \n", 1, 0},
        {"not JSON", {{200, "hello"}}, "[TamsaUpdate]: answer is not JSON: \"hello\" \n", 1, 0},
        {"login page", {{200, login}}, "[TamsaUpdate]: answer is not JSON: \"" + login_shown + "\" \n", 1, 0},
        {"redirect to a login page",
         {{302, login}},
         "[TamsaUpdate]: answer is not JSON: \"" + login_shown + "\" \n",
         4,
         2},
        {"code as text", {{200, "{\"code\":\"0\"}"}}, "[TamsaUpdate]: LOST Code Node {\"code\":\"0\"} ERROR \n", 1, 0},
        {"code 0.5", {{200, "{\"code\":0.5}"}}, "[TamsaUpdate]: LOST Code Node {\"code\":0.5} ERROR \n", 1, 0},
        {"code beyond 32 bits",
         {{200, "{\"code\":4294967296}"}},
         "[TamsaUpdate]: LOST Code Node {\"code\":4294967296} ERROR \n",
         1,
         0},
        {"no code", {{200, "{\"data\":{}}"}}, "[TamsaUpdate]: LOST Code Node {\"data\":{}} ERROR \n", 1, 0},
        {"null root", {{200, "null"}}, "[TamsaUpdate]: LOST Code Node null ERROR \n", 1, 0},
        {"code 1.0", {{200, "{\"code\":1.0}"}}, "[TamsaUpdate]: Code Status {\"code\":1.0} ERROR \n", 1, 0},
        {"code 3", {{200, "{\"code\":3}"}}, "[TamsaUpdate]: Code Status {\"code\":3} ERROR \n", 1, 0},
        {"comment before",
         {{200, "// answer\n{\"code\":5}"}},
         "[TamsaUpdate]: Code Status // answer\n{\"code\":5} ERROR \n",
         1,
         0},
        {"text after root",
         {{200, "{\"code\":5} trailing"}},
         "[TamsaUpdate]: Code Status {\"code\":5} trailing ERROR \n",
         1,
         0},
        {"HTML error page", {{404, html}}, "[TamsaUpdate]: answer is not JSON: \"" + html + "\" \n", 4, 2},
        {"JSON error body", {{503, "{\"code\":9}"}}, "[TamsaUpdate]: Code Status {\"code\":9} ERROR \n", 4, 2},
        {"no data", {{200, "{\"code\":0}"}}, "", 1, 0},
        {"null data", {{200, "{\"code\":0,\"data\":null}"}}, "", 1, 0},
        {"empty object data", {{200, "{\"code\":0,\"data\":{}}"}}, "", 1, 0},
        {"empty array data", {{200, "{\"code\":0,\"data\":[]}"}}, "", 1, 0},
    };
    for (const auto& c : cases) {
        auto task = make_task(L"1.0");
        const check_result outcome = run(*task, c.answers);
        EXPECT_FALSE(outcome.result) << c.name;
        const std::string error_line = "[TamsaUpdate]: GetFileHash Error Ret 22 \n";
        EXPECT_EQ(count_of(outcome.log, error_line), c.error_lines) << c.name << "\n" << outcome.log;
        std::string rest = without_request_lines(outcome.log);
        for (std::size_t at; (at = rest.find(error_line)) != std::string::npos;) rest.erase(at, error_line.size());
        EXPECT_EQ(rest, c.line) << c.name;
        EXPECT_EQ(outcome.requests, c.requests) << c.name;
        EXPECT_EQ(task->package_url, "") << c.name;
    }
}

TEST_F(get_file_hash_test, late_success_makes_one_pass_without_error_line) {
    auto task = make_task(L"1.0");
    const std::string good =
        "{\"code\":0,\"data\":{\"version\":\"2.0\",\"blockurl\":[{\"url\":\"http://h/p.exe\",\"md5\":\"ab\","
        "\"ver_range\":\"1.0-2.0\"}]}}";
    const check_result outcome = run(*task, {{500, "<html>busy</html>"}, {200, good}});
    EXPECT_TRUE(outcome.result) << outcome.log;
    EXPECT_EQ(outcome.requests, 2u);
    EXPECT_EQ(count_of(outcome.log, "GetFileHash Req "), 1u) << outcome.log;
    EXPECT_EQ(count_of(outcome.log, "Error Ret"), 0u) << outcome.log;
    EXPECT_EQ(task->package_url, "http://h/p.exe");
}

// The text that is read is the body of the last attempt only: an earlier
// error page never stands in front of it.
TEST_F(get_file_hash_test, failed_attempts_leave_no_text_behind) {
    const std::string good =
        "{\"code\":0,\"data\":{\"version\":\"2.0\",\"blockurl\":[{\"url\":\"u\",\"md5\":\"m\",\"ver_range\":\"1.0-2\"}]"
        "}}";
    {
        auto task = make_task(L"1.0");
        const check_result outcome =
            run(*task, {{404, "<html>1</html>"}, {404, "<html>2</html>"}, {502, "<html>3</html>"}, {200, good}});
        EXPECT_TRUE(outcome.result) << outcome.log;
        EXPECT_EQ(count_of(outcome.log, "[TamsaUpdate]: GetFileHash Error Ret 22 \n"), 1u) << outcome.log;
        EXPECT_EQ(task->package_url, "u");
    }
    {
        auto task = make_task(L"1.0");
        const check_result outcome = run(
            *task, {{404, "<html>1</html>"}, {404, "<html>2</html>"}, {502, "<html>3</html>"}, {500, "{\"code\":4}"}});
        EXPECT_FALSE(outcome.result);
        EXPECT_NE(outcome.log.find("[TamsaUpdate]: Code Status {\"code\":4} ERROR \n"), std::string::npos)
            << outcome.log;
    }
}

// The decision: which package, if any, and what is written to the task.
TEST_F(get_file_hash_test, decision_picks_the_package) {
    struct case_row {
        const char* name;
        std::wstring version;
        std::string data;
        bool result;
        const char* url;
        const char* md5;
        const char* min_version;
        bool no_need_line;
    };
    const case_row cases[] = {
        {"1.0.9 is not below 1.0.10", L"1.0.9",
         R"({"version":"1.0.10","min_ver":"1.0","blockurl":[{"url":"u","ver_range":"1.0.9-1"}]})", false, "", "", "",
         true},
        {"equal versions", L"2.0", R"({"version":"2.0","blockurl":[{"url":"u","ver_range":"2.0-3"}]})", false, "", "",
         "", true},
        {"no newest version", L"2.0", R"({"blockurl":[{"url":"u","ver_range":"2.0-3"}]})", false, "", "", "", true},
        {"null newest version", L"2.0", R"({"version":null,"blockurl":[{"url":"u","ver_range":"2.0-3"}]})", false, "",
         "", "", true},
        {"1.2 is below 1.2.0", L"1.2",
         R"({"version":"1.2.0","blockurl":[{"url":"u","md5":"m","ver_range":"1.2.0-9"}]})", true, "u", "m", "", false},
        {"current range over newest", L"1.0",
         R"({"version":"1.4","blockurl":[{"url":"new","md5":"n","ver_range":"1.4-1.5"},)"
         R"({"url":"cur","md5":"c","ver_range":"1.0-1.4"}]})",
         true, "cur", "c", "", false},
        {"newest range when no current", L"1.1",
         R"({"version":"1.4","blockurl":[{"url":"old","ver_range":"1.0-1.4"},{"url":"new","md5":"n","ver_range":"1.4-"}]})",
         true, "new", "n", "", false},
        {"first element wins", L"1.0",
         R"({"version":"1.4","blockurl":[{"url":"a","md5":"1","ver_range":"1.0-1.1"},)"
         R"({"url":"b","md5":"2","ver_range":"1.0-1.2"}]})",
         true, "a", "1", "", false},
        {"empty keys never chosen", L"1.0",
         R"({"version":"2.0","blockurl":[{"url":"a","ver_range":"-1.0"},{"url":"b","ver_range":"1.0"},{"url":"c"}]})",
         false, "", "", "", false},
        {"empty current version never matches the empty key", L"",
         R"({"version":"2.0","blockurl":[{"url":"a","ver_range":"-1.0"},{"url":"c"}]})", false, "", "", "", false},
        {"inside a range is no match", L"1.0.3",
         R"({"version":"1.0.6","min_ver":"1.0.1","blockurl":[{"url":"a","ver_range":"1.0.0-1.0.5"}]})", false, "", "",
         "1.0.1", false},
        {"blockurl object", L"1.0", R"({"version":"2.0","min_ver":"0.5","blockurl":{"a":{"ver_range":"1.0-2"}}})",
         false, "", "", "0.5", false},
        {"blockurl empty", L"1.0", R"({"version":"2.0","blockurl":[]})", false, "", "", "", false},
        {"version 0 compared as 0", L"0", R"({"version":"1","blockurl":[{"url":"z","ver_range":"0-1"}]})", true, "z",
         "", "", false},
        {"numbers read as text", L"1",
         R"({"version":2,"blockurl":[{"url":"n","md5":77,"ver_range":"1-2","type":1.5}]})", true, "n", "77", "", false},
        {"null element skipped", L"1.0",
         R"({"version":"2","min_ver":"1.0","blockurl":[null,{"url":"p","md5":"q","ver_range":"1.0-2","type":true}]})",
         true, "p", "q", "1.0", false},
        {"non-ASCII url", L"1.0",
         "{\"version\":\"2\",\"blockurl\":[{\"url\":\"http://h/\xE5\xB7\xA5.exe\",\"ver_range\":\"1.0-2\"}]}", true,
         "http://h/\xE5\xB7\xA5.exe", "", "", false},
    };
    for (const auto& c : cases) {
        const std::string body = "{\"code\":0,\"data\":" + c.data + "}";
        auto task = make_task(c.version);
        const check_result outcome = run(*task, {{200, body}});
        EXPECT_EQ(outcome.result, c.result) << c.name << "\n" << outcome.log;
        // The address is kept in the ANSI code page (UTF-8 on Linux, GBK under code page 936).
        EXPECT_EQ(task->package_url, utf8_to_ansi(c.url)) << c.name;
        EXPECT_EQ(task->package_md5, c.md5) << c.name;
        EXPECT_EQ(task->min_version, c.min_version) << c.name;
        const std::string expected_line = c.no_need_line ? "[TamsaUpdate]: No need update " + body + " \n" : "";
        EXPECT_EQ(without_request_lines(outcome.log), expected_line) << c.name;
    }
}

// In a program with release keys the chosen element's signature text
// travels to the task unchanged, with the answer's version it must name;
// another element's signature does not.
TEST_F(get_file_hash_test, decision_keeps_the_chosen_signature_and_version) {
    struct case_row {
        const char* name;
        std::string data;
        const char* signature;
        const char* version;
    };
    const case_row cases[] = {
        {"signature of the chosen element",
         R"({"version":"2.0","blockurl":[{"url":"a","ver_range":"0.9-2.0","signature":"other"},)"
         R"({"url":"b","ver_range":"1.0-2.0","signature":"untrusted comment: x\nRUQ\ntrusted comment: version=2.0\nAA==\n"}]})",
         "untrusted comment: x\nRUQ\ntrusted comment: version=2.0\nAA==\n", "2.0"},
        {"no signature", R"({"version":"2.0","blockurl":[{"url":"a","ver_range":"1.0-2.0"}]})", "", "2.0"},
        {"null signature", R"({"version":"2.0","blockurl":[{"url":"a","ver_range":"1.0-2.0","signature":null}]})", "",
         "2.0"},
        {"version given as a number", R"({"version":3,"blockurl":[{"url":"a","ver_range":"1.0-3","signature":"s"}]})",
         "s", "3"},
    };
    for (const auto& c : cases) {
        const std::string body = "{\"code\":0,\"data\":" + c.data + "}";
        auto task = make_task(L"1.0");
        task->signed_releases = true;
        const check_result outcome = run(*task, {{200, body}});
        EXPECT_TRUE(outcome.result) << c.name << "\n" << outcome.log;
        EXPECT_EQ(task->package_signature, c.signature) << c.name;
        EXPECT_EQ(task->package_version, c.version) << c.name;
    }
}

// A program with release keys reads a signature that is not text as a bad
// answer; one without keys never looks at the member, whatever its kind.
TEST_F(get_file_hash_test, signature_member_kinds_matter_only_with_release_keys) {
    const char* const members[] = {"5", "true", "false", "1.5", "[\"a\"]", "{}", "{\"a\":[1]}", "\"text\"", "null"};
    for (const char* member : members) {
        const std::string body = std::string(R"({"code":0,"data":{"version":"2.0","blockurl":[{"url":"a",)") +
                                 R"("md5":"m","ver_range":"1.0-2","signature":)" + member + "}]}}";
        const bool text = std::string(member).starts_with("\"") || std::string(member) == "null";
        for (const bool keyed : {false, true}) {
            SCOPED_TRACE(std::string(member) + (keyed ? ", with keys" : ", without keys"));
            auto task = make_task(L"1.0");
            task->signed_releases = keyed;
            const check_result outcome = run(*task, {{200, body}});
            if (keyed && !text) {
                EXPECT_FALSE(outcome.result);
                EXPECT_EQ(without_request_lines(outcome.log),
                          "[TamsaUpdate]: GetFileHash bad node data.blockurl[0].signature \n");
                EXPECT_EQ(task->package_url, "");
            } else {
                EXPECT_TRUE(outcome.result) << outcome.log;
                EXPECT_EQ(without_request_lines(outcome.log), "");
                EXPECT_EQ(task->package_url, "a");
                EXPECT_EQ(task->package_signature, keyed && member == std::string("\"text\"") ? "text" : "");
            }
        }
    }
}

// With release keys a release is offered only when it is newer by dotted
// numbers, so a replayed older release never reaches the hint window;
// without keys the byte order decides as before.
TEST_F(get_file_hash_test, release_keys_offer_only_releases_newer_by_numbers) {
    struct case_row {
        const wchar_t* running;
        const char* offered;
        bool keyed;
        bool offered_to_user;
    };
    const case_row cases[] = {
        {L"1.10.0", "1.9.0", true, false},   // the rollback
        {L"1.10.0", "1.9.0", false, true},   // the byte order's verdict, unchanged without keys
        {L"1.9.0", "1.10.0", true, true},    // a genuine update
        {L"1.9.0", "1.10.0", false, false},  // unchanged without keys
        {L"2.0.0", "2.0.0", true, false},
        {L"1.2", "1.2.0", true, false},  // the same release, written longer
        {L"1.2", "1.2.0", false, true},
        {L"1.2.0", "1.2", true, false},
        {L"1.2.0", "1.2.1", true, true},
        {L"1.2.0", "1.2.0-rc1", true, true},
        {L"0", "1", true, true},
        {L"1.0", "99999999999999999999999999.0", true, true},
        {L"99999999999999999999999999.0", "1.0", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.offered) + (c.keyed ? " with keys" : " without keys"));
        const std::string running = wide_to_utf8(c.running);
        const std::string body = std::string(R"({"code":0,"data":{"version":")") + c.offered +
                                 R"(","blockurl":[{"url":"a","ver_range":")" + running + "-" + c.offered + "\"}]}}";
        auto task = make_task(c.running);
        task->signed_releases = c.keyed;
        const check_result outcome = run(*task, {{200, body}});
        EXPECT_EQ(outcome.result, c.offered_to_user) << outcome.log;
        const std::string rest = without_request_lines(outcome.log);
        if (c.offered_to_user) {
            EXPECT_EQ(rest, "");
            EXPECT_EQ(task->package_version, c.offered);
        } else if (c.keyed) {
            EXPECT_EQ(rest, "[TamsaUpdate]: No need update: release " + std::string(c.offered) + " is not newer than " +
                                running + " \n");
        } else {
            EXPECT_EQ(rest, "[TamsaUpdate]: No need update " + body + " \n");
        }
    }
}

// Answers whose nodes have kinds the service never sends end the check with
// one line naming the node.
TEST_F(get_file_hash_test, out_of_schema_answers_name_the_node) {
    struct case_row {
        std::string body;
        const char* node;
    };
    const auto with_data = [](const std::string& data) { return "{\"code\":0,\"data\":" + data + "}"; };
    const auto with_element = [&](const std::string& element) {
        return with_data(R"({"version":"2.0","blockurl":[{"ver_range":"1.0-2"},)" + element + "]}");
    };
    const case_row cases[] = {
        {"[1,2]", "root"},
        {"\"text\"", "root"},
        {"5", "root"},
        {"true", "root"},
        {with_data("[1]"), "data"},
        {with_data("\"x\""), "data"},
        {with_data("0"), "data"},
        {with_data(R"({"version":[]})"), "data.version"},
        {with_data(R"({"version":{"a":1}})"), "data.version"},
        {with_data(R"({"version":"2.0","min_ver":null,"blockurl":[]})"), "data.min_ver"},
        {with_data(R"({"version":"2.0","min_ver":5,"blockurl":[]})"), "data.min_ver"},
        {with_data(R"({"version":"2.0","min_ver":["1"],"blockurl":[]})"), "data.min_ver"},
        {with_element("5"), "data.blockurl[1]"},
        {with_element("\"x\""), "data.blockurl[1]"},
        {with_element("[]"), "data.blockurl[1]"},
        {with_element(R"({"url":[]})"), "data.blockurl[1].url"},
        {with_element(R"({"md5":{}})"), "data.blockurl[1].md5"},
        {with_element(R"({"ver_range":["1.0-2"]})"), "data.blockurl[1].ver_range"},
        {with_element(R"({"type":"1"})"), "data.blockurl[1].type"},
        {with_element(R"({"type":[1]})"), "data.blockurl[1].type"},
        {with_element(R"({"type":{}})"), "data.blockurl[1].type"},
        {with_element(R"({"type":3000000000})"), "data.blockurl[1].type"},
        {with_element(R"({"type":-3000000000})"), "data.blockurl[1].type"},
    };
    for (const auto& c : cases) {
        auto task = make_task(L"1.0");
        const check_result outcome = run(*task, {{200, c.body}});
        EXPECT_FALSE(outcome.result) << c.body;
        EXPECT_EQ(without_request_lines(outcome.log),
                  "[TamsaUpdate]: GetFileHash bad node " + std::string(c.node) + " \n")
            << c.body;
        EXPECT_EQ(task->package_url, "") << c.body;
        EXPECT_EQ(task->min_version, "") << c.body;
    }
}

// A parser limit (here: nesting far too deep) ends the check like any
// other malformed answer.
TEST_F(get_file_hash_test, deeply_nested_answer_ends_the_check) {
    const std::string body = "{\"code\":0,\"data\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    auto task = make_task(L"1.0");
    const check_result outcome = run(*task, {{200, body}});
    EXPECT_FALSE(outcome.result);
    const std::string rest = without_request_lines(outcome.log);
    EXPECT_EQ(count_of(rest, "\n"), 1u) << rest.substr(0, 200);
    EXPECT_EQ(rest.rfind("[TamsaUpdate]: GetFileHash bad answer ", 0), 0u) << rest.substr(0, 200);
}

}  // namespace
