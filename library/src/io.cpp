// Flags, digital and analog I/O and servo axes. Every request carries the
// 1-based resource number less one in a single byte, except the first
// channel of ZqPutAnalogOutputN.
#include "command.h"
#include "orvcomm.h"

namespace orv {
namespace {

// The reads that differ only in code, range, reply and decode.
enum class Decode { FlagByte, Byte, U16, S32, Words4, U16x32 };
struct ReadSpec {
    std::uint8_t code;
    std::uint32_t highest;  // numbers 1..highest
    std::uint8_t replyLength;
    std::uint8_t replyCode;
    Decode decode;
};

constexpr ReadSpec kGetFlag{0x11, 256, 4, 0x12, Decode::FlagByte};
constexpr ReadSpec kGetDigitalInput8{0x0F, 8, 4, 0x10, Decode::Byte};
constexpr ReadSpec kGetDigitalOutput8{0x15, 8, 4, 0x16, Decode::Byte};
constexpr ReadSpec kGetDigitalInput128{0x4F, 8, 20, 0x50, Decode::Words4};
constexpr ReadSpec kGetDigitalOutput128{0x51, 8, 20, 0x52, Decode::Words4};
constexpr ReadSpec kGetAnalogInput{0x1D, 256, 5, 0x1E, Decode::U16};
constexpr ReadSpec kGetAnalogOutput{0x1F, 256, 5, 0x20, Decode::U16};
constexpr ReadSpec kGetAnalogInput32{0x47, 8, 68, 0x48, Decode::U16x32};
constexpr ReadSpec kGetAnalogOutput32{0x49, 8, 68, 0x4A, Decode::U16x32};
constexpr ReadSpec kGetServoPosition{0x17, 16, 7, 0x18, Decode::S32};
constexpr ReadSpec kGetServoError{0x2F, 16, 7, 0x30, Decode::S32};
constexpr ReadSpec kGetServoInputs{0x1B, 16, 4, 0x1C, Decode::Byte};

std::int32_t Read(const ReadSpec &spec, std::int32_t id, std::int32_t number, std::int32_t *out) {
    if (!InRange(number, 1, spec.highest)) return 0;
    const auto request = BuildRequest(spec.code, Args().u8(static_cast<std::uint8_t>(number - 1)));
    return RunRead(id, request, Expect(spec.replyCode, spec.replyLength), [&](Command &cmd) -> std::int32_t {
        switch (spec.decode) {
        case Decode::FlagByte:
            if (!cmd.has(3)) return 0;
            if (out) *out = cmd.u8(2) != 0 ? 1 : 0;
            return 1;
        case Decode::Byte:
            if (!cmd.has(3)) return 0;
            if (out) *out = cmd.u8(2);
            return 1;
        case Decode::U16:
            if (!cmd.has(4)) return 0;
            if (out) *out = cmd.u16(2);
            return 1;
        case Decode::S32:
            if (!cmd.has(6)) return 0;
            if (out) *out = cmd.s32(2);
            return 1;
        case Decode::Words4:
            if (!cmd.has(3 + 16)) return 0;
            for (std::size_t i = 0; i < 4; ++i)
                if (out) out[i] = cmd.s32(3 + 4 * i);
            return 1;
        case Decode::U16x32:
            if (!cmd.has(3 + 64)) return 0;
            for (std::size_t i = 0; i < 32; ++i)
                if (out) out[i] = cmd.u16(3 + 2 * i);
            return 1;
        }
        return 0;
    });
}

}  // namespace
}  // namespace orv

using namespace orv;

