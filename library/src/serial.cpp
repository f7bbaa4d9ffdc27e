// The serial transport: binary frames and text lines over a COM port, with
// no envelope, no retries and no sequence numbers.
#include "serial.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <map>
#include <thread>
#include <utility>

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

// A read time-out given as milliseconds, as long as a reply may take. A read
// without time-out never gives up on a reply, so only the remains of a
// broken frame can follow; the time-out of a new connection covers those.
constexpr std::chrono::milliseconds kQuietWithoutTimeout{250};
std::chrono::milliseconds replyTimeLimit(std::uint32_t readTimeout) {
    if (readTimeout == 0) return kQuietWithoutTimeout;
    return std::chrono::milliseconds(readTimeout);
}
// A line that has not gone quiet within this many quiet periods keeps
// talking: the request fails instead of waiting for ever.
constexpr int kQuietAttempts = 4;

// Devices whose port a connection of this process closed while the line
// was dirty, by device (whatever name it was opened under), with the
// longest time-out in force since: a reply may still arrive after the port
// is opened again.
struct DirtyLines {
    std::mutex mutex;
    std::map<std::string, std::chrono::milliseconds> devices;
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
    if (device_.empty()) return;
    DirtyLines &d = dirtyLines();
    std::lock_guard lock(d.mutex);
    const auto state = line_.state();
    if (state == SerialLine::State::Dirty || state == SerialLine::State::Behind) d.devices[device_] = quietPeriod();
    else d.devices.erase(device_);
}

std::chrono::milliseconds SerialTransport::quietPeriod() const {
    return line_.quietPeriod(replyTimeLimit(port_.readTimeout()));
}

bool SerialTransport::waitForQuiet(Connection &c) {
    line_.dirty();
    const auto quiet = quietPeriod();
    // The quiet counts from the last byte seen on the line, either way, or
    // from the end of the first time-out since bytes came (the answer of a
    // request that timed out may still come, as late again as the time-out;
    // a line silent for a whole time-out after that is a silent line): a
    // line quiet since then needs no more waiting.
    auto since = lastSeen_;
    if (silentSince_ && (!since || *since < *silentSince_)) since = silentSince_;
    if (port_.discardUntilQuiet(quiet, kQuietAttempts * quiet, since) < 0) {
        c.setError(err::kPacket, err::kLineNotQuiet);
        return false;
    }
    sent(Clock::now() - quiet);
    line_.quiet();
    return true;
}

void SerialTransport::sent(Clock::time_point t) { lastSeen_ = lastSeen_ ? std::max(*lastSeen_, t) : t; }

void SerialTransport::heard(Clock::time_point t) {
    sent(t);
    silentSince_.reset();
}

void SerialTransport::timedOut() {
    line_.timedOut();
    if (!silentSince_) silentSince_ = Clock::now();
}

bool SerialTransport::settle(Connection &c, bool checks) {
    switch (line_.state()) {
    case SerialLine::State::Dirty: return waitForQuiet(c);
    // A check reads past the answers the line owed; without one they must
    // be let go by.
    case SerialLine::State::Behind: return checks || waitForQuiet(c);
    default: break;
    }
    if (!port_.hasInput()) return true;
    // Bytes nobody asked for: the last reply was not its request's own
    // after all, or the line repeats itself.
    if (!checks) return waitForQuiet(c);
    line_.behind();
    return true;
}

bool SerialTransport::quietUntil(Clock::time_point end) {
    // The look after the end tells what may have come just before it.
    return !port_.inputBefore(end) && !port_.hasInput();
}

bool SerialTransport::takeReply(Connection &c, bool answers) {
    const auto taken = std::exchange(taken_, std::nullopt);
    if (answers) {
        if (!taken) return true;
        if (taken->check) return checkAfter(c, taken->request, taken->reply);
        // Only a reply taken whole, its form included, teaches the line.
        line_.trusted(taken->request, taken->reply, taken->proof);
        return true;
    }
    // Without sequence numbers a reply of another form than the request
    // expects (an acknowledgement where data was due) is as likely a late
    // answer to an earlier request as this one's: its own may follow.
    const bool ack = c.replyLength == 4 && c.reply[0] == 3 && c.reply[1] == kReplyAck;
    c.setError(err::kPacket, ack ? err::kAckWhereDataWasDue : err::kReplyOfAnotherForm);
    line_.behind();
    return false;
}

