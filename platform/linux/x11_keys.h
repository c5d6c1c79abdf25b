// Translation of X key symbols into the Win32 virtual-key codes that the
// toolkit's key messages carry.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>

namespace platform::x11 {

// The virtual-key code of an unshifted key symbol; 0 for keys we do not map.
std::uint32_t virtual_key(KeySym symbol);

}  // namespace platform::x11
