// Serial line settings and the open calls' serial time-outs.
#include <fcntl.h>
#include <stdlib.h>

#include <cerrno>
#include <future>
#include <ostream>
#include <string>
#include <thread>
#include <gtest/gtest.h>

#include "error_info.h"
#include "link_fixture.h"
#include "platform/serial_port.h"
#include "platform/serial_termios.h"
#include "connection.h"
#include "orvcomm.h"
#include "serial.h"
#include "temp_dir.h"
#include "servers.h"

using orv::platform::SerialSettings;

TEST(SerialSettings, EncodeRawLineWithEveryFraming) {
    struct termios2 t {};
    // Start from a cooked line with everything a raw line must not have.
    t.c_iflag = ICRNL | IXON | IXOFF | ISTRIP | INLCR | IGNCR | BRKINT | PARMRK;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
    t.c_cflag = CS7 | PARENB | B9600 | CRTSCTS;
    SerialSettings s;
    s.baudRate = 56800;
    orv::platform::EncodeSettings(s, t);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP | INLCR | IGNCR | BRKINT | PARMRK | INPCK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(t.c_ospeed, 56800u);
    EXPECT_EQ(t.c_ispeed, 56800u);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);

    // Each parity, size and stop-bit code comes back as it went in.
    for (std::uint8_t parity = 0; parity <= 4; ++parity)
        for (std::uint8_t bits = 5; bits <= 8; ++bits)
            for (std::uint8_t stop = 0; stop <= 2; ++stop) {
                s.parity = parity;
                s.byteSize = bits;
                s.stopBits = stop;
                const bool valid = orv::platform::CheckSettings(s) == 0;
                EXPECT_EQ(valid, stop == 0 || (stop == 1) == (bits == 5)) << int(parity) << int(bits) << int(stop);
                if (!valid) continue;
                orv::platform::EncodeSettings(s, t);
                SerialSettings back;
                orv::platform::DecodeSettings(t, back);
                EXPECT_EQ(back.parity, parity);
                EXPECT_EQ(back.byteSize, bits);
                EXPECT_EQ(back.stopBits, stop);
                EXPECT_EQ(back.baudRate, 56800u);
            }
    s = SerialSettings{};
    s.parity = 3;
    orv::platform::EncodeSettings(s, t);
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | PARODD | CMSPAR));
    s.parity = 4;
    orv::platform::EncodeSettings(s, t);
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | CMSPAR));
    s.baudRate = 0;
    EXPECT_EQ(orv::platform::CheckSettings(s), EINVAL);

    // A character: start bit, data, parity bit, stop bits (8 mark: 11 bits;
    // 5 bits with one and a half stop bits: 7.5).
    using std::chrono::nanoseconds;
    s = SerialSettings{};
    EXPECT_EQ(orv::platform::CharacterTime(s), nanoseconds(1041666));
    s.baudRate = 110;
    EXPECT_EQ(orv::platform::CharacterTime(s), nanoseconds(90909090));
    s.parity = 3;
    EXPECT_EQ(orv::platform::CharacterTime(s), nanoseconds(100000000));
    s = {.baudRate = 300, .byteSize = 5, .stopBits = 1};
    EXPECT_EQ(orv::platform::CharacterTime(s), nanoseconds(25000000));
}

TEST(SerialSettings, DevicePathFromEnvironment) {
    setenv("ORVCOMM_COM7", "/dev/ttyUSB0", 1);
    EXPECT_EQ(orv::platform::SerialDevicePath(7), "/dev/ttyUSB0");
    setenv("ORVCOMM_COM7", "", 1);
    EXPECT_EQ(orv::platform::SerialDevicePath(7), "/dev/ttyS6");
    unsetenv("ORVCOMM_COM7");
    EXPECT_EQ(orv::platform::SerialDevicePath(1), "/dev/ttyS0");
}

namespace {
std::uint32_t ReadTimeoutOf(std::int32_t id) {
    orv::TableGuard guard;
    auto *c = orv::table::lookup(id, false);
    auto *t = c ? dynamic_cast<orv::SerialTransport *>(c->transport.get()) : nullptr;
    return t ? t->port().readTimeout() : 0xFFFFFFFF;
}
}  // namespace

TEST(SerialOpenTimeouts, NetOpenClampsTheReadTimeout) {
    orvemu::Controller controller;
    auto pty = orvemu::startPty(controller);
    ASSERT_TRUE(pty);
    setenv("ORVCOMM_COM42", pty->endpoint().c_str(), 1);
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {0, 1000}, {1000, 1000}, {1001, 1001}, {1500, 1500}, {20000, 20000}, {20001, 5000}, {0xFFFFFFFF, 5000}};
    for (auto [given, expected] : cases) {
        const std::int32_t id = ZqOpenNetConnection(1, 42, 0, given);
        ASSERT_NE(id, 0);
        EXPECT_EQ(ReadTimeoutOf(id), expected) << given;
        ZQ_CONNECTION_INFO info{};
        ZqGetConnectionInfo(id, &info);
        EXPECT_EQ(info.timeout, 250);
        EXPECT_EQ(ZqCloseConnection(id), 1);
    }
    const std::int32_t id = ZqOpenConnection(1, 42, 0);
    ASSERT_NE(id, 0);
    EXPECT_EQ(ReadTimeoutOf(id), 250u);
    ZQ_CONNECTION_INFO info{};
    ZqGetConnectionInfo(id, &info);
    EXPECT_EQ(info.timeout, 333);
    // The timeout call sets both the record and the port.
    EXPECT_EQ(ZqSetConnectionTimeout(id, 1234), 1);
    EXPECT_EQ(ReadTimeoutOf(id), 1234u);
    ZqGetConnectionInfo(id, &info);
    EXPECT_EQ(info.timeout, 1234);
    EXPECT_EQ(ZqCloseConnection(id), 1);
}

