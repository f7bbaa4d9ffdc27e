// Connections whose transport hands each request straight to an in-process
// emulator, for tests of the connection table and the command families that need no
// real line.
#pragma once

#include <cstdint>

#include "connection.h"
#include "controller.h"
#include "errors.h"
#include "orvcomm.h"

namespace orvtest {

// Puts a usable connection of the given type on the emulator into the
// table: its transport hands each request straight to the emulator and
// carries it as the transport of that type would.
std::int32_t AddEmulatedConnection(orvemu::Controller &ctl, std::int32_t type = 3, std::int32_t status = 1);
void RemoveConnection(std::int32_t id);

}  // namespace orvtest
