// The V-register exports: properties, one V-register, arrays of them (one
// request each), runs of them in one block, and random reads.
#include <algorithm>
#include <cstring>
#include <vector>

#include "command.h"
#include "orvcomm.h"

using namespace orv;

namespace {

// ---- One V-register -----------------------------------------------------

// The single block: 0-3 type; 4, 5, 6 headers A to C; 7 zero; 8-9 header D;
// 10-11 string length (0 in requests); 12-15 header E; 16-19 header F;
// 20-243 the value area.
constexpr std::size_t kSingleBlock = 244;
constexpr std::size_t kSingleValue = 20;
constexpr std::size_t kTextMax = 223;
constexpr std::uint8_t kReadOne = 0x5D, kReadOneReply = 0x5E, kWriteOne = 0x5F;
constexpr std::uint8_t kSingleL = 249;
// Reply offset of the returned single block.
constexpr std::size_t kReplyBlock = 4;

using SingleBlock = std::array<std::uint8_t, kSingleBlock>;

SingleBlock singleHeader(const ZQ_VREGISTER &r) {
    SingleBlock b{};
    PutU32(b.data(), static_cast<std::uint32_t>(r.type));
    b[4] = static_cast<std::uint8_t>(r.headerA);
    b[5] = static_cast<std::uint8_t>(r.headerB);
    b[6] = static_cast<std::uint8_t>(r.headerC);
    PutU16(b.data() + 8, static_cast<std::uint16_t>(r.headerD));
    PutU32(b.data() + 12, static_cast<std::uint32_t>(r.headerE));
    PutU32(b.data() + 16, static_cast<std::uint32_t>(r.headerF));
    return b;
}

// 01, F9, code, number 16 bits, the block, checksum, FF: 251 bytes (none
// when the number does not fit its field).
std::vector<std::uint8_t> singleRequest(std::uint8_t code, const ZQ_VREGISTER &r, const SingleBlock &b) {
    return BuildRequest(code, Args().number(r.number, 2).raw(b));
}

// The numbers of every record fit their field: checked before anything of
// an array call is sent.
bool numbersFit(const ZQ_VREGISTER *records, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i)
        if (!Fits(records[i].number, 16)) return false;
    return true;
}

std::vector<std::uint8_t> readOneRequest(const ZQ_VREGISTER &r) {
    return singleRequest(kReadOne, r, singleHeader(r));
}

// The write request of a record, or an empty frame when the record cannot be
// sent (a type other than 1, 4, 8 or 16; a string over 223 characters).
std::vector<std::uint8_t> writeOneRequest(const ZQ_VREGISTER &r) {
    SingleBlock b = singleHeader(r);
    std::uint8_t *value = b.data() + kSingleValue;
    switch (r.type) {
    case ZQ_VTYPE_INTEGER: PutU32(value, static_cast<std::uint32_t>(r.intValue)); break;
    case ZQ_VTYPE_FLOAT: std::memcpy(value, &r.floatValue, 4); break;
    case ZQ_VTYPE_DOUBLE: std::memcpy(value, &r.doubleValue, 8); break;
    case ZQ_VTYPE_STRING: {
        const auto length = static_cast<std::uint32_t>(r.stringLength);
        if (length > kTextMax) return {};
        std::memcpy(value, r.text, length);
        value[length] = 0;
        break;
    }
    default: return {};
    }
    return singleRequest(kWriteOne, r, b);
}

// Decodes an accepted 5E reply into the record. The array read stores any
// type other than string, float and double as an integer; the single read
// refuses them.
std::int32_t decodeOne(Command &cmd, ZQ_VREGISTER &r, bool anyTypeAsInteger) {
    if (!cmd.has(kReplyBlock + kSingleBlock)) return 0;
    const std::size_t block = kReplyBlock;
    const std::size_t value = block + kSingleValue;
    const std::int32_t type = cmd.s32(block);
    r.type = type;
    switch (type) {
    case ZQ_VTYPE_FLOAT: {
        const std::uint32_t bits = cmd.u32(value);
        std::memcpy(&r.floatValue, &bits, 4);
        return 1;
    }
    case ZQ_VTYPE_DOUBLE: {
        const std::uint64_t bits = cmd.u32(value) | (static_cast<std::uint64_t>(cmd.u32(value + 4)) << 32);
        std::memcpy(&r.doubleValue, &bits, 8);
        return 1;
    }
    case ZQ_VTYPE_STRING: {
        const std::uint16_t length = cmd.u16(block + 10);
        r.stringLength = length;
        if (length > kTextMax) return 0;
        for (std::size_t i = 0; i < length; ++i) r.text[i] = static_cast<char>(cmd.u8(value + i));
        r.text[length] = 0;
        return 1;
    }
    case ZQ_VTYPE_INTEGER: r.intValue = cmd.s32(value); return 1;
    default:
        if (!anyTypeAsInteger) return 0;
        r.intValue = cmd.s32(value);
        return 1;
    }
}

