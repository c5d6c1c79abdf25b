// Test helper: holds the updater's single-instance marker until it is killed.
#include <cstdio>

#include "platform/files.h"
#include "platform/single_instance.h"

int main() {
    platform::single_instance marker(L"Global\\TAMSA_UPDATER_2018");
    std::printf("%s\n", marker.held() ? "held" : "not held");
    std::fflush(stdout);
    for (;;) platform::sleep_ms(1000);
}
