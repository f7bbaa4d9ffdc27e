#include "objectfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "errors.h"

namespace orv {

std::atomic<bool> WideFlagFormat{false};

// ---- ZQ_MEMORY_BUFFER ----------------------------------------------------------

ZQ_MEMORY_BUFFER::ZQ_MEMORY_BUFFER(std::size_t capacity)
    : bytes(std::min<std::size_t>(capacity, INT16_MAX), 0) {}

bool ZQ_MEMORY_BUFFER::append(std::span<const std::uint8_t> more) {
    if (more.size() > room()) return false;
    if (!more.empty()) std::memcpy(bytes.data() + size(), more.data(), more.size());
    length = static_cast<std::int16_t>(size() + more.size());
    return true;
}

bool ZQ_MEMORY_BUFFER::assign(std::span<const std::uint8_t> what) {
    if (what.size() > capacity()) return false;
    length = 0;
    return append(what);
}

// ---- ObjectFile -------------------------------------------------------------------

std::unique_ptr<ObjectFile> ObjectFile::OpenExisting(const char *path, int &error) {
    auto file = std::unique_ptr<ObjectFile>(new ObjectFile);
    error = file->file_.openExisting(path);
    return error == 0 ? std::move(file) : nullptr;
}

std::unique_ptr<ObjectFile> ObjectFile::CreateNew(const char *path, int &error) {
    auto file = std::unique_ptr<ObjectFile>(new ObjectFile);
    error = file->file_.createNew(path);
    return error == 0 ? std::move(file) : nullptr;
}

ObjectFile::~ObjectFile() { close(); }

bool ObjectFile::close() { return file_.close(); }
bool ObjectFile::position(std::int64_t &at) const { return file_.position(at); }
bool ObjectFile::size(std::int64_t &bytes) const { return file_.size(bytes); }
bool ObjectFile::seek(std::int64_t at) { return file_.seek(at); }
long ObjectFile::read(std::uint8_t *into, std::size_t n) { return file_.read(into, n); }
bool ObjectFile::write(const std::uint8_t *from, std::size_t n) { return file_.write(from, n); }

// ---- Reading --------------------------------------------------------------------------

namespace {

// The status of reading `want` bytes: at the start of an item (`first`) no
// byte at all is the end of the file; a failed read gives `failed`.
int readStatus(long got, std::size_t want, bool first, int failed = kObjectFileFailed) {
    if (got < 0) return failed;
    if (got == 0 && first) return kObjectEndOfFile;
    if (static_cast<std::size_t>(got) < want) return kObjectShortRead;
    return kObjectRecordOk;
}

}  // namespace

ZQ_OBJECT_RECORD *ReadObjectRecord(ObjectFile &file, int &status) {
    ZQ_OBJECT_RECORD &record = file.readRecord_;
    ZQ_MEMORY_BUFFER &buffer = file.readBuffer_;
    record.data = &buffer;
    buffer.clear();

    std::int64_t at = 0;
    if (!file.position(at)) {
        status = kObjectFileFailed;
        return nullptr;
    }

    if (at == 0 || at == 2) {
        // The magic (2 bytes) or the status byte, without a header.
        const std::size_t want = at == 0 ? 2 : 1;
        const long got = file.read(buffer.data(), want);
        status = readStatus(got, want, true);
        if (status != kObjectRecordOk) return nullptr;
        buffer.length = static_cast<std::int16_t>(want);
        record.type = at == 0 ? kRecordMagic : kRecordStatus;
        record.address = 0;
        return &record;
    }

    std::uint8_t length = 0;
    long got = file.read(&length, 1);
    status = readStatus(got, 1, true);
    if (status != kObjectRecordOk) return nullptr;

    std::uint8_t header[3] = {};
    got = file.read(header, sizeof header);
    status = readStatus(got, sizeof header, false);
    if (status != kObjectRecordOk) return nullptr;

    if (length == 0) {
        // A record without data reads as the end of the file.
        status = kObjectEndOfFile;
        return nullptr;
    }
    got = file.read(buffer.data(), length);
    // A record whose data are missing altogether is a cut file, not its end.
    status = readStatus(got, length, false, kObjectShortRead);
    if (status != kObjectRecordOk) return nullptr;

    buffer.length = length;
    record.type = header[0];
    record.address = header[1] | (header[2] << 8);
    return &record;
}

ZQ_OBJECT_RECORD *ReadObjectRecordCounted(ObjectFile &file, std::uint8_t expectedType, int &status,
                                          ZQ_TRANSFER_STATS *stats) {
    ZQ_OBJECT_RECORD *record = ReadObjectRecord(file, status);
    if (!record || !stats) return record;
    if (expectedType == kAnyRecordType)
        stats->bytes += 4;
    else if (record->type != expectedType)
        stats->errors += 1;
    stats->bytes += record->data->length;
    return record;
}

// ---- ObjectFileReader -------------------------------------------------------------------

namespace {

// A text made from a printf format.
__attribute__((format(printf, 1, 2))) std::string Text(const char *format, ...) {
    char text[160];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    return text;
}

}  // namespace

bool ObjectFileReader::fail(std::uint16_t code, std::string text) {
    fault_.code = code;
    fault_.text = std::move(text);
    return false;
}

bool ObjectFileReader::open(const char *path, ZQ_TRANSFER_STATS *stats) {
    stats_ = stats;
    fault_ = {};
    int error = 0;
    file_ = ObjectFile::OpenExisting(path, error);
    if (!file_) return fail(err::kObjectFileNotFound, err::kObjectNotFound);
    // Refused by its size before its records are read (a file that grows
    // meanwhile is stopped by next()).
    std::int64_t size = 0;
    if (file_->size(size) && size > kMostObjectFileBytes)
        return fail(err::kBadObjectFile,
                    Text("%s: it is %lld bytes, larger than any controller's program (at most %lld)",
                         err::kBadObjectFileText, static_cast<long long>(size),
                         static_cast<long long>(kMostObjectFileBytes)));
    return true;
}

bool ObjectFileReader::readMagic(std::uint16_t &magic) {
    int status = 0;
    const ZQ_OBJECT_RECORD *r = ReadObjectRecordCounted(*file_, kRecordMagic, status, stats_);
    if (!r || r->data->size() != 2) return fail(err::kBadObjectFile, err::kBadObjectFileText);
    magic = static_cast<std::uint16_t>(r->data->data()[0] | (r->data->data()[1] << 8));
    if (magic != kMagicNonEa && magic != kMagicEa && magic != kMagicEaWide && magic != kMagicEaWide2)
        return fail(err::kBadObjectFile, err::kNotObjectFile);
    return true;
}

bool ObjectFileReader::readStatus(std::uint8_t &status) {
    int read = 0;
    const ZQ_OBJECT_RECORD *r = ReadObjectRecordCounted(*file_, kRecordStatus, read, stats_);
    if (!r || r->data->size() != 1) return fail(err::kBadObjectRecord, err::kBadObjectRecordText);
    status = r->data->data()[0];
    return true;
}

ZQ_OBJECT_RECORD *ObjectFileReader::next() {
    if (fault_ || !file_) return nullptr;
    ++number_;
    if (!file_->position(start_)) {
        fail(err::kBadObjectFile, Text("%s: it cannot be read at record %d", err::kBadObjectFileText, number_));
        return nullptr;
    }
    int status = 0;
    ZQ_OBJECT_RECORD *r = ReadObjectRecordCounted(*file_, kAnyRecordType, status, stats_);
    if (!r) {
        if (status == kObjectEndOfFile) return nullptr;
        fail(err::kBadObjectFile,
             status == kObjectShortRead
                 ? cutShort()
                 : Text("%s: it cannot be read at record %d (byte %lld)", err::kBadObjectFileText, number_,
                        static_cast<long long>(start_)));
        return nullptr;
    }
    std::int64_t end = 0;
    if (file_->position(end) && end > kMostObjectFileBytes) {
        fail(err::kBadObjectFile, Text("%s: it goes on past byte %lld, larger than any controller's program",
                                       err::kBadObjectFileText, static_cast<long long>(kMostObjectFileBytes)));
        return nullptr;
    }
    return r;
}

bool ObjectFileReader::refuseRecord(const std::string &what) {
    return fail(err::kBadObjectFile, Text("%s: record %d (at byte %lld) ", err::kBadObjectFileText, number_,
                                          static_cast<long long>(start_)) +
                                         what);
}

// The file ends inside the latest record: where, and the record's extent.
std::string ObjectFileReader::cutShort() const {
    std::int64_t end = start_;
    file_->position(end);
    std::string text = Text("%s: it ends at byte %lld, inside record %d", err::kBadObjectFileText,
                            static_cast<long long>(end), number_);
    std::uint8_t length = 0;
    if (file_->seek(start_) && file_->read(&length, 1) == 1)
        text += Text(" (%d bytes from byte %lld)", 4 + length, static_cast<long long>(start_));
    return text;
}

bool ObjectFileReader::rewind(ZQ_TRANSFER_STATS *stats) {
    stats_ = stats;
    fault_ = {};
    number_ = 0;
    start_ = 0;
    if (!file_ || !file_->seek(3)) return fail(err::kBadObjectFile, Text("%s: it cannot be read again", err::kBadObjectFileText));
    return true;
}

// ---- Writing -------------------------------------------------------------------------------

const ZQ_OBJECT_RECORD *WriteObjectRecord(ObjectFile &file, const ZQ_OBJECT_RECORD &record, int &status) {
    status = kObjectFileFailed;
    const std::span<const std::uint8_t> data =
        record.data ? record.data->view() : std::span<const std::uint8_t>{};

    if (record.type == kRecordMagic) {
        if (!file.write(data.data(), data.size())) return nullptr;
    } else if (record.type == kRecordStatus) {
        if (data.empty()) return nullptr;
        std::int64_t at = 0;
        if (!file.position(at) || !file.seek(2)) return nullptr;
        const bool written = file.write(data.data(), 1);
        // Back to where the writer was, so that the records go on after it.
        if (at != 2 && !file.seek(at)) return nullptr;
        if (!written) return nullptr;
    } else {
        if (data.size() > kObjectRecordMaxData) return nullptr;
        if (!data.empty()) {
            // Header and data in one write.
            std::uint8_t bytes[4 + kObjectRecordMaxData] = {
                static_cast<std::uint8_t>(data.size()), record.type,
                static_cast<std::uint8_t>(record.address & 0xFF),
                static_cast<std::uint8_t>((record.address >> 8) & 0xFF)};
            std::memcpy(bytes + 4, data.data(), data.size());
            if (!file.write(bytes, 4 + data.size())) return nullptr;
        }
    }
    status = kObjectRecordOk;
    return &record;
}

bool WriteObjectRecordCounted(ObjectFile &file, std::uint8_t type, std::int32_t address,
                              std::span<const std::uint8_t> data, ZQ_TRANSFER_STATS *stats) {
    const bool headerless = type == kRecordMagic || type == kRecordStatus;
    // Headerless items go out whole; records in pieces of at most 255 bytes.
    const std::size_t most = headerless ? std::max<std::size_t>(data.size(), 1) : kObjectRecordMaxData;
    ZQ_MEMORY_BUFFER piece(std::min(most, static_cast<std::size_t>(INT16_MAX)));
    bool ok = true;
    std::size_t done = 0;
    do {
        const std::size_t n = std::min(most, data.size() - done);
        if (!headerless && n == 0) break;  // nothing to store
        if (!piece.assign(data.subspan(done, n))) {
            ok = false;
            if (stats) stats->errors += 1;
            break;
        }
        ZQ_OBJECT_RECORD record{type, static_cast<std::int32_t>(address + done), &piece};
        int status = 0;
        if (!WriteObjectRecord(file, record, status)) {
            ok = false;
            if (stats) stats->errors += 1;
        }
        if (stats) stats->bytes += static_cast<std::int32_t>((headerless ? 0 : 4) + n);
        done += n;
        if (!ok) break;
    } while (done < data.size());
    return ok;
}

}  // namespace orv