namespace {
// Opens a connection on the device (through a COM port of its own) with the
// given reply time-out: its ID, or 0.
std::int32_t OpenOn(const std::string &device, std::int32_t timeoutMs) {
    const int port = orvtest::NextComPort();
    orvtest::SetComPort(port, device);
    const std::int32_t id = ZqOpenConnection(1, port, 0);
    return id != 0 && ZqSetConnectionTimeout(id, timeoutMs) == 1 ? id : 0;
}

// What a serial connection's line state is: dirty, unconfirmed and how long
// its quiet period lasts (ms).
struct LineState {
    bool dirty = false, unconfirmed = false;
    long quietMs = 0;
    bool operator==(const LineState &) const = default;
};
std::ostream &operator<<(std::ostream &o, const LineState &l) {
    return o << (l.dirty ? "dirty" : "clean") << (l.unconfirmed ? ", unconfirmed" : ", confirmed") << ", quiet "
             << l.quietMs << " ms";
}
LineState LineOf(std::int32_t id) {
    orv::TableGuard guard;
    auto *c = orv::table::lookup(id, false);
    auto *t = c ? dynamic_cast<orv::SerialTransport *>(c->transport.get()) : nullptr;
    if (!t) return {};
    return {t->lineDirty(), t->lineUnconfirmed(), static_cast<long>(t->quietPeriod().count())};
}
bool LineDirty(std::int32_t id) { return LineOf(id).dirty; }
// What the line has learnt: whether it keeps its rate, and the reply code
// that answers a request code (-1: none learnt).
const orv::SerialLine *LearntOf(std::int32_t id) {
    orv::TableGuard guard;
    auto *c = orv::table::lookup(id, false);
    auto *t = c ? dynamic_cast<orv::SerialTransport *>(c->transport.get()) : nullptr;
    return t ? &t->line() : nullptr;
}
bool KeepsRate(std::int32_t id) {
    const auto *l = LearntOf(id);
    return l && l->rate().keepsRate();
}
std::size_t AnswersLearnt(std::int32_t id, std::uint8_t code) {
    const auto *l = LearntOf(id);
    return l ? l->answers().count(code) : 0;
}
}  // namespace

// Every way an exchange can end other than cleanly leaves the line out of
// step: dirty where bytes that answer nothing may be on their way (the next
// request waits for a quiet line), behind where an answer the line owed came
// whole (the next request's check reads past it). Either way the next
// request gets its own answer and leaves the line in step. A refusal is a
// clean end; a reply of another form than the request's answer is not (it
// may be a late answer to an earlier request), and the line learns nothing
// from it; a text reply, with more after its terminator or not, leaves the
// next binary request to go after a check.
TEST(SerialLine, EveryUncleanEndLeavesTheLineDirtyUntilItHasBeenQuiet) {
    using orvemu::Fault;
    using orvemu::FaultKind;
    orvemu::Controller controller;
    controller.setLineTiming(true);  // as a real line, whatever the machine's load
    auto pty = orvemu::startPty(controller);
    ASSERT_TRUE(pty);
    const std::int32_t id = OpenOn(pty->endpoint(), 300);
    ASSERT_NE(id, 0);
    controller.withMemory([](orvemu::Memory &m) {
        m.registers[1] = 41;
        m.registers[2] = 42;
    });
    std::int32_t value = 0;
    auto read = [&](std::int32_t reg = 1) { return ZqGetRegister(id, reg, &value); };
    auto text = [&] {
        std::uint8_t reply[1536];
        return ZqSendAscii(id, reinterpret_cast<const std::uint8_t *>("?\r"), 2, reply, '\r');
    };
    Fault noise{FaultKind::Noise};
    noise.noise = {0x00};
    const LineState dirty{true, true, 300}, inStep{false, false, 300}, behind{false, true, 300},
        owing{false, true, 300};
    struct Case {
        const char *name;
        Fault fault;
        bool textExchange;
        int result;
        LineState after;
    };
    const Case cases[] = {
        {"clean", {}, false, 1, inStep},
        {"noise ahead of the reply", noise, false, 0, dirty},
        {"no reply", {FaultKind::Drop}, false, 0, dirty},
        {"cut short", {FaultKind::WrongLength}, false, 0, dirty},
        {"broken", {FaultKind::CorruptChecksum}, false, 0, dirty},
        {"more after the reply", {FaultKind::Duplicate}, false, 0, behind},
        {"a refusal", {FaultKind::ShortError, 1, 0, 0x66}, false, 0, inStep},
        {"a reply of another form", {FaultKind::WrongCode}, false, 0, behind},
        {"an acknowledgement where data was due", {FaultKind::ShortError, 1, 0, 0x64}, false, 0, behind},
        {"no text reply", {FaultKind::Drop}, true, 0, dirty},
        {"more text after the terminator", {FaultKind::Garbage, 1, 0, 0, {'o', 'k', '\r', '!'}}, true, 1, owing},
    };
    // A new connection's first request goes after a check.
    EXPECT_EQ(LineOf(id), (LineState{false, true, 300}));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        controller.setFault(c.fault);
        const std::size_t learnt = AnswersLearnt(id, 0x09);
        EXPECT_EQ(c.textExchange ? text() : read(), c.result);
        EXPECT_EQ(LineOf(id), c.after);
        // A reply the read did not take teaches the line nothing.
        EXPECT_EQ(AnswersLearnt(id, 0x09), learnt + (c.after == inStep ? 1 : 0));
        // Another register, so that a reply left over from the fault shows.
        value = 0;
        EXPECT_EQ(read(2), 1);
        EXPECT_EQ(value, 42);
        EXPECT_EQ(LineOf(id), (LineState{false, false, 300}));
    }
    // A request that failed under a time-out is owed an answer within it: a
    // shorter one set afterwards does not shorten the quiet wait until the
    // line is in step again.
    controller.setFault({FaultKind::Drop});
    EXPECT_EQ(read(), 0);
    ASSERT_EQ(ZqSetConnectionTimeout(id, 120), 1);
    EXPECT_EQ(LineOf(id), (LineState{true, true, 300}));
    EXPECT_EQ(read(2), 1);
    EXPECT_EQ(LineOf(id), (LineState{false, false, 120}));
    EXPECT_EQ(ZqCloseConnection(id), 1);
}

