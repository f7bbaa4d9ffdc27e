// The controller memory requests of a program transfer: the bracket of a
// program load, the block writes and the block reads. None is exported;
// each looks the connection up, exchanges its frames with packet class 20
// and returns 1 or 0 with the connection's error set.
//
// EA controllers name a segment (the object record type) and an offset in
// it; the others have one memory window from 0x9800 in which each record
// type has its base (ObjectRecordBase).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "connection.h"
#include "objectfile.h"

namespace orv {

inline constexpr std::uint16_t kLegacyWindow = 0x9800;
// Most data bytes a block write carries, and a block read asks for.
inline constexpr std::size_t kMemoryPiece = 16;

// The data table of a program transfer: the upload writes it row by row,
// each row at 2 x columns x its index and in records of at most 255 bytes,
// and the download writes each record in pieces of kMemoryPiece bytes. Both
// the record addresses of the object file and the addresses of the pieces
// are 16 bits: a table whose last piece would start beyond 0xFFFF wraps
// over its own first rows. The most rows of `columns` columns that a
// transfer carries (0 for more than 255 columns, any number for none).
std::uint32_t MostTransferTableRows(std::uint32_t columns);
bool TableFitsTransfer(std::uint32_t rows, std::uint32_t columns);
// Why a table does not fit: its size and the limit, as an error text.
std::string TableTooLargeText(std::uint32_t rows, std::uint32_t columns);

// Memory size of a non-EA controller: 8 KB on model 4, else 4 KB.
constexpr std::uint32_t LegacyMemorySize(std::int32_t model) { return model == 4 ? 8192 : 4096; }
// The base of a record type (0 to 6) within a non-EA controller's window.
std::uint32_t ObjectRecordBase(std::uint8_t type, std::int32_t model);

// The controller's model code and EA flag, through ZqGetModel. A model
// read that the controller only acknowledged yields no code: it fails with
// "Incomplete packet" rather than let a transfer guess the architecture.
bool ReadControllerModel(std::int32_t id, std::int32_t &model, bool &ea);

// The C boundary of a transfer export: `transfer` fills the caller's
// statistics, or a record of our own when the caller passed none.
template <typename Transfer> std::int32_t GuardedTransfer(ZQ_TRANSFER_STATS *stats, Transfer transfer) noexcept {
    return Guarded([&] {
        ZQ_TRANSFER_STATS own{};
        return transfer(stats ? *stats : own);
    });
}

std::int32_t BeginProgramLoad(std::int32_t id);
std::int32_t EndProgramLoad(std::int32_t id);

std::int32_t WriteSegmentBlock(std::int32_t id, std::uint8_t segment, std::uint16_t address,
                               std::span<const std::uint8_t> bytes);
std::int32_t WriteMemoryBlock(std::int32_t id, std::uint16_t address, std::span<const std::uint8_t> bytes);
// wide: request 0x59, with a 32-bit address for segment 1 and a 16-bit one
// for the others; otherwise exactly WriteSegmentBlock.
std::int32_t WriteSegmentBlock32(std::int32_t id, std::uint8_t segment, std::uint32_t address,
                                 std::span<const std::uint8_t> bytes, bool wide);

// The reads empty `buffer` and gather `count` bytes into it in requests of
// at most 16. A failure keeps the bytes gathered before it. A request that
// the controller answers with a bare acknowledgement ends the read with 1
// and fewer bytes than asked for: callers compare the length. A buffer
// without room for `count` bytes is refused before anything is sent.
std::int32_t ReadSegmentBlock(std::int32_t id, std::uint8_t segment, std::uint16_t address, std::size_t count,
                              ZQ_MEMORY_BUFFER &buffer);
std::int32_t ReadSegmentBlock32(std::int32_t id, std::uint8_t segment, std::uint32_t address, std::size_t count,
                                ZQ_MEMORY_BUFFER &buffer);
// A non-EA controller's memory: `offset` within the area of record type
// `type` (0 to 6) of the window of `model`.
std::int32_t ReadLegacyMemory(std::int32_t id, std::uint8_t type, std::uint16_t offset, std::size_t count,
                              std::int32_t model, ZQ_MEMORY_BUFFER &buffer);

}  // namespace orv
