// One exchange over the emulator's pseudo-terminal through the library,
// against a bare write/read round trip of the same bytes on the same pair.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "bench_stats.h"
#include "controller.h"
#include "orvcomm.h"
#include "servers.h"

namespace {

const std::uint8_t kReadRegister1[] = {0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF};
constexpr std::size_t kReplyLength = 8;

orvemu::Controller &Emulator() {
    static orvemu::Controller c;
    return c;
}
orvemu::Server &Pty() {
    static std::unique_ptr<orvemu::Server> s = orvemu::startPty(Emulator());
    return *s;
}

void BareRoundTrip(benchmark::State &state) {
    orvbench::Samples()["serial bare"].clear();
    const int fd = open(Pty().endpoint().c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    std::uint8_t reply[64];
    for (auto _ : state) {
        const auto start = orvbench::Clock::now();
        if (write(fd, kReadRegister1, sizeof kReadRegister1) != sizeof kReadRegister1) state.SkipWithError("write");
        std::size_t got = 0;
        while (got < kReplyLength) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0) break;
            const ssize_t n = read(fd, reply + got, kReplyLength - got);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        orvbench::Record("serial bare", start);
        if (got != kReplyLength) state.SkipWithError("short reply");
    }
    close(fd);
}

void LibraryExchange(benchmark::State &state) {
    orvbench::Samples()["serial library"].clear();
    setenv("ORVCOMM_COM1", Pty().endpoint().c_str(), 1);
    const std::int32_t id = ZqOpenConnection(ZQ_TYPE_SERIAL, 1, 0);
    if (!id) {
        state.SkipWithError("open failed");
        return;
    }
    std::uint8_t reply[1536];
    for (auto _ : state) {
        const auto start = orvbench::Clock::now();
        const int ok = ZqSendData(id, ZQ_PACKET_CLASS_REQUEST, kReadRegister1, sizeof kReadRegister1, reply);
        orvbench::Record("serial library", start);
        if (!ok) state.SkipWithError("exchange failed");
    }
    ZqCloseConnection(id);
}

}  // namespace

BENCHMARK(BareRoundTrip)->Iterations(2000)->UseRealTime();
BENCHMARK(LibraryExchange)->Iterations(2000)->UseRealTime();

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\n");
    orvbench::PrintRatio("serial library", "serial bare");
    return 0;
}