SerialLine::Request SerialTransport::requestOf(const Connection &c) const {
    const auto character = port_.characterTime();
    return {c.requestLength >= 3 ? c.request[2] : std::uint8_t{0}, character * c.requestLength, character};
}

bool SerialTransport::writeBytes(Connection &c, const std::uint8_t *bytes, std::size_t count, std::uint8_t code) {
    if (!port_.isOpen()) return false;
    // Its answer may take as long as the time-out it goes out under, even
    // once a shorter one is set.
    line_.sending(code, replyTimeLimit(port_.readTimeout()));
    // A line that takes no bytes (held by flow control, or nobody at the
    // other side of it) gets the time-out and the time the bytes take on it.
    const auto most = replyTimeLimit(port_.readTimeout()) +
                      std::chrono::ceil<std::chrono::milliseconds>(port_.characterTime() * count);
    if (const int e = port_.write(bytes, count, most); e != 0) {
        // The text starts as callers know it and goes on with the device
        // and the reason.
        char reason[128];
        if (e == ETIMEDOUT)
            std::snprintf(reason, sizeof reason, "the line did not take the request within %lld ms",
                          static_cast<long long>(most.count()));
        c.setErrorf(static_cast<std::uint16_t>(e), "%s (%s: %s)", err::kSendFailed, path_.c_str(),
                    e == ETIMEDOUT ? reason : strerror_r(e, reason, sizeof reason));
        return false;
    }
    return true;
}

SerialTransport::Frame SerialTransport::readFrame(std::uint8_t *buffer, std::uint16_t &length, SerialLine::Reply &r,
                                                  std::optional<Clock::time_point> deadline, FrameFault &why) {
    const auto fault = [&why](std::uint16_t code, const char *text) {
        why.code = code;
        std::snprintf(why.text, sizeof why.text, "%s", text);
        return Frame::Broken;
    };
    length = 0;
    if (port_.readUntil(buffer, 1, deadline) != 1) {
        why.code = err::kTimeout;
        std::snprintf(why.text, sizeof why.text, "%s", err::kTimedOut);
        return Frame::Nothing;
    }
    r.first = r.last = Clock::now();
    heard(r.first);
    const std::uint8_t announced = buffer[0];
    length = announced;
    if (announced == 0) return fault(err::kPacket, err::kIllegalSize);
    platform::SerialPort::ReadTrace trace;
    const std::size_t got = port_.read(buffer + 1, announced, &trace);
    if (got > 0) heard(trace.last);
    if (got != announced) return fault(err::kPacket, err::kIncomplete);
    r.last = trace.last;
    r.firstBy = trace.byteBeforeBy;
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i + 1 < announced; ++i) sum = static_cast<std::uint8_t>(sum + buffer[i]);
    const std::uint8_t received = buffer[announced - 1];
    if (static_cast<std::uint8_t>(sum + received) != 0xFF) {
        why.code = err::kPacket;
        std::snprintf(why.text, sizeof why.text, err::kChecksumFailedFmt, received, static_cast<std::uint8_t>(~sum));
        return Frame::Broken;
    }
    if (buffer[announced] != kFrameEnd) {
        why.code = err::kPacket;
        std::snprintf(why.text, sizeof why.text, err::kEndOfPacketFmt, buffer[announced]);
        return Frame::Broken;
    }
    length = static_cast<std::uint16_t>(announced + 1);
    r.length = announced;
    r.code = announced >= 2 ? buffer[1] : 0;
    line_.seen(r);
    // How the bytes came tells whether the line keeps its rate, whoever's
    // answer they were.
    line_.rate().note(announced, r.last - r.first, trace.largestChunk, port_.characterTime());
    return Frame::Whole;
}

bool SerialTransport::readReply(Connection &c, SerialLine::Reply &r, std::optional<Clock::time_point> deadline) {
    FrameFault why;
    if (readFrame(c.reply, c.replyLength, r, deadline, why) == Frame::Whole) return true;
    c.setError(why.code, why.text);
    return false;
}

