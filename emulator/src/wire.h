// The controller's side of the binary protocol frame. Kept apart from the
// library's own code on purpose, so that a fault in one is caught by the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace orvemu {

std::uint8_t checksum(std::span<const std::uint8_t> bytes);

inline std::uint16_t u16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t u32(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void put16(std::vector<std::uint8_t> &v, std::uint16_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}
inline void put32(std::vector<std::uint8_t> &v, std::uint32_t x) {
    put16(v, static_cast<std::uint16_t>(x));
    put16(v, static_cast<std::uint16_t>(x >> 16));
}

// Reply codes of the short replies.
inline constexpr std::uint8_t kAck = 0x64;
inline constexpr std::uint8_t kBadChecksum = 0x65;
inline constexpr std::uint8_t kIllegalRegister = 0x66;
inline constexpr std::uint8_t kUnknownPacket = 0x67;
inline constexpr std::uint8_t kOutOfRange = 0x68;

// L, code, data, checksum, FF.
std::vector<std::uint8_t> replyFrame(std::uint8_t code, std::span<const std::uint8_t> data = {});
// 03, code, checksum, FF.
inline std::vector<std::uint8_t> shortReply(std::uint8_t code) { return replyFrame(code); }

// The long reply of the raw-Ethernet network: FF, its 16-bit length n (the
// reply is n + 4 bytes), byte 3, the body from byte 4 (n - 2 bytes: cut, or
// padded with zeros), the checksum over bytes 1 to n + 1, FF. n is at least 2.
std::vector<std::uint8_t> longReplyFrame(std::uint16_t n, std::uint8_t byte3, std::span<const std::uint8_t> body);

// A reply as it travels on raw Ethernet. The network block replies (03,
// code, first number, block, checksum, FF: longer than their L says) are
// not frames that the raw-Ethernet reply length rule knows, so they go in
// the long form, the code at byte 3 and the block from byte 4 as before
// (the first number has no place there). Anything else goes as it is.
std::vector<std::uint8_t> rawEthernetReply(std::vector<std::uint8_t> reply);

// A request as it arrived: 01, L, code, arguments, checksum, FF. The frame's
// length is the transport's: on the network it comes from the envelope, and
// some block requests carry an L that does not describe it.
struct Request {
    std::uint8_t code = 0;
    std::span<const std::uint8_t> args;
    std::span<const std::uint8_t> frame;
};

enum class ParseResult { Ok, TooShort, BadStart, BadChecksum, BadEnd };
ParseResult parseRequest(std::span<const std::uint8_t> frame, Request &out);

}  // namespace orvemu
