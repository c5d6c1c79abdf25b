// An input event routed by the paint manager to one control.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace skinui {

class control;

enum class ui_event_kind {
    key_down,
    key_char,
    sys_key,  // a key pressed with Alt
    mouse_move,
    mouse_leave,
    mouse_enter,
    button_down,
    button_up,
    double_click,
    context_menu,
    set_cursor,
    set_focus,
    kill_focus,
    timer,
};

struct ui_event {
    ui_event_kind kind = ui_event_kind::mouse_move;
    control* sender = nullptr;
    std::uint64_t timestamp = 0;
    platform::point mouse_pos;
    wchar_t key = 0;  // virtual key (key_down) or character (key_char)
    std::uint32_t key_state = 0;
    platform::wparam w = 0;
    platform::lparam l = 0;
};

}  // namespace skinui
