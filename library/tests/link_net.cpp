// The UDP and TCP transports against the emulator and against a bare socket
// that plays the controller, so that the bytes on the wire can be checked.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <future>
#include <string>

#include "link_fixture.h"

using namespace orvtest;
using orvemu::Fault;
using orvemu::FaultKind;

namespace {

// A socket bound to the port on a loopback address of its own (address
// set); -1 when none could be had.
int BindOwnLoopback(int type, std::uint16_t port, std::string &address) {
    for (int tries = 0; tries < 64; ++tries) {
        address = NextLoopbackAddress();
        const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) return fd;
        close(fd);
    }
    return -1;
}

// A bare UDP socket on port 3000 of a loopback address of its own.
struct FakeUdpController {
    FakeUdpController() {
        fd = BindOwnLoopback(SOCK_DGRAM, 3000, address);
        timeval tv{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~FakeUdpController() {
        if (fd >= 0) close(fd);
    }
    Bytes receive() {
        std::uint8_t buf[2048];
        socklen_t len = sizeof peer;
        const ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&peer), &len);
        return n < 0 ? Bytes{} : Bytes(buf, buf + n);
    }
    // Answers the last datagram's header (sequence) with the frame, from
    // this socket or from another one (`from`).
    void reply(const Bytes &request, const Bytes &frame, int sequenceOffset = 0, int from = -1) {
        Bytes out(request.begin(), request.begin() + 8);
        const std::uint16_t s = static_cast<std::uint16_t>(orvemu::u16(out.data() + 2) + sequenceOffset);
        out[2] = static_cast<std::uint8_t>(s);
        out[3] = static_cast<std::uint8_t>(s >> 8);
        for (auto b : frame) out.push_back(b);
        sendto(from < 0 ? fd : from, out.data(), out.size(), 0, reinterpret_cast<sockaddr *>(&peer), sizeof peer);
    }
    std::int32_t addressValue() const { return static_cast<std::int32_t>(inet_addr(address.c_str())); }
    // Datagrams that came and were not received yet.
    int pending() {
        int n = 0;
        std::uint8_t buf[2048];
        while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) >= 0) ++n;
        return n;
    }

    int fd = -1;
    std::string address;
    sockaddr_in peer{};
};

Bytes Header(std::uint16_t sequence, std::uint16_t length) {
    return {4, 0, static_cast<std::uint8_t>(sequence), static_cast<std::uint8_t>(sequence >> 8), 20, 0,
            static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8)};
}

// The reply frame of a register read with a one-byte value.
Bytes RegisterReply(std::uint8_t value) {
    return {0x07, 0x0A, value, 0, 0, 0, static_cast<std::uint8_t>(0xFF - 0x0A - value), 0xFF};
}

Bytes Concat(Bytes a, const Bytes &b) {
    for (auto x : b) a.push_back(x);
    return a;
}

class NetLink : public ::testing::TestWithParam<Link> {
protected:
    void SetUp() override {
        ASSERT_TRUE(link.ok());
        ASSERT_NE(link.open(), 0) << ErrorText(0);
        ASSERT_EQ(ZqSetConnectionTimeout(id(), AnswerTimeoutFor(GetParam())), 1);
    }
    std::int32_t id() const { return link.id(); }
    orvemu::Controller &controller() { return link.controller(); }

    EmulatorLink link{GetParam()};
};

}  // namespace

