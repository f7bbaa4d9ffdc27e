// The serial line's faults that the pseudo-terminal side carries out: which
// answers go out, in which order, after which request. Judged by the bytes
// alone (the controller answers at once), never by the clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "servers.h"

using namespace orvemu;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes request(std::uint8_t code, Bytes args) {
    Bytes f{0x01, static_cast<std::uint8_t>(args.size() + 3), code};
    f.insert(f.end(), args.begin(), args.end());
    f.push_back(checksum(std::span(f).subspan(2)));
    f.push_back(0xFF);
    return f;
}
Bytes value(std::uint32_t v) {
    Bytes data;
    put32(data, v);
    return replyFrame(0x0A, data);
}

const Bytes kRead1 = request(0x09, {0x01, 0x00});
const Bytes kWrite2 = request(0x0B, {0x02, 0x00, 0x16, 0x00, 0x00, 0x00});
const Bytes kRead3 = request(0x09, {0x03, 0x00});
const Bytes kAnswer1 = value(11), kAck2 = shortReply(kAck), kAnswer3 = value(33);

// The client's side of the line.
class Client {
public:
    explicit Client(const std::string &device) : fd_(::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    ~Client() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void send(const Bytes &b) { ASSERT_EQ(::write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
    // Exactly n bytes, or what came before the line stayed silent for a
    // long while (a guard against a hang, not a time-out being judged).
    Bytes take(std::size_t n) {
        Bytes got;
        while (got.size() < n) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) break;
            std::uint8_t buf[64];
            const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) break;
            got.insert(got.end(), buf, buf + r);
        }
        return got;
    }

private:
    int fd_;
};

}  // namespace

// Three requests (a read, a write, a read) and a fourth that shows nothing
// more is due; the fault on one of them; what goes out after each.
TEST(PtyLine, CopiesAndOldAnswersGoOutInTheControllersOrder) {
    struct Case {
        const char *name;
        std::size_t faulted;  // 0 to 2
        Fault fault;
        std::vector<std::vector<Bytes>> after;  // the answers after each request
    };
    const Case cases[] = {
        {"a copy after the next request", 1, {FaultKind::CopyForNext},
         {{kAnswer1}, {kAck2}, {kAck2, kAnswer3}, {kAnswer1}}},
        {"the last two after the next request", 1, {FaultKind::LastTwoForNext},
         {{kAnswer1}, {kAck2}, {kAnswer1, kAck2, kAnswer3}, {kAnswer1}}},
        {"the last two with none before", 0, {FaultKind::LastTwoForNext},
         {{kAnswer1}, {kAnswer1, kAck2}, {kAnswer3}, {kAnswer1}}},
        {"the answer two before, early", 2, {FaultKind::OldAnswerEarly, 1, 1},
         {{kAnswer1}, {kAck2}, {kAnswer1, kAnswer3}, {kAnswer1}}},
        {"the answer two before, with none", 1, {FaultKind::OldAnswerEarly, 1, 1},
         {{kAnswer1}, {kAck2}, {kAnswer3}, {kAnswer1}}},
    };
    const Bytes sent[] = {kRead1, kWrite2, kRead3, kRead1};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Controller controller;
        controller.withMemory([](Memory &m) {
            m.registers[1] = 11;
            m.registers[3] = 33;
            return 0;
        });
        Fault f = c.fault;
        f.request = sent[c.faulted];
        controller.setFault(f);
        auto pty = startPty(controller);
        ASSERT_TRUE(pty);
        Client client(pty->endpoint());
        ASSERT_TRUE(client.ok());
        for (std::size_t i = 0; i < std::size(sent); ++i) {
            client.send(sent[i]);
            Bytes want;
            for (const Bytes &b : c.after[i]) want.insert(want.end(), b.begin(), b.end());
            EXPECT_EQ(client.take(want.size()), want) << "after request " << i + 1;
        }
    }
}
