// A server thread's sleep that ends early when the server is told to stop.
#pragma once

#include <chrono>
#include <poll.h>

namespace orvemu {

// Sleeps ms unless wakeFd becomes readable; false when it did (stop).
inline bool pauseUnlessWoken(int wakeFd, long ms) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) return true;
        pollfd p{wakeFd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) > 0) return false;
    }
}

}  // namespace orvemu