extern "C" {

ZQ_API std::int32_t ZQ_CALL ZqGetFlag(std::int32_t id, std::int32_t flag, std::int32_t *value) {
    return Guarded([&] { return Read(kGetFlag, id, flag, value); });
}

ZQ_API std::int32_t ZQ_CALL ZqPutFlag(std::int32_t id, std::int32_t flag, std::int32_t value) {
    return Guarded([&]() -> std::int32_t {
        if (!InRange(flag, 1, 256)) return 0;
        return RunWrite(id, BuildRequest(0x13, Args()
                                                   .u8(static_cast<std::uint8_t>(flag - 1))
                                                   .u8(value != 0 ? 0xFF : 0x00)));
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetDigitalInput8(std::int32_t id, std::int32_t module, std::int32_t *value) {
    return Guarded([&] { return Read(kGetDigitalInput8, id, module, value); });
}

ZQ_API std::int32_t ZQ_CALL ZqGetDigitalOutput8(std::int32_t id, std::int32_t module, std::int32_t *value) {
    return Guarded([&] { return Read(kGetDigitalOutput8, id, module, value); });
}

ZQ_API std::int32_t ZQ_CALL ZqGetDigitalInput128(std::int32_t id, std::int32_t group, std::int32_t *words) {
    return Guarded([&] { return Read(kGetDigitalInput128, id, group, words); });
}

ZQ_API std::int32_t ZQ_CALL ZqGetDigitalOutput128(std::int32_t id, std::int32_t group, std::int32_t *words) {
    return Guarded([&] { return Read(kGetDigitalOutput128, id, group, words); });
}

ZQ_API std::int32_t ZQ_CALL ZqGetAnalogInput(std::int32_t id, std::int32_t channel, std::int32_t *value) {
    return Guarded([&] { return Read(kGetAnalogInput, id, channel, value); });
}

ZQ_API std::int32_t ZQ_CALL ZqGetAnalogOutput(std::int32_t id, std::int32_t channel, std::int32_t *value) {
    return Guarded([&] { return Read(kGetAnalogOutput, id, channel, value); });
}

ZQ_API std::int32_t ZQ_CALL ZqPutAnalogOutput(std::int32_t id, std::int32_t channel, std::int32_t value) {
    return Guarded([&]() -> std::int32_t {
        if (!InRange(channel, 1, 256)) return 0;
        return RunWrite(id, BuildRequest(0x21, Args().u8(static_cast<std::uint8_t>(channel - 1)).value(value, 2)));
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetAnalogInput32(std::int32_t id, std::int32_t group, std::int32_t *values) {
    return Guarded([&] { return Read(kGetAnalogInput32, id, group, values); });
}

ZQ_API std::int32_t ZQ_CALL ZqGetAnalogOutput32(std::int32_t id, std::int32_t group, std::int32_t *values) {
    return Guarded([&] { return Read(kGetAnalogOutput32, id, group, values); });
}

ZQ_API std::int32_t ZQ_CALL ZqPutAnalogOutputN(std::int32_t id, std::int32_t first, std::int32_t count,
                                               const std::int32_t *values) {
    return Guarded([&]() -> std::int32_t {
        if (!InRange(count, 1, 64) || !RunInRange(first, count, 256)) return 0;
        if (!values) return 0;
        Args args;
        args.u8(static_cast<std::uint8_t>(first)).u8(static_cast<std::uint8_t>(count));
        for (std::int32_t i = 0; i < count; ++i) args.value(values[i], 2);
        return RunWrite(id, BuildRequest(0x55, args));
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetServoPosition(std::int32_t id, std::int32_t axis, std::int32_t *value) {
    return Guarded([&] { return Read(kGetServoPosition, id, axis, value); });
}

ZQ_API std::int32_t ZQ_CALL ZqGetServoError(std::int32_t id, std::int32_t axis, std::int32_t *value) {
    return Guarded([&] { return Read(kGetServoError, id, axis, value); });
}

ZQ_API std::int32_t ZQ_CALL ZqGetServoInputs(std::int32_t id, std::int32_t axis, std::int32_t *value) {
    return Guarded([&] { return Read(kGetServoInputs, id, axis, value); });
}

}  // extern "C"
