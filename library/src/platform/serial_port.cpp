#include "serial_port.h"

#include "serial_termios.h"
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace orv::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Whole milliseconds left until `deadline`, rounded up so that a wait
// never ends short of it (and at most what a poll takes); 0 once it has passed.
int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<std::int64_t>(left, INT_MAX)) : 0;
}

// A line without modem lines (a pseudo-terminal) refuses these: the
// line then stays as the driver has it, which is no error for us.
void setModemLines(int fd, int bits, bool on) { ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits); }

tcflag_t sizeFlag(std::uint8_t bits) {
    switch (bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

}  // namespace

std::chrono::nanoseconds CharacterTime(const SerialSettings &s) {
    if (s.baudRate == 0) return std::chrono::nanoseconds(0);
    // In half bits: a start bit, the data, a parity bit, one, one and a
    // half or two stop bits.
    const std::uint64_t stopHalves = s.stopBits == 0 ? 2 : s.stopBits == 1 ? 3 : 4;
    const std::uint64_t halves = 2 + 2ull * s.byteSize + (s.parity != 0 ? 2 : 0) + stopHalves;
    return std::chrono::nanoseconds(halves * 1000000000ull / (2ull * s.baudRate));
}

std::string SerialDevicePath(std::int32_t port) {
    const std::string name = "ORVCOMM_COM" + std::to_string(port);
    if (const char *p = std::getenv(name.c_str()); p && *p) return p;
    return "/dev/ttyS" + std::to_string(static_cast<std::int64_t>(port) - 1);
}

SerialPort::~SerialPort() { close(); }

int SerialPort::open(const std::string &path) {
    if (isOpen()) return EBUSY;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    // flock holds also against root, who may open a line in TIOCEXCL mode.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return e;
    }
    ioctl(fd, TIOCEXCL);  // refused by anything that is not a terminal: fine
    fd_ = fd;
    return 0;
}

std::string SerialPort::deviceKey() const {
    struct stat st {};
    if (!isOpen() || fstat(fd_, &st) != 0) return {};
    if (S_ISCHR(st.st_mode)) return "c" + std::to_string(st.st_rdev);
    return "f" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

int SerialPort::close() {
    if (!isOpen()) return 0;
    setModemLines(fd_, TIOCM_DTR, false);
    ioctl(fd_, TCFLSH, TCIOFLUSH);
    // The exclusive mode belongs to the terminal, not to our descriptor: a
    // pseudo-terminal kept open by its other side would keep it after us.
    ioctl(fd_, TIOCNXCL);
    const int fd = fd_;
    fd_ = kNoPort;
    if (::close(fd) != 0 && errno != EINTR) return errno;
    return 0;
}

int SerialPort::get(SerialSettings &out) const {
    if (!isOpen()) return EBADF;
    struct termios2 t {};
    if (ioctl(fd_, TCGETS2, &t) != 0) return errno;
    DecodeSettings(t, out);
    return 0;
}

int SerialPort::apply(const SerialSettings &s) {
    if (!isOpen()) return EBADF;
    if (const int e = CheckSettings(s); e != 0) return e;
    struct termios2 t {};
    if (ioctl(fd_, TCGETS2, &t) != 0) return errno;
    EncodeSettings(s, t);
    if (ioctl(fd_, TCSETS2, &t) != 0) return errno;
    // The character time of the line as the driver keeps it, which may not
    // be all that was asked (a pseudo-terminal stays at 8 bits, no parity).
    SerialSettings applied = s;
    if (ioctl(fd_, TCGETS2, &t) == 0) DecodeSettings(t, applied);
    characterTime_ = CharacterTime(applied);
    setModemLines(fd_, TIOCM_DTR, s.dtrOn);
    setModemLines(fd_, TIOCM_RTS, s.rtsOn);
    return 0;
}

int CheckSettings(const SerialSettings &s) {
    if (s.baudRate == 0 || s.byteSize < 5 || s.byteSize > 8 || s.parity > 4 || s.stopBits > 2) return EINVAL;
    // One and a half stop bits exist only with 5-bit characters, two stop
    // bits only without them.
    if (s.stopBits == 1 && s.byteSize != 5) return EINVAL;
    if (s.stopBits == 2 && s.byteSize == 5) return EINVAL;
    return 0;
}

void EncodeSettings(const SerialSettings &s, struct termios2 &t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                         IXANY | INPCK | IUCLC | IMAXBEL | IGNPAR);
    if (s.parityCheck) t.c_iflag |= INPCK;
    if (s.xonXoffOut) t.c_iflag |= IXON;
    if (s.xonXoffIn) t.c_iflag |= IXOFF;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | NOFLSH | TOSTOP);

    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD |
                                         (CBAUD << IBSHIFT));
    t.c_cflag |= sizeFlag(s.byteSize) | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    switch (s.parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (s.stopBits != 0) t.c_cflag |= CSTOPB;
    if (s.ctsFlow) t.c_cflag |= CRTSCTS;
    t.c_ispeed = t.c_ospeed = s.baudRate;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = s.xonChar;
    t.c_cc[VSTOP] = s.xoffChar;
}

