// The common pattern of every command export:
//
//   1. range check of the arguments: a value outside returns 0 at once, with
//      nothing sent, no lookup and the connection's error left as it was
//      (InRange / RunInRange, unsigned and free of wrap-around; and every
//      number must fit the field that carries it, see Fits and Args: a
//      request whose arguments do not fit is built empty, and RunRead and
//      RunWrite refuse an empty request before the lookup);
//   2. connection lookup (Command's constructor, through FindConnection);
//   3. one request, built with BuildRequest;
//   4. the exchange through SendData with packet class 20;
//   5. the reply test: expected L and code (or an acknowledgement for a
//      write); anything else yields CheckShortReply's result on the call's
//      own copy of the reply (what the record holds may by then be another
//      thread's);
//   6. the decode from fixed reply offsets, each read bounded by what the
//      reply's L announces and by what actually arrived (Command::has).
//
//   std::int32_t r = 0;
//   Command cmd(id);
//   if (!cmd.run(BuildRequest(0x09, Args().u16(reg)), Expect(0x0A, 7), r)) return r;
//   if (!cmd.has(6)) return 0;
//   *value = cmd.s32(2);
//   return 1;
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "connection.h"
#include "errors.h"
#include "frame.h"

namespace orv {

// Packet class of every request the library sends.
inline constexpr std::int32_t kPacketClassRequest = 20;

// The caller's value as unsigned, as every argument check compares it, so a
// negative value counts as very large.
constexpr bool InRange(std::int32_t value, std::uint32_t low, std::uint32_t high) {
    const auto v = static_cast<std::uint32_t>(value);
    return v >= low && v <= high;
}
// first + count - 1 <= last, with first >= 1, computed in 64 bits so that no
// argument wraps past the check.
constexpr bool RunInRange(std::int32_t first, std::int32_t count, std::uint32_t last) {
    const std::uint64_t f = static_cast<std::uint32_t>(first);
    const std::uint64_t n = static_cast<std::uint32_t>(count);
    return f >= 1 && f + n <= std::uint64_t{last} + 1;
}

// What the reply to a request must look like. A negative field is not tested.
struct ReplyShape {
    int length = -1;  // the L byte
    int code = -1;    // the reply code
};
constexpr ReplyShape Expect(std::uint8_t code, std::uint8_t length) { return {length, code}; }
constexpr ReplyShape ExpectCode(std::uint8_t code) { return {-1, code}; }
// The acknowledgement of a write: L = 3, code 0x64.
constexpr ReplyShape kExpectAck{3, kReplyAck};

class Command {
public:
    // Looks the connection up; failure leaves ok() false (the lookup has set
    // the error where there is a record to hold it).
    explicit Command(std::int32_t id) : id_(id), connection_(FindConnection(id)) {}

    bool ok() const { return connection_ != nullptr; }
    Connection &connection() { return *connection_; }

    // Steps 4 and 5 on one request. True when the reply has the expected
    // shape (and may be decoded); false with `result` set to the export's
    // result otherwise: 0 for a failed lookup or exchange, else what
    // CheckShortReply made of the reply (1 for a bare acknowledgement).
    bool run(std::span<const std::uint8_t> request, ReplyShape shape, std::int32_t &result);
    // As run, with the reply test left to `accepts` (given the reply bytes).
    template <typename Accepts>
    bool runWith(std::span<const std::uint8_t> request, Accepts accepts, std::int32_t &result) {
        const ReplyTest expected = [&](std::span<const std::uint8_t> r) { return accepts(r); };
        if (!send(request, expected, result)) return false;
        if (accepts(reply())) return true;
        result = CheckShortReply(*connection_, reply());
        return false;
    }
    // A write: the exchange, then the acknowledgement test; the export's result.
    std::int32_t write(std::span<const std::uint8_t> request);

    // The reply as it arrived (its bytes numbered from the L byte as 0).
    std::span<const std::uint8_t> reply() const { return {reply_.data(), length_}; }
    // True when the reply's bytes 0 .. end-1 are all data announced by L
    // (they lie before its checksum) and all arrived. Otherwise sets the
    // connection's error to 206 "Incomplete packet" and returns false, so
    // that no stale byte is ever decoded.
    bool has(std::size_t end);
    // As has, for reply forms whose length is not carried in L: bounded only
    // by the bytes that arrived.
    bool arrived(std::size_t end);
    // As has, for the raw-Ethernet long form (FF, the 16-bit length n, ...,
    // checksum at byte n + 2, FF): bytes 0 .. end-1 lie before its checksum
    // and all arrived.
    bool hasLong(std::size_t end);

    // Readers at reply offsets; the caller has bounded them with has().
    std::uint8_t u8(std::size_t at) const { return reply_[at]; }
    std::uint16_t u16(std::size_t at) const { return GetU16(reply_.data() + at); }
    std::uint32_t u32(std::size_t at) const { return GetU32(reply_.data() + at); }
    std::int32_t s32(std::size_t at) const { return static_cast<std::int32_t>(u32(at)); }

private:
    bool send(std::span<const std::uint8_t> request, const ReplyTest &expected, std::int32_t &result);

    std::int32_t id_;
    // Held for the whole call: a close meanwhile does not free it.
    ConnectionRef connection_;
    std::array<std::uint8_t, kMaxReply> reply_{};
    std::size_t length_ = 0;
};

// The whole pattern for a read of fixed shape: `decode(cmd)` runs on an
// accepted reply and returns the export's result.
template <typename Decode>
std::int32_t RunRead(std::int32_t id, std::span<const std::uint8_t> request, ReplyShape shape, Decode decode) {
    if (request.empty()) return 0;
    Command cmd(id);
    std::int32_t result = 0;
    if (!cmd.run(request, shape, result)) return result;
    return decode(cmd);
}
inline std::int32_t RunWrite(std::int32_t id, std::span<const std::uint8_t> request) {
    if (request.empty()) return 0;
    Command cmd(id);
    return cmd.write(request);
}

}  // namespace orv
