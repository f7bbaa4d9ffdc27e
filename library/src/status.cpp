// Whole-controller values: status and configuration bytes, task banks, the
// model code and the resource counts.
#include <limits>

#include "command.h"
#include "orvcomm.h"

namespace orv {
namespace {

constexpr std::int32_t kModelCodeRegister = 13008;

// A read of one byte at reply byte 2.
std::int32_t ReadByte(std::int32_t id, std::uint8_t code, std::uint8_t replyCode, std::int32_t *out) {
    return RunRead(id, BuildRequest(code), Expect(replyCode, 4), [&](Command &cmd) -> std::int32_t {
        if (!cmd.has(3)) return 0;
        if (out) *out = cmd.u8(2);
        return 1;
    });
}

std::int32_t WriteByte(std::int32_t id, std::uint8_t code, std::int32_t value) {
    if (!InRange(value, 0, 255)) return 0;
    return RunWrite(id, BuildRequest(code, Args().u8(static_cast<std::uint8_t>(value))));
}

// The two forms of a task bank reply, told apart by L alone.
constexpr std::uint8_t kShortBank = 59;
constexpr std::uint8_t kLongBank = 91;

}  // namespace
}  // namespace orv

using namespace orv;

extern "C" {

ZQ_API std::int32_t ZQ_CALL ZqGetStatus(std::int32_t id, std::int32_t *status) {
    return Guarded([&] { return ReadByte(id, 0x3D, 0x3E, status); });
}

ZQ_API std::int32_t ZQ_CALL ZqPutStatus(std::int32_t id, std::int32_t status) {
    return Guarded([&] { return WriteByte(id, 0x3F, status); });
}

ZQ_API std::int32_t ZQ_CALL ZqGetConfig(std::int32_t id, std::int32_t *config) {
    return Guarded([&] { return ReadByte(id, 0x41, 0x42, config); });
}

ZQ_API std::int32_t ZQ_CALL ZqPutConfig(std::int32_t id, std::int32_t config) {
    return Guarded([&] { return WriteByte(id, 0x43, config); });
}

ZQ_API std::int32_t ZQ_CALL ZqGetTaskBank(std::int32_t id, std::int32_t bank, ZQ_TASK_BANK *taskBank) {
    return Guarded([&]() -> std::int32_t {
        // Banks 1 to 256: the bank byte carries the number less one.
        const auto request = BuildRequest(0x23, Args().number(std::int64_t{bank} - 1, 1));
        if (request.empty()) return 0;
        Command cmd(id);
        std::int32_t result = 0;
        const auto isBank = [](std::span<const std::uint8_t> r) {
            return !r.empty() && (r[0] == kShortBank || r[0] == kLongBank);
        };
        if (!cmd.runWith(request, isBank, result)) return result;
        const bool longForm = cmd.u8(0) == kLongBank;
        const std::size_t stride = longForm ? 10 : 6;
        if (!cmd.has(10 + 8 * stride)) return 0;
        if (!taskBank) return 1;
        ZQ_TASK_BANK b{};
        b.stopped = cmd.u8(2);
        b.faultCode = cmd.u8(3);
        b.faultStep = cmd.u16(4);
        b.faultData = cmd.s32(6);
        for (std::size_t t = 0; t < 8; ++t) {
            const std::size_t at = 10 + stride * t;
            b.steps[t] = static_cast<std::int32_t>(cmd.u16(at)) + 1;
            b.childLow[t] = cmd.s32(at + 2);
            b.childHigh[t] = longForm ? cmd.s32(at + 6) : 0;
        }
        *taskBank = b;
        return 1;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetModel(std::int32_t id, std::int32_t *model, std::int32_t *ea) {
    return Guarded([&]() -> std::int32_t {
        const auto fail = [&](std::int32_t result) {
            if (model) *model = -1;
            if (ea) *ea = -1;
            return result;
        };
        const auto request = BuildRequest(0x09, Args().u16(static_cast<std::uint16_t>(kModelCodeRegister)));
        Command cmd(id);
        std::int32_t result = 0;
        // A bare acknowledgement succeeds without a model code: both
        // outputs then say "unknown", as after a failure.
        if (!cmd.run(request, Expect(0x0A, 7), result)) return fail(result);
        if (!cmd.has(6)) return fail(0);
        const std::int32_t code = cmd.s32(2);
        if (model) *model = code;
        if (ea) *ea = (code == 3 || code > 4) ? 1 : 0;
        return 1;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetIoCount(std::int32_t id, ZQ_IO_COUNT *counts) {
    return Guarded([&] {
        return RunRead(id, BuildRequest(0x0D), Expect(0x0E, 12), [&](Command &cmd) -> std::int32_t {
            if (!cmd.has(11)) return 0;
            if (!counts) return 1;
            counts->flags = cmd.u8(2);
            counts->inputs = cmd.u16(3);
            counts->outputs = cmd.u16(5);
            counts->steppers = cmd.u8(7);
            counts->servos = cmd.u8(8);
            counts->analogInputs = cmd.u8(9);
            counts->analogOutputs = cmd.u8(10);
            return 1;
        });
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetMiscIoCount(std::int32_t id, ZQ_MISC_IO_COUNT *counts) {
    return Guarded([&] {
        return RunRead(id, BuildRequest(0x45), Expect(0x46, 7), [&](Command &cmd) -> std::int32_t {
            if (!cmd.has(6)) return 0;
            if (!counts) return 1;
            counts->prototype = cmd.u8(2);
            counts->hsCounters = cmd.u8(3);
            counts->thumbwheels = cmd.u8(4);
            counts->displays = cmd.u8(5);
            return 1;
        });
    });
}

}  // extern "C"
