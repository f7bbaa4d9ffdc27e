// Serial line settings and the open calls' serial time-outs.
#include <gtest/gtest.h>

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