TEST(UdpWire, DatagramBytesSequenceAndRetries) {
    FakeUdpController fake;
    ASSERT_GE(fake.fd, 0);
    const std::int32_t id = ZqOpenConnection(ZQ_TYPE_UDP, 0, fake.addressValue());
    ASSERT_NE(id, 0) << ErrorText(0);
    // Long enough that only the unanswered first try runs out.
    ZqSetConnectionTimeout(id, 400);

    // The first read of register 1: header with sequence 1, class 20, length 7.
    auto call = std::async(std::launch::async, [&] { return Send(id, ReadRegister(1)); });
    Bytes d = fake.receive();
    EXPECT_EQ(d, Concat(Header(1, 7), {0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF}));
    // Unanswered, it comes again with the same number; a reply with another
    // number is passed over and the one with ours is taken.
    EXPECT_EQ(fake.receive(), d);
    fake.reply(d, RegisterReply(0x2A), 1);
    fake.reply(d, RegisterReply(0x2B));
    auto e = call.get();
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(RegisterValue(e), 0x2B);

    // The next exchange steps the number.
    ZqSetConnectionTimeout(id, kAnswerTimeout);
    call = std::async(std::launch::async, [&] { return Send(id, ReadRegister(2)); });
    d = fake.receive();
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 8), Header(2, 7));
    // A block reply (03 6E) is taken as its 1424 bytes.
    Bytes block{0x03, 0x6E};
    for (int i = 0; i < 1422; ++i) block.push_back(static_cast<std::uint8_t>(i));
    fake.reply(d, block);
    e = call.get();
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.reply, block);

    // A frame whose end byte is not where its length says: up to 256 bytes,
    // but never more than arrived.
    call = std::async(std::launch::async, [&] { return Send(id, ReadRegister(3)); });
    d = fake.receive();
    fake.reply(d, {0x07, 0x0A, 1, 2, 3});
    e = call.get();
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.reply, (Bytes{0x07, 0x0A, 1, 2, 3}));

    // Three unanswered tries fail with the socket's time-out, which says so.
    ZqSetConnectionTimeout(id, 50);
    call = std::async(std::launch::async, [&] { return Send(id, ReadRegister(4)); });
    for (int i = 0; i < 3; ++i) EXPECT_EQ(fake.receive().size(), 15u);
    e = call.get();
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(fake.pending(), 0) << "a fourth try";
    EXPECT_EQ(ErrorText(id), "Windows socket error: no reply within 3 x 50 ms from " + fake.address + ":3000");
    EXPECT_EQ(ErrorCode(id), EAGAIN);
    EXPECT_EQ(ZqCloseConnection(id), 1);
}

TEST(UdpWire, EachTryReadsOnThroughStaleDatagrams) {
    FakeUdpController fake;
    ASSERT_GE(fake.fd, 0);
    // Another host on the network, on a port of its own.
    std::string strangerAddress;
    const int stranger = BindOwnLoopback(SOCK_DGRAM, 0, strangerAddress);
    ASSERT_GE(stranger, 0);
    const std::int32_t id = ZqOpenConnection(ZQ_TYPE_UDP, 0, fake.addressValue());
    ASSERT_NE(id, 0) << ErrorText(0);
    // How the peer answers each datagram of one call as it comes, and what
    // it sends after the call returned; then what the call returns and how
    // many datagrams it sent. A short time-out where tries are meant to run
    // out, a generous one where an answer is meant to come.
    const auto answer = [&](const Bytes &d, std::uint8_t value, int sequenceOffset = 0) {
        fake.reply(d, RegisterReply(value), sequenceOffset);
    };
    const auto nothing = [](const Bytes &) {};
    struct Case {
        const char *what;
        std::int32_t timeout;
        int datagrams;
        std::function<void(const Bytes &)> onEach, afterCall;
        int result;
        int value;  // the value read, or the error code
    };
    const Case cases[] = {
        {"50 stale datagrams, then the answer", kAnswerTimeout, 1,
         [&](const Bytes &d) {
             for (int i = 1; i <= 50; ++i) answer(d, 99, -i);
             answer(d, 7);
         },
         nothing, 1, 7},
        {"no answer in time: three tries", 30, 3, nothing,
         [&](const Bytes &d) {
             for (int i = 0; i < 3; ++i) answer(d, 99);  // late: they wait for the next call
         },
         0, EAGAIN},
        {"the late answers of the call before wait in the socket", kAnswerTimeout, 1, [&](const Bytes &d) { answer(d, 8); },
         nothing, 1, 8},
        {"only other numbers", 200, 3, [&](const Bytes &d) { answer(d, 99, 1); }, nothing, 0, 206},
        // Only the controller answers: the right number from another
        // address is passed over, and the controller's answer after it taken.
        {"the right number from another host first", kAnswerTimeout, 1,
         [&](const Bytes &d) {
             fake.reply(d, RegisterReply(42), 0, stranger);
             answer(d, 9);
         },
         nothing, 1, 9},
        {"answers from another host only", 100, 3, [&](const Bytes &d) { fake.reply(d, RegisterReply(42), 0, stranger); },
         nothing, 0, EAGAIN},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.what);
        ZqSetConnectionTimeout(id, k.timeout);
        auto call = std::async(std::launch::async, [&] { return Send(id, ReadRegister(1)); });
        Bytes d;
        for (int i = 0; i < k.datagrams; ++i) {
            d = fake.receive();
            ASSERT_EQ(d.size(), 15u);
            k.onEach(d);
        }
        const Exchange e = call.get();
        k.afterCall(d);
        EXPECT_EQ(e.result, k.result);
        EXPECT_EQ(fake.pending(), 0) << "datagrams beyond " << k.datagrams;
        if (k.result == 1) EXPECT_EQ(RegisterValue(e), k.value);
        else EXPECT_EQ(ErrorCode(id), k.value) << ErrorText(id);
    }
    EXPECT_EQ(ErrorText(id), "Windows socket error: no reply within 3 x 100 ms from " + fake.address + ":3000");
    EXPECT_EQ(ZqCloseConnection(id), 1);
    close(stranger);
}