// ---- Multi-value blocks -------------------------------------------------

// The multi-value block: 0-3 type; 4, 5, 6 headers A to C; 7 zero; 8-9
// header D; 10-11 count returned (0 in requests); 12-15 header E; 16-19
// header F; 20-23 count requested; 24-27 header G; 28-31 header H; 32-35
// header I; then the value area. Its size is the transport's: 244 bytes on a
// serial line, 1420 elsewhere.
constexpr std::size_t kBlockValues = 36;
constexpr std::size_t kEntryBytes = 12;
constexpr std::uint8_t kReadBlock = 0x6D, kReadBlockReply = 0x6E, kWriteBlock = 0x6F;
constexpr std::uint8_t kReadRandom = 0x71, kReadRandomReply = 0x72;
constexpr std::uint16_t kCountOverLimit = err::kConnection;

const TransportTraits &traits(Command &cmd) { return cmd.connection().traits(); }
// The block rides in an ordinary frame (a serial line).
bool inFrame(Command &cmd) { return traits(cmd).blockInFrame; }

// Block replies come in three forms, all with the block from byte 4: on a
// serial line an ordinary frame (L, code, number, block, checksum, FF); on
// UDP and TCP 03, code, number, block; on raw Ethernet the long form: FF,
// its 16-bit length n (the reply is n + 4 bytes), the code at byte 3, the
// block, checksum, FF.
constexpr std::uint8_t kLongForm = 0xFF;
constexpr std::size_t kLongFormCode = 3;

bool isLongForm(Command &cmd, std::span<const std::uint8_t> reply) {
    return traits(cmd).longReplyForm && !reply.empty() && reply[0] == kLongForm;
}

// The reply code of a block reply, in whichever form it came.
bool hasBlockCode(Command &cmd, std::span<const std::uint8_t> reply, std::uint8_t code) {
    const std::size_t at = isLongForm(cmd, reply) ? kLongFormCode : 1;
    return reply.size() > at && reply[at] == code;
}
std::size_t blockSize(Command &cmd) { return traits(cmd).blockSize; }
std::size_t valueArea(Command &cmd) { return blockSize(cmd) - kBlockValues; }

// Both block records start with the same 52-byte header.
template <typename Record>
std::vector<std::uint8_t> blockRequest(Command &cmd, std::uint8_t code, const Record &r, std::int32_t type) {
    const std::size_t size = blockSize(cmd);
    std::vector<std::uint8_t> f(size + 7, 0);
    f[0] = kRequestStart;
    // On the network L does not describe the block; the envelope carries the length.
    f[1] = inFrame(cmd) ? kSingleL : 5;
    f[2] = code;
    PutU16(&f[3], static_cast<std::uint16_t>(r.firstNumber));
    std::uint8_t *b = &f[5];
    PutU32(b, static_cast<std::uint32_t>(type));
    b[4] = static_cast<std::uint8_t>(r.headerA);
    b[5] = static_cast<std::uint8_t>(r.headerB);
    b[6] = static_cast<std::uint8_t>(r.headerC);
    PutU16(b + 8, static_cast<std::uint16_t>(r.headerD));
    PutU32(b + 12, static_cast<std::uint32_t>(r.headerE));
    PutU32(b + 16, static_cast<std::uint32_t>(r.headerF));
    PutU32(b + 20, static_cast<std::uint32_t>(r.countRequested));
    PutU32(b + 24, static_cast<std::uint32_t>(r.headerG));
    PutU32(b + 28, static_cast<std::uint32_t>(r.headerH));
    PutU32(b + 32, static_cast<std::uint32_t>(r.headerI));
    return f;
}

void sealBlockRequest(std::vector<std::uint8_t> &f) {
    const std::size_t n = f.size();
    f[n - 2] = PacketChecksum(f.data() + 2, n - 4);
    f[n - 1] = kFrameEnd;
}

std::uint8_t *blockValues(std::vector<std::uint8_t> &f) { return f.data() + 5 + kBlockValues; }

