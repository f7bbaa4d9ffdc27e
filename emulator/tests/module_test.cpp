// The module in programming mode: the request that starts it, the loader's
// text protocol, and the line rate and boot report on a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "controller.h"
#include "servers.h"

using namespace orvemu;
using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes kCpuRequest{0x01, 0x05, 0x69, 0x86, 0x03, 0x0D, 0xFF};
const Bytes kCommRequest{0x01, 0x04, 0x69, 0x06, 0x90, 0xFF};
const Bytes kRead1{0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF};

// An S-record of the type with the address and data bytes.
std::string SRecord(char type, unsigned address, const Bytes &data, int addressBytes = 2) {
    Bytes body;
    for (int i = addressBytes - 1; i >= 0; --i) body.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = static_cast<unsigned>(body.size() + 1);
    char hex[3];
    std::string s = "S";
    s += type;
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(body.size() + 1));
    s += hex;
    for (auto b : body) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        s += hex;
        sum += b;
    }
    std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFF);
    return s + hex;
}

std::string Text(Controller &c, const std::string &s) {
    const auto r = c.handleText(Bytes(s.begin(), s.end()));
    return std::string(r.bytes.begin(), r.bytes.end());
}

const std::string kXon(1, '\x11');
const std::string kXoff(1, '\x13');

}  // namespace

TEST(Module, SRecordsAreCheckedByCountAndChecksum) {
    EXPECT_TRUE(ValidSRecord(SRecord('1', 0x1000, {1, 2, 3})));
    EXPECT_TRUE(ValidSRecord("S9030000FC"));
    std::string bad = SRecord('1', 0x1000, {1, 2, 3});
    bad[bad.size() - 1] = bad.back() == '0' ? '1' : '0';
    EXPECT_FALSE(ValidSRecord(bad));
    EXPECT_FALSE(ValidSRecord("S10"));
    EXPECT_FALSE(ValidSRecord("X9030000FC"));
    EXPECT_FALSE(ValidSRecord("S9040000FC"));  // count too high
    EXPECT_FALSE(ValidSRecord("S9030000FG"));
}

TEST(Module, TheRequestOfItsOwnPortStartsProgrammingMode) {
    Controller cpu(11);
    EXPECT_EQ(Text(cpu, kXon), kXon);  // not programming: text is echoed
    EXPECT_EQ(cpu.handle(kCommRequest).bytes, (Bytes{0x03, 0x67, 0x98, 0xFF}));
    EXPECT_FALSE(cpu.memory().module.programming());
    EXPECT_EQ(cpu.handle(kCpuRequest).bytes, (Bytes{0x03, 0x64, 0x9B, 0xFF}));
    EXPECT_TRUE(cpu.memory().module.programming());
    // The loader takes no binary frame.
    EXPECT_TRUE(cpu.handle(kRead1).drop);

    Controller comm(11);
    comm.memory().module.port = ModuleState::Port::CommModule;
    EXPECT_EQ(comm.handle(kCpuRequest).bytes[1], 0x67);
    EXPECT_EQ(comm.handle(kCommRequest).bytes[1], 0x64);
}

TEST(Module, HandshakeBaudSwitchRecordsAndBoot) {
    Controller c(11);
    ModuleState &m = c.memory().module;
    c.handle(kCpuRequest);
    EXPECT_EQ(Text(c, "3"), "");  // no baud code before the greeting
    EXPECT_EQ(Text(c, kXon), "ORV Loader 2.1" + kXon);
    EXPECT_EQ(Text(c, "9"), "9");
    EXPECT_EQ(m.lineBaud(), 9600u);
    EXPECT_EQ(c.lineBaud(38400), 9600u);
    EXPECT_EQ(Text(c, kXon), kXon);

    EXPECT_EQ(Text(c, SRecord('0', 0, {'h', 'd', 'r'})), "K1" + kXoff);
    EXPECT_EQ(Text(c, kXon), kXon);
    // The first data record waits for the erase.
    EXPECT_EQ(Text(c, SRecord('1', 0x1000, {1, 2})),
              "K0" + kXoff + "Flash Status 00000001\nFlash Status 00000010\n");
    EXPECT_EQ(Text(c, kXon), "DATA 1000\r" + kXon);
    EXPECT_EQ(Text(c, SRecord('2', 0x012345, {9}, 3)), "K1" + kXoff);
    EXPECT_EQ(Text(c, kXon), "DATA 012345\r" + kXon);
    EXPECT_FALSE(c.quietOutputAfter());
    EXPECT_EQ(Text(c, "S9030000FC"), "K1" + kXoff);
    ASSERT_TRUE(c.quietOutputAfter());
    EXPECT_EQ(c.quietOutputAfter()->count(), ModuleState::kBootQuietMs);
    EXPECT_EQ(m.records().size(), 4u);

    const auto boot = c.takeQuietOutput();
    EXPECT_EQ(std::string(boot.begin(), boot.end()), "Flash Verified\r\nBoot Done\r\n");
    EXPECT_FALSE(m.programming());
    EXPECT_EQ(m.boots(), 1);
    EXPECT_EQ(c.lineBaud(38400), 38400u);
    EXPECT_FALSE(c.handle(kRead1).drop);
}