SerialTransport::CheckEnd SerialTransport::runCheck(Connection &c, std::uint8_t next, CheckProof &proof) {
    // Answers the line may owe ahead of the check's own; more, and the line
    // keeps talking.
    constexpr int kMostOwed = 8;
    const SerialLine::Check &k = line_.checkFor(next);
    const std::uint8_t request[] = {1, 3, k.request, static_cast<std::uint8_t>(~k.request), kFrameEnd};
    const auto character = port_.characterTime();
    proof.request = {k.request, character * static_cast<std::int64_t>(sizeof request), character};
    const auto sentAt = Clock::now();
    sent(sentAt);
    if (!writeBytes(c, request, sizeof request, k.request)) {
        line_.dirty();
        return CheckEnd::Failed;
    }
    const auto limit = replyTimeLimit(port_.readTimeout());
    auto deadline = sentAt + limit;
    bool ownCameLate = false;
    for (int n = 0;; ++n) {
        std::uint8_t frame[kMaxReply];
        std::uint16_t length = 0;
        FrameFault why;
        SerialLine::Reply r;
        r.sent = sentAt;
        const Frame end = readFrame(frame, length, r, deadline, why);
        if (end == Frame::Nothing) {
            timedOut();
            // Nothing at all before a request: a silent controller, as any
            // request's time-out shows it.
            if (n == 0 && next != 0) {
                c.setError(err::kTimeout, err::kTimedOut);
                return CheckEnd::Silent;
            }
            c.setErrorf(err::kPacket, "%s%s %lld ms", err::kOutOfStep, err::kCheckUnanswered,
                        static_cast<long long>(limit.count()));
            return CheckEnd::Failed;
        }
        if (end == Frame::Broken) {
            line_.dirty();
            c.setErrorf(err::kPacket, "%s%s", err::kOutOfStep, why.text);
            return CheckEnd::Broken;
        }
        if (r.length == SerialLine::kCheckReplyLength && r.code == k.reply && !line_.tooSoon(proof.request, r)) {
            // No rest after it: bytes that follow at once show to the next
            // request, as bytes waiting or as a reply of the check's form.
            if (port_.hasInput()) {
                line_.behind();
                c.setErrorf(err::kPacket, "%s%s", err::kOutOfStep, err::kCheckFollowed);
                return CheckEnd::Failed;
            }
            proof.reply = r;
            return ownCameLate ? CheckEnd::OwnCameLate : CheckEnd::Proved;
        }
        // An answer the line owed: thrown away, and the check's own follows
        // it within the time-out. After a reply, the first such is that
        // reply's own answer, come after it.
        if (n == 0 && next == 0) ownCameLate = true;
        if (n + 1 >= kMostOwed) {
            line_.behind();
            c.setErrorf(err::kPacket, "%s%s", err::kOutOfStep, err::kCheckKeptAnswering);
            return CheckEnd::Failed;
        }
        deadline = r.last + limit;
    }
}

bool SerialTransport::checkBefore(Connection &c, std::uint8_t next) {
    CheckProof proof;
    CheckEnd end = runCheck(c, next, proof);
    if (end == CheckEnd::Broken) {
        if (!waitForQuiet(c)) return false;
        end = runCheck(c, next, proof);
    }
    if (end != CheckEnd::Proved) return false;
    line_.proved(proof.request, proof.reply);
    return true;
}

bool SerialTransport::checkAfter(Connection &c, const SerialLine::Request &q, const SerialLine::Reply &r) {
    CheckProof proof;
    switch (runCheck(c, 0, proof)) {
    case CheckEnd::Proved:
        line_.trusted(q, r, false);
        line_.proved(proof.request, proof.reply);
        return true;
    case CheckEnd::OwnCameLate:
        // In step again, but the reply was an earlier request's answer.
        line_.proved(proof.request, proof.reply);
        c.setErrorf(err::kPacket, "%s%s", err::kOutOfStep, err::kCheckAnsweredLate);
        return false;
    default: return false;
    }
}

