// Program upload: a controller's program read into a new object file.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "command.h"
#include "memory_transfer.h"
#include "objectfile.h"
#include "orvcomm.h"

namespace orv {
namespace {

constexpr std::size_t kSteplenRecord = 16;
constexpr std::size_t kOptionBytes = 4;
// Reads that may fail one after another before the controller counts as
// gone: the upload then ends instead of waiting out every remaining read.
constexpr int kFailedReadsInARow = 3;

// Entries of the step length table (one byte per step).
std::size_t StepTableSize(std::int32_t model, bool ea) {
    if (!ea) return 256;
    switch (model) {
    case 5: return 16384;
    case 10:
    case 11: return 1280;
    case 12:
    case 15: return 2300;
    case 14:
    case 16: return 4096;
    default: return 1024;
    }
}

std::uint16_t MagicOf(std::int32_t model, bool ea) {
    if (!ea) return kMagicNonEa;
    if (model == 5) return kMagicEaWide;
    if (model == 14 || model == 16) return kMagicEaWide2;
    return kMagicEa;
}

// Model codes whose program segment is read with 32-bit addresses.
bool WideProgram(std::int32_t model) { return model == 5 || model == 14 || model == 16; }

class Uploader {
public:
    Uploader(std::int32_t id, Connection &c, std::int32_t model, bool ea, ObjectFile &file, ZQ_TRANSFER_STATS &stats)
        : id_(id), c_(c), model_(model), ea_(ea), file_(file), stats_(stats) {}

    std::int32_t run() {
        const std::uint16_t magic = MagicOf(model_, ea_);
        const std::uint8_t magicBytes[2] = {static_cast<std::uint8_t>(magic), static_cast<std::uint8_t>(magic >> 8)};
        const std::uint8_t clean = 0;
        if (!write(kRecordMagic, 0, magicBytes) || !write(kRecordStatus, 0, {&clean, 1})) return 0;

        // The step length table.
        const std::size_t steps = StepTableSize(model_, ea_);
        ZQ_MEMORY_BUFFER table(steps);
        const std::int32_t got = ea_ ? ReadSegmentBlock(id_, kRecordSteplen, 0, steps, table)
                                     : ReadLegacyMemory(id_, kRecordSteplen, 0, steps, model_, table);
        if (got != 1 || table.size() != steps) {
            stepTableFailed(got == 1);
            return 0;
        }

        // The code of every non-empty step, each at its offset in the program
        // area. A step that cannot be read leaves its place empty, so that
        // the steps after it keep their offsets.
        ZQ_MEMORY_BUFFER code(kObjectRecordMaxData);
        std::uint32_t offset = 0;
        for (const std::uint8_t length : table.view()) {
            if (length == 0) continue;
            const bool read = readStep(offset, length, code);
            if (!counted(read)) return linkLost();
            if (read) {
                stats_.steps += 1;
                if (code.size() != length) {
                    stats_.errors += 1;
                    std::vector<std::uint8_t> zeros(length - code.size(), 0);
                    code.append(zeros);
                }
                if (!write(kRecordProgram, static_cast<std::int32_t>(offset & 0xFFFF), code.view(), true)) return 0;
            }
            offset += length;
        }

        for (std::size_t at = 0; at < steps; at += kSteplenRecord) {
            const auto piece = table.view().subspan(at, std::min(kSteplenRecord, steps - at));
            if (!write(kRecordSteplen, static_cast<std::int32_t>(at), piece, true)) return 0;
        }

        if (!dataTable()) return 0;

        // The option bytes, the sysconf byte and the controller's checksum.
        // A record that cannot be read is missing from the file: it counts
        // as an error like a lost step or row, so the file is marked.
        if (ea_) {
            ZQ_MEMORY_BUFFER options(kOptionBytes);
            const bool read = ReadSegmentBlock(id_, kRecordOptions, 0, kOptionBytes, options) == 1 &&
                              options.size() == kOptionBytes;
            if (!counted(read)) return linkLost();
            if (read && !write(kRecordOptions, 0, options.view(), true)) return 0;
        }
        ZQ_MEMORY_BUFFER one(1);
        const bool sysconf = readByte(kRecordSysconf, one);
        if (!counted(sysconf)) return linkLost();
        if (sysconf && !write(kRecordSysconf, 0, one.view(), true)) return 0;
        const bool cheksum = readByte(kRecordCheksum, one);
        if (!counted(cheksum)) return linkLost();
        if (cheksum) {
            if (!write(kRecordCheksum, 0, one.view())) return 0;
            if (one.data()[0] != checksum_) stats_.errors += 1;
        }

        if (stats_.errors > 0) {
            const std::uint8_t marked = StatusMark(stats_.errors);
            if (!write(kRecordStatus, 0, {&marked, 1})) return 0;
        }
        if (!file_.close()) return writeFailed(errno);
        return 1;
    }

