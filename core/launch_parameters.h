// The launch parameters an update run is built from, as read from the
// command line (UTF-16 texts).
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

struct launch_parameters {
    std::wstring exe_name;
    std::wstring channel;
    std::wstring page_url;
    std::wstring product;
    std::wstring version;
    std::uint32_t quit_message_id = 0;
    platform::window_handle product_window = 0;
};
