// The uncompiler: an object file back into a step listing, a data-table
// listing and a system-configuration listing, without a controller.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

namespace orv {

// The data-table listing: cells are 16-bit values, high byte first, row by
// row. Writes nothing at all when rows or columns is 0.
bool WriteDataTableText(std::FILE *out, std::uint16_t rows, std::uint16_t columns,
                        std::span<const std::uint8_t> cells);

// The system-configuration listing of a controller of `model` with the
// start-up options of the sysconf byte. False when a write failed.
bool WriteSystemConfig(std::FILE *out, std::uint8_t sysconf, std::int32_t model);

}  // namespace orv