void DecodeSettings(const struct termios2 &t, SerialSettings &out) {
    out.baudRate = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5: out.byteSize = 5; break;
    case CS6: out.byteSize = 6; break;
    case CS7: out.byteSize = 7; break;
    default: out.byteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB)) out.parity = 0;
    else if (t.c_cflag & CMSPAR) out.parity = (t.c_cflag & PARODD) ? 3 : 4;
    else out.parity = (t.c_cflag & PARODD) ? 1 : 2;
    out.stopBits = (t.c_cflag & CSTOPB) ? (out.byteSize == 5 ? 1 : 2) : 0;
    out.parityCheck = (t.c_iflag & INPCK) != 0;
    out.ctsFlow = (t.c_cflag & CRTSCTS) != 0;
    out.xonXoffOut = (t.c_iflag & IXON) != 0;
    out.xonXoffIn = (t.c_iflag & IXOFF) != 0;
    out.xonChar = t.c_cc[VSTART];
    out.xoffChar = t.c_cc[VSTOP];
}

int SerialPort::write(const std::uint8_t *bytes, std::size_t count, std::chrono::milliseconds most) {
    if (!isOpen()) return EBADF;
    const auto deadline = Clock::now() + most;
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return errno;
        // The line takes nothing now (flow control holds it, or nobody
        // reads the other side): wait for room, but not for ever.
        const int wait = remainingMs(deadline);
        if (wait == 0) return ETIMEDOUT;
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, wait) < 0 && errno != EINTR) return errno;
    }
    return 0;
}

std::size_t SerialPort::read(std::uint8_t *buffer, std::size_t count, ReadTrace *trace) {
    std::optional<Clock::time_point> deadline;
    if (readTimeoutMs_ != 0) deadline = Clock::now() + std::chrono::milliseconds(readTimeoutMs_);
    return readUntil(buffer, count, deadline, trace);
}

std::size_t SerialPort::readUntil(std::uint8_t *buffer, std::size_t count, std::optional<Clock::time_point> until,
                                  ReadTrace *trace) {
    if (!isOpen()) return 0;
    const bool forever = !until;
    const auto deadline = until.value_or(Clock::time_point{});
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd_, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            if (trace) {
                trace->last = Clock::now();
                trace->largestChunk = std::max(trace->largestChunk, static_cast<std::size_t>(n));
                const auto by = trace->last - characterTime_ * static_cast<std::int64_t>(got);
                if (!trace->byteBeforeBy || by < *trace->byteBeforeBy) trace->byteBeforeBy = by;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) break;
        // n == 0 on a terminal in non-blocking raw mode also means "nothing yet".
        const int wait = forever ? -1 : remainingMs(deadline);
        if (!forever && wait == 0) break;
        pollfd p{fd_, POLLIN, 0};
        const int r = poll(&p, 1, wait);
        if (r < 0 && errno != EINTR) break;
        if (r > 0 && (p.revents & (POLLERR | POLLNVAL))) break;
        if (r > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN)) {
            // The other side is gone: wait out the time-out as a silent
            // line would, without spinning.
            if (forever) break;
            usleep(static_cast<useconds_t>(remainingMs(deadline)) * 1000);
            break;
        }
    }
    return got;
}

bool SerialPort::hasInput() {
    if (!isOpen()) return false;
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

bool SerialPort::inputBefore(Clock::time_point end) {
    if (!isOpen()) return false;
    // Sleep in the poll to just short of the end, then look without
    // sleeping until it comes, so that the watch ends on time.
    const auto sleepEnd = end - std::chrono::microseconds(400);
    for (;;) {
        const auto now = Clock::now();
        if (now >= end) return false;
        timespec wait{};
        if (now < sleepEnd) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(sleepEnd - now).count();
            wait.tv_sec = static_cast<time_t>(ns / 1000000000);
            wait.tv_nsec = static_cast<long>(ns % 1000000000);
        }
        pollfd p{fd_, POLLIN, 0};
        const int r = ppoll(&p, 1, &wait, nullptr);
        if (r > 0 && (p.revents & POLLIN)) return true;
        if ((r > 0) || (r < 0 && errno != EINTR)) {
            // Hung up or broken: nothing will come; rest out the time.
            std::this_thread::sleep_until(end);
            return false;
        }
        if (now >= sleepEnd) std::this_thread::yield();
    }
}

long SerialPort::discardUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds most,
                                   std::optional<Clock::time_point> quietSince) {
    if (!isOpen()) return 0;
    long discarded = 0;
    auto drain = [&] {
        std::uint8_t scratch[256];
        for (ssize_t n; (n = ::read(fd_, scratch, sizeof scratch)) > 0;) discarded += n;
    };
    drain();
    const auto end = Clock::now() + most;
    // Nothing waiting: the line has been quiet since `quietSince`.
    auto since = Clock::now();
    if (discarded == 0 && quietSince) since = std::min(since, *quietSince);
    for (;;) {
        // The line must stay quiet for the whole of `quiet` from `since`,
        // and that must fit within the bound.
        if (quiet.count() <= 0) return discarded;
        const auto quietEnd = since + quiet;
        if (quietEnd > end) return -1;
        pollfd p{fd_, POLLIN, 0};
        const int r = poll(&p, 1, remainingMs(quietEnd));
        if (r == 0) return discarded;
        if (r < 0 && errno == EINTR) continue;
        // Hung up or broken without input: nothing more will come.
        if (r < 0 || !(p.revents & POLLIN)) return discarded;
        drain();
        since = Clock::now();
        // A device that is gone (a hung-up terminal, an unplugged adapter)
        // stays readable for ever with nothing to read: what it held is
        // gone now, and nothing more will come.
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return discarded;
    }
}

}  // namespace orv::platform