    // The status byte of a file with errors: the low 8 bits of their count,
    // but never 0, which would leave the file looking clean.
    static std::uint8_t StatusMark(std::int32_t errors) {
        const auto marked = static_cast<std::uint8_t>(errors);
        return marked == 0 ? 0xFF : marked;
    }

    // An upload that ended early leaves no file that looks complete: the
    // status byte marks it, or, when it cannot be marked (or was closed
    // without reaching the disk), it goes. The error of the upload stays.
    void abandon(const char *path) {
        const std::uint8_t marked = StatusMark(stats_.errors);
        const bool kept = file_.isOpen() && WriteObjectRecordCounted(file_, kRecordStatus, 0, {&marked, 1}, &stats_) &&
                          file_.close();
        if (!kept) {
            file_.close();
            std::remove(path);
        }
    }

private:
    // Notes the outcome of one read: a failed read is an error, and ends
    // the upload (false) when the reads before it failed too.
    bool counted(bool read) {
        if (read) {
            failedInARow_ = 0;
            return true;
        }
        stats_.errors += 1;
        return ++failedInARow_ < kFailedReadsInARow;
    }

    // The controller stopped answering: the upload fails with the reason
    // of the last read (this thread's: another one may use the connection).
    std::int32_t linkLost() {
        std::uint16_t code = 0;
        char reason[256];
        c_.readError(code, reason);
        c_.setErrorf(code, "Upload ended: %d reads in a row failed (%s)", kFailedReadsInARow, reason);
        return 0;
    }

    // The step length table could not be read: the text names the step and,
    // after it, why the read failed (the error it left on this thread). A
    // controller that only acknowledged some pieces gave no reason.
    void stepTableFailed(bool acknowledgedOnly) {
        std::uint16_t code = 0;
        char reason[256] = "";
        if (!acknowledgedOnly) c_.readError(code, reason);
        if (reason[0] == 0) c_.setError(err::kStepLengthUpload, err::kStepLengthTable);
        else c_.setErrorf(err::kStepLengthUpload, "%s: %s", err::kStepLengthTable, reason);
    }

    // Writes one record; a file that cannot be written ends the upload.
    bool write(std::uint8_t type, std::int32_t address, std::span<const std::uint8_t> data, bool summed = false) {
        if (!WriteObjectRecordCounted(file_, type, address, data, &stats_)) {
            writeFailed(errno);
            return false;
        }
        if (summed)
            for (const std::uint8_t b : data) checksum_ = static_cast<std::uint8_t>(checksum_ + b);
        return true;
    }

    std::int32_t writeFailed(int error) {
        c_.setError(static_cast<std::uint16_t>(error != 0 ? error : EIO), err::kCannotWriteObject);
        return 0;
    }

    bool readStep(std::uint32_t offset, std::size_t length, ZQ_MEMORY_BUFFER &code) {
        if (WideProgram(model_)) return ReadSegmentBlock32(id_, kRecordProgram, offset, length, code) == 1;
        if (ea_) return ReadSegmentBlock(id_, kRecordProgram, static_cast<std::uint16_t>(offset), length, code) == 1;
        return ReadLegacyMemory(id_, kRecordProgram, static_cast<std::uint16_t>(offset), length, model_, code) == 1;
    }

