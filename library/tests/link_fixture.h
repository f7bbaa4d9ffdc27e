// Runs an in-process emulator on a real transport (its pseudo-terminal, or
// UDP and TCP on a loopback address of its own) and opens a connection to it
// through the shared library, so that a test can run the same calls over
// every link:
//
//     class Registers : public orvtest::LinkTest {};
//     TEST_P(Registers, ReadBack) { ... ZqSendData(id(), ...) ... controller() ... }
//     ORV_ALL_LINKS(Registers);
//
// EmulatorLink does the same without the test parameter.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "controller.h"
#include "error_info.h"
#include "orvcomm.h"
#include "servers.h"
#include "wire.h"

namespace orvtest {

enum class Link { Serial, Udp, Tcp };

inline const char *LinkName(Link l) {
    switch (l) {
    case Link::Serial: return "Serial";
    case Link::Udp: return "Udp";
    case Link::Tcp: return "Tcp";
    }
    return "?";
}

// 127.64.0.1 and up: a different address for every call in this process and,
// through the process ID, from other test processes running at the same
// time. (The controller's ports are fixed, so the address tells emulators
// apart; a taken address is skipped by the caller.)
inline std::string NextLoopbackAddress() {
    static std::atomic<unsigned> counter{0};
    const unsigned key = ((static_cast<unsigned>(getpid()) & 0xFFFF) << 4) | (counter++ & 0xF);
    return "127." + std::to_string(64 + (key >> 16)) + "." + std::to_string((key >> 8) & 0xFF) + "." +
           std::to_string(1 + (key & 0xFF) % 254);
}

// A COM port number of its own for every pseudo-terminal in this process.
inline int NextComPort() {
    static std::atomic<int> next{101};
    return next++;
}

inline void SetComPort(int port, const std::string &device) {
    setenv(("ORVCOMM_COM" + std::to_string(port)).c_str(), device.c_str(), 1);
}

class EmulatorLink {
public:
    explicit EmulatorLink(Link kind, int model = 5) : kind_(kind), controller_(std::make_unique<orvemu::Controller>(model)) {
        if (kind == Link::Serial) {
            server_ = orvemu::startPty(*controller_);
            if (!server_) return;
            comPort_ = NextComPort();
            SetComPort(comPort_, server_->endpoint());
            return;
        }
        // UDP and TCP servers share the address, as on a controller.
        for (int tries = 0; tries < 64 && !server_; ++tries) {
            const std::string a = NextLoopbackAddress();
            auto udp = orvemu::startUdp(*controller_, a);
            auto tcp = udp ? orvemu::startTcp(*controller_, a) : nullptr;
            if (udp && tcp) {
                address_ = a;
                server_ = kind == Link::Udp ? std::move(udp) : std::move(tcp);
                other_ = kind == Link::Udp ? std::move(tcp) : std::move(udp);
            }
        }
    }
    ~EmulatorLink() {
        close();
        server_.reset();
        other_.reset();
    }
    EmulatorLink(const EmulatorLink &) = delete;
    EmulatorLink &operator=(const EmulatorLink &) = delete;

    bool ok() const { return server_ != nullptr; }
    Link kind() const { return kind_; }
    std::int32_t type() const {
        return kind_ == Link::Serial ? ZQ_TYPE_SERIAL : kind_ == Link::Udp ? ZQ_TYPE_UDP : ZQ_TYPE_TCP;
    }
    // What the open calls take as port and address.
    std::int32_t openPort() const { return kind_ == Link::Serial ? comPort_ : 0; }
    std::int32_t openAddress() const {
        return kind_ == Link::Serial ? 0 : static_cast<std::int32_t>(inet_addr(address_.c_str()));
    }

    // Opens through ZqOpenConnection (or ZqOpenNetConnection with the serial
    // read time-out) and remembers the ID; 0 on failure.
    std::int32_t open() { return id_ = ZqOpenConnection(type(), openPort(), openAddress()); }
    std::int32_t openNet(std::uint32_t serialReadTimeout = 1000) {
        return id_ = ZqOpenNetConnection(type(), openPort(), openAddress(), serialReadTimeout);
    }
    void close() {
        if (id_ != 0) ZqCloseConnection(id_);
        id_ = 0;
    }
    std::int32_t id() const { return id_; }

