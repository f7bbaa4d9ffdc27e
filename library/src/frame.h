// The binary protocol frame: checksum, little-endian values, request
// building and the envelope sequence numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace orv {

// Longest request a connection record keeps, and longest reply.
inline constexpr std::size_t kMaxRequest = 1484;
inline constexpr std::size_t kMaxReply = 1536;

inline constexpr std::uint8_t kRequestStart = 0x01;
inline constexpr std::uint8_t kFrameEnd = 0xFF;
inline constexpr std::uint8_t kReplyAck = 0x64;

// One's complement of the 8-bit sum of the bytes.
std::uint8_t PacketChecksum(const std::uint8_t *bytes, std::size_t count);
inline std::uint8_t PacketChecksum(std::span<const std::uint8_t> bytes) {
    return PacketChecksum(bytes.data(), bytes.size());
}

inline std::uint16_t GetU16(const std::uint8_t *p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void PutU16(std::uint8_t *p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t *p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Builds the arguments of a request, little-endian.
class Args {
public:
    Args &u8(std::uint8_t v) { bytes_.push_back(v); return *this; }
    Args &u16(std::uint16_t v) { u8(static_cast<std::uint8_t>(v)); return u8(static_cast<std::uint8_t>(v >> 8)); }
    Args &u32(std::uint32_t v) { u16(static_cast<std::uint16_t>(v)); return u16(static_cast<std::uint16_t>(v >> 16)); }
    Args &raw(std::span<const std::uint8_t> b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); return *this; }
    const std::vector<std::uint8_t> &bytes() const { return bytes_; }
private:
    std::vector<std::uint8_t> bytes_;
};

// 01, L, code, arguments, checksum, FF, where L counts the bytes after itself.
std::vector<std::uint8_t> BuildRequest(std::uint8_t code, std::span<const std::uint8_t> args = {});
inline std::vector<std::uint8_t> BuildRequest(std::uint8_t code, const Args &args) {
    return BuildRequest(code, std::span<const std::uint8_t>(args.bytes()));
}

// A reply frame L, code, data, checksum, FF as it arrived: is it whole and consistent?
enum class ReplyCheck { Ok, TooShort, BadLength, BadChecksum, BadEnd };
ReplyCheck CheckReplyFrame(std::span<const std::uint8_t> reply);

// Steps a connection's envelope sequence number: 1, 2, ..., 65535, 1, ...
inline std::uint16_t NextSequence(std::uint16_t &sequence) {
    ++sequence;
    if (sequence == 0) ++sequence;
    return sequence;
}

}  // namespace orv
