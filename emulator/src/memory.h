// The emulated controller's memory. Each command family keeps its resources
// here. The register map is the one the monitor reads and writes through:
// readRegister / writeRegister route the numbers of the map onto the
// resources below, so a flag, point, channel or axis set through its own
// command shows in its register and the other way round.
//
//   1000+n digital output n (0/1)        2000+n digital input n (read only)
//   8000+n analog output n (16 bits)     8500+n analog input n (read only)
//   13005  flags 1..32 as bits           13021+k flags 32k+1..32k+32 as bits
//   13200+n flag n (0/1; a write sets it when not 0)
//   13008  model code                    13013..13020 clock (latch, s, m, h, day, month, year, weekday)
//   14000+n servo position               14100+n following error (read only)
//   14700+n servo inputs (read only)     20000.. network addresses
//   32001..40000 non-volatile registers; registers above 40000 do not exist.
// Every other number 1..40000 is a plain register in `registers`.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "module.h"
#include "vregisters.h"

namespace orvemu {

// What a model reports about itself: its resource counts.
struct ModelCounts {
    int flags = 32;
    int inputs = 128;
    int outputs = 128;
    int steppers = 16;
    int servos = 16;
    int analogInputs = 64;
    int analogOutputs = 64;
    int prototype = 8;
    int hsCounters = 8;
    int thumbwheels = 16;
    int displays = 16;
    int tasks = 16;
};
// The counts of each model code; codes not named get the defaults above.
ModelCounts CountsOfModel(int model);
// EA controllers: model code 3 or above 4.
constexpr bool IsEaModel(int model) { return model == 3 || model > 4; }
// Entries of a model's step length table (one byte per step).
std::size_t StepTableEntries(int model);

struct Task {
    std::uint16_t step = 0xFFFF;  // FFFF: not running
    std::uint64_t childLow = 0;   // child-task mask, tasks 0..63
    std::uint64_t childHigh = 0;  // tasks 64..127
};

struct Memory {
    static constexpr int kHighestRegister = 40000;
    static constexpr int kDigitalPoints = 1024;
    static constexpr int kAnalogChannels = 256;
    static constexpr int kFlags = 256;
    static constexpr int kServoAxes = 32;
    static constexpr int kTasks = 256;

    // Register numbers of the map.
    static constexpr int kDigitalOutputBase = 1000;
    static constexpr int kDigitalInputBase = 2000;
    static constexpr int kAnalogOutputBase = 8000;
    static constexpr int kAnalogInputBase = 8500;
    static constexpr int kFlagWord = 13005;
    static constexpr int kModelCode = 13008;
    static constexpr int kClockFirst = 13013;
    static constexpr int kClockLast = 13020;
    static constexpr int kFlagWords = 13021;
    static constexpr int kFlagWriteBase = 13200;
    static constexpr int kServoPositionBase = 14000;
    static constexpr int kServoErrorBase = 14100;
    static constexpr int kServoInputsBase = 14700;

    Memory() { setModel(5); }

    // Plain registers 0..65535; only 1..40000 are reachable over the wire.
    std::vector<std::int32_t> registers = std::vector<std::int32_t>(65536, 0);
    VRegisters vregs;

    // Resources behind the register map, 1-based numbers at index n - 1.
    std::array<std::uint8_t, kDigitalPoints> digitalInputs{};
    std::array<std::uint8_t, kDigitalPoints> digitalOutputs{};
    std::array<std::uint16_t, kAnalogChannels> analogInputs{};
    std::array<std::uint16_t, kAnalogChannels> analogOutputs{};
    std::array<std::uint32_t, kFlags / 32> flagWords{};
    std::array<std::int32_t, kServoAxes> servoPosition{};
    std::array<std::int32_t, kServoAxes> servoError{};
    std::array<std::uint8_t, kServoAxes> servoInputs{};

    // Model and counts (the controller sets them from its constructor's model).
    int model = 5;
    ModelCounts counts;

    // Run state: bit 0 stopped, bit 1 programming mode, bit 2 software
    // fault, bit 3 fresh reset. The configuration byte holds the start-up
    // options on inputs.
    std::uint8_t status = 0x09;
    std::uint8_t config = 0;
    std::uint8_t faultCode = 0;
    std::uint16_t faultStep = 0;
    std::int32_t faultData = 0;
    // Every byte written with the status request, in order.
    std::vector<std::uint8_t> statusWrites;
    std::array<Task, kTasks> tasks{};

