// The serial transport: binary frames and text lines over a COM port, with
// no envelope, no retries and no sequence numbers.
#include "serial.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "errors.h"
#include "transports.h"

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRest = std::chrono::milliseconds(2);

// The line rests 2 ms after each text reply. A plain sleep overshoots by the
// kernel's timer slack and more under load, so sleep to just short of the
// end and give the processor away until it comes.
void pauseAfterReply() {
    const auto end = Clock::now() + kRest;
    std::this_thread::sleep_until(end - std::chrono::microseconds(400));
    while (Clock::now() < end) std::this_thread::yield();
}

// How long a dirty line must stay quiet before a request goes out: one whole
// read time-out, the longest a reply may take. A read without time-out
// never gives up on a reply, so only the remains of a broken frame can
// follow; the time-out of a new connection covers those.
constexpr std::uint32_t kQuietWithoutTimeout = 250;
constexpr std::uint32_t kMostQuiet = 10000;
std::uint32_t quietPeriod(std::uint32_t readTimeout) {
    if (readTimeout == 0) return kQuietWithoutTimeout;
    return std::min(readTimeout, kMostQuiet);
}
// A line that has not gone quiet within this many quiet periods keeps
// talking: the request fails instead of waiting for ever.
constexpr std::uint32_t kQuietAttempts = 4;

// Devices whose port a connection of this process closed while the line
// was dirty: a reply may still arrive after the port is opened again.
struct DirtyLines {
    std::mutex mutex;
    std::set<std::string> paths;
};
DirtyLines &dirtyLines() {
    static auto *lines = new DirtyLines;  // also used by static destructors
    return *lines;
}

}  // namespace

SerialTransport::~SerialTransport() {
    if (port_.isOpen()) leaveLine();
}

void SerialTransport::leaveLine() {
    if (path_.empty()) return;
    DirtyLines &d = dirtyLines();
    std::lock_guard lock(d.mutex);
    if (dirty_) d.paths.insert(path_);
    else d.paths.erase(path_);
}

long SerialTransport::waitForQuiet(Connection &c) {
    dirty_ = true;
    const std::uint32_t quiet = quietPeriod(port_.readTimeout());
    const long discarded = port_.discardUntilQuiet(quiet, kQuietAttempts * quiet);
    // A reply refused for coming too soon, and nothing after it: it was its
    // request's answer after all, on a line that does not keep its rate.
    if (refusedEarly_ && discarded == 0) rate_.foundIgnoringRate();
    refusedEarly_ = false;
    if (discarded < 0) c.setError(err::kPacket, err::kLineNotQuiet);
    else dirty_ = false;
    return discarded;
}

bool SerialTransport::settle(Connection &c) {
    if (!dirty_ && !port_.hasInput()) return true;
    return waitForQuiet(c) >= 0;
}

bool SerialTransport::confirmReply(Connection &c) {
    // A line out of step by one reply brings this request's own answer
    // next: the reply stands only when the line stays quiet after it.
    const long discarded = waitForQuiet(c);
    if (discarded > 0) c.setError(err::kPacket, err::kReplyOutOfStep);
    return discarded == 0;
}

bool SerialTransport::writeRequest(Connection &c) {
    if (!port_.isOpen()) return false;
    if (const int e = port_.write(c.request, c.requestLength); e != 0) {
        c.setError(static_cast<std::uint16_t>(e), err::kSendFailed);
        return false;
    }
    return true;
}

bool SerialTransport::readReply(Connection &c) {
    if (port_.read(c.reply, 1) != 1) {
        c.replyLength = 0;
        c.setError(err::kTimeout, err::kTimedOut);
        return false;
    }
    firstByte_ = Clock::now();
    const std::uint8_t length = c.reply[0];
    c.replyLength = length;
    if (length == 0) {
        c.setError(err::kPacket, err::kIllegalSize);
        return false;
    }
    if (port_.read(c.reply + 1, length) != length) {
        c.setError(err::kPacket, err::kIncomplete);
        return false;
    }
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i + 1 < length; ++i) sum = static_cast<std::uint8_t>(sum + c.reply[i]);
    const std::uint8_t received = c.reply[length - 1];
    if (static_cast<std::uint8_t>(sum + received) != 0xFF) {
        c.setErrorf(err::kPacket, err::kChecksumFailedFmt, received, static_cast<std::uint8_t>(~sum));
        return false;
    }
    if (c.reply[length] != kFrameEnd) {
        c.setErrorf(err::kPacket, err::kEndOfPacketFmt, c.reply[length]);
        return false;
    }
    c.replyLength = static_cast<std::uint16_t>(length + 1);
    return true;
}

