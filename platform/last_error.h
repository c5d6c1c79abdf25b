// The calling thread's error code of the last failed OS call, as log lines
// show it (GetLastError on Windows, errno on Linux).
#pragma once

namespace platform {

int last_error();
void clear_last_error();

}  // namespace platform
