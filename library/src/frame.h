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

// What a caller's number stands for in a request field. An item number
// (register, V-register, flag, channel, axis, bank, data-table row or
// column) is unsigned; a value written to the controller may also come
// signed, so that a 16-bit value accepts -32768..65535.
enum class FieldUse { Number, Value };

// Whether v fits a request field of `bits` bits (8, 16 or 32) as `use`
// says. A number that does not fit is refused, never cut to its low bits,
// which would name another item or write another value.
constexpr bool Fits(std::int64_t v, unsigned bits, FieldUse use = FieldUse::Number) {
    const std::int64_t top = (std::int64_t{1} << bits) - 1;
    const std::int64_t bottom = use == FieldUse::Value ? -(std::int64_t{1} << (bits - 1)) : 0;
    return v >= bottom && v <= top;
}

// Builds the arguments of a request, little-endian. number() and value()
// take a caller's number and remember when it does not fit its field: the
// request is then never built (BuildRequest gives an empty frame).
class Args {
public:
    Args &u8(std::uint8_t v) { bytes_.push_back(v); return *this; }
    Args &u16(std::uint16_t v) { u8(static_cast<std::uint8_t>(v)); return u8(static_cast<std::uint8_t>(v >> 8)); }
    Args &u32(std::uint32_t v) { u16(static_cast<std::uint16_t>(v)); return u16(static_cast<std::uint16_t>(v >> 16)); }
    Args &raw(std::span<const std::uint8_t> b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); return *this; }
    // An item number in a field of `bytes` bytes (1 or 2).
    Args &number(std::int64_t v, unsigned bytes) { return field(v, bytes, FieldUse::Number); }
    // A written value in a field of `bytes` bytes (1 or 2).
    Args &value(std::int64_t v, unsigned bytes) { return field(v, bytes, FieldUse::Value); }
    bool fits() const { return fits_; }
    const std::vector<std::uint8_t> &bytes() const { return bytes_; }
private:
    Args &field(std::int64_t v, unsigned bytes, FieldUse use) {
        if (!Fits(v, 8 * bytes, use)) fits_ = false;
        const auto bits = static_cast<std::uint64_t>(v);
        for (unsigned i = 0; i < bytes; ++i) u8(static_cast<std::uint8_t>(bits >> (8 * i)));
        return *this;
    }
    std::vector<std::uint8_t> bytes_;
    bool fits_ = true;
};

// 01, L, code, arguments, checksum, FF, where L counts the bytes after itself.
std::vector<std::uint8_t> BuildRequest(std::uint8_t code, std::span<const std::uint8_t> args = {});
// As above; an empty frame when one of the arguments does not fit its field.
inline std::vector<std::uint8_t> BuildRequest(std::uint8_t code, const Args &args) {
    if (!args.fits()) return {};
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
