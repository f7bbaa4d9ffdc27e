// Registers: single reads and writes, blocks of 16 and 50, and lists.
#include "controller.h"

namespace orvemu {

namespace {

std::vector<std::uint8_t> readRun(const Memory &m, std::uint32_t first, int count, std::uint8_t code,
                                  std::span<const std::uint8_t> echo) {
    std::vector<std::uint8_t> data(echo.begin(), echo.end());
    for (int i = 0; i < count; ++i) {
        const auto v = m.readRegister(first + static_cast<std::uint32_t>(i));
        if (!v) return shortReply(kIllegalRegister);
        put32(data, static_cast<std::uint32_t>(*v));
    }
    return replyFrame(code, data);
}

}  // namespace

void installRegisterHandlers(Controller &c) {
    // 09 register(16) -> 0A value(32).
    c.setHandler(0x09, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 2) return shortReply(kUnknownPacket);
        return readRun(ctl.memory(), u16(r.args.data()), 1, 0x0A, {});
    });
    // 4D (first - 1)(16) -> 4E, the number echoed, sixteen values.
    c.setHandler(0x4D, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 2) return shortReply(kUnknownPacket);
        return readRun(ctl.memory(), std::uint32_t{u16(r.args.data())} + 1, 16, 0x4E, r.args);
    });
    // 4B (block - 1)(8) -> 4C, the block echoed, fifty values.
    c.setHandler(0x4B, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 1) return shortReply(kUnknownPacket);
        return readRun(ctl.memory(), std::uint32_t{r.args[0]} * 50 + 1, 50, 0x4C, r.args);
    });
    // 57 n(8), n registers(16) -> 58 n, n values.
    c.setHandler(0x57, [](Controller &ctl, const Request &r) {
        if (r.args.empty() || r.args.size() != 1 + 2 * std::size_t{r.args[0]}) return shortReply(kUnknownPacket);
        const int n = r.args[0];
        std::vector<std::uint8_t> data{static_cast<std::uint8_t>(n)};
        for (int i = 0; i < n; ++i) {
            const auto v = ctl.memory().readRegister(u16(r.args.data() + 1 + 2 * i));
            if (!v) return shortReply(kIllegalRegister);
            put32(data, static_cast<std::uint32_t>(*v));
        }
        return replyFrame(0x58, data);
    });
    // 0B register(16) value(32) -> acknowledgement.
    c.setHandler(0x0B, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 6) return shortReply(kUnknownPacket);
        const bool ok = ctl.memory().writeRegister(u16(r.args.data()), static_cast<std::int32_t>(u32(r.args.data() + 2)));
        return shortReply(ok ? kAck : kIllegalRegister);
    });
}

}  // namespace orvemu
