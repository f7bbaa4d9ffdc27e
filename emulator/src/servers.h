// The transports on which the emulator answers: each runs its own thread and
// stops when destroyed.
#pragma once

#include <memory>
#include <string>

#include "controller.h"

namespace orvemu {

class Server {
public:
    virtual ~Server() = default;
    // Where a client reaches it: a device path, an address, an interface.
    virtual std::string endpoint() const = 0;
};

// A pseudo-terminal; endpoint() is the slave device path.
std::unique_ptr<Server> startPty(Controller &c);
// UDP port 3000 and TCP port 6000 on the given local IPv4 address.
std::unique_ptr<Server> startUdp(Controller &c, const std::string &address);
std::unique_ptr<Server> startTcp(Controller &c, const std::string &address);
// Raw Ethernet on the named interface.
std::unique_ptr<Server> startRaw(Controller &c, const std::string &interface);

}  // namespace orvemu
