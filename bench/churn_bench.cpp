// Throughput of many readers beside a thread that opens and closes
// connections: 8 threads read a register in a loop, each on a connection
// of its own, over UDP and over TCP, with and without one more thread that
// opens and closes a connection about 450 times a second. The same runs
// with bare sockets (and a bare socket/connect/close churn) are the floor.
// The arguments are the number of rounds (each runs every case for 250 ms,
// in turn, so that a change of load falls on all of them alike) and the
// churn rate (0: as fast as it goes).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_net.h"
#include "bench_stats.h"
#include "controller.h"
#include "orvcomm.h"
#include "servers.h"

namespace {

constexpr int kReaders = 8;
int g_churnPerSecond = 450;  // 0: as fast as it goes
constexpr auto kCaseLength = std::chrono::milliseconds(250);
const char kAddress[] = "127.78.0.1";
// Header (class 20, length 7) and the frame of a read of register 1.
const std::uint8_t kDatagram[] = {4, 0, 1, 0, 20, 0, 7, 0, 0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF};
constexpr std::size_t kReplyBytes = 16;

sockaddr_in Controller(std::uint16_t port) { return orvbench::ControllerAt(kAddress, port); }

std::int32_t AddressValue() { return static_cast<std::int32_t>(inet_addr(kAddress)); }

// A bare socket that reads register 1 as the library would.
class BareReader {
public:
    explicit BareReader(bool tcp) : tcp_(tcp), fd_(socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0)) {
        const sockaddr_in to = Controller(tcp ? 6000 : 3000);
        ok_ = connect(fd_, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0;
    }
    ~BareReader() { close(fd_); }
    bool ok() const { return ok_; }
    bool read() {
        if (send(fd_, kDatagram, sizeof kDatagram, MSG_NOSIGNAL) != sizeof kDatagram) return false;
        std::uint8_t reply[1492];
        std::size_t got = 0;
        do {
            const ssize_t n = recv(fd_, reply + got, sizeof reply - got, 0);
            if (n <= 0) return false;
            got += static_cast<std::size_t>(n);
        } while (tcp_ && got < kReplyBytes);
        return got == kReplyBytes;
    }

private:
    bool tcp_;
    int fd_;
    bool ok_ = false;
};

// One open and close: through the library, or of a bare socket.
void LibraryChurn(bool tcp) {
    const std::int32_t id = ZqOpenConnection(tcp ? ZQ_TYPE_TCP : ZQ_TYPE_UDP, 0, AddressValue());
    if (id != 0) ZqCloseConnection(id);
}
void BareChurn(bool tcp) {
    const int fd = socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
    const sockaddr_in to = Controller(tcp ? 6000 : 3000);
    if (tcp) {
        connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    } else {
        sockaddr_in any{};
        any.sin_family = AF_INET;
        bind(fd, reinterpret_cast<const sockaddr *>(&any), sizeof any);
    }
    close(fd);
}

struct Outcome {
    double readsPerSecond = 0;
    double churnPerSecond = 0;
    bool failed = false;
};

// Runs `read` on kReaders threads (reader k calls read(k)) for one case
// length, with `churn` paced on one more thread when given.
Outcome RunCase(const std::function<bool(int)> &read, const std::function<void()> &churn) {
    std::atomic<bool> go{false}, stop{false}, failed{false};
    std::atomic<long> reads{0}, churned{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < kReaders; ++k) {
        threads.emplace_back([&, k] {
            while (!go.load()) std::this_thread::yield();
            long n = 0;
            while (!stop.load(std::memory_order_relaxed)) {
                if (!read(k)) {
                    failed = true;
                    break;
                }
                ++n;
            }
            reads += n;
        });
    }
    if (churn) {
        threads.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            const auto period = std::chrono::microseconds(g_churnPerSecond > 0 ? 1000000 / g_churnPerSecond : 0);
            auto next = orvbench::Clock::now();
            while (!stop.load(std::memory_order_relaxed)) {
                churn();
                ++churned;
                next += period;
                if (g_churnPerSecond > 0) std::this_thread::sleep_until(next);
            }
        });
    }
    const auto start = orvbench::Clock::now();
    go = true;
    std::this_thread::sleep_for(kCaseLength);
    stop = true;
    for (auto &t : threads) t.join();
    const double seconds = std::chrono::duration<double>(orvbench::Clock::now() - start).count();
    return {static_cast<double>(reads.load()) / seconds, static_cast<double>(churned.load()) / seconds,
            failed.load()};
}

