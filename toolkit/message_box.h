// Modal message boxes: the system's own on a display that has them (Win32);
// elsewhere drawn by the toolkit in the skin's dark theme, with the buttons
// and return values of the system's message boxes.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace skinui {

// Shows a box with a caption (also the window's title), a word-wrapped text
// and the buttons of type (MB_OK, MB_OKCANCEL, MB_RETRYCANCEL; the icon bits
// are accepted and not drawn). The box is modal and owned by owner (which
// is disabled while it is open) and centred over it; messages posted to
// other windows are still dispatched. Returns IDOK, IDCANCEL or IDRETRY;
// Return presses the focused button (the first one when the box opens),
// Escape and the system close command answer IDCANCEL (IDOK for MB_OK). A
// WM_QUIT ends the box with 0 and is posted again for the enclosing loops.
int message_box(platform::window_handle owner, std::wstring_view text, std::wstring_view caption, unsigned type);
// The same with text and caption in code page 936 (GBK).
int message_box_a(platform::window_handle owner, std::string_view text, std::string_view caption, unsigned type);

// The innermost drawn box open on this thread, or 0.
platform::window_handle current_message_box();
// The text an open box shows (as given, before wrapping); empty for a
// window that is no open box.
std::wstring message_box_text(platform::window_handle box);

}  // namespace skinui
