// The update decision: whether the running product is out of date and which
// package of the service's answer to fetch.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

class update_task;

// One element of the answer's blockurl list.
struct blockurl_entry {
    std::string url;
    std::string md5;
    std::string signature;
    std::string ver_from;
    std::string ver_to;
    std::int32_t type = 0;
};

// The entries of one decision keyed by ver_from; the first element wins.
using entry_table = std::map<std::string, blockurl_entry>;

// Decides on the non-empty data object of a successful answer. True when a
// package was chosen: package_url, package_md5, package_signature and
// package_version of the task are filled. The product is out of date when
// its version is lower than the answer's in the byte order, or, when
// task.signed_releases is set, in the dotted-number order; only then is a
// signature member read (and one that is not text ends the decision).
// min_version is written whenever the product is out of date and data has
// min_ver. response is the whole answer, for the log. An answer node of a
// kind the answer never carries ends the decision with false and one log
// line naming it.
bool decide_update(const Json::Value& data, update_task& task, const std::string& response);

// Logs that the answer node of that name (e.g. data.blockurl[1].url) has a
// kind the answer never carries.
void log_bad_node(const std::string& node);
