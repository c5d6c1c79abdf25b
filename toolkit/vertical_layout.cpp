// A box that stacks its children vertically.
#include "toolkit/vertical_layout.h"

namespace skinui {

void vertical_layout::set_pos(platform::rect rc, bool invalidate_now) {
    control::set_pos(rc, invalidate_now);
    layout_box(axis::vertical);
}

}  // namespace skinui
