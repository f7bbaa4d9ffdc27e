#include "controller.h"

namespace orvemu {

void installRegisterHandlers(Controller &c) {
    // 09: read one register -> 0A with its 32-bit value.
    c.setHandler(0x09, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 2) return shortReply(kUnknownPacket);
        const std::uint16_t n = u16(r.args.data());
        std::vector<std::uint8_t> data;
        put32(data, static_cast<std::uint32_t>(ctl.memory().registers[n]));
        return replyFrame(0x0A, data);
    });
}

}  // namespace orvemu
