// Raw Ethernet is not built yet: it answers with no server.
#include "servers.h"

namespace orvemu {

std::unique_ptr<Server> startRaw(Controller &, const std::string &) { return nullptr; }

}  // namespace orvemu
