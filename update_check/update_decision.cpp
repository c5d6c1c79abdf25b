// The update decision: whether the running product is out of date and which
// package of the service's answer to fetch.
#include "update_check/update_decision.h"

#include <algorithm>
#include <optional>

#include "core/text_utils.h"
#include "core/update_task.h"
#include "core/version_order.h"

namespace {

// A node that is read as text may be text, a number, a Boolean or null
// (absent); arrays and objects have no text form.
std::optional<std::string> read_text(const Json::Value& node) {
    if (!node.isConvertibleTo(Json::stringValue)) return std::nullopt;
    return node.asString();
}

// The text of member key of object, or nothing (after the log line) when
// its kind is not one that reads as text.
std::optional<std::string> read_text_member(const Json::Value& object, const char* key, const std::string& name) {
    std::optional<std::string> text = read_text(object[key]);
    if (!text) log_bad_node(name + "." + key);
    return text;
}

// The signature member: text when present in a program that checks
// signatures (a number or Boolean is no signature either); a program
// without release keys never looks at it, whatever its kind.
bool read_signature(const Json::Value& element, const std::string& name, bool checked, std::string& signature) {
    signature.clear();
    if (!checked) return true;
    const Json::Value& member = element["signature"];
    if (!member.isNull() && !member.isString()) {
        log_bad_node(name + ".signature");
        return false;
    }
    if (member.isString()) signature = member.asString();
    return true;
}

// Fills one entry from an element of blockurl; false (after the log line)
// when the element or one of its members has a kind outside the answer's.
bool read_entry(const Json::Value& element, const std::string& name, bool signed_releases, blockurl_entry& entry) {
    if (!element.isNull() && !element.isObject()) {
        log_bad_node(name);
        return false;
    }
    const std::optional<std::string> url = read_text_member(element, "url", name);
    if (!url) return false;
    const std::optional<std::string> md5 = read_text_member(element, "md5", name);
    if (!md5) return false;
    const Json::Value& type = element["type"];
    if (!type.isConvertibleTo(Json::intValue)) {
        log_bad_node(name + ".type");
        return false;
    }
    const std::optional<std::string> range = read_text_member(element, "ver_range", name);
    if (!range) return false;
    if (!read_signature(element, name, signed_releases, entry.signature)) return false;
    entry.url = utf8_to_ansi(*url);
    entry.md5 = *md5;
    entry.type = type.asInt();
    const std::size_t dash = range->find('-');
    if (dash != std::string::npos) {
        entry.ver_from = range->substr(0, dash);
        entry.ver_to = range->substr(dash + 1);
    }
    return true;
}

// Builds the table from blockurl, element by element; the first element
// with a given ver_from wins.
bool build_entry_table(const Json::Value& blockurl, bool signed_releases, entry_table& table) {
    for (Json::ArrayIndex i = 0; i < blockurl.size(); ++i) {
        blockurl_entry entry;
        if (!read_entry(blockurl[i], "data.blockurl[" + std::to_string(i) + "]", signed_releases, entry)) return false;
        table.emplace(entry.ver_from, std::move(entry));
    }
    return true;
}

// The entry keyed by the current version, else the one keyed by the newest.
// The empty key belongs to ranges without a beginning and is never chosen.
const blockurl_entry* choose_entry(const entry_table& table, const std::string& current, const std::string& newest) {
    for (const std::string* key : {&current, &newest}) {
        if (key->empty()) continue;
        const auto found = table.find(*key);
        if (found != table.end()) return &found->second;
    }
    return nullptr;
}

}  // namespace

void log_bad_node(const std::string& node) {
    debug_log("[TamsaUpdate]: GetFileHash bad node %s \n", node.c_str());
}

bool decide_update(const Json::Value& data, update_task& task, const std::string& response) {
    if (!data.isObject()) {
        log_bad_node("data");
        return false;
    }
    const std::optional<std::string> newest = read_text_member(data, "version", "data");
    if (!newest) return false;
    if (task.signed_releases) {
        // A signed older release replayed by someone on the way must not
        // even be offered: releases go forward by dotted numbers only.
        if (!dotted_version_is_newer(*newest, task.version)) {
            debug_log("[TamsaUpdate]: No need update: release %s is not newer than %s \n", newest->c_str(),
                      task.version.c_str());
            return false;
        }
    } else if (compare_versions(task.version, *newest) >= 0) {
        debug_log("[TamsaUpdate]: No need update %s \n", response.c_str());
        return false;
    }
    if (data.isMember("min_ver")) {
        const Json::Value& min_ver = data["min_ver"];
        if (!min_ver.isString()) {
            log_bad_node("data.min_ver");
            return false;
        }
        task.min_version = min_ver.asString();
    }
    const Json::Value blockurl = data["blockurl"];
    if (blockurl.empty() || blockurl.type() != Json::arrayValue) return false;
    entry_table table;
    if (!build_entry_table(blockurl, task.signed_releases, table)) return false;
    const blockurl_entry* chosen = choose_entry(table, task.version, *newest);
    if (chosen == nullptr) return false;
    task.package_url = chosen->url;
    task.package_md5 = chosen->md5;
    task.package_signature = chosen->signature;
    task.package_version = *newest;
    return true;
}
