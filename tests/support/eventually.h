// Test helper: bounded waiting for something to happen.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace test_support {

// Polls the condition every 10 ms for at most limit; true once it holds.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace test_support