bool SerialTransport::exchange(Connection &c) {
    taken_.reset();
    if (!port_.isOpen()) return false;
    const bool checks = c.checkable;
    if (!settle(c, checks)) return false;
    const SerialLine::Request q = requestOf(c);
    // Not known to be in step: a check first, so that no answer the line
    // owes, however late, is taken for this request's.
    if (checks && line_.state() != SerialLine::State::InStep && !checkBefore(c, q.code)) return false;
    if (const auto go = line_.sendNoSooner(q, quietPeriod(), checks); go && port_.inputBefore(*go)) {
        // Bytes after the last reply, trusted and handed on: it was not its
        // request's own after all (its own has come now), or the line
        // repeats itself.
        if (checks) {
            line_.behind();
            if (!checkBefore(c, q.code)) return false;
        } else if (!waitForQuiet(c)) {
            return false;
        }
    }
    const auto trustedAfter = line_.trustedAfter(quietPeriod(), checks);
    SerialLine::Reply r;
    r.sent = Clock::now();
    // In step, nothing has come since the last reply (it would be waiting):
    // the line has been quiet until now.
    if (trustedAfter && !port_.hasInput()) r.quietUntil = r.sent;
    std::optional<Clock::time_point> deadline;
    if (port_.readTimeout() != 0) deadline = r.sent + std::chrono::milliseconds(port_.readTimeout());
    sent(r.sent);
    if (!writeBytes(c, c.request, c.requestLength, q.code)) {
        line_.dirty();
        return false;
    }
    // A reply that comes once the line has stayed quiet long enough after
    // the last one cannot be an answer that line still owed. (Looked at
    // after the moment, so that a busy machine that looks late counts the
    // reply as sooner, never as later.)
    if (trustedAfter && r.quietUntil && *trustedAfter > *r.quietUntil) {
        const auto end = deadline ? std::min(*trustedAfter, *deadline) : *trustedAfter;
        if (quietUntil(end)) r.quietUntil = end;
    }
    if (!readReply(c, r, deadline)) {
        // Nothing came at all: its answer may still be on its way.
        if (r.first == Clock::time_point{}) timedOut();
        else line_.dirty();
        return false;
    }
    if (line_.tooSoon(q, r)) {
        // A reply on its way before this request went out (repeated, or
        // late); the request's own answer is still to come.
        c.setError(err::kPacket, err::kReplyTooSoon);
        line_.behind();
        return false;
    }
    if (port_.inputBefore(Clock::now() + kRest)) {
        // The line rests after the reply. Bytes that come meanwhile answer
        // nothing we asked: either this reply was an earlier one and ours
        // follows, or the line repeats itself or adds noise. Whose answer
        // the reply was cannot be told, so it is not handed on as ours.
        c.setError(err::kPacket, err::kBytesAfterReply);
        line_.behind();
        return false;
    }
    const SerialLine::Verdict v = line_.judge(q, r, quietPeriod(), checks);
    if (v.watchUntil && !quietUntil(*v.watchUntil)) {
        // The answer still owed came: the reply was an earlier request's.
        c.setError(err::kPacket, err::kReplyOutOfStep);
        line_.behind();
        return false;
    }
    // Learnt from, or proven by a check, only once the caller takes it for
    // its answer.
    taken_ = Taken{q, r, v.proof, v.check};
    return true;
}

bool SerialTransport::writeText(Connection &c) {
    if (!port_.isOpen()) return false;
    // A text request that goes out gets a quiet line as a binary one does.
    // An empty one only reads on what the device sends by itself (the rest
    // of an earlier reply included), which must not be thrown away.
    if (c.requestLength > 0 && !settle(c, false)) return false;
    line_.textExchanged();
    sent(Clock::now());
    if (!writeBytes(c, c.request, c.requestLength, 0)) {
        line_.dirty();
        return false;
    }
    return true;
}

bool SerialTransport::readText(Connection &c, std::uint8_t terminator) {
    c.replyLength = 0;
    if (port_.read(c.reply, 1) != 1) {
        c.setError(err::kTimeout, err::kTimedOut);
        timedOut();
        return false;
    }
    heard(Clock::now());
    c.replyLength = 1;
    const bool lineMode = terminator == 0 && c.reply[0] == '\n';
    const std::uint8_t end = lineMode ? '\n' : terminator;
    bool last = !lineMode && c.reply[0] == terminator;
    while (!last) {
        // The reply buffer bounds the line: a reply that fills it before
        // its terminator is refused rather than overrun.
        if (c.replyLength >= kMaxReply) {
            c.setError(err::kPacket, err::kTextTooLong);
            line_.dirty();
            return false;
        }
        if (port_.read(c.reply + c.replyLength, 1) != 1) {
            // Cut short by the time-out: the rest may still come.
            line_.dirty();
            return lineMode;
        }
        heard(Clock::now());
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
    device_ = port_.deviceKey();
    port_.setReadTimeout(readTimeout);
    DirtyLines &d = dirtyLines();
    std::lock_guard lock(d.mutex);
    if (const auto it = d.devices.find(device_); it != d.devices.end()) {
        line_.openedDirty(it->second);
        d.devices.erase(it);
    }
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
    port_.discardUntilQuiet({}, {});
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
