// The register, flag/I-O/servo, status and data-table families end to end:
// the shared library over each real transport against the emulator. A
// transport whose emulator server is not available is skipped.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "family_checks.h"
#include "servers.h"

using namespace orvtest;

namespace {

enum class Line { Serial, Udp, Tcp };

using Check = void (*)(std::int32_t, orvemu::Controller &);

// Each test gets its own controller on its own pseudo-terminal or loopback
// address (127.41.<line>.<n>), so tests can run in parallel.
void RunOver(Line line, int n, Check check) {
    orvemu::Controller emu;
    std::unique_ptr<orvemu::Server> server;
    std::int32_t id = 0;
    const std::string address = "127.41." + std::to_string(static_cast<int>(line) + 1) + "." + std::to_string(n);
    switch (line) {
    case Line::Serial: {
        server = orvemu::startPty(emu);
        if (!server) GTEST_SKIP() << "no pseudo-terminal server";
        const int port = 40 + n;
        ::setenv(("ORVCOMM_COM" + std::to_string(port)).c_str(), server->endpoint().c_str(), 1);
        id = ZqOpenConnection(ZQ_TYPE_SERIAL, port, 0);
        if (id > 0) ZqInitConnection(id, 19200, 0, 8, 0);
        break;
    }
    case Line::Udp:
    case Line::Tcp: {
        server = line == Line::Udp ? orvemu::startUdp(emu, address) : orvemu::startTcp(emu, address);
        if (!server) GTEST_SKIP() << "no network server";
        const auto ip = static_cast<std::int32_t>(::inet_addr(address.c_str()));
        id = ZqOpenConnection(line == Line::Udp ? ZQ_TYPE_UDP : ZQ_TYPE_TCP, 0, ip);
        break;
    }
    }
    ASSERT_GT(id, 0) << ErrorText(0);
    ASSERT_EQ(ZqSetConnectionTimeout(id, 500), 1);
    emu.clearLog();
    check(id, emu);
    EXPECT_EQ(ZqCloseConnection(id), 1);
}

}  // namespace

TEST(CommandsOverSerial, Registers) { RunOver(Line::Serial, 1, CheckRegisterFamily); }
TEST(CommandsOverSerial, Io) { RunOver(Line::Serial, 2, CheckIoFamily); }
TEST(CommandsOverSerial, Status) { RunOver(Line::Serial, 3, CheckStatusFamily); }
TEST(CommandsOverSerial, DataTable) { RunOver(Line::Serial, 4, CheckDataTableFamily); }

TEST(CommandsOverUdp, Registers) { RunOver(Line::Udp, 1, CheckRegisterFamily); }
TEST(CommandsOverUdp, Io) { RunOver(Line::Udp, 2, CheckIoFamily); }
TEST(CommandsOverUdp, Status) { RunOver(Line::Udp, 3, CheckStatusFamily); }
TEST(CommandsOverUdp, DataTable) { RunOver(Line::Udp, 4, CheckDataTableFamily); }

TEST(CommandsOverTcp, Registers) { RunOver(Line::Tcp, 1, CheckRegisterFamily); }
TEST(CommandsOverTcp, Io) { RunOver(Line::Tcp, 2, CheckIoFamily); }
TEST(CommandsOverTcp, Status) { RunOver(Line::Tcp, 3, CheckStatusFamily); }
TEST(CommandsOverTcp, DataTable) { RunOver(Line::Tcp, 4, CheckDataTableFamily); }
