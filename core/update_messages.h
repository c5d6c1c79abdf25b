// The window messages by which the download worker and engine talk to the
// progress window.
#pragma once

#include <cstdint>

#include "platform/types.h"

// Posted by the download engine after each chunk: wParam total size, lParam
// bytes written so far (both scaled down together when the total needs more
// than 31 bits).
inline constexpr std::uint32_t WM_DOWNLOAD_PROGRESS = platform::WM_USER + 100;
// Posted once per attempt by the worker: wParam 1 package ready, 0 failed.
inline constexpr std::uint32_t WM_DOWNLOAD_DONE = platform::WM_USER + 101;
// Posted by the progress window to itself on its first paint.
inline constexpr std::uint32_t WM_DOWNLOAD_START = platform::WM_USER + 102;