    // One byte of segment `type` (its area of the window on non-EA models).
    bool readByte(std::uint8_t type, ZQ_MEMORY_BUFFER &into) {
        const std::int32_t got =
            ea_ ? ReadSegmentBlock(id_, type, 0, 1, into) : ReadLegacyMemory(id_, type, 0, 1, model_, into);
        return got == 1 && into.size() == 1;
    }

    // The data table's size and its rows, each cell high byte first. A row
    // that cannot be read leaves its place empty.
    bool dataTable() {
        std::int32_t rows = -1;
        std::int32_t columns = -1;
        if (ZqGetDataTableDim(id_, &rows, &columns) != 1) return false;
        if (rows < 0 || columns < 0) {
            // Acknowledged without the size.
            c_.setError(err::kPacket, err::kIncomplete);
            return false;
        }
        // Rows past the 16-bit record addresses would be written over the
        // first rows of the table.
        if (!TableFitsTransfer(static_cast<std::uint32_t>(rows), static_cast<std::uint32_t>(columns))) {
            c_.setError(err::kBadObjectRecord,
                        TableTooLargeText(static_cast<std::uint32_t>(rows), static_cast<std::uint32_t>(columns)).c_str());
            return false;
        }
        const std::uint8_t size[4] = {static_cast<std::uint8_t>(rows), static_cast<std::uint8_t>(rows >> 8),
                                      static_cast<std::uint8_t>(columns), static_cast<std::uint8_t>(columns >> 8)};
        if (!write(kRecordDatasiz, 0, size, true)) return false;
        // Rows of no columns would be records of no data, which end a file.
        if (columns == 0) return true;

        const std::size_t rowBytes = 2 * static_cast<std::size_t>(columns);
        std::vector<std::int32_t> cells(static_cast<std::size_t>(columns) + 1);
        std::vector<std::uint8_t> bytes(rowBytes);
        std::uint32_t offset = 0;
        for (std::int32_t r = 1; r <= rows; ++r, offset += static_cast<std::uint32_t>(rowBytes)) {
            std::fill(cells.begin(), cells.end(), 0);
            const bool read = ZqGetDataTableRow(id_, r, 1, columns, cells.data()) == 1;
            if (!counted(read)) {
                linkLost();
                return false;
            }
            if (!read) continue;
            for (std::size_t k = 0; k < static_cast<std::size_t>(columns); ++k) {
                bytes[2 * k] = static_cast<std::uint8_t>(cells[k + 1] >> 8);
                bytes[2 * k + 1] = static_cast<std::uint8_t>(cells[k + 1]);
            }
            if (!write(kRecordDatatab, static_cast<std::int32_t>(offset), bytes, true)) return false;
        }
        return true;
    }

    std::int32_t id_;
    Connection &c_;
    std::int32_t model_;
    bool ea_;
    ObjectFile &file_;
    ZQ_TRANSFER_STATS &stats_;
    std::uint8_t checksum_ = 0;
    int failedInARow_ = 0;
};

std::int32_t Upload(std::int32_t id, const char *path, ZQ_TRANSFER_STATS &stats) {
    stats = {};
    std::int32_t model = 0;
    bool ea = false;
    if (!ReadControllerModel(id, model, ea)) return 0;
    const ConnectionRef c = FindConnection(id);
    if (!c) return 0;
    int osError = 0;
    const std::unique_ptr<ObjectFile> file = ObjectFile::CreateNew(path, osError);
    if (!file) {
        c->setError(static_cast<std::uint16_t>(osError), err::kCannotCreateObject);
        return 0;
    }
    Uploader uploader(id, *c, model, ea, *file, stats);
    const std::int32_t result = uploader.run();
    if (result != 1) uploader.abandon(path);
    return result;
}

}  // namespace
}  // namespace orv

using namespace orv;

extern "C" {

ZQ_API std::int32_t ZQ_CALL ZqUpload(std::int32_t id, const char *objectFile, ZQ_TRANSFER_STATS *stats) {
    return GuardedTransfer(stats, [&](ZQ_TRANSFER_STATS &s) { return Upload(id, objectFile, s); });
}

}  // extern "C"
