// One register read through the library over raw Ethernet, beside a bare
// AF_PACKET round trip of frames of the same sizes, over a veth pair in a
// network namespace of the benchmark's own (needs root or CAP_SYS_ADMIN and
// CAP_NET_RAW). Prints median, p99 and their ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <net/if.h>
#include <poll.h>
#include <thread>

#include "../library/tests/raw_net.h"
#include "bench_stats.h"
#include "controller.h"
#include "orvcomm.h"
#include "raw_server.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint16_t kFloorType = 0x88B5;  // local experimental EtherType

struct Samples {
    std::vector<double> us;
    double median() const { return at(0.5); }
    double p99() const { return at(0.99); }
    double at(double q) const {
        if (us.empty()) return 0;
        std::vector<double> s = us;
        std::sort(s.begin(), s.end());
        return s[std::min(s.size() - 1, static_cast<std::size_t>(q * static_cast<double>(s.size())))];
    }
};

Samples g_library, g_floor;
std::int32_t g_id = 0;

int packetSocket(const std::string &name) {
    const int s = socket(AF_PACKET, SOCK_RAW, htons(kFloorType));
    sockaddr_ll a{};
    a.sll_family = AF_PACKET;
    a.sll_protocol = htons(kFloorType);
    a.sll_ifindex = static_cast<int>(if_nametoindex(name.c_str()));
    if (s < 0 || bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) return -1;
    return s;
}

void sendTo(int s, const std::string &name, const std::vector<std::uint8_t> &frame) {
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = static_cast<int>(if_nametoindex(name.c_str()));
    to.sll_halen = 6;
    std::copy(frame.begin(), frame.begin() + 6, to.sll_addr);
    sendto(s, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
}

// Reads one incoming frame (not our own outgoing ones) within 1 s.
ssize_t receiveFrom(int s, std::vector<std::uint8_t> &buffer) {
    for (;;) {
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0) return -1;
        sockaddr_ll from{};
        socklen_t n = sizeof from;
        const ssize_t got = recvfrom(s, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr *>(&from), &n);
        if (got < 0) return -1;
        if (from.sll_pkttype != PACKET_OUTGOING) return got;
    }
}

void BM_LibraryRegisterRead(benchmark::State &state) {
    std::int32_t value = 0;
    g_library.us.clear();
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const std::int32_t ok = ZqGetRegister(g_id, 1, &value);
        g_library.us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        if (!ok) {
            state.SkipWithError("register read failed");
            break;
        }
    }
    state.counters["median_us"] = g_library.median();
    state.counters["p99_us"] = g_library.p99();
}

void BM_BareRoundTrip(benchmark::State &state, int client, const std::string &name) {
    // 61 bytes out (envelope and register read), 62 back (envelope and reply).
    std::vector<std::uint8_t> frame(61, 0), buffer(2048);
    const orvtest::VethEnd emu = orvtest::EmulatorEnd(), lib = orvtest::LibraryEnd();
    std::copy(emu.mac, emu.mac + 6, frame.begin());
    std::copy(lib.mac, lib.mac + 6, frame.begin() + 6);
    frame[12] = kFloorType >> 8;
    frame[13] = kFloorType & 0xFF;
    g_floor.us.clear();
    for (auto _ : state) {
        const auto t0 = Clock::now();
        sendTo(client, name, frame);
        const ssize_t got = receiveFrom(client, buffer);
        g_floor.us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        if (got != 62) {
            state.SkipWithError("bare round trip failed");
            break;
        }
    }
    state.counters["median_us"] = g_floor.median();
    state.counters["p99_us"] = g_floor.p99();
}

}  // namespace

int main(int argc, char **argv) {
    const std::string why = orvtest::EnterPrivateNetwork();
    if (!why.empty()) {
        std::fprintf(stderr, "raw_bench: %s\n", why.c_str());
        return 0;
    }
    const orvtest::VethEnd lib = orvtest::LibraryEnd(), emu = orvtest::EmulatorEnd();
    if (!orvtest::AddVethPair(lib, emu)) {
        std::fprintf(stderr, "raw_bench: cannot make the veth pair\n");
        return 1;
    }

    orvemu::Controller controller;
    auto server = orvemu::RawServer::start(controller, emu.name);
    g_id = ZqOpenConnection(ZQ_TYPE_RAW_ETHERNET, 32001, 7);
    if (!server || g_id == 0) {
        std::fprintf(stderr, "raw_bench: cannot start the emulator or open the connection\n");
        return 1;
    }
    ZqSetConnectionTimeout(g_id, 1000);

    // The floor's far end: echoes each frame back with one byte more.
    const int echo = packetSocket(emu.name), client = packetSocket(lib.name);
    if (echo < 0 || client < 0) {
        std::fprintf(stderr, "raw_bench: cannot open the floor's sockets\n");
        return 1;
    }
    std::atomic<bool> stop{false};
    std::thread echoer([&] {
        std::vector<std::uint8_t> buffer(2048);
        while (!stop) {
            pollfd p{echo, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            sockaddr_ll from{};
            socklen_t n = sizeof from;
            const ssize_t got = recvfrom(echo, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr *>(&from), &n);
            if (got < 14 || from.sll_pkttype == PACKET_OUTGOING) continue;
            std::vector<std::uint8_t> back(buffer.begin(), buffer.begin() + got);
            std::swap_ranges(back.begin(), back.begin() + 6, back.begin() + 6);
            back.push_back(0xFF);
            sendTo(echo, emu.name, back);
        }
    });

    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("RawEthernet/LibraryRegisterRead", BM_LibraryRegisterRead)->UseRealTime();
    benchmark::RegisterBenchmark("RawEthernet/BareRoundTrip", BM_BareRoundTrip, client, lib.name)->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    if (!g_library.us.empty() && !g_floor.us.empty()) {
        std::printf("\nraw Ethernet, register read through the library: median %.1f us, p99 %.1f us\n",
                    g_library.median(), g_library.p99());
        std::printf("bare AF_PACKET round trip of 61/62-byte frames:    median %.1f us, p99 %.1f us\n",
                    g_floor.median(), g_floor.p99());
        std::printf("ratio library / bare: median %.2f, p99 %.2f\n", g_library.median() / g_floor.median(),
                    g_library.p99() / g_floor.p99());
        orvbench::PrintRow("Raw Ethernet register read", g_library.median(), g_floor.median(), 0);
    }
    stop = true;
    echoer.join();
    ZqCloseConnection(g_id);
    ZqUnload();
    return 0;
}
