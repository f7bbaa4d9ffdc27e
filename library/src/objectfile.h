// The program object file: a 2-byte architecture magic, a status byte, then
// records of a 4-byte header (length n, type, 16-bit address, low byte
// first) and n data bytes, until the end of the file. All numbers are
// little-endian; there is no padding.
//
// ReadObjectRecord / WriteObjectRecord read and write one item; the Counted
// variants also keep the transfer statistics of the download, the upload and
// the uncompiler.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "orvcomm.h"
#include "platform/file.h"

namespace orv {

// ---- Record types and magics --------------------------------------------

enum ObjectRecordType : std::uint8_t {
    kRecordSteplen = 0,  // step length table, one byte per step
    kRecordProgram = 1,  // the code of one non-empty step
    kRecordDatatab = 2,  // one data-table row, cells high byte first
    kRecordDatasiz = 3,  // rows (uint16), columns (uint16)
    kRecordOptions = 4,  // 4 option bytes (EA object files only)
    kRecordCheksum = 5,  // the controller's program checksum
    kRecordSysconf = 6,  // start-up options
    kRecordMagic = 7,    // the architecture magic at offset 0 (no header)
    kRecordStatus = 8,   // the status byte at offset 2 (no header)
};
// Expected type of ReadObjectRecordCounted that accepts any record.
inline constexpr std::uint8_t kAnyRecordType = 0xFF;

inline constexpr std::uint16_t kMagicNonEa = 0xBEEF;    // non-EA object file
inline constexpr std::uint16_t kMagicEa = 0xFEED;       // EA, 16-bit addressed
inline constexpr std::uint16_t kMagicEaWide = 0xFEEC;   // EA, 32-bit program addresses
inline constexpr std::uint16_t kMagicEaWide2 = 0xFEEB;  // EA, 32-bit program addresses

// Base address of each record type 0 to 6 in a non-EA controller's memory
// window (4 KB memory; 8 KB for model code 4). The file carries only the
// type's number; the names are the format's own.
struct ObjectRecordTypeRow {
    std::uint16_t base4k;
    std::uint16_t base8k;
};
inline constexpr std::array<ObjectRecordTypeRow, 7> ObjectRecordTypeTable{{
    {0x0000, 0x0000},  // steplen
    {0x0100, 0x0100},  // program
    {0x0FF7, 0x1FF7},  // datatab
    {0x0FFA, 0x1FFA},  // datasiz
    {0x0000, 0x0000},  // options
    {0x0FFE, 0x1FFE},  // cheksum
    {0x0FFF, 0x1FFF},  // sysconf
}};

// Most data bytes one record carries.
inline constexpr std::size_t kObjectRecordMaxData = 255;

// ---- Reader status ----------------------------------------------------------

inline constexpr int kObjectRecordOk = 1;
inline constexpr int kObjectShortRead = 24;    // a read returned fewer bytes than asked
inline constexpr int kObjectEndOfFile = 180;   // no byte at the start of an item, or a 0 length byte
inline constexpr int kObjectFileFailed = 181;  // position unobtainable, or a failed read, write or move

// ---- Records ------------------------------------------------------------------

// A length-prefixed byte buffer: `length` bytes in use at the front of
// `bytes`, whose size is the buffer's capacity (at most 32767). Nothing is
// ever written past the capacity.
struct ZQ_MEMORY_BUFFER {
    std::int16_t length = 0;
    std::vector<std::uint8_t> bytes;

    explicit ZQ_MEMORY_BUFFER(std::size_t capacity = kObjectRecordMaxData);

    std::size_t capacity() const { return bytes.size(); }
    std::size_t size() const { return static_cast<std::size_t>(length); }
    std::size_t room() const { return capacity() - size(); }
    std::uint8_t *data() { return bytes.data(); }
    const std::uint8_t *data() const { return bytes.data(); }
    std::span<const std::uint8_t> view() const { return {bytes.data(), size()}; }
    std::span<std::uint8_t> view() { return {bytes.data(), size()}; }
    void clear() { length = 0; }
    // Appends all of `more`, or nothing (false) when it does not fit.
    bool append(std::span<const std::uint8_t> more);
    // Replaces the contents, or leaves them (false) when `what` does not fit.
    bool assign(std::span<const std::uint8_t> what);
};

// One parsed item of an object file.
struct ZQ_OBJECT_RECORD {
    std::uint8_t type = 0;            // 0 to 6; 7 the magic, 8 the status byte
    std::int32_t address = 0;         // the file's 16-bit address (0 for 7 and 8)
    ZQ_MEMORY_BUFFER *data = nullptr; // the data bytes
};

// ---- The file ---------------------------------------------------------------

// An object file open for reading or for writing. Input files are opened only
// if they exist; output files are created only if they do not exist yet, so
// an existing file is never overwritten. The reader's parsed record and its
// buffer belong to the file: a record read from it stays valid until the next
// read from the same file (the downloader may edit it in place).
class ObjectFile {
public:
    // On failure nullptr, with the operating system's error number in `error`.
    static std::unique_ptr<ObjectFile> OpenExisting(const char *path, int &error);
    static std::unique_ptr<ObjectFile> CreateNew(const char *path, int &error);

