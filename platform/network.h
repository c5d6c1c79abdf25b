// What the network code tunes to the system it runs on.
#pragma once

#include <cstddef>

namespace platform {

// The most that one receive from a socket should take, and so the size of a
// transfer's receive buffer. Where a receive is a costly call (on Windows
// each goes through the socket driver, and under Wine through Wine's server
// as well) fewer, larger receives save more than the memory costs; on Linux
// a receive is cheap and a smaller buffer keeps the transfers in step with
// the digest that reads behind them.
std::size_t receive_buffer_bytes();

}  // namespace platform
