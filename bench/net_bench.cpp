// One register read (the request ZqGetRegister sends) over UDP and TCP
// loopback through the library, against a bare socket round trip of the
// same bytes to the same emulator; everything pinned to one core. The
// argument is the number of rounds (200 exchanges of each kind per round).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "bench_net.h"
#include "bench_stats.h"
#include "controller.h"
#include "orvcomm.h"
#include "servers.h"

namespace {

const std::uint8_t kReadRegister1[] = {0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF};
// Header (sequence 1, class 20, length 7) and the frame: 15 bytes out, 16 back.
const std::uint8_t kDatagram[] = {4, 0, 1, 0, 20, 0, 7, 0, 0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF};
constexpr std::size_t kReplyBytes = 16;
const char kAddress[] = "127.77.0.1";

struct Emulator {
    orvemu::Controller controller;
    std::unique_ptr<orvemu::Server> udp = orvemu::startUdp(controller, kAddress);
    std::unique_ptr<orvemu::Server> tcp = orvemu::startTcp(controller, kAddress);
};
Emulator &Emu() {
    static Emulator e;
    return e;
}

sockaddr_in Controller(std::uint16_t port) { return orvbench::ControllerAt(kAddress, port); }

bool ReadAll(int fd, std::uint8_t *buf, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = recv(fd, buf + got, n - got, 0);
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

// Each round trip function makes `count` exchanges and records each one.
struct BareUdp {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ~BareUdp() { close(fd); }
    bool run(int count) {
        const sockaddr_in to = Controller(3000);
        std::uint8_t reply[1492];
        for (int i = 0; i < count; ++i) {
            const auto start = orvbench::Clock::now();
            sendto(fd, kDatagram, sizeof kDatagram, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
            const ssize_t n = recv(fd, reply, sizeof reply, 0);
            orvbench::Record("udp bare", start);
            if (n != static_cast<ssize_t>(kReplyBytes)) return false;
        }
        return true;
    }
};

struct BareTcp {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    bool connected = [this] {
        const sockaddr_in to = Controller(6000);
        return connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0;
    }();
    ~BareTcp() { close(fd); }
    bool run(int count) {
        std::uint8_t reply[kReplyBytes];
        for (int i = 0; i < count; ++i) {
            const auto start = orvbench::Clock::now();
            send(fd, kDatagram, sizeof kDatagram, MSG_NOSIGNAL);
            const bool ok = ReadAll(fd, reply, sizeof reply);
            orvbench::Record("tcp bare", start);
            if (!ok) return false;
        }
        return true;
    }
};

struct Library {
    Library(std::int32_t type, std::string n)
        : name(std::move(n)), id(ZqOpenConnection(type, 0, static_cast<std::int32_t>(inet_addr(kAddress)))) {}
    ~Library() { ZqCloseConnection(id); }
    bool run(int count) {
        std::int32_t value = 0;
        for (int i = 0; i < count; ++i) {
            const auto start = orvbench::Clock::now();
            const int ok = ZqGetRegister(id, 1, &value);
            orvbench::Record(name, start);
            if (!ok) return false;
        }
        return true;
    }
    std::string name;
    std::int32_t id;
};

}  // namespace

int main(int argc, char **argv) {
    orvbench::PinToOneCore();
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 100;

    if (!Emu().udp || !Emu().tcp) {
        std::fprintf(stderr, "cannot serve %s\n", kAddress);
        return 1;
    }
    BareUdp udpBare;
    BareTcp tcpBare;
    Library udp(ZQ_TYPE_UDP, "udp library"), tcp(ZQ_TYPE_TCP, "tcp library");
    if (!tcpBare.connected || !udp.id || !tcp.id) {
        std::fprintf(stderr, "cannot connect to %s\n", kAddress);
        return 1;
    }
    // Batches of each in turn, so that a change of load on a busy machine
    // falls on both sides alike.
    for (int r = 0; r < rounds; ++r) {
        if (!udpBare.run(200) || !udp.run(200) || !tcpBare.run(200) || !tcp.run(200)) {
            std::fprintf(stderr, "an exchange failed\n");
            return 1;
        }
    }
    orvbench::PrintRatio("udp library", "udp bare");
    orvbench::PrintRatio("tcp library", "tcp bare");
    orvbench::PrintRow("UDP register read", orvbench::Median("udp library"), orvbench::Median("udp bare"), 1.15);
    orvbench::PrintRow("TCP register read", orvbench::Median("tcp library"), orvbench::Median("tcp bare"), 1.15);
    return 0;
}
