#include "memory_transfer.h"

#include <algorithm>
#include <cstdio>

#include "command.h"
#include "orvcomm.h"

namespace orv {

namespace {

constexpr std::uint8_t kBeginLoad = 0x01;
constexpr std::uint8_t kEndLoad = 0x02;
constexpr std::uint8_t kWriteWindow = 0x00;
constexpr std::uint8_t kWriteSegment = 0x29;
constexpr std::uint8_t kWriteSegmentWide = 0x59;
constexpr std::uint8_t kReadWindow = 0x03;
constexpr std::uint8_t kReadWindowReply = 0x04;
constexpr std::uint8_t kReadSegment = 0x2B;
constexpr std::uint8_t kReadSegmentReply = 0x2C;
constexpr std::uint8_t kReadSegmentWide = 0x63;
constexpr std::uint8_t kReadSegmentWideReply = 0x64;

constexpr std::uint8_t kProgramSegment = 1;

// The bracket requests: the reply is not looked at, only whether one came.
std::int32_t SendBracket(std::int32_t id, std::uint8_t code) {
    Command cmd(id);
    std::int32_t result = 0;
    if (!cmd.runWith(BuildRequest(code), [](std::span<const std::uint8_t>) { return true; }, result)) return result;
    return 1;
}

// The loop shared by the reads: `request(got, k)` builds the request for k
// more bytes after the `got` already in; each reply of code `replyCode`
// carries its bytes from reply byte 2 up to its checksum.
template <typename BuildFor>
std::int32_t GatherBytes(std::int32_t id, std::size_t count, std::uint8_t replyCode, ZQ_MEMORY_BUFFER &buffer,
                         BuildFor request) {
    buffer.clear();
    if (count > buffer.capacity()) return 0;
    Command cmd(id);
    if (!cmd.ok()) return 0;
    while (buffer.size() < count) {
        const std::size_t k = std::min(kMemoryPiece, count - buffer.size());
        std::int32_t result = 0;
        if (!cmd.run(request(buffer.size(), k), ExpectCode(replyCode), result)) return result;
        const std::size_t length = cmd.u8(0);
        // A reply without data would have us ask for the same bytes forever.
        if (length <= 3) {
            cmd.connection().setError(err::kPacket, err::kIncomplete);
            return 0;
        }
        if (!cmd.has(length - 1)) return 0;
        // Bytes beyond those asked for are not ours to keep.
        const std::size_t take = std::min(length - 3, count - buffer.size());
        buffer.append(cmd.reply().subspan(2, take));
    }
    return 1;
}

}  // namespace

namespace {
constexpr std::uint32_t kMostColumns = 255;
constexpr std::uint32_t kMostAddress = 0xFFFF;
constexpr std::uint32_t kMostRows = 0xFFFF;
}  // namespace

std::uint32_t MostTransferTableRows(std::uint32_t columns) {
    if (columns == 0) return kMostRows;
    if (columns > kMostColumns) return 0;
    const std::uint32_t rowBytes = 2 * columns;
    // Where the last piece of a row starts, from the row's start: in its
    // last record, at the last multiple of the piece size.
    const std::uint32_t lastRecord = (rowBytes - 1) / kObjectRecordMaxData * kObjectRecordMaxData;
    const std::uint32_t lastPiece = lastRecord + (rowBytes - lastRecord - 1) / kMemoryPiece * kMemoryPiece;
    return std::min(kMostRows, (kMostAddress - lastPiece) / rowBytes + 1);
}

bool TableFitsTransfer(std::uint32_t rows, std::uint32_t columns) {
    return columns <= kMostColumns && rows <= MostTransferTableRows(columns);
}

std::string TableTooLargeText(std::uint32_t rows, std::uint32_t columns) {
    char text[256];
    const unsigned long bytes = 2ul * rows * columns;
    if (columns > kMostColumns)
        std::snprintf(text, sizeof text,
                      "Data table of %u rows x %u columns (%lu bytes) too large to transfer: a row holds at most %u "
                      "columns",
                      rows, columns, bytes, kMostColumns);
    else
        std::snprintf(text, sizeof text,
                      "Data table of %u rows x %u columns (%lu bytes) too large to transfer: at most %u rows of %u "
                      "columns fit the 16-bit addresses of the object file and the controller's memory",
                      rows, columns, bytes, MostTransferTableRows(columns), columns);
    return text;
}

std::uint32_t ObjectRecordBase(std::uint8_t type, std::int32_t model) {
    if (type >= ObjectRecordTypeTable.size()) return 0;
    const ObjectRecordTypeRow &row = ObjectRecordTypeTable[type];
    return LegacyMemorySize(model) == 8192 ? row.base8k : row.base4k;
}

bool ReadControllerModel(std::int32_t id, std::int32_t &model, bool &ea) {
    std::int32_t flag = -1;
    model = -1;
    if (ZqGetModel(id, &model, &flag) != 1) return false;
    if (flag < 0) {
        if (const ConnectionRef c = FindConnection(id)) c->setError(err::kPacket, err::kIncomplete);
        return false;
    }
    ea = flag != 0;
    return true;
}

std::int32_t BeginProgramLoad(std::int32_t id) { return SendBracket(id, kBeginLoad); }
std::int32_t EndProgramLoad(std::int32_t id) { return SendBracket(id, kEndLoad); }

std::int32_t WriteSegmentBlock(std::int32_t id, std::uint8_t segment, std::uint16_t address,
                               std::span<const std::uint8_t> bytes) {
    return RunWrite(id, BuildRequest(kWriteSegment, Args().u8(segment).u16(address).raw(bytes)));
}

std::int32_t WriteMemoryBlock(std::int32_t id, std::uint16_t address, std::span<const std::uint8_t> bytes) {
    return RunWrite(id, BuildRequest(kWriteWindow, Args().u16(address).raw(bytes)));
}

std::int32_t WriteSegmentBlock32(std::int32_t id, std::uint8_t segment, std::uint32_t address,
                                 std::span<const std::uint8_t> bytes, bool wide) {
    if (!wide) return WriteSegmentBlock(id, segment, static_cast<std::uint16_t>(address), bytes);
    Args args;
    args.u8(segment);
    if (segment == kProgramSegment) args.u32(address);
    else args.u16(static_cast<std::uint16_t>(address));
    return RunWrite(id, BuildRequest(kWriteSegmentWide, args.raw(bytes)));
}

std::int32_t ReadSegmentBlock(std::int32_t id, std::uint8_t segment, std::uint16_t address, std::size_t count,
                              ZQ_MEMORY_BUFFER &buffer) {
    return GatherBytes(id, count, kReadSegmentReply, buffer, [&](std::size_t got, std::size_t k) {
        return BuildRequest(kReadSegment, Args()
                                              .u8(segment)
                                              .u16(static_cast<std::uint16_t>(address + got))
                                              .u8(static_cast<std::uint8_t>(k)));
    });
}

std::int32_t ReadSegmentBlock32(std::int32_t id, std::uint8_t segment, std::uint32_t address, std::size_t count,
                                ZQ_MEMORY_BUFFER &buffer) {
    return GatherBytes(id, count, kReadSegmentWideReply, buffer, [&](std::size_t got, std::size_t k) {
        return BuildRequest(kReadSegmentWide, Args()
                                                  .u8(segment)
                                                  .u32(static_cast<std::uint32_t>(address + got))
                                                  .u8(static_cast<std::uint8_t>(k)));
    });
}

std::int32_t ReadLegacyMemory(std::int32_t id, std::uint8_t type, std::uint16_t offset, std::size_t count,
                              std::int32_t model, ZQ_MEMORY_BUFFER &buffer) {
    const std::uint32_t start = kLegacyWindow + ObjectRecordBase(type, model) + offset;
    return GatherBytes(id, count, kReadWindowReply, buffer, [&](std::size_t got, std::size_t) {
        return BuildRequest(kReadWindow, Args().u16(static_cast<std::uint16_t>(start + got)));
    });
}

}  // namespace orv