    orvemu::Controller &controller() { return *controller_; }
    orvemu::Server &server() { return *server_; }
    int comPort() const { return comPort_; }
    const std::string &address() const { return address_; }

private:
    Link kind_;
    std::unique_ptr<orvemu::Controller> controller_;
    std::unique_ptr<orvemu::Server> server_;
    std::unique_ptr<orvemu::Server> other_;
    int comPort_ = 0;
    std::string address_;
    std::int32_t id_ = 0;
};


using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// A request frame 01, L, code, arguments, checksum, FF, built here apart
// from the library's own code.
inline Bytes Request(std::uint8_t code, const Bytes &args = {}) {
    Bytes f;
    f.reserve(args.size() + 5);
    f.push_back(0x01);
    f.push_back(static_cast<std::uint8_t>(args.size() + 3));
    f.push_back(code);
    for (auto b : args) f.push_back(b);
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < f.size(); ++i) sum = static_cast<std::uint8_t>(sum + f[i]);
    f.push_back(static_cast<std::uint8_t>(~sum));
    f.push_back(0xFF);
    return f;
}

inline Bytes ReadRegister(std::uint16_t n) {
    return Request(0x09, {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)});
}

struct Exchange {
    int result = 0;
    Bytes reply;  // what ZqSendData copied out (as long as the connection's replyLength)
};

inline Exchange Send(std::int32_t id, const Bytes &request) {
    std::vector<std::uint8_t> buf(1536, 0);
    Exchange e;
    e.result = ZqSendData(id, ZQ_PACKET_CLASS_REQUEST, request.data(), static_cast<std::uint32_t>(request.size()),
                          buf.data());
    ZQ_MESSAGE_INFO m{};
    if (ZqGetMessageInfo(id, &m)) e.reply.assign(buf.begin(), buf.begin() + std::clamp(m.replyLength, 0, 1536));
    return e;
}

// The value of a register-read reply, or -1.
inline std::int32_t RegisterValue(const Exchange &e) {
    if (e.result != 1 || e.reply.size() != 8) return -1;
    return static_cast<std::int32_t>(orvemu::u32(e.reply.data() + 2));
}

inline void SetRegister(orvemu::Controller &c, int n, std::int32_t v) {
    c.withMemory([&](orvemu::Memory &m) {
        m.registers[static_cast<std::size_t>(n)] = v;
        return 0;
    });
}

inline long MsSince(Clock::time_point t) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// A test over one link kind: the emulator runs and the connection is open
// (timeout 250 ms) before the test body starts.
class LinkTest : public ::testing::TestWithParam<Link> {
protected:
    void SetUp() override {
        link_ = std::make_unique<EmulatorLink>(GetParam());
        ASSERT_TRUE(link_->ok()) << "no emulator on " << LinkName(GetParam());
        ASSERT_NE(link_->open(), 0) << ErrorText(0);
        ASSERT_EQ(ZqSetConnectionTimeout(id(), 250), 1);
    }
    void TearDown() override { link_.reset(); }

    std::int32_t id() const { return link_->id(); }
    orvemu::Controller &controller() { return link_->controller(); }
    EmulatorLink &link() { return *link_; }

private:
    std::unique_ptr<EmulatorLink> link_;
};

}  // namespace orvtest

// Runs a LinkTest suite over serial, UDP and TCP.
#define ORV_ALL_LINKS(Suite)                                                                               \
    INSTANTIATE_TEST_SUITE_P(AllLinks, Suite,                                                              \
                             ::testing::Values(::orvtest::Link::Serial, ::orvtest::Link::Udp,              \
                                               ::orvtest::Link::Tcp),                                      \
                             [](const ::testing::TestParamInfo<::orvtest::Link> &i) {                      \
                                 return std::string(::orvtest::LinkName(i.param));                         \
                             })