    // The module that takes new firmware (handlers_module.cpp).
    ModuleState module;

    // Program memory. EA controllers keep one segment per object record
    // type (0 step lengths, 1 program, 2 data table, 3 data table size,
    // 4 options, 5 checksum, 6 start-up options); the others one window of
    // 4 KB (8 KB on model 4) addressed from 0x9800.
    static constexpr int kSegments = 7;
    static constexpr std::uint16_t kLegacyWindow = 0x9800;
    std::array<std::vector<std::uint8_t>, kSegments> segments;
    std::vector<std::uint8_t> legacy;

    // A program load runs between its begin and end requests; the counts
    // say how many of each the controller has seen.
    bool programLoading = false;
    int programLoadBegins = 0;
    int programLoadEnds = 0;
    // No segment grows beyond this (a write further out is refused).
    static constexpr std::size_t kSegmentLimit = std::size_t{1} << 24;

    // The Q80 data block and the remote I/O configuration and data, as the
    // long replies carry them: two runs of 128 16-bit words, then runs of
    // 10, 10 and 100 32-bit words.
    static constexpr int kRemoteIoValues = 376;
    std::array<std::int32_t, kRemoteIoValues> q80Data{};
    std::array<std::int32_t, kRemoteIoValues> remoteIoConfig{};
    std::array<std::int32_t, kRemoteIoValues> remoteIoData{};
    // How often the controller was told to load its remote I/O configuration.
    int remoteIoConfigLoads = 0;

    // Sets the model code (register 13008), its counts and its memory.
    void setModel(int code);

    // The register map. A read of a number that does not exist yields
    // nothing; a write to it, or to a read-only register, fails.
    std::optional<std::int32_t> readRegister(std::uint32_t n) const;
    bool writeRegister(std::uint32_t n, std::int32_t value);

    bool flag(int n) const;  // n 1..256
    void setFlag(int n, bool on);

    // Run commands, as the status write carries them: 0 stops, a value with
    // bit 3 resets, any other value starts a stopped controller.
    void writeStatus(std::uint8_t value);
    // A software fault: stops the controller with the fault's code, step and data.
    void raiseFault(std::uint8_t code, std::uint16_t step, std::int32_t data);

    // The data table. Its cells are the bytes of program memory: on an EA
    // controller segment 2 holds the rows one after another, each cell high
    // byte first, and segment 3 the rows and columns (16 bits each, low
    // byte first); on the others the same table bytes run downward from
    // the table base of the window, and the size lies at its own base.
    std::uint16_t tableRows() const;
    std::uint8_t tableColumns() const;
    void setTableDimensions(std::uint16_t rows, std::uint8_t columns);
    // row and column from 1; the caller has checked them against the size.
    std::uint16_t cell(std::uint32_t row, std::uint32_t column) const;
    void setCell(std::uint32_t row, std::uint32_t column, std::uint16_t value);
    bool cellExists(std::uint32_t row, std::uint32_t column) const;

    // Byte k of the data table in its row order (cells high byte first),
    // wherever the model keeps it.
    std::uint8_t tableByte(std::size_t k) const;
    void setTableByte(std::size_t k, std::uint8_t b);
    // Size of the legacy window (4096, or 8192 on model 4).
    std::size_t legacySize() const { return model == 4 ? 8192 : 4096; }

    // The program checksum that the controller reports: the 8-bit sum of
    // its step length table, the code of its steps, the data table's size
    // and cells, the option bytes (EA) and the sysconf byte, the bytes an
    // upload writes to its object file. It follows every change of the
    // program; the byte stored in the checksum area is not used.
    std::uint8_t programChecksum() const;
    // Tests: a controller whose checksum is off by this much.
    std::uint8_t checksumSkew = 0;

    // A segment's byte (reads past its end are 0; writes grow it).
    std::uint8_t segmentByte(int segment, std::size_t offset) const;
    void setSegmentByte(int segment, std::size_t offset, std::uint8_t b);
};

}  // namespace orvemu
