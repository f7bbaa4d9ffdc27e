// Transports not built yet answer with no server.
#include "servers.h"

namespace orvemu {

std::unique_ptr<Server> startPty(Controller &) { return nullptr; }
std::unique_ptr<Server> startUdp(Controller &, const std::string &) { return nullptr; }
std::unique_ptr<Server> startTcp(Controller &, const std::string &) { return nullptr; }

}  // namespace orvemu
