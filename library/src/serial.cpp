// The serial transport: binary frames and text lines over a COM port, with
// no envelope, no retries and no sequence numbers.
#include "serial.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "errors.h"
#include "transports.h"

namespace orv {

namespace {

// The line rests 2 ms after each reply. A plain sleep overshoots by the
// kernel's timer slack and more under load, so sleep to just short of the
// end and give the processor away until it comes.
void pauseAfterReply() {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(2);
    std::this_thread::sleep_until(end - std::chrono::microseconds(400));
    while (Clock::now() < end) std::this_thread::yield();
}

// How long the line must stay quiet before a text request follows a failed
// binary exchange, and how long the wait may take in all.
std::uint32_t quietAfterFailure(std::uint32_t readTimeout) {
    return readTimeout == 0 || readTimeout > 500 ? 500 : readTimeout;
}

// A reply is owed for this many read time-outs after its exchange failed;
// a controller that is later still has dropped it.
constexpr std::uint64_t kOwedTimeouts = 4;
constexpr std::uint64_t kMostOwedMs = 10000;
// At most this many owed replies are remembered.
constexpr std::size_t kMostOwed = 16;
// How long a reply may be followed by another before it counts as ours:
// a line that answers in order sends our reply within its time-out of the
// earlier one's.
std::uint32_t followWindow(std::uint32_t readTimeout) { return std::min<std::uint32_t>(readTimeout, 1000); }

// Replies owed on a line whose port was closed, by device path: a reply
// may come after a reconnection as well.
struct OwedByLine {
    std::mutex mutex;
    std::map<std::string, std::deque<std::chrono::steady_clock::time_point>> lines;
};
OwedByLine &owedByLine() {
    static auto *owed = new OwedByLine;  // also used by static destructors
    return *owed;
}

}  // namespace

SerialTransport::~SerialTransport() { leaveOwedWithLine(); }

void SerialTransport::leaveOwedWithLine() {
    forgetExpired();
    if (owed_.empty() || path_.empty()) return;
    OwedByLine &o = owedByLine();
    std::lock_guard lock(o.mutex);
    o.lines[path_] = std::move(owed_);
    owed_.clear();
}

void SerialTransport::prepareText() {
    if (!discardPending_) return;
    // A late reply to the failed exchange would otherwise be taken as the
    // answer to this one.
    discardPending_ = false;
    const std::uint32_t quiet = quietAfterFailure(port_.readTimeout());
    port_.discardInput(quiet, 4 * quiet);
}

void SerialTransport::owe() {
    const std::uint32_t timeout = port_.readTimeout();
    if (timeout == 0) return;  // a read without time-out never gives up on a reply
    if (owed_.size() == kMostOwed) owed_.pop_front();
    const std::uint64_t owedMs = std::min(kOwedTimeouts * timeout, kMostOwedMs);
    owed_.push_back(Clock::now() + std::chrono::milliseconds(owedMs));
}

void SerialTransport::forgetExpired() {
    const auto now = Clock::now();
    while (!owed_.empty() && owed_.front() <= now) owed_.pop_front();
}

bool SerialTransport::writeRequest(Connection &c) {
    if (!port_.isOpen()) return false;
    if (const int e = port_.write(c.request, c.requestLength); e != 0) {
        c.setError(static_cast<std::uint16_t>(e), err::kSendFailed);
        return false;
    }
    return true;
}

SerialTransport::Read SerialTransport::readReply(Connection &c) {
    if (port_.read(c.reply, 1) != 1) {
        c.replyLength = 0;
        c.setError(err::kTimeout, err::kTimedOut);
        return Read::Short;
    }
    const std::uint8_t length = c.reply[0];
    c.replyLength = length;
    if (length == 0) {
        c.setError(err::kPacket, err::kIllegalSize);
        return Read::Broken;
    }
    if (port_.read(c.reply + 1, length) != length) {
        c.setError(err::kPacket, err::kIncomplete);
        return Read::Short;
    }
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i + 1 < length; ++i) sum = static_cast<std::uint8_t>(sum + c.reply[i]);
    const std::uint8_t received = c.reply[length - 1];
    if (static_cast<std::uint8_t>(sum + received) != 0xFF) {
        c.setErrorf(err::kPacket, err::kChecksumFailedFmt, received, static_cast<std::uint8_t>(~sum));
        return Read::Broken;
    }
    if (c.reply[length] != kFrameEnd) {
        c.setErrorf(err::kPacket, err::kEndOfPacketFmt, c.reply[length]);
        return Read::Broken;
    }
    c.replyLength = static_cast<std::uint16_t>(length + 1);
    return Read::Ok;
}

