// Internal to the pseudo-terminal server.
#pragma once

#include <optional>

#include "servers.h"

namespace orvemu {

std::optional<PtyLine> readPtyLine(int fd);

}  // namespace orvemu
