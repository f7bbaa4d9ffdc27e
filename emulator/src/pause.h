// A server thread's sleep that ends early when the server is told to stop.
#pragma once

#include <chrono>
#include <poll.h>

namespace orvemu {

// Sleeps until `end`, and never less, unless wakeFd becomes readable; false
// when it did (stop).
inline bool pauseUntilOrWoken(int wakeFd, std::chrono::steady_clock::time_point end) {
    using Clock = std::chrono::steady_clock;
    for (auto left = end - Clock::now(); left.count() > 0; left = end - Clock::now()) {
        pollfd p{wakeFd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count())) > 0)
            return false;
    }
    return true;
}

// Sleeps ms unless wakeFd becomes readable; false when it did (stop).
inline bool pauseUnlessWoken(int wakeFd, long ms) {
    return pauseUntilOrWoken(wakeFd, std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
}

}  // namespace orvemu
