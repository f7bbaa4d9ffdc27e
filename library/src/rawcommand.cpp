// The raw command (a request the library has no export for), the Q80 data
// block and the remote I/O configuration and data.
#include <cstring>

#include "command.h"
#include "orvcomm.h"

namespace orv {
namespace {

constexpr std::uint8_t kRunCommand = 0x61;
constexpr std::uint8_t kRunCommandReply = 0x62;

// The long reply of the three record reads: byte 0 is FF, byte 1 (the low
// byte of its 16-bit length) the reply code, and the values run from byte 4
// to byte 995.
constexpr std::uint8_t kLongReply = 0xFF;
constexpr std::size_t kWordsA = 4;
constexpr std::size_t kWordsB = 260;
constexpr std::size_t kLongsA = 516;
constexpr std::size_t kLongsB = 556;
constexpr std::size_t kLongsC = 596;
constexpr std::size_t kRecordEnd = kLongsC + 4 * 100;

std::int32_t ReadRemoteIoRecord(std::int32_t id, std::uint8_t code, std::uint8_t replyCode, ZQ_REMOTE_IO_DATA *data) {
    Command cmd(id);
    std::int32_t result = 0;
    const auto isRecord = [&](std::span<const std::uint8_t> r) {
        return r.size() >= 2 && r[0] == kLongReply && r[1] == replyCode;
    };
    if (!cmd.runWith(BuildRequest(code), isRecord, result)) return result;
    // The serial, UDP and TCP transports carry at most 256 bytes of a reply:
    // a record that did not arrive whole is refused, not half filled.
    if (!cmd.arrived(kRecordEnd)) return 0;
    if (!data) return 1;
    std::int32_t *v = data->values;
    for (std::size_t i = 0; i < 128; ++i) *v++ = cmd.u16(kWordsA + 2 * i);
    for (std::size_t i = 0; i < 128; ++i) *v++ = cmd.u16(kWordsB + 2 * i);
    for (std::size_t i = 0; i < 10; ++i) *v++ = cmd.s32(kLongsA + 4 * i);
    for (std::size_t i = 0; i < 10; ++i) *v++ = cmd.s32(kLongsB + 4 * i);
    for (std::size_t i = 0; i < 100; ++i) *v++ = cmd.s32(kLongsC + 4 * i);
    return 1;
}

}  // namespace
}  // namespace orv

using namespace orv;

extern "C" {

ZQ_API std::int32_t ZQ_CALL ZqRunCommand(std::int32_t id, const std::uint8_t *command, std::int32_t count,
                                         std::uint8_t *reply, std::int32_t *replyCount) {
    return Guarded([&]() -> std::int32_t {
        // L is one byte: the code and at most 251 command bytes fit in it.
        if (!InRange(count, 0, ZQ_RUN_COMMAND_MAX_BYTES)) return 0;
        if ((count > 0 && !command) || !reply || !replyCount) return 0;
        const auto request =
            BuildRequest(kRunCommand, std::span<const std::uint8_t>(command, static_cast<std::size_t>(count)));
        Command cmd(id);
        std::int32_t result = 0;
        // The command inside may be a write: its acknowledgement is its
        // answer, with nothing to hand back.
        const auto answers = [](std::span<const std::uint8_t> r) {
            return r.size() >= 2 && (r[1] == kRunCommandReply || (r[0] == 3 && r[1] == kReplyAck));
        };
        if (!cmd.runWith(request, answers, result)) return result;
        if (cmd.u8(1) == kReplyAck) return CheckShortReply(cmd.connection(), cmd.reply());
        // The data lie between the code and the checksum: bytes 2 to L - 2.
        const std::size_t length = cmd.u8(0);
        if (length < 3) {
            cmd.connection().setError(err::kPacket, err::kIncomplete);
            return 0;
        }
        if (!cmd.has(length - 1)) return 0;
        const std::size_t n = length - 3;
        *replyCount = static_cast<std::int32_t>(n);
        std::memcpy(reply, cmd.reply().data() + 2, n);
        return 1;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetQ80Data(std::int32_t id, ZQ_REMOTE_IO_DATA *data) {
    return Guarded([&] { return ReadRemoteIoRecord(id, 0x53, 0x54, data); });
}

ZQ_API std::int32_t ZQ_CALL ZqLoadRemoteIOConfig(std::int32_t id, std::int32_t) {
    return Guarded([&] { return RunWrite(id, BuildRequest(0x67)); });
}

ZQ_API std::int32_t ZQ_CALL ZqUnloadRemoteIOConfig(std::int32_t id, ZQ_REMOTE_IO_DATA *data) {
    return Guarded([&] { return ReadRemoteIoRecord(id, 0x65, 0x66, data); });
}

ZQ_API std::int32_t ZQ_CALL ZqGetRemoteIOData(std::int32_t id, ZQ_REMOTE_IO_DATA *data) {
    return Guarded([&] { return ReadRemoteIoRecord(id, 0x69, 0x6A, data); });
}

}  // extern "C"