// A reply may still come after the port is closed and opened again, also
// under another name for the same device (a symbolic link, as the by-id
// names are): a port closed dirty opens dirty, with the quiet wait of the
// time-out its last request went out under; one closed clean opens clean
// (and without what the line held). Either way the first reply of the new
// connection is watched before it is trusted.
TEST(SerialLine, APortOpensAsItsLineWasLeft) {
    orvemu::Controller controller;
    auto pty = orvemu::startPty(controller);
    ASSERT_TRUE(pty);
    const orv::test::TempDir dir;
    const std::string device = pty->endpoint(), otherName = dir.file("by-id");
    ASSERT_EQ(symlink(device.c_str(), otherName.c_str()), 0);
    struct Case {
        const char *name;
        bool dirty;
        const std::string &reopenAs;
        LineState reopened;
    } const cases[] = {
        {"closed dirty", true, device, {true, true, 300}},
        {"closed clean", false, device, {false, true, 100}},
        {"closed dirty, opened under another name", true, otherName, {true, true, 300}},
    };
    std::int32_t value = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::int32_t id = OpenOn(pty->endpoint(), 300);
        ASSERT_NE(id, 0);
        if (c.dirty) controller.setFault({orvemu::FaultKind::Drop});
        EXPECT_EQ(ZqGetRegister(id, 1, &value), c.dirty ? 0 : 1);
        EXPECT_EQ(ZqCloseConnection(id), 1);
        id = OpenOn(c.reopenAs, 100);
        ASSERT_NE(id, 0);
        EXPECT_EQ(LineOf(id), c.reopened);
        EXPECT_EQ(ZqCloseConnection(id), 1);
    }
}

// A device that goes away (the other side of the line hangs up) stays
// readable with nothing to read. The next request, on a clean line or a
// dirty one, finds nothing to wait for: it fails at once because it cannot
// be sent, not as a line that keeps talking.
TEST(SerialLine, ALineWhoseDeviceIsGoneFailsAsUnsendable) {
    for (const bool dirty : {false, true}) {
        SCOPED_TRACE(dirty ? "dirty line" : "clean line");
        orvemu::Controller controller;
        auto pty = orvemu::startPty(controller);
        ASSERT_TRUE(pty);
        const std::int32_t id = OpenOn(pty->endpoint(), 300);
        ASSERT_NE(id, 0);
        std::int32_t value = 0;
        if (dirty) controller.setFault({orvemu::FaultKind::Drop});
        EXPECT_EQ(ZqGetRegister(id, 1, &value), dirty ? 0 : 1);
        EXPECT_EQ(LineDirty(id), dirty);
        const std::string device = pty->endpoint();
        pty.reset();
        EXPECT_EQ(ZqGetRegister(id, 1, &value), 0);
        EXPECT_EQ(orvtest::ErrorText(id), "Failed to send message. (" + device + ": Input/output error)");
        EXPECT_EQ(orvtest::ErrorCode(id), EIO);
        EXPECT_EQ(ZqCloseConnection(id), 1);
    }
}

// The quiet wait counts from the last byte seen: a line quiet since long ago
// needs no more waiting (counted from now, the ten minutes would outlast the
// test's bound), while bytes found waiting came at a time nobody knows, and
// the quiet counts from now (ten minutes cannot fit in one second).
TEST(SerialLine, TheQuietCountsFromTheLastByteSeen) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    orv::platform::SerialPort port;
    ASSERT_EQ(port.open(ptsname(master)), 0);
    ASSERT_EQ(port.apply(SerialSettings{}), 0);
    using std::chrono::minutes;
    const auto longAgo = std::chrono::steady_clock::now() - minutes(11);
    EXPECT_EQ(port.discardUntilQuiet(minutes(10), minutes(40), longAgo), 0);
    ASSERT_EQ(::write(master, "x", 1), 1);
    while (!port.hasInput()) std::this_thread::yield();
    EXPECT_EQ(port.discardUntilQuiet(minutes(10), std::chrono::seconds(1), longAgo), -1);
    EXPECT_EQ(port.close(), 0);
    ::close(master);
}