    ~ObjectFile();
    ObjectFile(const ObjectFile &) = delete;
    ObjectFile &operator=(const ObjectFile &) = delete;

    // Closes the file; false when the system reports a failure (a write that
    // did not reach the disk). Closing twice is harmless.
    bool close();
    bool isOpen() const { return file_.isOpen(); }

    bool position(std::int64_t &at) const;
    bool seek(std::int64_t at);
    // Reads up to `n` bytes, stopping early only at the end of the file.
    // Returns the number read, or -1 on a failed read.
    long read(std::uint8_t *into, std::size_t n);
    // Writes all `n` bytes; false on any failure.
    bool write(const std::uint8_t *from, std::size_t n);

private:
    ObjectFile() = default;
    platform::File file_;

    friend ZQ_OBJECT_RECORD *ReadObjectRecord(ObjectFile &file, int &status);
    ZQ_MEMORY_BUFFER readBuffer_{kObjectRecordMaxData};
    ZQ_OBJECT_RECORD readRecord_{};
};

// ---- Reading and writing one item ---------------------------------------------

// Reads the next item at the file's position: the magic at offset 0, the
// status byte at offset 2, a record anywhere else. Status: kObjectRecordOk
// with the record; otherwise nullptr and kObjectEndOfFile, kObjectShortRead or
// kObjectFileFailed.
ZQ_OBJECT_RECORD *ReadObjectRecord(ObjectFile &file, int &status);

// Writes one item: the magic at the current position; the status byte at
// offset 2 (the position is kept unless it was 2); any other type as a
// header and its data. Returns &record, or nullptr with kObjectFileFailed when
// a write or move failed or the record cannot be stored (a status record
// without its byte, more than 255 data bytes). A record of types 0 to 6 with
// no data writes nothing and succeeds: a 0 length byte would end the file
// for every reader.
const ZQ_OBJECT_RECORD *WriteObjectRecord(ObjectFile &file, const ZQ_OBJECT_RECORD &record, int &status);

// ReadObjectRecord with the statistics: with expectedType kAnyRecordType a
// record adds 4 (its header) to `bytes`, otherwise a record of another type
// adds 1 to `errors`; either way its data length is added to `bytes`. A
// failed read counts nothing. `stats` may be null.
ZQ_OBJECT_RECORD *ReadObjectRecordCounted(ObjectFile &file, std::uint8_t expectedType, int &status,
                                          ZQ_TRANSFER_STATS *stats);

// Builds a record and writes it, counting 4 bytes for each header and the
// data length in `bytes`, and 1 in `errors` when the write fails. Data
// longer than 255 bytes goes out as several records at consecutive
// addresses. True when everything was written. `stats` may be null.
bool WriteObjectRecordCounted(ObjectFile &file, std::uint8_t type, std::int32_t address,
                              std::span<const std::uint8_t> data, ZQ_TRANSFER_STATS *stats);

// ---- Program offsets ------------------------------------------------------------

// The full program offset of "program" records read in file order: the file
// keeps only the low 16 bits, so an address lower than the previous program
// record's starts the next 64 KB.
class ProgramOffsetWrap {
public:
    std::uint32_t full(std::uint16_t address) {
        if (seen_ && address < previous_) high_ += 0x10000;
        seen_ = true;
        previous_ = address;
        return high_ + address;
    }

private:
    bool seen_ = false;
    std::uint16_t previous_ = 0;
    std::uint32_t high_ = 0;
};

// The uncompiler sets this for object files whose flag numbers are wide
// (0xFEEB files, and 0xFEEC files unless the model code is 15); the step
// printers read it. It stays set after the call.
extern std::atomic<bool> WideFlagFormat;

}  // namespace orv
