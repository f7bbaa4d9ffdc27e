// One exchange over the emulator's pseudo-terminal through the library,
// against a bare write/read round trip of the same bytes on the same pair.
// The serial transport pauses 2 ms after every reply (the controller needs
// it before the next request): the library's figure is shown less that
// pause beside the bare one, and the cost of a bare 2 ms sleep on this
// machine is shown for comparison. The argument is the number of rounds
// (20 exchanges of each kind per round).
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <thread>

#include "bench_stats.h"
#include "controller.h"
#include "orvcomm.h"
#include "servers.h"

namespace {

const std::uint8_t kReadRegister1[] = {0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF};
constexpr std::size_t kReplyLength = 8;
constexpr double kPauseUs = 2000;

bool BareRoundTrips(int fd, int count) {
    std::uint8_t reply[64];
    for (int i = 0; i < count; ++i) {
        const auto start = orvbench::Clock::now();
        if (write(fd, kReadRegister1, sizeof kReadRegister1) != sizeof kReadRegister1) return false;
        std::size_t got = 0;
        while (got < kReplyLength) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0) break;
            const ssize_t n = read(fd, reply + got, kReplyLength - got);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        orvbench::Record("serial bare", start);
        if (got != kReplyLength) return false;
    }
    return true;
}

bool LibraryExchanges(std::int32_t id, int count) {
    std::uint8_t reply[1536];
    for (int i = 0; i < count; ++i) {
        const auto start = orvbench::Clock::now();
        const int ok = ZqSendData(id, ZQ_PACKET_CLASS_REQUEST, kReadRegister1, sizeof kReadRegister1, reply);
        orvbench::Record("serial library", start);
        if (!ok) return false;
    }
    return true;
}

void Sleeps(int count) {
    for (int i = 0; i < count; ++i) {
        const auto start = orvbench::Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        orvbench::Record("2 ms sleep", start);
    }
}

}  // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 100;
    orvemu::Controller emulator;
    const auto pty = orvemu::startPty(emulator);
    if (!pty) {
        std::fprintf(stderr, "cannot start the emulator's terminal\n");
        return 1;
    }
    const int fd = open(pty->endpoint().c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    setenv("ORVCOMM_COM1", pty->endpoint().c_str(), 1);
    const std::int32_t id = ZqOpenConnection(ZQ_TYPE_SERIAL, 1, 0);
    if (fd < 0 || !id) {
        std::fprintf(stderr, "cannot open the terminal\n");
        return 1;
    }
    for (int r = 0; r < rounds; ++r) {
        if (!BareRoundTrips(fd, 20) || !LibraryExchanges(id, 20)) {
            std::fprintf(stderr, "an exchange failed\n");
            return 1;
        }
        Sleeps(5);
    }
    ZqCloseConnection(id);
    close(fd);

    orvbench::PrintRatio("serial library", "serial bare");
    const double library = orvbench::Median("serial library"), sleep = orvbench::Median("2 ms sleep");
    std::printf("%-22s median %9.1f us\n", "2 ms sleep", sleep);
    std::printf("%-22s median %9.1f us (of it %.1f us past the 2 ms in the sleep itself)\n\n",
                "library less 2 ms", library - kPauseUs, sleep - kPauseUs);
    orvbench::PrintRow("Serial exchange less 2 ms pause", library - kPauseUs, orvbench::Median("serial bare"), 1.5);
    // For comparison: less what a bare 2 ms sleep takes here.
    orvbench::PrintRow("  less the measured 2 ms sleep", library - sleep, orvbench::Median("serial bare"), 0);
    return 0;
}
