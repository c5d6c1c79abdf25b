// COM for the calling thread (the shell's open verb relies on it on Windows).
#pragma once

namespace platform {

// CoInitialize for the calling thread: true when COM is ready, also when it
// already was. Linux has no COM; there it always succeeds.
bool initialize_com();

}  // namespace platform
