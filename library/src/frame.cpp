#include "frame.h"

namespace orv {

std::uint8_t PacketChecksum(const std::uint8_t *bytes, std::size_t count) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    return static_cast<std::uint8_t>(0xFF - sum);
}

std::vector<std::uint8_t> BuildRequest(std::uint8_t code, std::span<const std::uint8_t> args) {
    std::vector<std::uint8_t> frame;
    frame.reserve(args.size() + 5);
    frame.push_back(kRequestStart);
    frame.push_back(static_cast<std::uint8_t>(args.size() + 3));
    frame.push_back(code);
    frame.insert(frame.end(), args.begin(), args.end());
    frame.push_back(PacketChecksum(frame.data() + 2, args.size() + 1));
    frame.push_back(kFrameEnd);
    return frame;
}

ReplyCheck CheckReplyFrame(std::span<const std::uint8_t> reply) {
    if (reply.size() < 4) return ReplyCheck::TooShort;
    const std::size_t length = reply[0];
    if (length < 3 || reply.size() != length + 1) return ReplyCheck::BadLength;
    if (static_cast<std::uint8_t>(PacketChecksum(reply.data() + 1, length - 2)) != reply[length - 1])
        return ReplyCheck::BadChecksum;
    if (reply[length] != kFrameEnd) return ReplyCheck::BadEnd;
    return ReplyCheck::Ok;
}

}  // namespace orv
