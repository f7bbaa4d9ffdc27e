// Program download: the records of an object file written into a
// controller's memory inside one program load.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "memory_transfer.h"
#include "objectfile.h"
#include "orvcomm.h"

namespace orv {
namespace {

constexpr std::uint8_t kStartOnInput1 = 0x01;

// The text commands sent when the controller refuses the end of the load:
// a hyphen (when the program starts on input 1) and an asterisk, each ended
// by a carriage return.
constexpr std::uint8_t kTextTerminator = 13;
constexpr std::uint8_t kTextStartOnInput[] = {'-', kTextTerminator};
constexpr std::uint8_t kTextEndLoad[] = {'*', kTextTerminator};

enum class FileKind { NonEa, Ea, EaWide, Unknown };

FileKind KindOfMagic(std::uint16_t magic) {
    switch (magic) {
    case kMagicNonEa: return FileKind::NonEa;
    case kMagicEa: return FileKind::Ea;
    case kMagicEaWide:
    case kMagicEaWide2: return FileKind::EaWide;
    default: return FileKind::Unknown;
    }
}

// A text made from a printf format. (The words stay whole in the library's
// data, as the other texts do, instead of pieces that building the text
// out of parts leaves there.)
__attribute__((format(printf, 1, 2))) std::string Text(const char *format, ...) {
    char text[128];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    return text;
}

// The records of an object file after its status byte, read whole before
// anything of them is sent.
class LoadedRecords {
public:
    struct Record {
        std::uint8_t type;
        std::uint16_t address;
        std::size_t at;  // of its data in bytes_
        std::size_t size;
    };

    // Reads every record to the end of the file, counting them in `stats`.
    // False, with `problem` saying what and where, for a file that cannot
    // be read whole: one that ends inside a record, or holds a record of no
    // known type. (A file cut exactly between two records cannot be told
    // from a shorter one: the format has no end mark.)
    bool load(ObjectFile &file, ZQ_TRANSFER_STATS &stats, std::string &problem) {
        for (int number = 1;; ++number) {
            std::int64_t start = 0;
            if (!file.position(start)) {
                problem = Text("it cannot be read at record %d", number);
                return false;
            }
            int status = 0;
            const ZQ_OBJECT_RECORD *record = ReadObjectRecordCounted(file, kAnyRecordType, status, &stats);
            if (!record) {
                if (status == kObjectEndOfFile) return true;
                problem = status == kObjectShortRead
                              ? cutShort(file, number, start)
                              : Text("it cannot be read at record %d (byte %lld)", number, static_cast<long long>(start));
                return false;
            }
            // Only the seven record types name a memory area.
            if (record->type > kRecordSysconf) {
                problem = Text("record %d (at byte %lld) has the unknown type %u", number,
                               static_cast<long long>(start), static_cast<unsigned>(record->type));
                return false;
            }
            const auto data = record->data->view();
            records_.push_back({record->type, static_cast<std::uint16_t>(record->address), bytes_.size(), data.size()});
            bytes_.insert(bytes_.end(), data.begin(), data.end());
        }
    }

    const std::vector<Record> &records() const { return records_; }
    std::span<std::uint8_t> data(const Record &r) { return {bytes_.data() + r.at, r.size}; }

private:
    // The file ends inside record `number`, which starts at `start`.
    static std::string cutShort(ObjectFile &file, int number, std::int64_t start) {
        std::int64_t end = start;
        file.position(end);
        std::string text = Text("it ends at byte %lld, inside record %d", static_cast<long long>(end), number);
        std::uint8_t length = 0;
        if (file.seek(start) && file.read(&length, 1) == 1)
            text += Text(" (%d bytes from byte %lld)", 4 + length, static_cast<long long>(start));
        return text;
    }

    std::vector<Record> records_;
    std::vector<std::uint8_t> bytes_;
};

// How one download writes its records into the controller.
class RecordSender {
public:
    RecordSender(std::int32_t id, std::int32_t model, bool ea, bool wide)
        : id_(id), model_(model), ea_(ea), wide_(wide) {}

