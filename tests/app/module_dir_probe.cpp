// Test helper: prints the program directory as the updater computes it.
#include <cstdio>

#include "core/text_utils.h"

int main() {
    std::printf("[%s]\n", module_dir().c_str());
    return 0;
}
