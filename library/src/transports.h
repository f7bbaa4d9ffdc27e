// How each connection type is opened. The open calls prepare a record and
// hand it to the opener of its type; each lives with its transport.
#pragma once

#include <chrono>
#include <cstdint>

#include "connection.h"

namespace orv {

// Which open call is running: the two differ in timeouts and in how TCP
// connects.
enum class OpenCall { Connection, NetConnection };

struct OpenRequest {
    OpenCall call = OpenCall::Connection;
    // Serial read total time-out in ms (already clamped for ZqOpenNetConnection).
    std::uint32_t serialReadTimeout = 250;
};

// Each opener fills c (transport, status, MACs ...) and returns true; on
// failure it sets the library-wide error and returns false. The serial
// opener may return true with c.status 0 (settings refused).
bool OpenSerial(Connection &c, const OpenRequest &how);
bool OpenUdp(Connection &c, const OpenRequest &how);
bool OpenTcp(Connection &c, const OpenRequest &how);
// Called with the table lock held when how.call is OpenCall::Connection.
bool OpenRawEthernet(Connection &c, const OpenRequest &how);

// Whole milliseconds left until `deadline`, rounded up (a wait never ends
// short of it); 0 once it has passed.
inline int MsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace orv
