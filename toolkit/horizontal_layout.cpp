// A box that stacks its children horizontally.
#include "toolkit/horizontal_layout.h"

namespace skinui {

void horizontal_layout::set_pos(platform::rect rc, bool invalidate_now) {
    control::set_pos(rc, invalidate_now);
    layout_box(axis::horizontal);
}

}  // namespace skinui
