// Serial line settings and the open calls' serial time-outs.
#include <fcntl.h>
#include <stdlib.h>

#include <cerrno>
#include <future>
#include <ostream>
#include <string>
#include <gtest/gtest.h>

#include "error_info.h"
#include "link_fixture.h"
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
}  // namespace

// Every way an exchange can end other than cleanly leaves the line dirty; the
// next request waits for a quiet line, gets its own answer and leaves the
// line clean. A refusal, or a text reply with more after its terminator, is
// a clean end; a reply that does not fit its request has the quiet wait at
// once.
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
    struct Case {
        const char *name;
        Fault fault;
        bool textExchange;
        int result;
        bool dirty;
    };
    const Case cases[] = {
        {"clean", {}, false, 1, false},
        {"noise ahead of the reply", noise, false, 0, true},
        {"no reply", {FaultKind::Drop}, false, 0, true},
        {"cut short", {FaultKind::WrongLength}, false, 0, true},
        {"broken", {FaultKind::CorruptChecksum}, false, 0, true},
        {"more after the reply", {FaultKind::Duplicate}, false, 0, true},
        {"a refusal", {FaultKind::ShortError, 1, 0, 0x66}, false, 0, false},
        {"a reply of another form", {FaultKind::WrongCode}, false, 0, false},
        {"no text reply", {FaultKind::Drop}, true, 0, true},
        {"more text after the terminator", {FaultKind::Garbage, 1, 0, 0, {'o', 'k', '\r', '!'}}, true, 1, false},
    };
    // A new connection trusts its first reply only once the line has stayed
    // quiet after it.
    EXPECT_EQ(LineOf(id), (LineState{false, true, 300}));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        controller.setFault(c.fault);
        EXPECT_EQ(c.textExchange ? text() : read(), c.result);
        // A dirty line's next reply is watched too.
        EXPECT_EQ(LineOf(id), (LineState{c.dirty, c.dirty, 300}));
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

// A line is judged by its rate once it has shown that it keeps it: 8
// answers in a row no sooner than their requests could cross it. A refused
// answer that proved to have been its own ends the judgement until 64 in a
// row show the rate again. And a reply is watched when it comes clearly
// sooner than the quickest of the controller's recent answers: a jittery
// controller within its own range is not, a reply that a line one behind
// hands over early is. (Whether a real answer comes early depends on the
// machine's load: both are checked here by their counts and times alone.)
TEST(SerialLine, ALineIsJudgedByTheTimesItHasShown) {
    struct RateCase {
        const char *answers;  // in order: o on time, e early, f a refused one found to be the answer
        bool judged;
    } const rateCases[] = {
        {"ooooooo", false},
        {"oooooooo", true},
        {"ooooooooe", false},
        {"eoooooooo", true},
        {"eeeeeeeeeeeeeeeeeeee", false},
        {"oooooooooooooooooooof", false},
        {"oooooooooooooooooooofoooooooo", false},
        {"oooooooooooooooooooof"
         "oooooooooooooooooooooooooooooooooooooooooooooooooooooooooooooooo",
         true},
    };
    for (const RateCase &c : rateCases) {
        SCOPED_TRACE(c.answers);
        orv::SerialTransport::RateJudge judge;
        for (const char *a = c.answers; *a; ++a) {
            if (*a == 'f') judge.foundIgnoringRate();
            else judge.note(*a == 'e');
        }
        EXPECT_EQ(judge.keepsRate(), c.judged);
    }

    using std::chrono::microseconds;
    using std::chrono::milliseconds;
    // A quick answer, then 32 at 20 ms: the quick one is forgotten.
    std::vector<microseconds> outOfMemory(33, milliseconds(20));
    outOfMemory.front() = microseconds(1000);
    struct TimeCase {
        const char *name;
        std::vector<microseconds> seen;
        microseconds reply;
        bool watched;
    } const timeCases[] = {
        {"nothing seen yet", {}, microseconds(0), false},
        {"a steady controller", {milliseconds(20), milliseconds(20)}, milliseconds(20), false},
        {"a jittery one, within its range", {milliseconds(70), milliseconds(51), milliseconds(88)}, milliseconds(50), false},
        {"a line one reply behind at 115200 baud", {milliseconds(20)}, microseconds(17400), true},
        {"a repeated answer", {milliseconds(20), milliseconds(21)}, milliseconds(3), true},
        {"a pseudo-terminal, answering before the request crossed", {microseconds(-7200)}, microseconds(-7100), false},
        {"the quickest of 32 counts, an older one no more", outOfMemory, milliseconds(10), true},
    };
    for (const TimeCase &c : timeCases) {
        SCOPED_TRACE(c.name);
        orv::SerialTransport::AnswerTimes times;
        for (auto t : c.seen) times.note(t);
        EXPECT_EQ(times.clearlySooner(c.reply), c.watched);
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