    // Sends one record in pieces of at most 16 bytes; false at the first
    // piece the controller did not take. A non-EA "datatab" record is
    // reversed in place.
    bool send(std::uint8_t type, std::uint16_t address, std::span<std::uint8_t> data) {
        std::uint32_t start = address;
        if (!ea_) {
            start = translate(type, address, data);
        } else if (wide_ && type == kRecordProgram) {
            start = programOffset_.full(address);
        }
        for (std::size_t at = 0; at < data.size(); at += kMemoryPiece) {
            const auto piece = std::span<const std::uint8_t>(data).subspan(at, std::min(kMemoryPiece, data.size() - at));
            const std::uint32_t to = start + static_cast<std::uint32_t>(at);
            std::int32_t ok = 0;
            if (wide_) ok = WriteSegmentBlock32(id_, type, to, piece, true);
            else if (ea_) ok = WriteSegmentBlock(id_, type, static_cast<std::uint16_t>(to), piece);
            else ok = WriteMemoryBlock(id_, static_cast<std::uint16_t>(to), piece);
            if (ok != 1) return false;
        }
        return true;
    }

private:
    // A non-EA controller keeps every record type in its memory window from
    // its base; the data table grows downward from its base, each cell low
    // byte first.
    std::uint32_t translate(std::uint8_t type, std::uint32_t address, std::span<std::uint8_t> data) const {
        const std::uint32_t base = ObjectRecordBase(type, model_);
        if (type == kRecordDatatab) {
            std::reverse(data.begin(), data.end());
            return kLegacyWindow + base - address - static_cast<std::uint32_t>(data.size()) + 1;
        }
        return kLegacyWindow + base + address;
    }

