// Reading HTTP response heads: header lines and the validator of an answer.
// Private to download/.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// True when text starts with prefix, ASCII letters compared without case.
bool starts_with_ignoring_case(std::string_view text, std::string_view prefix);
// text without leading blanks and trailing blanks and line ends.
std::string_view trim(std::string_view text);
// libcurl's header callback: appends each header line to the std::string text.
std::size_t collect_header(char* data, std::size_t size, std::size_t count, void* text);
// The validator of the last response head in headers (redirects come first):
// its strong ETag, else its Last-Modified date, else nothing.
std::string validator_of(std::string_view headers);
// The same choice for one answer's ETag and Last-Modified lines.
std::string validator_of(const std::string& etag, const std::string& last_modified);
// True when the start of a body (its first bytes, 1 KiB is plenty) is the
// start of a web page: after an optional UTF-8 byte order mark, blanks, an
// XML declaration and comments, "<!doctype html" or the opening tag of an
// element only pages start with (html, head, body, script, ...), letters
// compared without case. A package (an executable, an archive, a script)
// never starts so.
bool starts_like_web_page(std::string_view body);
