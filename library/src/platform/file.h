// A file of the library's own (object files): opened for reading, with its
// reads served from a buffer, or created new for writing, unbuffered. Each
// call returns as the POSIX calls it makes do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv::platform {

class File {
public:
    File() = default;
    ~File();
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    // 0 or the errno value of the failure.
    int openExisting(const char *path);
    // Never replaces a file or a link of that name.
    int createNew(const char *path);
    bool isOpen() const { return fd_ >= 0; }
    // False when the system reports a failure. Closing twice is harmless.
    bool close();

    bool position(std::int64_t &at) const;
    // The file's size as the system reports it (0 for a pipe or a device).
    bool size(std::int64_t &bytes) const;
    bool seek(std::int64_t at);
    // Up to n bytes, fewer only at the end of the file; -1 on a failed read.
    long read(std::uint8_t *into, std::size_t n);
    // All n bytes, or false.
    bool write(const std::uint8_t *from, std::size_t n);

private:
    int fd_ = -1;
    bool reading_ = false;
    // Reading: buffer_[next_, end_) are the bytes that follow the reader's
    // position; the system's own position is offset_, just past end_.
    std::vector<std::uint8_t> buffer_;
    std::size_t next_ = 0;
    std::size_t end_ = 0;
    std::int64_t offset_ = 0;
};

}  // namespace orv::platform