TEST(TcpWire, SplitRepliesPeerCloseAndReconnect) {
    EmulatorLink link(Link::Tcp);
    ASSERT_TRUE(link.ok());
    std::int32_t id = link.open();
    ASSERT_NE(id, 0) << ErrorText(0);
    ZqSetConnectionTimeout(id, kAnswerTimeout);
    SetRegister(link.controller(), 7, 0x12345678);

    // Pieces cut inside the header and inside the frame make one reply.
    link.controller().setFault({FaultKind::SplitReply, 2});
    EXPECT_EQ(RegisterValue(Send(id, ReadRegister(7))), 0x12345678);
    EXPECT_EQ(RegisterValue(Send(id, ReadRegister(7))), 0x12345678);
    // A reply cut short by the time-out (its pieces come 500 ms apart, far
    // beyond it, whatever the machine's load) is an error, not a value.
    ZqSetConnectionTimeout(id, 10);
    link.controller().setFault({FaultKind::SplitReply, 1, 500});
    EXPECT_EQ(Send(id, ReadRegister(7)).result, 0);
    EXPECT_EQ(ErrorText(id).rfind("Windows socket error: ", 0), 0u) << ErrorText(id);
    EXPECT_EQ(ErrorCode(id), EAGAIN);
    // The rest of it, whenever it comes, is passed over by the next exchange.
    ZqSetConnectionTimeout(id, kAnswerTimeout);
    EXPECT_EQ(RegisterValue(Send(id, ReadRegister(7))), 0x12345678);

    // An answer with another number is passed over until the time-out.
    ZqSetConnectionTimeout(id, 1000);
    link.controller().setFault({FaultKind::WrongSequence});
    EXPECT_EQ(Send(id, ReadRegister(7)).result, 0);
    EXPECT_EQ(ErrorText(id), "Reply sequence number mismatch");
    ZqSetConnectionTimeout(id, kAnswerTimeout);

    // The controller hangs up: a clear error, and no SIGPIPE on the next send.
    link.controller().setFault({FaultKind::PeerClose});
    EXPECT_EQ(Send(id, ReadRegister(7)).result, 0);
    EXPECT_EQ(ErrorText(id), "Connection closed by controller");
    EXPECT_EQ(ErrorCode(id), ECONNRESET);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Send(id, ReadRegister(7)).result, 0);
    EXPECT_NE(ErrorCode(id), 0);

    // Closing and opening again reconnects.
    EXPECT_EQ(ZqCloseConnection(id), 1);
    id = link.openNet(0);
    ASSERT_NE(id, 0) << ErrorText(0);
    // The non-blocking connect leaves the error of an unfinished attempt.
    EXPECT_TRUE(ErrorCode(0) == 0 || ErrorCode(0) == EINPROGRESS) << ErrorCode(0);
    ZQ_CONNECTION_INFO info{};
    ZqGetConnectionInfo(id, &info);
    EXPECT_EQ(info.timeout, 250);
    ZqSetConnectionTimeout(id, kAnswerTimeout);
    EXPECT_EQ(RegisterValue(Send(id, ReadRegister(7))), 0x12345678);
}

TEST(TcpWire, LateReplyCostsOnlyItsOwnExchange) {
    EmulatorLink link(Link::Tcp);
    ASSERT_TRUE(link.ok());
    const std::int32_t id = link.open();
    ASSERT_NE(id, 0) << ErrorText(0);
    for (int r = 1; r <= 12; ++r) SetRegister(link.controller(), r, 1000 + r);

    // The first answer comes long after its exchange gave up and lands in
    // front of the next one's on the stream: it is passed over, and every
    // read after it gets its own register's value.
    ZqSetConnectionTimeout(id, 50);
    link.controller().setFault({FaultKind::Delay, 1, 1000});  // far beyond the time-out, whatever the load
    EXPECT_EQ(Send(id, ReadRegister(1)).result, 0);
    EXPECT_EQ(ErrorCode(id), EAGAIN);
    ZqSetConnectionTimeout(id, kAnswerTimeout);
    for (int r = 2; r <= 12; ++r) EXPECT_EQ(RegisterValue(Send(id, ReadRegister(r))), 1000 + r) << "register " << r;
}

