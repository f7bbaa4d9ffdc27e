#include "memory.h"

namespace orvemu {

ModelCounts CountsOfModel(int model) {
    ModelCounts c;
    auto wideIo = [&] {
        c.analogInputs = 256;
        c.analogOutputs = 256;
        c.inputs = 1024;
        c.outputs = 1024;
    };
    switch (model) {
    case 0: c.steppers = 5; c.servos = 0; c.prototype = 0; break;
    case 2:
    case 3: wideIo(); break;
    case 4: c.steppers = 5; c.servos = 10; c.prototype = 0; break;
    case 5: wideIo(); c.prototype = 0; c.flags = 128; break;
    case 6: case 7: case 8: case 9:
    case 10: case 11: case 12: case 15: wideIo(); c.prototype = 0; break;
    case 14:
    case 16: wideIo(); c.prototype = 0; c.flags = 128; break;
    default: break;
    }
    if (model == 3 || (model >= 5 && model <= 9)) c.tasks = 32;
    else if (model == 10 || model == 11) c.tasks = 64;
    else if (model >= 12) c.tasks = 128;
    else c.tasks = 16;
    return c;
}

std::size_t StepTableEntries(int model) {
    if (!IsEaModel(model)) return 256;
    switch (model) {
    case 5: return 16384;
    case 10: case 11: return 1280;
    case 12: case 15: return 2300;
    case 14: case 16: return 4096;
    default: return 1024;
    }
}

std::uint8_t Memory::programChecksum() const {
    const bool ea = IsEaModel(model);
    unsigned sum = checksumSkew;
    std::size_t programBytes = 0;
    for (std::size_t i = 0; i < StepTableEntries(model); ++i) {
        const std::uint8_t length = ea ? segmentByte(0, i) : (i < legacy.size() ? legacy[i] : 0);
        sum += length;
        programBytes += length;
    }
    for (std::size_t i = 0; i < programBytes; ++i) {
        const std::size_t at = 0x100 + (i & 0xFFFF);
        sum += ea ? segmentByte(1, i) : (at < legacy.size() ? legacy[at] : 0);
    }
    const std::uint16_t rows = tableRows();
    const std::uint8_t columns = tableColumns();
    sum += (rows & 0xFF) + (rows >> 8) + columns;
    for (std::size_t k = 0; k < 2u * rows * columns; ++k) sum += tableByte(k);
    if (ea)
        for (std::size_t i = 0; i < 4; ++i) sum += segmentByte(4, i);
    sum += ea ? segmentByte(6, 0) : (legacy.empty() ? 0 : legacy.back());
    return static_cast<std::uint8_t>(sum);
}

void Memory::setModel(int code) {
    model = code;
    counts = CountsOfModel(code);
    registers[kModelCode] = code;
    // The clock starts at 12:00:00 on 01-01-26, a Thursday, unlatched.
    const std::int32_t clock[] = {0, 0, 0, 12, 1, 1, 26, 4};
    for (int i = 0; i < 8; ++i) registers[static_cast<std::size_t>(kClockFirst + i)] = clock[i];
    for (auto &s : segments) s.clear();
    legacy.assign(IsEaModel(code) ? 0 : legacySize(), 0);
    for (auto &t : tasks) t = Task{};
    tasks[0].step = 0;
}

namespace {
bool inRange(std::uint32_t n, int base, int count) {
    return n > static_cast<std::uint32_t>(base) && n <= static_cast<std::uint32_t>(base + count);
}
}  // namespace

std::optional<std::int32_t> Memory::readRegister(std::uint32_t n) const {
    if (n == 0 || n > kHighestRegister) return std::nullopt;
    if (inRange(n, kDigitalOutputBase, 1000)) return digitalOutputs[n - kDigitalOutputBase - 1];
    if (inRange(n, kDigitalInputBase, 1000)) return digitalInputs[n - kDigitalInputBase - 1];
    if (inRange(n, kAnalogOutputBase, kAnalogChannels))
        return static_cast<std::int16_t>(analogOutputs[n - kAnalogOutputBase - 1]);
    if (inRange(n, kAnalogInputBase, kAnalogChannels))
        return static_cast<std::int16_t>(analogInputs[n - kAnalogInputBase - 1]);
    if (n == kFlagWord) return static_cast<std::int32_t>(flagWords[0]);
    if (n >= kFlagWords && n < kFlagWords + flagWords.size())
        return static_cast<std::int32_t>(flagWords[n - kFlagWords]);
    if (inRange(n, kFlagWriteBase, kFlags)) return flag(static_cast<int>(n - kFlagWriteBase)) ? 1 : 0;
    if (inRange(n, kServoPositionBase, kServoAxes)) return servoPosition[n - kServoPositionBase - 1];
    if (inRange(n, kServoErrorBase, kServoAxes)) return servoError[n - kServoErrorBase - 1];
    if (inRange(n, kServoInputsBase, kServoAxes)) return servoInputs[n - kServoInputsBase - 1];
    return registers[n];
}

bool Memory::writeRegister(std::uint32_t n, std::int32_t value) {
    if (n == 0 || n > kHighestRegister) return false;
    if (inRange(n, kDigitalOutputBase, 1000)) {
        digitalOutputs[n - kDigitalOutputBase - 1] = value != 0;
        return true;
    }
    if (inRange(n, kDigitalInputBase, 1000) || inRange(n, kAnalogInputBase, kAnalogChannels) ||
        inRange(n, kServoErrorBase, kServoAxes) || inRange(n, kServoInputsBase, kServoAxes))
        return false;
    if (inRange(n, kAnalogOutputBase, kAnalogChannels)) {
        analogOutputs[n - kAnalogOutputBase - 1] = static_cast<std::uint16_t>(value);
        return true;
    }
    if (n == kFlagWord) {
        flagWords[0] = static_cast<std::uint32_t>(value);
        return true;
    }
    if (n >= kFlagWords && n < kFlagWords + flagWords.size()) {
        flagWords[n - kFlagWords] = static_cast<std::uint32_t>(value);
        return true;
    }
    if (inRange(n, kFlagWriteBase, kFlags)) {
        setFlag(static_cast<int>(n - kFlagWriteBase), value != 0);
        return true;
    }
    if (inRange(n, kServoPositionBase, kServoAxes)) {
        servoPosition[n - kServoPositionBase - 1] = value;
        return true;
    }
    registers[n] = value;
    return true;
}

bool Memory::flag(int n) const {
    if (n < 1 || n > kFlags) return false;
    return (flagWords[(n - 1) / 32] >> ((n - 1) % 32)) & 1u;
}

void Memory::setFlag(int n, bool on) {
    if (n < 1 || n > kFlags) return;
    const std::uint32_t bit = 1u << ((n - 1) % 32);
    auto &word = flagWords[(n - 1) / 32];
    word = on ? (word | bit) : (word & ~bit);
}

void Memory::writeStatus(std::uint8_t value) {
    statusWrites.push_back(value);
    if (value & 0x08) {
        // Reset: stopped, fresh, fault cleared, every task back at rest.
        status = static_cast<std::uint8_t>((status & 0x02) | 0x09);
        faultCode = 0;
        faultStep = 0;
        faultData = 0;
        for (auto &t : tasks) t = Task{};
        tasks[0].step = 0;
    } else if (value == 0) {
        status = static_cast<std::uint8_t>(status | 0x01);
    } else {
        status = static_cast<std::uint8_t>(status & ~0x09);
        if (tasks[0].step == 0xFFFF) tasks[0].step = 0;
    }
}

void Memory::raiseFault(std::uint8_t code, std::uint16_t step, std::int32_t data) {
    status = static_cast<std::uint8_t>(status | 0x05);
    faultCode = code;
    faultStep = step;
    faultData = data;
}

std::uint8_t Memory::segmentByte(int segment, std::size_t offset) const {
    if (segment < 0 || segment >= kSegments) return 0;
    const auto &s = segments[segment];
    return offset < s.size() ? s[offset] : 0;
}

void Memory::setSegmentByte(int segment, std::size_t offset, std::uint8_t b) {
    if (segment < 0 || segment >= kSegments) return;
    auto &s = segments[segment];
    if (offset >= s.size()) s.resize(offset + 1, 0);
    s[offset] = b;
}

namespace {
// Bases of the table and of its size in the legacy window.
std::size_t tableBase(std::size_t size) { return size - 9; }
std::size_t sizeBase(std::size_t size) { return size - 6; }
}  // namespace

std::uint8_t Memory::tableByte(std::size_t k) const {
    if (IsEaModel(model)) return segmentByte(2, k);
    const std::size_t base = tableBase(legacySize());
    return k <= base && base - k < legacy.size() ? legacy[base - k] : 0;
}

void Memory::setTableByte(std::size_t k, std::uint8_t b) {
    if (IsEaModel(model)) return setSegmentByte(2, k, b);
    const std::size_t base = tableBase(legacySize());
    if (k <= base && base - k < legacy.size()) legacy[base - k] = b;
}

std::uint16_t Memory::tableRows() const {
    if (IsEaModel(model)) return static_cast<std::uint16_t>(segmentByte(3, 0) | (segmentByte(3, 1) << 8));
    const std::size_t at = sizeBase(legacySize());
    return legacy.size() > at + 1 ? static_cast<std::uint16_t>(legacy[at] | (legacy[at + 1] << 8)) : 0;
}

std::uint8_t Memory::tableColumns() const {
    if (IsEaModel(model)) return segmentByte(3, 2);
    const std::size_t at = sizeBase(legacySize()) + 2;
    return legacy.size() > at ? legacy[at] : 0;
}

void Memory::setTableDimensions(std::uint16_t rows, std::uint8_t columns) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(rows), static_cast<std::uint8_t>(rows >> 8), columns, 0};
    if (IsEaModel(model)) {
        for (int i = 0; i < 4; ++i) setSegmentByte(3, static_cast<std::size_t>(i), bytes[i]);
        return;
    }
    const std::size_t at = sizeBase(legacySize());
    for (std::size_t i = 0; i < 4 && at + i < legacy.size(); ++i) legacy[at + i] = bytes[i];
}

bool Memory::cellExists(std::uint32_t row, std::uint32_t column) const {
    if (row < 1 || row > tableRows() || column < 1 || column > tableColumns()) return false;
    if (IsEaModel(model)) return true;
    // The legacy table runs down from its base and must stay in the window.
    const std::size_t last = 2 * (static_cast<std::size_t>(tableColumns()) * (row - 1) + (column - 1)) + 1;
    return last <= tableBase(legacySize());
}

std::uint16_t Memory::cell(std::uint32_t row, std::uint32_t column) const {
    const std::size_t k = 2 * (static_cast<std::size_t>(tableColumns()) * (row - 1) + (column - 1));
    return static_cast<std::uint16_t>((tableByte(k) << 8) | tableByte(k + 1));
}

void Memory::setCell(std::uint32_t row, std::uint32_t column, std::uint16_t value) {
    const std::size_t k = 2 * (static_cast<std::size_t>(tableColumns()) * (row - 1) + (column - 1));
    setTableByte(k, static_cast<std::uint8_t>(value >> 8));
    setTableByte(k + 1, static_cast<std::uint8_t>(value));
}

}  // namespace orvemu
