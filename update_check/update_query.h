// The update query: the request URL, the two passes over the HTTP request
// and the reading of the service's JSON answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class update_task;

// The wait after a failed pass; 3000 ms in the product, shortened by tests.
std::chrono::milliseconds query_pass_wait();
void set_query_pass_wait(std::chrono::milliseconds wait);

// The query URL for the task's launch values, or the empty text (after a
// log line) when it would not fit in 511 bytes.
std::string compose_query_url(const update_task& task, const std::string& host, std::int32_t type);

// Reads a whole answer: its status, then the decision on its data. False,
// after one log line, for an empty or malformed answer.
bool read_update_answer(const std::string& response, update_task& task);
