// The program object file: a 2-byte architecture magic, a status byte, then
// records of a 4-byte header (length n, type, 16-bit address, low byte
// first) and n data bytes, until the end of the file. All numbers are
// little-endian; there is no padding.
//
// ReadObjectRecord / WriteObjectRecord read and write one item; the Counted
// variants also keep the transfer statistics of the download, the upload and
// the uncompiler. ObjectFileReader walks a whole file for the download, its
// check and the uncompiler alike.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
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
    // The size on the disk; 0 for what is not a plain file.
    bool size(std::int64_t &bytes) const;
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

// ---- Walking a whole file ----------------------------------------------------------

// The largest object file that any controller's program makes: the most
// steps (16384) of the longest code (255 bytes each), their step length
// table, a data table as far as a record at a 16-bit address reaches
// (0xFFFF and 255 bytes) and the four one-record items, with every data
// byte in a record of its own (5 file bytes each) after the 3-byte header;
// and a bare "datatab" header for each of 65535 rows of a table without
// columns (what readers take for the end of the file). About 21.6 MB.
inline constexpr std::int64_t kLargestProgramFile =
    3 + 5 * (std::int64_t{16384} * 255 + 16384 + 0xFFFF + 255 + 4 + 4 + 1 + 1) + 4 * 0xFFFF;
// A file longer than this is refused before its records are read.
inline constexpr std::int64_t kMostObjectFileBytes = std::int64_t{32} << 20;
static_assert(kMostObjectFileBytes >= kLargestProgramFile, "no program of any controller is refused");
// The counts of a walk stay far inside their signed 32 bits.
static_assert(kMostObjectFileBytes + 4 + kObjectRecordMaxData < INT32_MAX, "transfer counts cannot wrap");

// Why reading an object file stopped short: an error code and its text.
struct ObjectFileFault {
    std::uint16_t code = 0;
    std::string text;
    explicit operator bool() const { return code != 0; }
};

// An object file read from its magic to its end, one record at a time, in
// the memory of one record: the reading that the download check, the
// download and the uncompiler share, so that each gives a file the same
// verdict. Every step yields its item or stops with fault() set:
//   - 187 "Object file not found": the file cannot be opened;
//   - 184 "Bad object file: it is N bytes, ...": larger than any
//     controller's program, refused before anything of it is read;
//   - 184 "Bad object file": no magic; 184 "Not an object file": a magic
//     of no object file; 183 "Bad object record": no status byte;
//   - 184 "Bad object file: it ends at byte N, inside record R (L bytes
//     from byte B)": the file breaks off inside a record (records counted
//     from 1 after the header, bytes from 0), or another reason it cannot
//     be read on.
// A 0 length byte ends the file as its end does. The items read are counted
// in the statistics given, if any.
class ObjectFileReader {
public:
    bool open(const char *path, ZQ_TRANSFER_STATS *stats);
    bool readMagic(std::uint16_t &magic);
    bool readStatus(std::uint8_t &status);
    // The next record (valid until the next call; it may be edited in
    // place), or nullptr at the end of the file or with the fault.
    ZQ_OBJECT_RECORD *next();
    // Stops the walk at the latest record, which its reader cannot take:
    // 184 "Bad object file: record R (at byte B) " and `what`.
    bool refuseRecord(const std::string &what);
    // Back to the first record, for a second walk that counts in `stats`.
    bool rewind(ZQ_TRANSFER_STATS *stats);

    const ObjectFileFault &fault() const { return fault_; }
    // Where the latest record starts, and its number from 1.
    std::int64_t recordStart() const { return start_; }
    int recordNumber() const { return number_; }

private:
    bool fail(std::uint16_t code, std::string text);
    std::string cutShort() const;

    std::unique_ptr<ObjectFile> file_;
    ZQ_TRANSFER_STATS *stats_ = nullptr;
    ObjectFileFault fault_;
    std::int64_t start_ = 0;
    int number_ = 0;
};

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