void SerialTransport::RateJudge::note(bool early) {
    ++(early ? early_ : onTime_);
    if (onTime_ + early_ >= kMost) {
        onTime_ /= 2;
        early_ /= 2;
    }
}

bool SerialTransport::cameAfterCrossing(Connection &c, Clock::duration took) {
    // The request's bytes take this long to leave; the controller cannot
    // answer before it has them all. (Only a later answer than that is
    // possible: the measure starts before the write, and a busy machine
    // only reads the answer later.)
    const auto crossing = port_.characterTime() * c.requestLength;
    const bool early = took < crossing;
    const bool judged = rate_.keepsRate();
    rate_.note(early);
    if (!early || !judged) return true;
    // A reply on its way before this request went out (repeated, or late);
    // the request's own answer is still to come.
    c.setError(err::kPacket, err::kReplyTooSoon);
    refusedEarly_ = true;
    return false;
}

bool SerialTransport::exchange(Connection &c) {
    if (!port_.isOpen()) return false;
    if (!settle(c)) return false;
    const auto sent = Clock::now();
    if (!writeRequest(c) || !readReply(c) || !cameAfterCrossing(c, firstByte_ - sent)) {
        dirty_ = true;
        return false;
    }
    // The line rests after the reply. Bytes that come meanwhile answer
    // nothing we asked: either this reply was an earlier one and ours
    // follows, or the line repeats itself or adds noise. Whose answer the
    // reply was cannot be told, so it is not handed on as ours.
    if (port_.inputBefore(Clock::now() + kRest)) {
        dirty_ = true;
        c.setError(err::kPacket, err::kBytesAfterReply);
        return false;
    }
    return true;
}

bool SerialTransport::writeText(Connection &c) {
    if (!port_.isOpen()) return false;
    // A text request that goes out gets a quiet line as a binary one does.
    // An empty one only reads on what the device sends by itself (the rest
    // of an earlier reply included), which must not be thrown away.
    if (c.requestLength > 0 && !settle(c)) return false;
    if (!writeRequest(c)) {
        dirty_ = true;
        return false;
    }
    return true;
}

bool SerialTransport::readText(Connection &c, std::uint8_t terminator) {
    c.replyLength = 0;
    if (port_.read(c.reply, 1) != 1) {
        c.setError(err::kTimeout, err::kTimedOut);
        dirty_ = true;
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
            dirty_ = true;
            return false;
        }
        if (port_.read(c.reply + c.replyLength, 1) != 1) {
            // Cut short by the time-out: the rest may still come.
            dirty_ = true;
            return lineMode;
        }
        last = c.reply[c.replyLength] == end;
        ++c.replyLength;
    }
    // What follows the terminator stays on the line for the next read.
    pauseAfterReply();
    return true;
}

bool SerialTransport::close(Connection &c) {
    leaveLine();
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

int SerialTransport::open(const std::string &path, std::uint32_t readTimeout) {
    if (const int e = port_.open(path); e != 0) return e;
    path_ = path;
    port_.setReadTimeout(readTimeout);
    DirtyLines &d = dirtyLines();
    std::lock_guard lock(d.mutex);
    dirty_ = d.paths.erase(path) > 0;
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
    port_.discardUntilQuiet(0, 0);
    return 0;
}

bool OpenSerial(Connection &c, const OpenRequest &how) {
    auto t = std::make_unique<SerialTransport>();
    const std::string path = platform::SerialDevicePath(c.port);
    // The text starts as callers know it and goes on with the device and
    // the system's reason.
    const auto failed = [&path](int e, const char *what) {
        char reason[128];
        char text[256];
        std::snprintf(text, sizeof text, "%s (%s: %s)", what, path.c_str(), strerror_r(e, reason, sizeof reason));
        libraryError().set(static_cast<std::uint16_t>(e), text);
    };
    if (const int e = t->open(path, how.serialReadTimeout); e != 0) {
        failed(e, err::kFileError);
        return false;
    }
    if (const int e = t->applyDefaults(); e != 0) {
        // The connection goes into the table all the same, unusable; the
        // port stays open in it until it is closed.
        failed(e, err::kSetCommState);
        c.status = 0;
    } else {
        c.status = 1;
    }
    c.sequence = 0;
    c.transport = std::move(t);
    return true;
}

}  // namespace orv