// A line keeps its rate when its replies' bytes come one by one at the
// character time, 8 replies in a row; a line that hands them over at once
// or in bursts never does, however its answers are timed; replies too short
// to tell are not judged; and once judged, a busy machine that finds bytes
// together does not undo it.
TEST(SerialLine, ALineIsJudgedByHowItsRepliesBytesCome) {
    using std::chrono::microseconds;
    using std::chrono::milliseconds;
    const microseconds at9600{1042}, at115200{87};
    struct Seen {
        std::size_t rest;
        microseconds span;
        std::size_t largestChunk;
        microseconds character;
    };
    const Seen paced{7, microseconds(7300), 1, at9600}, atOnce{7, microseconds(20), 7, at9600},
        burst{7, milliseconds(16), 4, at9600}, bigBurst{60, milliseconds(62), 16, at9600},
        shortAck{3, microseconds(260), 2, at115200}, fast{7, microseconds(610), 2, at115200};
    struct Case {
        const char *name;
        std::vector<Seen> seen;
        bool keepsRate;
    } const cases[] = {
        {"seven paced", std::vector<Seen>(7, paced), false},
        {"eight paced", std::vector<Seen>(8, paced), true},
        {"eight paced at 115200", std::vector<Seen>(8, fast), true},
        {"at once", std::vector<Seen>(20, atOnce), false},
        {"in bursts", std::vector<Seen>(20, burst), false},
        {"long replies in bursts", std::vector<Seen>(20, bigBurst), false},
        {"short acknowledgements at 115200 tell nothing", std::vector<Seen>(20, shortAck), false},
        {"at once among paced ones starts the count again", {paced, paced, paced, paced, atOnce, paced, paced, paced,
                                                              paced, paced, paced, paced}, false},
        {"once judged, kept", {paced, paced, paced, paced, paced, paced, paced, paced, atOnce, atOnce}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        orv::SerialLine::RateJudge judge;
        for (const Seen &s : c.seen) judge.note(s.rest, s.span, s.largestChunk, s.character);
        EXPECT_EQ(judge.keepsRate(), c.keepsRate);
    }
}

namespace {
using orv::SerialLine;
using Ms = std::chrono::duration<double, std::milli>;
SerialLine::Duration Of(double ms) { return std::chrono::duration_cast<SerialLine::Duration>(Ms(ms)); }
// A line that has trusted these answers (request code and the controller's
// part in ms), each of a 7-byte request with a 7-byte reply at 9600 baud,
// one right after the other, on a line that keeps its rate; the last
// `sinceProof` of them since the last proof. Writes (0x0B) are
// acknowledged, everything else answered with 0x0A.
struct Learnt {
    SerialLine line;
    SerialLine::TimePoint lastEnd{};
    static constexpr std::chrono::microseconds kCharacter{1042};
    static constexpr std::chrono::milliseconds kQuiet{100};
    static SerialLine::Request request(std::uint8_t code) { return {code, kCharacter * 7, kCharacter}; }
    explicit Learnt(const std::vector<std::pair<std::uint8_t, double>> &answers, std::size_t sinceProof = 4) {
        SerialLine::TimePoint t{std::chrono::seconds(1)};
        for (int i = 0; i < 8; ++i) line.rate().note(7, kCharacter * 7, 1, kCharacter);
        for (std::size_t i = 0; i < answers.size(); ++i) {
            const auto [code, ms] = answers[i];
            const auto q = request(code);
            SerialLine::Reply r;
            r.sent = t;
            r.first = t + q.crossing + q.character + Of(ms);
            r.last = r.first + kCharacter * 7;
            r.length = code == 0x0B ? 3 : 7;
            r.code = code == 0x0B ? 0x64 : 0x0A;
            line.trusted(q, r, i + sinceProof < answers.size());
            t = lastEnd = r.last;
            t += std::chrono::milliseconds(2);
        }
    }
    // A reply to a request of `code` sent `sentMs` after the last reply's
    // end, whose first byte came `firstMs` after that end.
    SerialLine::Reply reply(double sentMs, double firstMs, bool checks) const {
        SerialLine::Reply r;
        r.sent = lastEnd + Of(sentMs);
        r.first = lastEnd + Of(firstMs);
        r.last = r.first + kCharacter * 7;
        // As the exchange looks: quiet until the request went out, then
        // until the reply may be trusted as it comes, if it came after.
        const auto after = line.trustedAfter(kQuiet, checks);
        if (!after) return r;
        r.quietUntil = r.sent;
        if (*after > r.sent && r.first > *after) r.quietUntil = *after;
        return r;
    }
    double msAfterLastEnd(std::optional<SerialLine::TimePoint> t) const {
        return t ? Ms(*t - lastEnd).count() : -1;
    }
};
}  // namespace

// How long a request is held back after the last reply, and which replies
// are watched or checked, for controllers as the field has them. (At 9600
// baud a 7-byte request takes 7.3 ms to cross and a character 1.04 ms; the
// quiet period is 100 ms.) A steady controller's requests go at once and
// its replies are trusted as they come; a jittery one's wait until their
// own answer cannot come before one the line may still owe, whatever the
// form of the answer before; a reply that comes before that is watched for
// the longest answer time. A reply sooner (by more than half a
// millisecond) or slower than any this controller gave is proven by a check
// after it, whatever its form, and so is every reply with a proof due.
// Without checks (a request sent as it stands), the rule of the time-out:
// such replies are watched for the whole quiet period, a proof due holds
// the request back, and a caller's wait of the quiet period proves the
// line.
TEST(SerialLine, RequestsWaitAndRepliesAreWatchedOnlyWhereTimeCannotTell) {
    static constexpr std::uint8_t kRead = 0x09, kWrite = 0x0B, kSlowRead = 0x4B;
    using Answers = std::vector<std::pair<std::uint8_t, double>>;
    const Answers steady(40, {kRead, 20}), longSteady(63, {kRead, 20}), jittery = [] {
        Answers a;
        for (int i = 0; i < 63; ++i) a.push_back({kRead, 10 + (i * 11) % 21});
        return a;
    }(), mostlyQuick = [] {
        // 90 % at 5 ms, 10 % at 45 ms, and once 6.2 ms (a busy controller).
        Answers a;
        for (int i = 0; i < 60; ++i) a.push_back({kRead, i % 10 == 9 ? 45 : 5});
        a.insert(a.begin() + 30, {kRead, 6.2});
        return a;
    }(), slowSeenTwice = [] {
        // 5 ms, and twice so far 45 ms.
        Answers a(60, {kRead, 5});
        a[20].second = a[40].second = 45;
        return a;
    }(), quickOrSlow = [] {
        Answers a;
        for (int i = 0; i < 60; ++i) a.push_back({kRead, i % 10 == 9 ? 60 : 2});
        return a;
    }();
    Answers readsAndWrites, manyReadsAndWrites, mixed;
    for (int i = 0; i < 40; ++i) readsAndWrites.push_back({i % 2 ? kWrite : kRead, i % 2 ? 40 : 3});
    for (int i = 0; i < 140; ++i) manyReadsAndWrites.push_back({i % 2 ? kWrite : kRead, i % 2 ? 40 : 3});
    for (int i = 0; i < 40; ++i) mixed.push_back({i % 2 ? kWrite : kRead, 20});
    auto afterRead = readsAndWrites;
    afterRead.push_back({kRead, 3});
    Answers slowAndQuick;
    for (int i = 0; i < 40; ++i) slowAndQuick.push_back({i % 2 ? kSlowRead : kRead, i % 2 ? 40 : 3});
    enum Needs { kNothing, kCheck, kProof };
    struct Case {
        const char *name;
        const Answers &learnt;
        std::size_t sinceProof;
        bool checks;
        std::uint8_t code;
        double holdMs;   // the request may go this long after the last reply's end
        double sentMs, firstMs;
        double watchMs;  // watched until this long after the last reply's end (-1: not watched)
        Needs needs;     // a check after it, or (without checks) it proves the line in step
    };
    // An answer still owed comes within the longest answer time, the
    // character and the margin (1 ms, a sixteenth of the longest and of the
    // spread) after the last reply;
    // a request waits until its own answer (its 7 bytes, a character and the
    // quickest answer time) cannot come sooner, less half a millisecond.
    // A whole watch ends 100 ms after the reply's last byte (7.294 ms after
    // its first).
    const Case cases[] = {
        // Owed within 20 + 1.042 + 2.25: the request may go in the rest.
        {"steady, its answer", steady, 4, true, kRead, -4.544, 2, 30.336, -1, kNothing},
        {"steady, a stale answer at its time after the last reply", steady, 4, true, kRead, -4.544, 2, 21.05, -1,
         kCheck},
        {"steady, slower than ever", steady, 4, true, kRead, -4.544, 2, 60, -1, kCheck},
        {"steady, a stale answer come late, sooner than its own could", steady, 4, true, kRead, -4.544, 2, 24, -1,
         kCheck},
        // Sooner than any by more than two answers count alike is sooner;
        // by a hair, it is the quickest time as a reader tells it.
        {"steady, six tenths of a millisecond sooner than any", steady, 4, true, kRead, -4.544, 2, 29.736, -1, kCheck},
        {"steady, a tenth of a millisecond sooner than any", steady, 4, true, kRead, -4.544, 2, 30.236, -1, kNothing},
        // A caller that waited long has no proof by it: a controller may
        // answer later than any time-out.
        {"steady, its answer after a caller's wait", steady, 4, true, kRead, -4.544, 150, 178.336, -1, kNothing},
        {"steady, slower than ever after a caller's wait", steady, 4, true, kRead, -4.544, 150, 200, -1, kCheck},
        // Owed within 30 + 1.042 + 4.125 (a sixteenth of the spread more);
        // its own no sooner than 8.336 + 10.
        {"jittery, held back", jittery, 4, true, kRead, 17.331, 17.331, 35.667, -1, kNothing},
        {"jittery, sent at once all the same", jittery, 4, true, kRead, 17.331, 2, 20.336, 20.336 + 7.294 + 35.167,
         kNothing},
        // Between the times a controller keeps to is no usual time, and a
        // lone late answer does not make one. Owed within 45 + 1.042 +
        // 6.3125; its own no sooner than 8.336 + 5. Its quickest answer is
        // under a quarter of that: every reply is watched as long, so that
        // an old answer sent again near 5 ms shows by the own that follows.
        {"mostly quick, its quick answer", mostlyQuick, 4, true, kRead, 39.518, 39.518, 52.854,
         52.854 + 7.294 + 52.3545, kNothing},
        {"mostly quick, its slow answer", mostlyQuick, 4, true, kRead, 39.518, 39.518, 92.854,
         92.854 + 7.294 + 52.3545, kNothing},
        {"mostly quick, an old answer come between", mostlyQuick, 4, true, kRead, 39.518, 39.518, 54.154, -1,
         kCheck},
        {"mostly quick, as late as its lone late one", mostlyQuick, 4, true, kRead, 39.518, 39.518, 54.054, -1,
         kCheck},
        // Its slow answers seen twice do not bound the answers owed yet
        // (owed within 5 + 1.042 + 1.3125), but the reply is watched for
        // them: 40 ms more.
        {"slow answers seen twice, its quick answer, watched", slowSeenTwice, 4, true, kRead, -5.4815, 2, 15.336,
         15.336 + 7.294 + 47.3545, kNothing},
        // 90 % at 2 ms, 10 % at 60 ms: the next request would wait all but
        // 10.3 of the 69.4 ms an answer owed may take, so every reply is
        // watched that long instead, and any answer it was not shows.
        {"quick or slow, its quick answer, watched", quickOrSlow, 4, true, kRead, 59.581, 59.581, 69.917, 146.628,
         kNothing},
        // After a slow read a quick one answered alike waits. While the
        // quick code has fewer than 64 answers of its own, the slow code's
        // answers may still be its own too: its replies are watched for
        // them (owed within 3 + 1.042 + 1.1875, and 37 ms more).
        {"a quick read after a slow one", slowAndQuick, 4, true, kRead, 33.706, 33.706, 45.042,
         45.042 + 7.294 + 42.2295, kNothing},
        {"a quick read after a slow one, sent at once", slowAndQuick, 4, true, kRead, 33.706, 2, 13.336,
         13.336 + 7.294 + 42.2295, kNothing},
        // Answered in another form than the last request's answer waits all
        // the same: the line may be two behind.
        {"a read after a slow write", readsAndWrites, 4, true, kRead, 33.706, 33.706, 45.042,
         45.042 + 7.294 + 42.2295, kNothing},
        {"a read after a slow write, sent at once", readsAndWrites, 4, true, kRead, 33.706, 2, 13.336,
         13.336 + 7.294 + 42.2295, kNothing},
        {"a read after a slow write, 70 reads learnt", manyReadsAndWrites, 4, true, kRead, 33.706, 33.706, 45.042, -1,
         kNothing},
        {"a write after a quick read", afterRead, 4, true, kWrite, -42.6065, 2, 50.336, -1, kNothing},
        // The answer to the read before the write, come again 8 ms after
        // this read is in, is sooner than any read's answer.
        {"a read after a write, an old answer come early", mixed, 4, true, kRead, -4.544, 2, 2 + 7.294 + 8, -1,
         kCheck},
        // A proof due: a check after the reply, and nothing held back.
        {"a proof due, its answer", steady, 31, true, kRead, -4.544, 2, 30.336, -1, kCheck},
        {"a proof due, a read after a write", mixed, 31, true, kRead, -4.544, 2, 30.336, -1, kCheck},
        {"a proof not yet due", steady, 30, true, kRead, -4.544, 2, 30.336, -1, kNothing},
        // Without checks: the rule of the time-out, which leaves a reply
        // sooner than any the margin.
        {"no checks, a stale answer at its time", steady, 4, false, kRead, -4.544, 2, 21.05, 21.05 + 7.294 + 100,
         kProof},
        {"no checks, a tenth of a millisecond sooner than any", steady, 4, false, kRead, -4.544, 2, 30.236, -1,
         kNothing},
        {"no checks, a caller's wait", steady, 4, false, kRead, -4.544, 150, 178.336, -1, kProof},
        {"no checks, a proof due, its answer", longSteady, 63, false, kRead, 72.164, 72.164, 100.5, -1, kProof},
        {"no checks, a proof due, a reply before the quiet period", longSteady, 63, false, kRead, 72.164, 60, 88.336,
         88.336 + 7.294 + 100, kProof},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Learnt l(c.learnt, c.sinceProof);
        const auto q = Learnt::request(c.code);
        const double hold = l.msAfterLastEnd(l.line.sendNoSooner(q, Learnt::kQuiet, c.checks));
        EXPECT_NEAR(hold, c.holdMs, 0.01);
        auto r = l.reply(c.sentMs, c.firstMs, c.checks);
        r.code = c.code == kWrite ? 0x64 : 0x0A;
        EXPECT_FALSE(l.line.tooSoon(q, r));
        const auto v = l.line.judge(q, r, Learnt::kQuiet, c.checks);
        EXPECT_NEAR(l.msAfterLastEnd(v.watchUntil), c.watchMs, 0.01);
        EXPECT_EQ(v.check, c.needs == kCheck);
        EXPECT_EQ(v.proof, c.needs == kProof);
    }

    // The old answer come early, looked at late (a busy machine): it seems
    // to come at a read's usual time, but the bytes already behind its
    // first show that the first came 8 ms after the request was in.
    {
        const Learnt l(mixed);
        const auto q = Learnt::request(kRead);
        auto r = l.reply(2, 2 + 8.336 + 20, true);
        r.code = 0x0A;
        r.firstBy = l.lastEnd + Of(2 + 7.294 + 8);
        EXPECT_TRUE(l.line.judge(q, r, Learnt::kQuiet, true).check);
    }

    // Before anything is learnt a reply is proven (or watched for the quiet
    // period); a reply sooner than its request's bytes could cross a line
    // that keeps its rate answered another request.
    SerialLine fresh;
    EXPECT_FALSE(fresh.sendNoSooner(Learnt::request(kRead), Learnt::kQuiet, true));
    Learnt l(steady);
    const auto r = l.reply(2, 6, true);
    EXPECT_TRUE(fresh.judge(Learnt::request(kRead), r, Learnt::kQuiet, true).check);
    EXPECT_EQ(fresh.judge(Learnt::request(kRead), r, Learnt::kQuiet, false).watchUntil, r.last + Learnt::kQuiet);
    EXPECT_TRUE(l.line.tooSoon(Learnt::request(kRead), r));
    // Right after a fault the controller has just broken what was learnt:
    // nothing is held back, and the next reply, at its usual time, is
    // proven (without checks: watched for the whole quiet period, twice
    // that after a time-out).
    l.line.dirty();
    l.line.quiet();
    EXPECT_FALSE(l.line.sendNoSooner(Learnt::request(kRead), Learnt::kQuiet, true));
    const auto usual = l.reply(2, 30.336, true);
    EXPECT_TRUE(l.line.judge(Learnt::request(kRead), usual, Learnt::kQuiet, true).check);
    EXPECT_EQ(l.line.judge(Learnt::request(kRead), usual, Learnt::kQuiet, false).watchUntil,
              usual.last + Learnt::kQuiet);
    l.line.timedOut();
    l.line.quiet();
    EXPECT_EQ(l.line.judge(Learnt::request(kRead), usual, Learnt::kQuiet, false).watchUntil,
              usual.last + 2 * Learnt::kQuiet);
    EXPECT_TRUE(l.line.judge(Learnt::request(kRead), usual, Learnt::kQuiet, false).proof);
    // Without checks, after two time-outs in a row both answers may have
    // been held, the second past any watch: the reply proves nothing, and
    // the one after it is watched for the whole quiet period, whatever its
    // form or time.
    Learnt m(mixed);
    const auto write = Learnt::request(kWrite), read = Learnt::request(kRead);
    m.line.timedOut();
    m.line.timedOut();
    m.line.quiet();
    auto late = m.reply(2, 30.336, false);
    late.code = 0x0A;
    const auto afterTwo = m.line.judge(read, late, Learnt::kQuiet, false);
    EXPECT_EQ(afterTwo.watchUntil, late.last + 2 * Learnt::kQuiet);
    EXPECT_FALSE(afterTwo.proof);
    m.line.trusted(read, late, afterTwo.proof);
    m.lastEnd = late.last;
    EXPECT_FALSE(m.line.sendNoSooner(write, Learnt::kQuiet, false));
    for (const double sentMs : {2.0, 250.0}) {
        auto ack = m.reply(sentMs, sentMs + 28.336, false);
        ack.code = 0x64;
        const auto next = m.line.judge(write, ack, Learnt::kQuiet, false);
        EXPECT_EQ(next.watchUntil, ack.last + Learnt::kQuiet);
        EXPECT_TRUE(next.proof);
    }
    // A check's own answer ends all that: nothing is owed after it, so the
    // request that follows waits for nothing and its reply, at its usual
    // time, is trusted as it comes.
    const auto status = SerialLine::kChecks[0];
    SerialLine::Reply own;
    own.sent = m.lastEnd + Of(2);
    own.first = own.sent + Of(5 * 1.042 + 20);
    own.last = own.first + Learnt::kCharacter * 4;
    m.line.proved({status.request, Learnt::kCharacter * 5, Learnt::kCharacter}, own);
    m.lastEnd = own.last;
    EXPECT_EQ(m.line.state(), SerialLine::State::InStep);
    EXPECT_FALSE(m.line.sendNoSooner(read, Learnt::kQuiet, true));
    auto after = m.reply(2, 2 + 8.336 + 20, true);
    after.code = 0x0A;
    const auto v = m.line.judge(read, after, Learnt::kQuiet, true);
    EXPECT_FALSE(v.watchUntil);
    EXPECT_FALSE(v.check);

    // A slow or a quick answer seen three times stays the longest or the
    // quickest for 256 to 319 answers.
    SerialLine::AnswerTimes times;
    using std::chrono::milliseconds;
    for (int i = 0; i < 3; ++i) {
        times.note(kRead, milliseconds(40));
        times.note(kRead, milliseconds(5));
    }
    for (int i = 0; i < 100; ++i) times.note(kRead, milliseconds(20));
    EXPECT_EQ(times.longest(kRead), milliseconds(40));
    EXPECT_EQ(times.quickest(kRead), milliseconds(5));
    // A lone one, late or early (a busy controller, a busy machine), bounds
    // nothing.
    times.note(kRead, milliseconds(90));
    times.note(kRead, milliseconds(1));
    EXPECT_EQ(times.longest(kRead), milliseconds(40));
    EXPECT_EQ(times.quickest(kRead), milliseconds(5));
    for (int i = 0; i < 300; ++i) times.note(kRead, milliseconds(20));
    EXPECT_EQ(times.longest(kRead), milliseconds(20));
    EXPECT_EQ(times.quickest(kRead), milliseconds(20));
    // A code with too few answers of its own takes all codes' longest.
    for (int i = 0; i < 3; ++i) times.note(kWrite, milliseconds(30));
    EXPECT_EQ(times.longest(kWrite), milliseconds(30));
    EXPECT_EQ(times.quickest(kWrite), milliseconds(30));
    EXPECT_EQ(times.longest(0x77), milliseconds(30));
}

// Which check goes out: one whose answer's form no answer owed can have,
// then (as far as the other allows) not that of the request that follows,
// nor that of the last two requests; both owed, the one owed longer. An
// answer of a check's form seen is no longer owed, and a proof owes nothing.
TEST(SerialLine, ACheckHasAFormNoOwedAnswerCanHave) {
    static constexpr std::uint8_t kStatus = 0x3D, kConfig = 0x41, kRead = 0x09;
    using std::chrono::milliseconds;
    struct Case {
        const char *name;
        std::vector<std::uint8_t> sent;  // requests gone out, oldest first
        std::vector<std::uint8_t> seen;  // then answers come of these reply codes (length 4)
        std::uint8_t next;
        std::uint8_t check;
    } const cases[] = {
        {"nothing known", {}, {}, kRead, kStatus},
        {"before a status read", {}, {}, kStatus, kConfig},
        {"a status read owed", {kStatus}, {}, kRead, kConfig},
        {"a status read owed, before a configuration read", {kStatus}, {}, kConfig, kConfig},
        {"a status read answered, just before", {kStatus}, {0x3E}, kRead, kConfig},
        {"a status read answered, long before", {kStatus, kRead, kRead}, {0x3E}, kRead, kStatus},
        {"a configuration read among the last two", {kConfig, kRead}, {0x42}, kRead, kStatus},
        {"both owed, the status read longer", {kStatus, kRead, kConfig}, {}, kRead, kStatus},
        {"both owed, the configuration read longer", {kConfig, kStatus, kRead, kRead}, {}, kRead, kConfig},
        {"both owed, one answered", {kStatus, kConfig, kRead, kRead}, {0x42}, kRead, kConfig},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SerialLine line;
        for (const std::uint8_t code : c.sent) line.sending(code, milliseconds(100));
        for (const std::uint8_t code : c.seen) {
            SerialLine::Reply r;
            r.length = 4;
            r.code = code;
            line.seen(r);
        }
        EXPECT_EQ(line.checkFor(c.next).request, c.check);
    }
    SerialLine line;
    line.sending(kStatus, milliseconds(100));
    line.sending(kConfig, milliseconds(100));
    line.sending(kRead, milliseconds(100));
    line.sending(kRead, milliseconds(100));
    line.proved({kStatus}, {});
    EXPECT_EQ(line.checkFor(kRead).request, kStatus);
}

// A line that keeps its rate cannot answer a request before the request has
// crossed it. Once it has shown that it keeps its rate (its replies' bytes
// came paced; a busy machine may take a while to see it), a reply that comes
// sooner (a repeated one, sent as the next request reaches the controller)
// fails that request, and the line is in step again for the one after; its
// own answers at that rate pass. A line that ignores its rate hands its
// replies' bytes over at once, and is never judged by the rate, however its
// answers are timed. The slow rate lets the crossing (7 bytes at 110 baud:
// 636 ms) dwarf any delay that a busy machine adds.
TEST(SerialLine, AReplySoonerThanTheLineAllowsIsNotTheAnswer) {
    struct Case {
        const char *name;
        bool lineTiming;
        int replyDelayMs;
    } const cases[] = {
        {"a line that keeps its rate, a repeated reply", true, 0},
        {"a line that ignores its rate, answering in time", false, 20},
    };
    constexpr std::int32_t kBase = 70000;
    orvemu::Controller controller;
    auto pty = orvemu::startPty(controller);
    ASSERT_TRUE(pty);
    for (int n = 1; n <= 4; ++n) orvtest::SetRegister(controller, n, kBase + n);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        controller.setLineTiming(c.lineTiming);
        controller.setReplyDelay(c.replyDelayMs, c.replyDelayMs);
        // A fresh connection, which has not yet seen how the line keeps time.
        const std::int32_t id = OpenOn(pty->endpoint(), 300);
        ASSERT_NE(id, 0);
        auto readOwn = [&](int n) {
            std::int32_t v = -1;
            return ZqGetRegister(id, n, &v) == 1 && v == kBase + n;
        };
        // Until the line has shown how it keeps time; only a hang reaches the bound.
        for (int i = 0; i < 2000 && !(i >= 20 && (KeepsRate(id) || !c.lineTiming)); ++i)
            ASSERT_TRUE(readOwn(1 + i % 2)) << orvtest::ErrorText(id);
        EXPECT_EQ(KeepsRate(id), c.lineTiming);
        // The copy goes out as the next request reaches the controller. Should
        // that be the line's check after the read (its reply came sooner than
        // any), the check finds it and the read fails: again.
        bool read = false;
        for (int tries = 0; tries < 10 && !read; ++tries) {
            if (c.lineTiming) controller.setFault({orvemu::FaultKind::Duplicate, 1, -1});
            read = readOwn(1);
            if (!read)
                ASSERT_EQ(orvtest::ErrorText(id), "Serial line out of step: the reply's own answer came after it, "
                                                  "before the line's check");
        }
        ASSERT_TRUE(read);
        // The longer time-out outlasts an answer at 110 baud (727 ms).
        ASSERT_EQ(ZqSetConnectionTimeout(id, 1000), 1);
        ASSERT_EQ(ZqInitConnection(id, 110, 0, 8, 0), 1);
        EXPECT_EQ(readOwn(2), !c.lineTiming) << orvtest::ErrorText(id);
        if (c.lineTiming) {
            EXPECT_EQ(orvtest::ErrorText(id), "Reply came before the request could reach the controller");
            EXPECT_EQ(orvtest::ErrorCode(id), 206);
        }
        ASSERT_EQ(ZqInitConnection(id, 9600, 0, 8, 0), 1);
        EXPECT_TRUE(readOwn(3)) << orvtest::ErrorText(id);
        ASSERT_EQ(ZqInitConnection(id, 110, 0, 8, 0), 1);
        EXPECT_TRUE(readOwn(4)) << orvtest::ErrorText(id);
        EXPECT_EQ(ZqCloseConnection(id), 1);
    }
}

