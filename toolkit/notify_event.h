// A control's notification ("windowinit", "click", "link" ...) and the
// interface of those who receive a window's notifications.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace skinui {

class control;

struct notify_event {
    std::wstring type;
    control* sender = nullptr;
    std::uint64_t timestamp = 0;
    platform::point mouse_pos;
    platform::wparam w = 0;
    platform::lparam l = 0;
};

// Receives every notification of a window's controls, synchronously, in
// the order in which the receivers were added.
class notify_receiver {
public:
    virtual ~notify_receiver() = default;
    virtual void notify(notify_event& event) = 0;
};

}  // namespace skinui
