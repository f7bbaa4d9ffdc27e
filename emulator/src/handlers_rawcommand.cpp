// The raw command, the Q80 data block and the remote I/O configuration and
// data.
#include "controller.h"

namespace orvemu {

namespace {

// A long reply (FF, its 16-bit length n, byte 3 zero, the values from
// byte 4 on, checksum and FF). The controller's lengths for these replies
// have the reply code as their low byte.
std::vector<std::uint8_t> longReply(std::uint8_t code, const std::array<std::int32_t, Memory::kRemoteIoValues> &v) {
    std::vector<std::uint8_t> values;
    for (int i = 0; i < 256; ++i) put16(values, static_cast<std::uint16_t>(v[static_cast<std::size_t>(i)]));
    for (int i = 256; i < Memory::kRemoteIoValues; ++i) put32(values, static_cast<std::uint32_t>(v[static_cast<std::size_t>(i)]));
    return longReplyFrame(static_cast<std::uint16_t>(0x400 | code), 0, values);
}

}  // namespace

void installRawCommandHandlers(Controller &c) {
    // 61 code, arguments -> 62 and the data of the reply that the request
    // inside would have drawn. Its short replies (acknowledgement, refusals)
    // come back as they are.
    c.setHandler(0x61, [](Controller &ctl, const Request &r) {
        if (r.args.empty()) return shortReply(kUnknownPacket);
        Request inner;
        inner.code = r.args[0];
        inner.args = r.args.subspan(1);
        inner.frame = r.frame;
        const std::vector<std::uint8_t> answer = ctl.dispatch(inner);
        if (answer.size() < 4 || answer[0] != answer.size() - 1) return shortReply(kUnknownPacket);
        if (answer[0] == 3 && answer[1] >= kAck) return answer;
        return replyFrame(0x62, std::span(answer).subspan(2, answer.size() - 4));
    });
    c.setHandler(0x53, [](Controller &ctl, const Request &r) {
        if (!r.args.empty()) return shortReply(kUnknownPacket);
        return longReply(0x54, ctl.memory().q80Data);
    });
    c.setHandler(0x67, [](Controller &ctl, const Request &r) {
        if (!r.args.empty()) return shortReply(kUnknownPacket);
        ++ctl.memory().remoteIoConfigLoads;
        return shortReply(kAck);
    });
    c.setHandler(0x65, [](Controller &ctl, const Request &r) {
        if (!r.args.empty()) return shortReply(kUnknownPacket);
        return longReply(0x66, ctl.memory().remoteIoConfig);
    });
    c.setHandler(0x69, [](Controller &ctl, const Request &r) {
        if (!r.args.empty()) return shortReply(kUnknownPacket);
        return longReply(0x6A, ctl.memory().remoteIoData);
    });
}

}  // namespace orvemu
