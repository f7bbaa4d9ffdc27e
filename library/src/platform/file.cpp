#include "file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orv::platform {

namespace {
constexpr std::size_t kReadBuffer = 64 * 1024;
}

File::~File() { close(); }

int File::openExisting(const char *path) {
    close();
    if (!path) return EINVAL;
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return errno;
    reading_ = true;
    buffer_.resize(kReadBuffer);
    next_ = end_ = 0;
    offset_ = 0;
    return 0;
}

int File::createNew(const char *path) {
    close();
    if (!path) return EINVAL;
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) return errno;
    reading_ = false;
    return 0;
}

bool File::close() {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    next_ = end_ = 0;
    return rc == 0;
}

bool File::position(std::int64_t &at) const {
    if (fd_ < 0) return false;
    if (reading_) {
        at = offset_ - static_cast<std::int64_t>(end_ - next_);
        return true;
    }
    const off_t p = ::lseek(fd_, 0, SEEK_CUR);
    if (p < 0) return false;
    at = p;
    return true;
}

bool File::size(std::int64_t &bytes) const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
    bytes = S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : 0;
    return true;
}

bool File::seek(std::int64_t at) {
    if (fd_ < 0 || at < 0) return false;
    if (reading_) {
        // Within what the buffer holds: no call at all.
        const std::int64_t first = offset_ - static_cast<std::int64_t>(end_);
        if (at >= first && at <= offset_) {
            next_ = static_cast<std::size_t>(at - first);
            return true;
        }
        next_ = end_ = 0;
    }
    if (::lseek(fd_, static_cast<off_t>(at), SEEK_SET) != static_cast<off_t>(at)) return false;
    offset_ = at;
    return true;
}

long File::read(std::uint8_t *into, std::size_t n) {
    if (fd_ < 0) return -1;
    std::size_t got = 0;
    while (got < n) {
        if (reading_ && next_ < end_) {
            const std::size_t take = std::min(n - got, end_ - next_);
            std::memcpy(into + got, buffer_.data() + next_, take);
            next_ += take;
            got += take;
            continue;
        }
        // Large reads go straight to the caller; small ones refill the buffer.
        const bool direct = !reading_ || n - got >= buffer_.size();
        std::uint8_t *to = direct ? into + got : buffer_.data();
        const std::size_t want = direct ? n - got : buffer_.size();
        const ssize_t r = ::read(fd_, to, want);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        offset_ += r;
        if (direct) {
            got += static_cast<std::size_t>(r);
            if (reading_) next_ = end_ = 0;
        } else {
            next_ = 0;
            end_ = static_cast<std::size_t>(r);
        }
    }
    return static_cast<long>(got);
}

bool File::write(const std::uint8_t *from, std::size_t n) {
    if (fd_ < 0 || reading_) return false;
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

}  // namespace orv::platform
