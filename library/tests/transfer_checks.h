// Programs in the emulator's memory and the object files that hold them, for
// the tests of the program download and upload. Built here from the layout
// of the object file, apart from the library's own code.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "controller.h"
#include "error_info.h"
#include "orvcomm.h"
#include "temp_dir.h"

namespace orvtest {

using Bytes = std::vector<std::uint8_t>;

// Entries of the step length table of a model code: the emulator's.
using orvemu::StepTableEntries;

std::uint16_t MagicOfModel(int model);

// A controller's program: the step length table (its entries), the code of
// each non-empty step in step order, the data table and the option bytes.
struct ProgramImage {
    int model = 6;
    Bytes stepLengths;
    std::vector<Bytes> code;
    std::uint16_t rows = 0;
    std::uint8_t columns = 0;
    std::vector<std::uint16_t> cells;  // row by row
    std::array<std::uint8_t, 4> options{};
    std::uint8_t sysconf = 0;

    Bytes programBytes() const {
        Bytes all;
        for (const auto &c : code) all.insert(all.end(), c.begin(), c.end());
        return all;
    }
    Bytes tableBytes() const {
        Bytes b;
        for (auto v : cells) {
            b.push_back(static_cast<std::uint8_t>(v >> 8));
            b.push_back(static_cast<std::uint8_t>(v));
        }
        return b;
    }
    Bytes sizeBytes() const {
        return {static_cast<std::uint8_t>(rows), static_cast<std::uint8_t>(rows >> 8), columns, 0};
    }
    // The 8-bit sum of everything but the checksum itself.
    std::uint8_t checksum() const {
        unsigned sum = 0;
        for (auto b : stepLengths) sum += b;
        for (auto b : programBytes()) sum += b;
        for (auto b : sizeBytes()) sum += b;
        for (auto b : tableBytes()) sum += b;
        if (orvemu::IsEaModel(model))
            for (auto b : options) sum += b;
        sum += sysconf;
        return static_cast<std::uint8_t>(sum);
    }
};

// Steps of every length that matters (one byte, 16, 40 and 255 bytes, empty
// steps between them), a 3 x 4 data table, option bytes and a start on
// input 1.
ProgramImage SampleProgram(int model);

// Puts the program into the controller's memory, with its checksum.
void LoadProgram(orvemu::Controller &emu, const ProgramImage &p);

// The program memory of the controller, as one comparable value.
struct MemorySnapshot {
    std::array<Bytes, orvemu::Memory::kSegments> segments;
    Bytes legacy;
    bool operator==(const MemorySnapshot &) const = default;
};
MemorySnapshot Snapshot(orvemu::Controller &emu);
// Empties the program memory (the model stays).
void ClearProgram(orvemu::Controller &emu);

// ---- Object files ---------------------------------------------------------

Bytes ObjectHeader(std::uint16_t magic, std::uint8_t status = 0);
// A record; data longer than 255 bytes as several at consecutive addresses.
void AddRecord(Bytes &file, std::uint8_t type, std::uint16_t address, const Bytes &data);

// The object file that an upload of the program writes, byte for byte.
Bytes ExpectedObjectFile(const ProgramImage &p);

// Upload into `path`, download it back into the emptied memory and upload
// again: the same object file, the same memory.
void CheckRoundTrip(std::int32_t id, orvemu::Controller &emu, const ProgramImage &p, const orv::test::TempDir &dir);

}  // namespace orvtest