TEST(Module, ABrokenRecordSpoilsTheBoot) {
    Controller c(11);
    c.handle(kCpuRequest);
    Text(c, kXon);
    Text(c, "1");
    EXPECT_EQ(Text(c, "S1garbage"), "KE" + kXoff);
    EXPECT_EQ(Text(c, kXon), kXon);
    Text(c, "S9030000FC");
    const auto boot = c.takeQuietOutput();
    EXPECT_EQ(std::string(boot.begin(), boot.end()), "Verify Failed\r\nBoot Aborted\r\n");
    EXPECT_EQ(c.memory().module.brokenRecords(), 1);
    EXPECT_EQ(c.memory().module.boots(), 1);
}

TEST(Module, AStuckQ600WakesUpAt57600) {
    Controller c(15);
    ModuleState &m = c.memory().module;
    m.stuck(true);
    EXPECT_TRUE(c.handle(kRead1).drop);
    EXPECT_EQ(c.lineBaud(9600), 57600u);
    EXPECT_EQ(Text(c, "3"), "Q600 Loader");
    EXPECT_EQ(c.lineBaud(9600), 38400u);
    EXPECT_EQ(Text(c, kXon), "ORV Loader 2.1" + kXon);
}

namespace {

// The client side of the emulator's pseudo-terminal, raw, at a rate.
class PtyClient {
public:
    explicit PtyClient(const std::string &path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {}
    ~PtyClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void rate(speed_t speed) {
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        cfsetspeed(&t, speed);
        tcsetattr(fd_, TCSANOW, &t);
    }
    void write(const std::string &s) { ASSERT_EQ(::write(fd_, s.data(), s.size()), static_cast<ssize_t>(s.size())); }
    // The next size bytes that arrive, or what arrived of them when boundMs
    // (a bound only a hang reaches) ran out. Bytes beyond them wait for the
    // next call.
    std::string next(std::size_t size, int boundMs = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        while (pending_.size() < size) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buf[256];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) pending_.append(buf, static_cast<std::size_t>(n));
        }
        std::string out = pending_.substr(0, size);
        pending_.erase(0, out.size());
        return out;
    }
    // Whatever arrives within ms: for what must not arrive at all.
    std::string anything(int ms) { return next(std::string::npos, ms); }

private:
    int fd_;
    std::string pending_;
};

}  // namespace

TEST(Module, OnAPseudoTerminalTheLineFollowsTheModule) {
    Controller c(11);
    auto server = startPty(c, 9600);
    ASSERT_TRUE(server);
    PtyClient line(server->endpoint());
    ASSERT_TRUE(line.ok());
    line.rate(B9600);
    line.write(std::string(kCpuRequest.begin(), kCpuRequest.end()));
    // Each answer is awaited whole, however long a busy machine takes.
    auto expectNext = [&](const std::string &want) { EXPECT_EQ(line.next(want.size()), want); };
    expectNext(std::string("\x03\x64\x9B\xFF", 4));
    line.write(kXon);
    expectNext("ORV Loader 2.1" + kXon);
    line.write("3");
    expectNext("3");

    // The module now hears at 38400.
    EXPECT_EQ(c.lineBaud(9600), 38400u);
    line.rate(B38400);
    line.write("S9030000FC");
    expectNext("K1" + kXoff);
    // Quiet now: the boot report follows by itself (after kBootQuietMs, as
    // the module's own test checks).
    expectNext("Flash Verified\r\nBoot Done\r\n");
    EXPECT_EQ(c.memory().module.boots(), 1);
    EXPECT_EQ(c.lineBaud(9600), 9600u);
    // The controller is back at 9600: at 38400 it hears nothing (not even
    // text, which it would echo).
    line.write(kXon);
    EXPECT_EQ(line.anything(150), "");
}