// A line that takes no bytes (its flow control held, or nobody reading its
// other side) fails a request once the time-out and the time its bytes take
// on the line have passed, instead of blocking the caller, and leaves the
// line dirty. The pseudo-terminal here is read by nobody: each request fills
// it further until it takes no more.
TEST(SerialLine, AWriteToALineThatTakesNoBytesFails) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string device = ptsname(master);
    const std::int32_t id = OpenOn(device, 5);
    ASSERT_NE(id, 0) << orvtest::ErrorText(0);
    ASSERT_EQ(ZqInitConnection(id, 115200, 0, 8, 0), 1);
    const orvtest::Bytes request(1400, 0x55);
    auto sendUntilRefused = std::async(std::launch::async, [&] {
        for (int sent = 0; sent < 1000; ++sent)
            if (orvtest::Send(id, request).result == 0 && orvtest::ErrorCode(id) != 170) return sent;
        return -1;
    });
    // Only a write that never gives up reaches this bound; closing the
    // other side then ends it.
    const bool returned = sendUntilRefused.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    if (!returned) ::close(master);
    ASSERT_TRUE(returned) << "a write to a line that takes no bytes never returned";
    EXPECT_GT(sendUntilRefused.get(), 0);
    // 5 ms and 1400 bytes at 115200 baud (121.5 ms).
    EXPECT_EQ(orvtest::ErrorText(id), "Failed to send message. (" + device +
                                          ": the line did not take the request within 127 ms)");
    EXPECT_EQ(orvtest::ErrorCode(id), ETIMEDOUT);
    EXPECT_TRUE(LineDirty(id));
    EXPECT_EQ(ZqCloseConnection(id), 1);
    ::close(master);
}