TEST(TcpWire, StaleAnswerAndOursInOneSegment) {
    // A bare listening socket on port 6000 plays the controller.
    std::string address;
    const int listener = BindOwnLoopback(SOCK_STREAM, 6000, address);
    if (listener >= 0) listen(listener, 1);
    ASSERT_GE(listener, 0);
    const std::int32_t id = ZqOpenConnection(ZQ_TYPE_TCP, 0, static_cast<std::int32_t>(inet_addr(address.c_str())));
    ASSERT_NE(id, 0) << ErrorText(0);
    ZqSetConnectionTimeout(id, kAnswerTimeout);
    const int peer = accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    timeval tv{5, 0};
    setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    auto request = [&] {
        std::uint8_t buf[64];
        const ssize_t n = recv(peer, buf, sizeof buf, 0);
        return n < 8 ? Bytes{} : Bytes(buf, buf + n);
    };
    auto answer = [](const Bytes &req, std::uint16_t sequence, const Bytes &frame) {
        Bytes out(req.begin(), req.begin() + 8);
        out[2] = static_cast<std::uint8_t>(sequence);
        out[3] = static_cast<std::uint8_t>(sequence >> 8);
        out[6] = static_cast<std::uint8_t>(frame.size());
        out[7] = static_cast<std::uint8_t>(frame.size() >> 8);
        return Concat(out, frame);
    };

    // A long answer first: the next read may ask for as much.
    auto call = std::async(std::launch::async, [&] { return Send(id, ReadRegister(1)); });
    Bytes d = request();
    ASSERT_EQ(d.size(), 15u);
    Bytes longFrame(100, 0x11);
    longFrame[0] = 99;
    longFrame[99] = 0xFF;
    Bytes out = answer(d, 1, longFrame);
    ASSERT_EQ(send(peer, out.data(), out.size(), 0), static_cast<ssize_t>(out.size()));
    EXPECT_EQ(call.get().reply, longFrame);

    // An answer to an older request and ours arrive in one piece: the old
    // one is passed over, ours is taken whole.
    call = std::async(std::launch::async, [&] { return Send(id, ReadRegister(2)); });
    d = request();
    ASSERT_EQ(d.size(), 15u);
    out = Concat(answer(d, 1, {0x07, 0x0A, 1, 0, 0, 0, 0xF4, 0xFF}), answer(d, 2, {0x07, 0x0A, 2, 0, 0, 0, 0xF3, 0xFF}));
    ASSERT_EQ(send(peer, out.data(), out.size(), 0), static_cast<ssize_t>(out.size()));
    const auto e = call.get();
    EXPECT_EQ(e.result, 1) << ErrorText(id);
    EXPECT_EQ(RegisterValue(e), 2);

    EXPECT_EQ(ZqCloseConnection(id), 1);
    close(peer);
    close(listener);
}

TEST(NetOpen, FailuresGoToTheLibraryError) {
    // Nobody listens on this address.
    const std::string nobody = NextLoopbackAddress();
    const auto a = static_cast<std::int32_t>(inet_addr(nobody.c_str()));
    EXPECT_EQ(ZqOpenConnection(ZQ_TYPE_TCP, 0, a), 0);
    EXPECT_EQ(ErrorText(0), "Windows socket error: connecting to " + nobody + ":6000: Connection refused");
    EXPECT_EQ(ErrorCode(0), ECONNREFUSED);

    // A local UDP port that is taken.
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in s{};
    s.sin_family = AF_INET;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&s), sizeof s), 0);
    socklen_t len = sizeof s;
    getsockname(fd, reinterpret_cast<sockaddr *>(&s), &len);
    EXPECT_EQ(ZqOpenConnection(ZQ_TYPE_UDP, ntohs(s.sin_port), a), 0);
    EXPECT_EQ(ErrorCode(0), EADDRINUSE);
    EXPECT_EQ(ErrorText(0), "Windows socket error: opening a socket for " + nobody + ":3000: Address already in use");
    close(fd);

    // UDP opens without a peer; its exchange then fails on the socket.
    const std::int32_t id = ZqOpenNetConnection(ZQ_TYPE_UDP, 0, a, 0);
    ASSERT_NE(id, 0);
    EXPECT_EQ(ErrorCode(0), 0);
    ZqSetConnectionTimeout(id, 20);
    EXPECT_EQ(Send(id, ReadRegister(1)).result, 0);
    EXPECT_EQ(ErrorText(id).rfind("Windows socket error: ", 0), 0u) << ErrorText(id);
    ZQ_CONNECTION_INFO info{};
    ZqGetConnectionInfo(id, &info);
    EXPECT_EQ(info.type, ZQ_TYPE_UDP);
    EXPECT_EQ(info.address, a);
    EXPECT_EQ(ZqInitConnection(id, 9600, 0, 8, 0), 0);
    EXPECT_EQ(ErrorText(id), "SetCommState error");
    EXPECT_EQ(ZqCloseConnection(id), 1);
    EXPECT_EQ(ZqCloseConnection(id), 0);
}

