// Program download: the records of an object file written into a
// controller's memory inside one program load.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

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

// What a download takes of the records of an object file: only the seven
// record types name a memory area, and a data table larger than the
// file's records reach was written over its own first rows. The first
// record of an unknown type ends the walk; a table too large is reported
// only once the file is known to be whole, so that a file that also breaks
// off is refused for that.
class RecordCheck {
public:
    // False when the walk stops at this record.
    bool accept(ObjectFileReader &reader, const ZQ_OBJECT_RECORD &record) {
        if (record.type > kRecordSysconf)
            return reader.refuseRecord("has the unknown type " + std::to_string(record.type));
        if (record.type == kRecordDatasiz && record.data->size() >= 4 && !table_) {
            const std::uint8_t *d = record.data->data();
            const std::uint32_t rows = GetU16(d);
            const std::uint32_t columns = GetU16(d + 2);
            if (!TableFitsTransfer(rows, columns)) table_ = {err::kBadObjectRecord, TableTooLargeText(rows, columns)};
        }
        return true;
    }
    // The verdict on a file walked to its end, or where the walk stopped.
    const ObjectFileFault &verdict(const ObjectFileReader &reader) const {
        return reader.fault() ? reader.fault() : table_;
    }

private:
    ObjectFileFault table_;
};

// What a download checks before its first request, and what it then sends.
struct DownloadPlan {
    ConnectionRef connection;
    std::int32_t model = 0;
    bool ea = false;
    FileKind kind = FileKind::Unknown;
    ObjectFileReader file;
};

bool Refuse(Connection &c, const ObjectFileFault &fault) {
    c.setError(fault.code, fault.text.c_str());
    return false;
}

// Everything a download checks before it sends anything to the controller
// but the model read: the connection, the controller's model, the file
// walked to its end, its architecture against that model, its record types
// and its data table's size. False, with the connection's error set, when
// the download cannot go ahead; nothing is written to the controller either
// way. The file is left open for the download to walk again.
bool PlanDownload(std::int32_t id, const char *path, ZQ_TRANSFER_STATS &stats, DownloadPlan &plan) {
    plan.connection = FindConnection(id);
    Connection *c = plan.connection.get();
    if (!c) return false;
    if (!ReadControllerModel(id, plan.model, plan.ea)) return false;

    ObjectFileReader &file = plan.file;
    std::uint16_t magic = 0;
    if (!file.open(path, &stats) || !file.readMagic(magic)) return Refuse(*c, file.fault());
    plan.kind = KindOfMagic(magic);
    if (plan.kind == FileKind::NonEa && plan.ea) {
        c->setError(err::kWrongArchitecture, err::kNonEaFileEaController);
        return false;
    }
    if (plan.kind != FileKind::NonEa && !plan.ea) {
        c->setError(err::kWrongArchitecture, err::kEaFileNonEaController);
        return false;
    }
    std::uint8_t status = 0;
    if (!file.readStatus(status)) return Refuse(*c, file.fault());
    if (status != 0) stats.warnings += 1;

    // The whole program is walked before the load begins: a file that
    // breaks off leaves the controller's program as it was.
    RecordCheck check;
    while (const ZQ_OBJECT_RECORD *record = file.next())
        if (!check.accept(file, *record)) break;
    const ObjectFileFault &verdict = check.verdict(file);
    if (verdict) return Refuse(*c, verdict);
    return true;
}

std::int32_t Download(std::int32_t id, const char *path, ZQ_TRANSFER_STATS &stats) {
    stats = {};
    DownloadPlan plan;
    if (!PlanDownload(id, path, stats, plan)) return 0;
    Connection *c = plan.connection.get();
    // The second walk sends what the first one counted.
    if (!plan.file.rewind(nullptr)) return Refuse(*c, plan.file.fault());
    // From the load's begin to its end nothing goes between its requests.
    struct HoldChecks {
        Connection &c;
        explicit HoldChecks(Connection &held) : c(held) { ++c.checksHeld; }
        ~HoldChecks() { --c.checksHeld; }
    } hold(*c);
    if (BeginProgramLoad(id) != 1) return 0;

    RecordSender sender(id, plan.model, plan.ea, plan.kind == FileKind::EaWide);
    RecordCheck check;
    bool startOnInput = false;
    bool pieceFailed = false;
    std::uint16_t pieceError = 0;
    while (ZQ_OBJECT_RECORD *record = plan.file.next()) {
        // A file changed since the first walk stops at what it would refuse.
        if (!check.accept(plan.file, *record) || check.verdict(plan.file)) break;
        const std::span<std::uint8_t> data = record->data->view();
        if (record->type == kRecordSysconf && (data[0] & kStartOnInput1)) startOnInput = true;
        if (!sender.send(record->type, static_cast<std::uint16_t>(record->address), data)) {
            stats.errors += 1;
            pieceFailed = true;
            // This call's error: another thread may use the connection.
            char text[256];
            c->readError(pieceError, text);
            break;
        }
    }
    const ObjectFileFault changed = check.verdict(plan.file);

    if (EndProgramLoad(id) != 1) {
        stats.warnings += 1;
        std::uint8_t reply[kMaxReply];
        if (startOnInput) ZqSendAscii(id, kTextStartOnInput, sizeof kTextStartOnInput, reply, kTextTerminator);
        ZqSendAscii(id, kTextEndLoad, sizeof kTextEndLoad, reply, kTextTerminator);
    }

    if (changed) return Refuse(*c, changed);
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