double MedianOf(std::vector<double> v) { return orvbench::Percentile(std::move(v), 0.5); }

}  // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    if (argc > 2) g_churnPerSecond = std::atoi(argv[2]);
    orvemu::Controller controller;
    const auto udp = orvemu::startUdp(controller, kAddress);
    const auto tcp = orvemu::startTcp(controller, kAddress);
    if (!udp || !tcp) {
        std::fprintf(stderr, "cannot serve %s\n", kAddress);
        return 1;
    }

    std::printf("%-5s %-8s %14s %14s %8s %12s\n", "link", "side", "reads/s", "with churn", "kept", "churn/s");
    for (const bool overTcp : {false, true}) {
        const char *link = overTcp ? "TCP" : "UDP";
        std::vector<std::int32_t> ids;
        std::vector<std::unique_ptr<BareReader>> bare;
        for (int k = 0; k < kReaders; ++k) {
            ids.push_back(ZqOpenConnection(overTcp ? ZQ_TYPE_TCP : ZQ_TYPE_UDP, 0, AddressValue()));
            ZqSetConnectionTimeout(ids.back(), 2000);
            bare.push_back(std::make_unique<BareReader>(overTcp));
            if (ids.back() == 0 || !bare.back()->ok()) {
                std::fprintf(stderr, "cannot connect to %s\n", kAddress);
                return 1;
            }
        }
        const auto libraryRead = [&](int k) {
            std::int32_t v = 0;
            return ZqGetRegister(ids[static_cast<std::size_t>(k)], 1, &v) == 1;
        };
        const auto bareRead = [&](int k) { return bare[static_cast<std::size_t>(k)]->read(); };
        const auto libraryChurn = [&] { LibraryChurn(overTcp); };
        const auto bareChurn = [&] { BareChurn(overTcp); };

        std::vector<double> lib, libChurn, raw, rawChurn, libRate, rawRate;
        for (int r = 0; r < rounds; ++r) {
            const Outcome a = RunCase(libraryRead, {});
            const Outcome b = RunCase(libraryRead, libraryChurn);
            const Outcome c = RunCase(bareRead, {});
            const Outcome d = RunCase(bareRead, bareChurn);
            if (a.failed || b.failed || c.failed || d.failed) {
                std::fprintf(stderr, "a read failed over %s\n", link);
                return 1;
            }
            lib.push_back(a.readsPerSecond);
            libChurn.push_back(b.readsPerSecond);
            raw.push_back(c.readsPerSecond);
            rawChurn.push_back(d.readsPerSecond);
            libRate.push_back(b.churnPerSecond);
            rawRate.push_back(d.churnPerSecond);
        }
        const double l = MedianOf(lib), lc = MedianOf(libChurn), b = MedianOf(raw), bc = MedianOf(rawChurn);
        std::printf("%-5s %-8s %14.0f %14.0f %7.0f%% %12.0f\n", link, "library", l, lc, 100 * lc / l,
                    MedianOf(libRate));
        std::printf("%-5s %-8s %14.0f %14.0f %7.0f%% %12.0f\n", link, "bare", b, bc, 100 * bc / b,
                    MedianOf(rawRate));
        // For run-all.sh: time per read with churn against without (lower
        // is better); 85 % of the throughput kept is a ratio of 1/0.85.
        orvbench::PrintRow(std::string(link) + " 8 readers beside churn", 1e6 / lc, 1e6 / l, 1 / 0.85);
        for (const auto id : ids) ZqCloseConnection(id);
    }
    return 0;
}
