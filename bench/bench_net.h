// What the network benchmarks share: the controller's address on loopback.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>

namespace orvbench {

// The emulator's port `port` on the loopback address `address`.
inline sockaddr_in ControllerAt(const char *address, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

}  // namespace orvbench
