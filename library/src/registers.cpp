// The register exports.
#include "command.h"
#include "orvcomm.h"

using namespace orv;

extern "C" {

ZQ_API std::int32_t ZQ_CALL ZqGetRegister(std::int32_t id, std::int32_t reg, std::int32_t *value) {
    return Guarded([&] {
        const auto request = BuildRequest(0x09, Args().number(reg, 2));
        return RunRead(id, request, Expect(0x0A, 7), [&](Command &cmd) -> std::int32_t {
            if (!cmd.has(6)) return 0;
            if (value) *value = cmd.s32(2);
            return 1;
        });
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetRegister16(std::int32_t id, std::int32_t first, std::int32_t *values) {
    return Guarded([&] {
        const auto request = BuildRequest(0x4D, Args().number(std::int64_t{first} - 1, 2));
        return RunRead(id, request, Expect(0x4E, 0x45), [&](Command &cmd) -> std::int32_t {
            if (!cmd.has(4 + 4 * 16)) return 0;
            for (int i = 0; i < 16; ++i)
                if (values) values[i] = cmd.s32(4 + 4 * i);
            return 1;
        });
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetRegister50(std::int32_t id, std::int32_t block, std::int32_t *values) {
    return Guarded([&] {
        const auto request = BuildRequest(0x4B, Args().number(std::int64_t{block} - 1, 1));
        return RunRead(id, request, Expect(0x4C, 0xCC), [&](Command &cmd) -> std::int32_t {
            if (!cmd.has(3 + 4 * 50)) return 0;
            for (int i = 0; i < 50; ++i)
                if (values) values[i] = cmd.s32(3 + 4 * i);
            return 1;
        });
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetNRegisters(std::int32_t id, std::int32_t count, const std::int32_t *registers,
                                            std::int32_t *values) {
    return Guarded([&]() -> std::int32_t {
        if (!InRange(count, 0, 50)) return 0;
        if (count > 0 && !registers) return 0;
        Args args;
        args.u8(static_cast<std::uint8_t>(count));
        for (std::int32_t i = 0; i < count; ++i) args.number(registers[i], 2);
        return RunRead(id, BuildRequest(0x57, args), ExpectCode(0x58), [&](Command &cmd) -> std::int32_t {
            if (!cmd.has(3)) return 0;
            // A reply that answers another number of registers than asked.
            if (cmd.u8(2) != count) return 0;
            if (!cmd.has(3 + 4 * static_cast<std::size_t>(count))) return 0;
            for (std::int32_t i = 0; i < count; ++i)
                if (values) values[i] = cmd.s32(3 + 4 * static_cast<std::size_t>(i));
            return 1;
        });
    });
}

ZQ_API std::int32_t ZQ_CALL ZqPutRegister(std::int32_t id, std::int32_t reg, std::int32_t value) {
    return Guarded([&] {
        return RunWrite(id, BuildRequest(0x0B, Args().number(reg, 2).u32(static_cast<std::uint32_t>(value))));
    });
}

}  // extern "C"
