// Key symbol to virtual-key code: letters and digits map to their upper-case
// ASCII codes as on Windows, the rest through a table.
#include "platform/linux/x11_keys.h"

#include <X11/keysym.h>

#include <array>
#include <utility>

#include "platform/types.h"

namespace platform::x11 {
namespace {

constexpr std::array<std::pair<KeySym, std::uint32_t>, 40> KEY_TABLE{{
    {XK_Return, VK_RETURN},
    {XK_KP_Enter, VK_RETURN},
    {XK_Escape, VK_ESCAPE},
    {XK_space, VK_SPACE},
    {XK_KP_Space, VK_SPACE},
    {XK_Tab, VK_TAB},
    {XK_ISO_Left_Tab, VK_TAB},
    {XK_KP_Tab, VK_TAB},
    {XK_Left, VK_LEFT},
    {XK_Up, VK_UP},
    {XK_Right, VK_RIGHT},
    {XK_Down, VK_DOWN},
    {XK_KP_Left, VK_LEFT},
    {XK_KP_Up, VK_UP},
    {XK_KP_Right, VK_RIGHT},
    {XK_KP_Down, VK_DOWN},
    {XK_Shift_L, VK_SHIFT},
    {XK_Shift_R, VK_SHIFT},
    {XK_Control_L, VK_CONTROL},
    {XK_Control_R, VK_CONTROL},
    {XK_Alt_L, VK_MENU},
    {XK_Alt_R, VK_MENU},
    {XK_Meta_L, VK_MENU},
    {XK_Meta_R, VK_MENU},
    {XK_BackSpace, 0x08},
    {XK_Delete, 0x2E},
    {XK_Insert, 0x2D},
    {XK_Home, 0x24},
    {XK_End, 0x23},
    {XK_Prior, 0x21},
    {XK_Next, 0x22},
    {XK_F1, 0x70},
    {XK_F2, 0x71},
    {XK_F3, 0x72},
    {XK_F4, VK_F4},
    {XK_F5, 0x74},
    {XK_F6, 0x75},
    {XK_F7, 0x76},
    {XK_F8, 0x77},
    {XK_F10, 0x79},
}};

}  // namespace

std::uint32_t virtual_key(KeySym symbol) {
    if (symbol >= XK_a && symbol <= XK_z) return static_cast<std::uint32_t>('A' + (symbol - XK_a));
    if (symbol >= XK_A && symbol <= XK_Z) return static_cast<std::uint32_t>(symbol);
    if (symbol >= XK_0 && symbol <= XK_9) return static_cast<std::uint32_t>(symbol);
    for (const auto& [key, code] : KEY_TABLE) {
        if (key == symbol) return code;
    }
    return 0;
}

}  // namespace platform::x11