// The same calls over every link.
TEST_P(NetLink, ExchangesCarryEveryByteAndHonourTimeouts) {
    controller().setHandler(0x7E, [](orvemu::Controller &, const orvemu::Request &r) {
        return orvemu::replyFrame(0x7F, r.args);
    });
    for (int start : {0, 200}) {
        Bytes args;
        for (int b = start; b < std::min(start + 252, 256); ++b) args.push_back(static_cast<std::uint8_t>(b));
        const auto e = Send(id(), Request(0x7E, args));
        ASSERT_EQ(e.result, 1) << ErrorText(id());
        EXPECT_EQ(Bytes(e.reply.begin() + 2, e.reply.end() - 2), args);
        EXPECT_EQ(controller().lastRequest(), Request(0x7E, args));
    }

    // A text request on a network link travels as a frame.
    SetRegister(controller(), 1, 31);
    const Bytes frame = ReadRegister(1);
    std::uint8_t reply[1536] = {};
    if (GetParam() != Link::Serial) {
        ASSERT_EQ(ZqSendAscii(id(), frame.data(), static_cast<std::uint32_t>(frame.size()), reply, 0x0D), 1);
        EXPECT_EQ(Bytes(reply, reply + 8), (Bytes{0x07, 0x0A, 31, 0, 0, 0, 0xD6, 0xFF}));
    }

    // Silence costs the time-out (each of the three tries on UDP), then the
    // link works on.
    const int tries = GetParam() == Link::Udp ? 3 : 1;
    ASSERT_EQ(ZqSetConnectionTimeout(id(), 60), 1);
    controller().setFault({FaultKind::Drop, tries});
    controller().clearLog();
    EXPECT_EQ(Send(id(), ReadRegister(1)).result, 0);
    // The emulator logs a request as it handles it, which may come after the
    // call has given up on it.
    WaitUntil([&] { return controller().requestCount() >= static_cast<std::size_t>(tries); });
    EXPECT_EQ(controller().requestCount(), static_cast<std::size_t>(tries));

    // A time-out of 0 or below would wait for ever: refused, the 60 ms stay
    // (a silent controller still ends the exchange).
    EXPECT_EQ(ZqSetConnectionTimeout(id(), 0), 0);
    EXPECT_EQ(ZqSetConnectionTimeout(id(), -5), 0);
    ZQ_CONNECTION_INFO info{};
    ASSERT_EQ(ZqGetConnectionInfo(id(), &info), 1);
    EXPECT_EQ(info.timeout, 60);
    controller().setFault({FaultKind::Drop, tries});
    EXPECT_EQ(Send(id(), ReadRegister(1)).result, 0);
    controller().clearFault();
    ASSERT_EQ(ZqSetConnectionTimeout(id(), AnswerTimeoutFor(GetParam())), 1);
    EXPECT_EQ(RegisterValue(Send(id(), ReadRegister(1))), 31);

    // A time-out longer than a slow controller's delay lets it answer.
    ASSERT_EQ(ZqSetConnectionTimeout(id(), AnswerTimeoutFor(GetParam())), 1);
    controller().setFault({FaultKind::Delay, 1, 200});
    EXPECT_EQ(RegisterValue(Send(id(), ReadRegister(1))), 31);

    // A short error reply is handed over for the command to judge.
    controller().setFault({FaultKind::ShortError, 1, 0, 0x66});
    const auto e = Send(id(), ReadRegister(1));
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.reply, (Bytes{0x03, 0x66, 0x99, 0xFF}));
}

INSTANTIATE_TEST_SUITE_P(AllLinks, NetLink, ::testing::Values(Link::Serial, Link::Udp, Link::Tcp),
                         [](const ::testing::TestParamInfo<Link> &i) { return std::string(LinkName(i.param)); });
