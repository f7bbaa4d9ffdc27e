// Round trips through the V-register exports on any connection to an
// emulated controller: what is written comes back bit for bit. The same
// checks run on the in-process transport and on the real lines.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "error_info.h"
#include "orvcomm.h"

namespace orvemu {
class Controller;
}

namespace orvtest {

std::int32_t ConnectionType(std::int32_t id);
ZQ_VREGISTER VRecord(std::int32_t number, std::int32_t type);
ZQ_VREGISTER_BLOCK VBlock(std::int32_t first, std::int32_t type, std::int32_t count);

std::uint64_t Bits(double d);
std::uint32_t Bits(float f);

// Doubles whose bits must survive every path unchanged.
std::vector<double> AwkwardDoubles();

// Single, array, block and random round trips that fit any transport's
// reply (at most 20 values per block), on V-registers base .. base + 99.
void CheckVRegisterRoundTrips(std::int32_t id, std::int32_t base = 1000);

// The largest blocks a connection carries in one request: 25 doubles or 50
// integers on a serial line, 173 or 346 elsewhere: the whole block reply in
// each transport's form.
void CheckVRegisterFullBlocks(std::int32_t id, std::int32_t base = 2000);

// The largest random read: 17 entries on a serial line, 115 elsewhere, on
// doubles written at base.
void CheckVRegisterFullRandom(std::int32_t id, std::int32_t base = 3000);

// The checks in the shape of the other command families' (connection ID and
// the emulator behind it), for the end-to-end runs.
void CheckVRegisterFamily(std::int32_t id, orvemu::Controller &);
void CheckVRegisterFullFamily(std::int32_t id, orvemu::Controller &);

}  // namespace orvtest