// A random read: the block header, then the entries that name the V-registers.
template <typename Record>
std::vector<std::uint8_t> randomRequest(Command &cmd, const Record &r, std::int32_t type, const void *entries) {
    auto request = blockRequest(cmd, kReadRandom, r, type);
    std::memcpy(blockValues(request), entries, static_cast<std::size_t>(r.countRequested) * kEntryBytes);
    sealBlockRequest(request);
    return request;
}

// A count that does not fit one block is refused before anything is copied
// or sent: error code 194, the text left as it was.
bool countFits(Command &cmd, std::int32_t count, std::uint32_t limit) {
    if (static_cast<std::uint32_t>(count) <= limit) return true;
    cmd.connection().setErrorCode(kCountOverLimit);
    return false;
}

// How many values of `each` bytes one block carries: 50 or 25 on a serial
// line, 346 or 173 elsewhere.
std::uint32_t valueLimit(Command &cmd, std::size_t each) {
    if (inFrame(cmd)) return each == 8 ? 25 : 50;
    return static_cast<std::uint32_t>(valueArea(cmd) / each);
}
// How many random entries one block carries: 17 on a serial line, 115 elsewhere.
std::uint32_t entryLimit(Command &cmd) { return static_cast<std::uint32_t>(valueArea(cmd) / kEntryBytes); }

// Reply bytes 0 .. end-1 are there: on a serial line within what L
// announces, in the long form within what its length announces, elsewhere
// within what arrived (the network reply's L is not its length).
bool replyHas(Command &cmd, std::size_t end) {
    if (inFrame(cmd)) return cmd.has(end);
    if (isLongForm(cmd, cmd.reply())) return cmd.hasLong(end);
    return cmd.arrived(end);
}

std::size_t numericSize(std::int32_t type) {
    switch (type) {
    case ZQ_VTYPE_INTEGER: case ZQ_VTYPE_WORD: case ZQ_VTYPE_FLOAT: return 4;
    case ZQ_VTYPE_DOUBLE: return 8;
    default: return 0;
    }
}

// Reply offsets of a block reply: the block from byte 4.
constexpr std::size_t kReplyType = kReplyBlock;
constexpr std::size_t kReplyCountReturned = kReplyBlock + 10;
constexpr std::size_t kReplyValues = kReplyBlock + kBlockValues;

// Checks that `count` values of `each` bytes fit the block and arrived whole,
// then copies them to `out`. Nothing is written unless all of them are there.
bool takeValues(Command &cmd, std::size_t count, std::size_t each, std::uint8_t *out) {
    const std::size_t bytes = count * each;
    if (bytes > valueArea(cmd)) {
        cmd.connection().setError(err::kPacket, err::kIllegalSize);
        return false;
    }
    if (!replyHas(cmd, kReplyValues + bytes)) return false;
    std::memcpy(out, cmd.reply().data() + kReplyValues, bytes);
    return true;
}

enum class BlockRead { Any, Integer, Float, Double };

std::size_t readSize(BlockRead form, std::int32_t type) {
    switch (form) {
    case BlockRead::Any: return numericSize(type);
    case BlockRead::Integer: return type == ZQ_VTYPE_INTEGER || type == ZQ_VTYPE_WORD ? 4 : 0;
    case BlockRead::Float: return type == ZQ_VTYPE_FLOAT ? 4 : 0;
    case BlockRead::Double: return type == ZQ_VTYPE_DOUBLE ? 8 : 0;
    }
    return 0;
}

std::int32_t getBlock(std::int32_t id, ZQ_VREGISTER_BLOCK *block, BlockRead form) {
    if (!block || !Fits(block->firstNumber, 16)) return 0;
    Command cmd(id);
    if (!cmd.ok()) return 0;
    const std::size_t asked = form == BlockRead::Double || (form == BlockRead::Any && block->type == ZQ_VTYPE_DOUBLE)
                                  ? 8
                                  : 4;
    if (!countFits(cmd, block->countRequested, valueLimit(cmd, asked))) return 0;
    auto request = blockRequest(cmd, kReadBlock, *block, block->type);
    sealBlockRequest(request);
    std::int32_t result = 0;
    const auto isBlock = [&](std::span<const std::uint8_t> r) { return hasBlockCode(cmd, r, kReadBlockReply); };
    if (!cmd.runWith(request, isBlock, result)) return result;

    if (!replyHas(cmd, kReplyValues)) return 0;
    const std::int32_t type = cmd.s32(kReplyType);
    const std::uint16_t returned = cmd.u16(kReplyCountReturned);
    const std::size_t each = readSize(form, type);
    if (each == 0) {
        block->type = type;
        block->countReturned = returned;
        return 0;
    }
    std::uint8_t values[ZQ_VREGISTER_VALUE_BYTES];
    if (!takeValues(cmd, returned, each, values)) return 0;
    block->type = type;
    block->countReturned = returned;
    std::memcpy(block->values.bytes, values, returned * each);
    return 1;
}

