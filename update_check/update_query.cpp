// The update query: asks the update service whether a newer release exists
// and hands its answer to the update decision.
#include "update_check/update_query.h"

#include <json/reader.h>
#include <json/value.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <thread>

#include "core/text_utils.h"
#include "core/update_task.h"
#include "update_check/http_client.h"
#include "update_check/update_decision.h"
#include "update_check/update_settings.h"

namespace {

constexpr std::size_t URL_BUFFER_SIZE = 512;
constexpr int PASSES = 2;

std::atomic<long long> pass_wait_ms{3000};

// Two passes of the HTTP request; each pass starts from an empty text, so
// what remains is the body of the last attempt made.
void fetch_answer(const std::string& url, std::string& response) {
    http_client client;
    client.cancelled = &g_update_cancelled;
    for (int pass = 0; pass < PASSES && !g_update_cancelled.load(); ++pass) {
        response.clear();
        const int result = client.http_get(url, response);
        debug_log("[TamsaUpdate]: GetFileHash Req %s\n", url.c_str());
        if (result == 0) return;
        debug_log_w(L"[TamsaUpdate]: GetFileHash Error Ret %d \n", result);
        if (g_update_cancelled.load()) return;  // the program is ending: no second pass
        std::this_thread::sleep_for(query_pass_wait());
    }
}

// The status part of the answer; true when code is 0 and data is worth a
// decision. root must already be parsed.
bool check_answer_status(const Json::Value& root, const std::string& response) {
    if (!root.isNull() && !root.isObject()) {
        log_bad_node("root");
        return false;
    }
    if (!root.isMember("code") || !root["code"].isInt()) {
        debug_log("[TamsaUpdate]: LOST Code Node %s ERROR \n", response.c_str());
        return false;
    }
    if (root["code"].asInt() != 0) {
        debug_log("[TamsaUpdate]: Code Status %s ERROR \n", response.c_str());
        return false;
    }
    return true;
}

// The first bytes of an answer for a log line: printable ASCII only, so a
// login page or binary junk cannot break the log's lines.
std::string printable_head(const std::string& response) {
    constexpr std::size_t SHOWN_BYTES = 80;
    std::string head;
    for (const char c : response.substr(0, SHOWN_BYTES)) {
        const auto byte = static_cast<unsigned char>(c);
        head.push_back(byte >= 0x20 && byte < 0x7f ? c : '.');
    }
    return head;
}

// Parsing and reading may meet a library exception (nesting too deep, no
// memory); it ends the check like any other malformed answer.
bool read_parsed_answer(const std::string& response, update_task& task) {
    Json::Value root;
    Json::Reader reader;
    if (!reader.parse(response, root)) {
        debug_log("[TamsaUpdate]: answer is not JSON: \"%s\" \n", printable_head(response).c_str());
        return false;
    }
    if (!check_answer_status(root, response)) return false;
    const Json::Value data = root["data"];
    if (data.empty()) return false;
    return decide_update(data, task, response);
}

}  // namespace

std::chrono::milliseconds query_pass_wait() {
    return std::chrono::milliseconds(pass_wait_ms.load());
}

void set_query_pass_wait(std::chrono::milliseconds wait) {
    pass_wait_ms.store(wait.count());
}

std::string compose_query_url(const update_task& task, const std::string& host, std::int32_t type) {
    const std::string product = task.query_product();
    const char* version = task.version == "0" ? "400" : task.version.c_str();
    char buffer[URL_BUFFER_SIZE] = {};
    const int length =
        std::snprintf(buffer, sizeof buffer, "http://%s/soft/update/search?channel=%s&product=%s&ver=%s&type=%d",
                      host.c_str(), task.channel.c_str(), product.c_str(), version, type);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
        debug_log("[TamsaUpdate]: GetFileHash Req URL too long (%d bytes) \n", length);
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

bool read_update_answer(const std::string& response, update_task& task) {
    if (response.empty()) {
        debug_log("[TamsaUpdate]: GetFileHash Resp Empty \n");
        return false;
    }
    try {
        return read_parsed_answer(response, task);
    } catch (const std::exception& error) {
        debug_log("[TamsaUpdate]: GetFileHash bad answer %s \n", error.what());
        return false;
    }
}

bool update_task::GetFileHash() {
    // Without the program's own directory, update.ini and the package would be
    // taken from the working directory, which whoever starts the program chooses.
    if (module_dir().empty()) {
        debug_log("[TamsaUpdate]: GetFileHash no program directory, no update \n");
        return false;
    }
    const update_settings settings = read_update_settings(update_settings_path());
    const std::string url = compose_query_url(*this, settings.host, settings.is_test);
    if (url.empty()) return false;
    std::string response;
    fetch_answer(url, response);
    return read_update_answer(response, *this);
}
