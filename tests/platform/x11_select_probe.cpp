// Exits 0 when the X11 display can be chosen and 1 when it cannot, so that
// a test can try the choice under an environment of its own.
#include "platform/window.h"

int main() {
    return platform::select_display(platform::display_kind::x11) ? 0 : 1;
}
