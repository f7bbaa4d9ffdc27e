#include "objectfile.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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
    if (!path) {
        error = EINVAL;
        return nullptr;
    }
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    error = 0;
    return std::unique_ptr<ObjectFile>(new ObjectFile(fd));
}

std::unique_ptr<ObjectFile> ObjectFile::CreateNew(const char *path, int &error) {
    if (!path) {
        error = EINVAL;
        return nullptr;
    }
    // O_EXCL: a file of that name, or a link of that name, is never replaced.
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    error = 0;
    return std::unique_ptr<ObjectFile>(new ObjectFile(fd));
}

ObjectFile::~ObjectFile() { close(); }

bool ObjectFile::close() {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

bool ObjectFile::position(std::int64_t &at) const {
    if (fd_ < 0) return false;
    const off_t p = ::lseek(fd_, 0, SEEK_CUR);
    if (p < 0) return false;
    at = p;
    return true;
}

bool ObjectFile::seek(std::int64_t at) {
    return fd_ >= 0 && at >= 0 && ::lseek(fd_, static_cast<off_t>(at), SEEK_SET) == static_cast<off_t>(at);
}

long ObjectFile::read(std::uint8_t *into, std::size_t n) {
    if (fd_ < 0) return -1;
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::read(fd_, into + got, n - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
    }
    return static_cast<long>(got);
}

bool ObjectFile::write(const std::uint8_t *from, std::size_t n) {
    if (fd_ < 0) return false;
    std::size_t put = 0;
    while (put < n) {
        const ssize_t r = ::write(fd_, from + put, n - put);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) return false;
        put += static_cast<std::size_t>(r);
    }
    return true;
}

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
            const std::uint8_t header[4] = {
                static_cast<std::uint8_t>(data.size()), record.type,
                static_cast<std::uint8_t>(record.address & 0xFF),
                static_cast<std::uint8_t>((record.address >> 8) & 0xFF)};
            if (!file.write(header, sizeof header) || !file.write(data.data(), data.size())) return nullptr;
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
