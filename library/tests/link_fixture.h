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

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "controller.h"
#include "error_info.h"
#include "orvcomm.h"
#include "servers.h"
#include "wire.h"

namespace orvtest {

enum class Link { Serial, Udp, Tcp };

const char *LinkName(Link l);

// 127.64.0.1 and up: a different address for every call in this process and,
// through the process ID, from other test processes running at the same
// time. (The controller's ports are fixed, so the address tells emulators
// apart; a taken address is skipped by the caller.)
std::string NextLoopbackAddress();

// A COM port number of its own for every pseudo-terminal in this process.
int NextComPort();

// The device that COM port `port` stands for.
void SetComPort(int port, const std::string &device);

class EmulatorLink {
public:
    explicit EmulatorLink(Link kind, int model = 5);
    ~EmulatorLink();
    EmulatorLink(const EmulatorLink &) = delete;
    EmulatorLink &operator=(const EmulatorLink &) = delete;

    bool ok() const { return server_ != nullptr; }
    Link kind() const { return kind_; }
    std::int32_t type() const {
        return kind_ == Link::Serial ? ZQ_TYPE_SERIAL : kind_ == Link::Udp ? ZQ_TYPE_UDP : ZQ_TYPE_TCP;
    }
    // What the open calls take as port and address.
    std::int32_t openPort() const { return kind_ == Link::Serial ? comPort_ : 0; }
    std::int32_t openAddress() const;

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
Bytes Request(std::uint8_t code, const Bytes &args = {});

Bytes ReadRegister(std::uint16_t n);

struct Exchange {
    int result = 0;
    Bytes reply;  // what ZqSendData copied out (as long as the connection's replyLength)
};

Exchange Send(std::int32_t id, const Bytes &request);

// The value of a register-read reply, or -1.
std::int32_t RegisterValue(const Exchange &e);

void SetRegister(orvemu::Controller &c, int n, std::int32_t v);

long MsSince(Clock::time_point t);

// Waits for something the emulator does on a thread of its own (answering,
// logging a request); only a hang reaches the bound.
template <typename F> void WaitUntil(F done) {
    const auto until = Clock::now() + std::chrono::seconds(20);
    while (!done() && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(done());
}

// A reply time-out that only a hang reaches, for exchanges that are meant
// to be answered: a test that wants one to run out sets a short one.
inline constexpr std::int32_t kAnswerTimeout = 10000;
// The same on a serial line, where every fault a test provokes costs one
// whole time-out of quiet before the next request: still a thousand times
// what the emulator takes to answer.
inline constexpr std::int32_t kSerialAnswerTimeout = 1500;
inline std::int32_t AnswerTimeoutFor(Link l) { return l == Link::Serial ? kSerialAnswerTimeout : kAnswerTimeout; }

// A test over one link kind: the emulator runs and the connection is open
// (with AnswerTimeoutFor its link) before the test body starts.
class LinkTest : public ::testing::TestWithParam<Link> {
protected:
    void SetUp() override {
        link_ = std::make_unique<EmulatorLink>(GetParam());
        ASSERT_TRUE(link_->ok()) << "no emulator on " << LinkName(GetParam());
        ASSERT_NE(link_->open(), 0) << ErrorText(0);
        ASSERT_EQ(ZqSetConnectionTimeout(id(), AnswerTimeoutFor(GetParam())), 1);
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