// The typed writes send their own type in place of the record's; 0 keeps it.
std::int32_t setBlock(std::int32_t id, const ZQ_VREGISTER_BLOCK *block, std::int32_t forcedType) {
    if (!block || !Fits(block->firstNumber, 16)) return 0;
    Command cmd(id);
    if (!cmd.ok()) return 0;
    const std::int32_t type = forcedType != 0 ? forcedType : block->type;
    const std::size_t each = type == ZQ_VTYPE_DOUBLE ? 8 : 4;
    if (!countFits(cmd, block->countRequested, valueLimit(cmd, each))) return 0;
    auto request = blockRequest(cmd, kWriteBlock, *block, type);
    std::memcpy(blockValues(request), block->values.bytes, static_cast<std::size_t>(block->countRequested) * each);
    sealBlockRequest(request);
    std::int32_t result = 0;
    if (!cmd.run(request, ExpectCode(kReplyAck), result)) return result;
    return 1;
}

}  // namespace

extern "C" {

ZQ_API std::int32_t ZQ_CALL ZqGetVProperties(std::int32_t id, std::int32_t number, std::int32_t *property1,
                                             std::int32_t *property2, std::int32_t *property3) {
    return Guarded([&] {
        const auto request = BuildRequest(0x5B, Args().number(number, 2));
        return RunRead(id, request, Expect(0x5C, 10), [&](Command &cmd) -> std::int32_t {
            if (!cmd.has(9)) return 0;
            if (property1) *property1 = cmd.u16(4);
            if (property2) *property2 = cmd.u16(6);
            if (property3) *property3 = cmd.u8(8);
            return 1;
        });
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetVRegister(std::int32_t id, ZQ_VREGISTER *record) {
    return Guarded([&]() -> std::int32_t {
        if (!record) return 0;
        return RunRead(id, readOneRequest(*record), Expect(kReadOneReply, kSingleL),
                       [&](Command &cmd) { return decodeOne(cmd, *record, false); });
    });
}

ZQ_API std::int32_t ZQ_CALL ZqSetVRegister(std::int32_t id, const ZQ_VREGISTER *record) {
    return Guarded([&]() -> std::int32_t {
        if (!record || !numbersFit(record, 1)) return 0;
        Command cmd(id);
        if (!cmd.ok()) return 0;
        const auto request = writeOneRequest(*record);
        if (request.empty()) return 0;
        return cmd.write(request);
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetVRegisters(std::int32_t id, std::int32_t count, std::int32_t *done,
                                            ZQ_VREGISTER *records) {
    return Guarded([&]() -> std::int32_t {
        if (count > 0 && !records) return 0;
        if (!numbersFit(records, count)) return 0;
        Command cmd(id);
        if (!cmd.ok()) return 0;
        for (std::int32_t i = 0; i < count; ++i) {
            ZQ_VREGISTER &r = records[i];
            std::int32_t result = 0;
            if (!cmd.run(readOneRequest(r), Expect(kReadOneReply, kSingleL), result)) return result;
            if (!decodeOne(cmd, r, true)) return 0;
            if (done) *done = i + 1;
        }
        return 1;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqSetVRegisters(std::int32_t id, std::int32_t count, std::int32_t *done,
                                            const ZQ_VREGISTER *records) {
    return Guarded([&]() -> std::int32_t {
        if (count > 0 && !records) return 0;
        if (!numbersFit(records, count)) return 0;
        Command cmd(id);
        if (!cmd.ok()) return 0;
        for (std::int32_t i = 0; i < count; ++i) {
            const auto request = writeOneRequest(records[i]);
            if (request.empty()) return 0;
            std::int32_t result = 0;
            if (!cmd.run(request, kExpectAck, result)) return result;
            if (done) *done = i + 1;
        }
        return 1;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetVRegisterBlock(std::int32_t id, ZQ_VREGISTER_BLOCK *block) {
    return Guarded([&] { return getBlock(id, block, BlockRead::Any); });
}
ZQ_API std::int32_t ZQ_CALL ZqGetVRegisterBlockInteger(std::int32_t id, ZQ_VREGISTER_BLOCK *block) {
    return Guarded([&] { return getBlock(id, block, BlockRead::Integer); });
}
ZQ_API std::int32_t ZQ_CALL ZqGetVRegisterBlockFloat(std::int32_t id, ZQ_VREGISTER_BLOCK *block) {
    return Guarded([&] { return getBlock(id, block, BlockRead::Float); });
}
ZQ_API std::int32_t ZQ_CALL ZqGetVRegisterBlockDouble(std::int32_t id, ZQ_VREGISTER_BLOCK *block) {
    return Guarded([&] { return getBlock(id, block, BlockRead::Double); });
}

ZQ_API std::int32_t ZQ_CALL ZqSetVRegisterBlock(std::int32_t id, const ZQ_VREGISTER_BLOCK *block) {
    return Guarded([&] { return setBlock(id, block, 0); });
}
ZQ_API std::int32_t ZQ_CALL ZqSetVRegisterBlockInteger(std::int32_t id, const ZQ_VREGISTER_BLOCK *block) {
    return Guarded([&] { return setBlock(id, block, ZQ_VTYPE_INTEGER); });
}
ZQ_API std::int32_t ZQ_CALL ZqSetVRegisterBlockFloat(std::int32_t id, const ZQ_VREGISTER_BLOCK *block) {
    return Guarded([&] { return setBlock(id, block, ZQ_VTYPE_FLOAT); });
}
ZQ_API std::int32_t ZQ_CALL ZqSetVRegisterBlockDouble(std::int32_t id, const ZQ_VREGISTER_BLOCK *block) {
    return Guarded([&] { return setBlock(id, block, ZQ_VTYPE_DOUBLE); });
}

ZQ_API std::int32_t ZQ_CALL_CALLER_CLEANS ZqGetVRegisterRandomBlock(std::int32_t id, ZQ_VREGISTER_BLOCK *block) {
    return Guarded([&]() -> std::int32_t {
        if (!block || !Fits(block->firstNumber, 16)) return 0;
        Command cmd(id);
        if (!cmd.ok()) return 0;
        // Only the entries that fit one request may be asked for: the
        // controller would never see the others.
        if (!countFits(cmd, block->countRequested, entryLimit(cmd))) return 0;
        const auto request = randomRequest(cmd, *block, block->type, block->values.bytes);
        std::int32_t result = 0;
        const auto isBlock = [&](std::span<const std::uint8_t> r) { return hasBlockCode(cmd, r, kReadRandomReply); };
        if (!cmd.runWith(request, isBlock, result)) return result;

        if (!replyHas(cmd, kReplyValues)) return 0;
        const std::int32_t type = cmd.s32(kReplyType);
        const std::uint16_t returned = cmd.u16(kReplyCountReturned);
        const std::size_t each = type == ZQ_VTYPE_DOUBLE ? 8 : 4;
        std::uint8_t values[ZQ_VREGISTER_VALUE_BYTES];
        if (!takeValues(cmd, returned, each, values)) return 0;
        block->type = type;
        block->countReturned = returned;
        std::memcpy(block->values.bytes, values, returned * each);
        return 1;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetVRegisterRandomBlockDouble(std::int32_t id, ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE *block) {
    return Guarded([&]() -> std::int32_t {
        if (!block || !Fits(block->firstNumber, 16)) return 0;
        Command cmd(id);
        if (!cmd.ok()) return 0;
        if (!countFits(cmd, block->countRequested, entryLimit(cmd))) return 0;
        const auto request = randomRequest(cmd, *block, ZQ_VTYPE_DOUBLE, block->entries);
        std::int32_t result = 0;
        // Any reply other than the random block fails without touching the error.
        const auto accepts = [](std::span<const std::uint8_t>) { return true; };
        if (!cmd.runWith(request, accepts, result)) return result;
        if (!hasBlockCode(cmd, cmd.reply(), kReadRandomReply)) return 0;

        if (!replyHas(cmd, kReplyValues)) return 0;
        const std::int32_t type = cmd.s32(kReplyType);
        const std::uint16_t returned = cmd.u16(kReplyCountReturned);
        const auto asked = static_cast<std::size_t>(block->countRequested);
        std::uint8_t values[ZQ_VREGISTER_VALUE_BYTES];
        if (!takeValues(cmd, asked, 8, values)) return 0;
        block->type = type;
        block->countReturned = returned;
        std::memcpy(block->values, values, asked * 8);
        return 1;
    });
}

}  // extern "C"
