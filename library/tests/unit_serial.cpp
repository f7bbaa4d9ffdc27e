// Serial line settings and the open calls' serial time-outs.
#include <cerrno>
#include <string>
#include <gtest/gtest.h>

#include "error_info.h"
#include "link_fixture.h"
#include "platform/serial_termios.h"
#include "connection.h"
#include "orvcomm.h"
#include "serial.h"
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
// Opens a connection on the pseudo-terminal (through a COM port of its own)
// with the given reply time-out: its ID, or 0.
std::int32_t OpenOn(const orvemu::Server &pty, std::int32_t timeoutMs) {
    const int port = orvtest::NextComPort();
    orvtest::SetComPort(port, pty.endpoint());
    const std::int32_t id = ZqOpenConnection(1, port, 0);
    return id != 0 && ZqSetConnectionTimeout(id, timeoutMs) == 1 ? id : 0;
}

bool LineDirty(std::int32_t id) {
    orv::TableGuard guard;
    auto *c = orv::table::lookup(id, false);
    auto *t = c ? dynamic_cast<orv::SerialTransport *>(c->transport.get()) : nullptr;
    return t && t->lineDirty();
}
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
    const std::int32_t id = OpenOn(*pty, 300);
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
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        controller.setFault(c.fault);
        EXPECT_EQ(c.textExchange ? text() : read(), c.result);
        EXPECT_EQ(LineDirty(id), c.dirty);
        // Another register, so that a reply left over from the fault shows.
        value = 0;
        EXPECT_EQ(read(2), 1);
        EXPECT_EQ(value, 42);
        EXPECT_FALSE(LineDirty(id));
    }
    EXPECT_EQ(ZqCloseConnection(id), 1);
}

// A reply may still come after the port is closed and opened again: a port
// closed dirty opens dirty, one closed clean opens clean (and without what
// the line held).
TEST(SerialLine, APortOpensAsItsLineWasLeft) {
    orvemu::Controller controller;
    auto pty = orvemu::startPty(controller);
    ASSERT_TRUE(pty);
    std::int32_t value = 0;
    for (const bool dirty : {true, false, true}) {
        SCOPED_TRACE(dirty ? "closed dirty" : "closed clean");
        std::int32_t id = OpenOn(*pty, 300);
        ASSERT_NE(id, 0);
        if (dirty) controller.setFault({orvemu::FaultKind::Drop});
        EXPECT_EQ(ZqGetRegister(id, 1, &value), dirty ? 0 : 1);
        EXPECT_EQ(ZqCloseConnection(id), 1);
        id = OpenOn(*pty, 300);
        ASSERT_NE(id, 0);
        EXPECT_EQ(LineDirty(id), dirty);
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
        const std::int32_t id = OpenOn(*pty, 300);
        ASSERT_NE(id, 0);
        std::int32_t value = 0;
        if (dirty) controller.setFault({orvemu::FaultKind::Drop});
        EXPECT_EQ(ZqGetRegister(id, 1, &value), dirty ? 0 : 1);
        EXPECT_EQ(LineDirty(id), dirty);
        pty.reset();
        EXPECT_EQ(ZqGetRegister(id, 1, &value), 0);
        EXPECT_EQ(orvtest::ErrorText(id), "Failed to send message.");
        EXPECT_EQ(orvtest::ErrorCode(id), EIO);
        EXPECT_EQ(ZqCloseConnection(id), 1);
    }
}

// A line is judged by its rate once it has shown that it keeps it: at least
// 8 answers, three in four of them no sooner than their requests could
// cross it; never again once a refused answer proved to have been its own.
// (Whether a real answer comes early depends on the machine's load: the
// judgement is checked here by its counts alone.)
TEST(SerialLine, ALineIsJudgedByItsRateOnlyOnceItHasShownIt) {
    struct Case {
        int onTime, early;
        bool foundIgnoring, judged;
    } const cases[] = {
        {7, 0, false, false}, {8, 0, false, true},  {6, 2, false, true},   {5, 3, false, false},
        {0, 20, false, false}, {30, 10, false, true}, {20, 0, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.onTime) + " on time, " + std::to_string(c.early) + " early");
        orv::SerialTransport::RateJudge judge;
        for (int i = 0; i < c.onTime; ++i) judge.note(false);
        for (int i = 0; i < c.early; ++i) judge.note(true);
        if (c.foundIgnoring) judge.foundIgnoringRate();
        EXPECT_EQ(judge.keepsRate(), c.judged);
    }
}
