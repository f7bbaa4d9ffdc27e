// The emulated controller's memory. Each command family keeps its resources
// here; the register map is the one the monitor reads and writes through.
#pragma once

#include <cstdint>
#include <vector>

#include "vregisters.h"

namespace orvemu {

struct Memory {
    // Registers 0..65535 (the register map stops at 40000; the rest stays 0).
    std::vector<std::int32_t> registers = std::vector<std::int32_t>(65536, 0);
    VRegisters vregs;
};

}  // namespace orvemu
