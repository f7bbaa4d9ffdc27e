#include "wire.h"

#include <algorithm>

namespace orvemu {

std::uint8_t checksum(std::span<const std::uint8_t> bytes) {
    unsigned sum = 0;
    for (auto b : bytes) sum += b;
    return static_cast<std::uint8_t>(~sum & 0xFF);
}

std::vector<std::uint8_t> replyFrame(std::uint8_t code, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> f;
    f.reserve(data.size() + 4);
    f.push_back(static_cast<std::uint8_t>(data.size() + 3));
    f.push_back(code);
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(checksum(std::span(f).subspan(1)));
    f.push_back(0xFF);
    return f;
}

std::vector<std::uint8_t> longReplyFrame(std::uint16_t n, std::uint8_t byte3, std::span<const std::uint8_t> body) {
    const std::size_t bodySize = n >= 2 ? std::size_t{n} - 2 : 0;
    std::vector<std::uint8_t> f{0xFF};
    put16(f, n);
    f.push_back(byte3);
    f.insert(f.end(), body.begin(), body.begin() + static_cast<std::ptrdiff_t>(std::min(body.size(), bodySize)));
    f.resize(4 + bodySize, 0);
    f.push_back(checksum(std::span(f).subspan(1)));
    f.push_back(0xFF);
    return f;
}

std::vector<std::uint8_t> rawEthernetReply(std::vector<std::uint8_t> reply) {
    // 03, code, two bytes, then more than a checksum and FF.
    if (reply.size() <= 6 || reply[0] != 3) return reply;
    const auto body = std::span<const std::uint8_t>(reply).subspan(4, reply.size() - 6);
    return longReplyFrame(static_cast<std::uint16_t>(body.size() + 2), reply[1], body);
}

ParseResult parseRequest(std::span<const std::uint8_t> frame, Request &out) {
    if (frame.size() < 5) return ParseResult::TooShort;
    if (frame[0] != 0x01) return ParseResult::BadStart;
    if (frame.back() != 0xFF) return ParseResult::BadEnd;
    const auto covered = frame.subspan(2, frame.size() - 4);
    if (checksum(covered) != frame[frame.size() - 2]) return ParseResult::BadChecksum;
    out.code = frame[2];
    out.args = frame.subspan(3, frame.size() - 5);
    out.frame = frame;
    return ParseResult::Ok;
}

}  // namespace orvemu