bool SerialTransport::exchange(Connection &c) {
    if (!port_.isOpen()) return false;
    forgetExpired();
    // Whatever waits on the line now answers an earlier request.
    port_.discardInput(0, 0);
    discardPending_ = false;
    if (!writeRequest(c)) return false;
    for (;;) {
        const Read r = readReply(c);
        if (r != Read::Ok) {
            // A reply cut short by the time-out may still come, whole or in
            // part, and would meet the next request: it is owed. So is one
            // after a broken frame while earlier replies are owed (it may
            // have been one of them); otherwise what follows a broken frame
            // is on the line by the next request, which discards it.
            if (r == Read::Short || !owed_.empty()) owe();
            discardPending_ = true;
            return false;
        }
        // The line answers in order, so an earlier request's late reply
        // comes before ours. While one is owed, a reply that another follows
        // within the time-out was the earlier request's: ours is the later.
        if (owed_.empty() || !port_.waitForInput(followWindow(port_.readTimeout()))) break;
        owed_.pop_front();
    }
    pauseAfterReply();
    return true;
}

bool SerialTransport::writeText(Connection &c) {
    if (!port_.isOpen()) return false;
    prepareText();
    return writeRequest(c);
}

bool SerialTransport::readText(Connection &c, std::uint8_t terminator) {
    c.replyLength = 0;
    if (port_.read(c.reply, 1) != 1) {
        c.setError(err::kTimeout, err::kTimedOut);
        return false;
    }
    c.replyLength = 1;
    const bool lineMode = terminator == 0 && c.reply[0] == '\n';
    const std::uint8_t end = lineMode ? '\n' : terminator;
    bool last = !lineMode && c.reply[0] == terminator;
    while (!last) {
        // The reply buffer bounds the line: a reply that fills it before
        // its terminator is refused rather than overrun.
        if (c.replyLength >= kMaxReply) {
            c.setError(err::kPacket, err::kTextTooLong);
            return false;
        }
        if (port_.read(c.reply + c.replyLength, 1) != 1) return lineMode;
        last = c.reply[c.replyLength] == end;
        ++c.replyLength;
    }
    pauseAfterReply();
    return true;
}

bool SerialTransport::close(Connection &c) {
    leaveOwedWithLine();
    if (const int e = port_.close(); e != 0) {
        c.setError(static_cast<std::uint16_t>(e), err::kCloseSerial);
        return false;
    }
    return true;
}

bool SerialTransport::setTimeout(Connection &c, std::int32_t ms) {
    if (!port_.isOpen()) {
        c.setError(EBADF, err::kSerialTimeout);
        return false;
    }
    // As the port's own time-outs take it: a negative value is a huge one.
    port_.setReadTimeout(static_cast<std::uint32_t>(ms));
    return true;
}

bool SerialTransport::applyLineSettings(Connection &c, std::int32_t baud, std::uint8_t parity,
                                        std::uint8_t dataBits, std::uint8_t stopBits) {
    int e = port_.get(settings_);
    if (e == 0) {
        settings_.baudRate = static_cast<std::uint32_t>(baud);
        settings_.parity = parity;
        settings_.byteSize = dataBits;
        settings_.stopBits = stopBits;
        e = port_.apply(settings_);
    }
    if (e != 0) {
        c.setError(static_cast<std::uint16_t>(e), err::kSetCommState);
        return false;
    }
    return true;
}

int SerialTransport::open(std::int32_t portNumber, std::uint32_t readTimeout) {
    const std::string path = platform::SerialDevicePath(portNumber);
    if (const int e = port_.open(path); e != 0) return e;
    path_ = path;
    port_.setReadTimeout(readTimeout);
    OwedByLine &o = owedByLine();
    std::lock_guard lock(o.mutex);
    if (auto it = o.lines.find(path); it != o.lines.end()) {
        owed_ = std::move(it->second);
        o.lines.erase(it);
    }
    forgetExpired();
    return 0;
}

int SerialTransport::applyDefaults() {
    platform::SerialSettings s;
    if (const int e = port_.get(s); e != 0) return e;
    s.baudRate = 9600;
    s.byteSize = 8;
    s.parity = 0;
    s.stopBits = 0;
    s.parityCheck = false;
    s.ctsFlow = false;
    s.dtrOn = true;
    s.rtsOn = true;
    s.xonXoffOut = false;
    s.xonXoffIn = false;
    s.xonChar = 0x11;
    s.xoffChar = 0x13;
    settings_ = s;
    if (const int e = port_.apply(s); e != 0) return e;
    // Whatever the line held before we came is no answer to anything.
    port_.discardInput(0, 0);
    return 0;
}

bool OpenSerial(Connection &c, const OpenRequest &how) {
    auto t = std::make_unique<SerialTransport>();
    if (const int e = t->open(c.port, how.serialReadTimeout); e != 0) {
        libraryError().set(static_cast<std::uint16_t>(e), err::kFileError);
        return false;
    }
    if (const int e = t->applyDefaults(); e != 0) {
        // The connection goes into the table all the same, unusable; the
        // port stays open in it until it is closed.
        libraryError().set(static_cast<std::uint16_t>(e), err::kSetCommState);
        c.status = 0;
    } else {
        c.status = 1;
    }
    c.sequence = 0;
    c.transport = std::move(t);
    return true;
}

}  // namespace orv
