// What tests can see of a window on the off-screen display: its state and
// the pixels that present() put on it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

struct offscreen_window_state {
    std::wstring title;
    rect bounds;  // screen coordinates
    bool visible = false;
    bool minimized = false;
    bool maximized = false;
    rect restore_bounds;  // where SW_RESTORE puts a maximised window
    std::uint32_t class_style = 0;
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    bool modal = false;
    size round_corner;
    bool enabled = true;
    window_handle owner = 0;
    rect pending_update;        // the update area not yet taken
    bool paint_posted = false;  // a WM_PAINT is queued for the update area
    int present_count = 0;
    int drag_count = 0;  // begin_window_drag calls
    point last_drag_point;
};

// False when the window is not on the off-screen display.
bool offscreen_window_info(window_handle window, offscreen_window_state& out);

// The client-area pixels (top-down rows of width, 0xAARRGGBB premultiplied)
// as the last present() calls left them; empty for an unknown window.
struct offscreen_image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};
offscreen_image offscreen_pixels(window_handle window);

// The work area that work_area_near reports (default 0,0,1280,800) and the
// monitor that monitor_rect_near reports (default the same).
void set_offscreen_work_area(const rect& area);
void set_offscreen_monitor(const rect& monitor, const rect& work_area);

}  // namespace platform