    std::int32_t id_;
    std::int32_t model_;
    bool ea_;
    bool wide_;
    ProgramOffsetWrap programOffset_;
};

// A table larger than an object file's records reach was written over its
// own first rows: such a file is refused before anything is sent.
bool TableFits(LoadedRecords &file, Connection &c) {
    for (const auto &record : file.records()) {
        if (record.type != kRecordDatasiz || record.size < 4) continue;
        const std::uint8_t *d = file.data(record).data();
        const std::uint32_t rows = GetU16(d);
        const std::uint32_t columns = GetU16(d + 2);
        if (!TableFitsTransfer(rows, columns)) {
            c.setError(err::kBadObjectRecord, TableTooLargeText(rows, columns).c_str());
            return false;
        }
    }
    return true;
}

// What a download checks before its first request, and what it then sends.
struct DownloadPlan {
    ConnectionRef connection;
    std::int32_t model = 0;
    bool ea = false;
    FileKind kind = FileKind::Unknown;
    LoadedRecords records;
};

// Everything a download checks before it sends anything to the controller
// but the model read: the connection, the controller's model, the file read
// whole, its architecture against that model and its data table's size.
// False, with the connection's error set, when the download cannot go
// ahead; nothing is written to the controller either way.
bool PlanDownload(std::int32_t id, const char *path, ZQ_TRANSFER_STATS &stats, DownloadPlan &plan) {
    plan.connection = FindConnection(id);
    Connection *c = plan.connection.get();
    if (!c) return false;
    if (!ReadControllerModel(id, plan.model, plan.ea)) return false;

    int osError = 0;
    const std::unique_ptr<ObjectFile> file = ObjectFile::OpenExisting(path, osError);
    if (!file) {
        c->setError(err::kObjectFileNotFound, err::kObjectNotFound);
        return false;
    }

    int status = 0;
    const ZQ_OBJECT_RECORD *magic = ReadObjectRecordCounted(*file, kRecordMagic, status, &stats);
    if (!magic || magic->data->size() != 2) {
        c->setError(err::kBadObjectFile, err::kBadObjectFileText);
        return false;
    }
    plan.kind = KindOfMagic(GetU16(magic->data->data()));
    if (plan.kind == FileKind::Unknown) {
        c->setError(err::kBadObjectFile, err::kNotObjectFile);
        return false;
    }
    if (plan.kind == FileKind::NonEa && plan.ea) {
        c->setError(err::kWrongArchitecture, err::kNonEaFileEaController);
        return false;
    }
    if (plan.kind != FileKind::NonEa && !plan.ea) {
        c->setError(err::kWrongArchitecture, err::kEaFileNonEaController);
        return false;
    }

    const ZQ_OBJECT_RECORD *statusByte = ReadObjectRecordCounted(*file, kRecordStatus, status, &stats);
    if (!statusByte || statusByte->data->size() != 1) {
        c->setError(err::kBadObjectRecord, err::kBadObjectRecordText);
        return false;
    }
    if (statusByte->data->data()[0] != 0) stats.warnings += 1;

    // The whole program is read before the load begins: a file that breaks
    // off leaves the controller's program as it was.
    std::string problem;
    const bool whole = plan.records.load(*file, stats, problem);
    file->close();
    if (!whole) {
        c->setErrorf(err::kBadObjectFile, "%s: %s", err::kBadObjectFileText, problem.c_str());
        return false;
    }
    return TableFits(plan.records, *c);
}

std::int32_t Download(std::int32_t id, const char *path, ZQ_TRANSFER_STATS &stats) {
    stats = {};
    DownloadPlan plan;
    if (!PlanDownload(id, path, stats, plan)) return 0;
    Connection *c = plan.connection.get();
    // From the load's begin to its end nothing goes between its requests.
    struct HoldChecks {
        Connection &c;
        explicit HoldChecks(Connection &held) : c(held) { ++c.checksHeld; }
        ~HoldChecks() { --c.checksHeld; }
    } hold(*c);
    if (BeginProgramLoad(id) != 1) return 0;

    RecordSender sender(id, plan.model, plan.ea, plan.kind == FileKind::EaWide);
    bool startOnInput = false;
    bool pieceFailed = false;
    std::uint16_t pieceError = 0;
    for (const auto &record : plan.records.records()) {
        const std::span<std::uint8_t> data = plan.records.data(record);
        if (record.type == kRecordSysconf && (data[0] & kStartOnInput1)) startOnInput = true;
        if (!sender.send(record.type, record.address, data)) {
            stats.errors += 1;
            pieceFailed = true;
            // This call's error: another thread may use the connection.
            char text[256];
            c->readError(pieceError, text);
            break;
        }
    }

    if (EndProgramLoad(id) != 1) {
        stats.warnings += 1;
        std::uint8_t reply[kMaxReply];
        if (startOnInput) ZqSendAscii(id, kTextStartOnInput, sizeof kTextStartOnInput, reply, kTextTerminator);
        ZqSendAscii(id, kTextEndLoad, sizeof kTextEndLoad, reply, kTextTerminator);
    }

    if (!pieceFailed) return 1;
    // The refusal of the piece that failed names the fault; a piece that
    // got no answer is reported as the time-out.
    if (pieceError == err::kWrongArchitectureQ42) c->setError(pieceError, err::kQ42OnQ43);
    else if (pieceError == err::kChecksum) c->setError(pieceError, err::kChecksumOrEnd);
    else c->setError(err::kSocketTimeout, err::kTimedOut);
    return 0;
}

}  // namespace
}  // namespace orv

using namespace orv;

extern "C" {

ZQ_API std::int32_t ZQ_CALL ZqDownload(std::int32_t id, const char *objectFile, ZQ_TRANSFER_STATS *stats) {
    return GuardedTransfer(stats, [&](ZQ_TRANSFER_STATS &s) { return Download(id, objectFile, s); });
}

ZQ_API std::int32_t ZQ_CALL ZqCheckDownload(std::int32_t id, const char *objectFile) {
    return Guarded([&]() -> std::int32_t {
        ZQ_TRANSFER_STATS counted{};
        DownloadPlan plan;
        return PlanDownload(id, objectFile, counted, plan) ? 1 : 0;
    });
}

}  // extern "C"
