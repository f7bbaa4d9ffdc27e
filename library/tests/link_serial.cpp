// The serial transport against the emulator's pseudo-terminal.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link_fixture.h"
#include "wire.h"

using namespace orvtest;

namespace {

class SerialLink : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(link.ok());
        ASSERT_NE(link.open(), 0) << ErrorText(0);
        ASSERT_EQ(ZqSetConnectionTimeout(id(), kTimeout), 1);
    }
    std::int32_t id() const { return link.id(); }
    orvemu::PtyLine line() { return orvemu::ptyLine(link.server()).value_or(orvemu::PtyLine{}); }

    // Registers 1..count hold kBase + their number, so that an answer meant
    // for another request shows.
    static constexpr std::int32_t kBase = 70000;
    static constexpr int kTimeout = 100;
    // Long enough for any answer on a loaded machine.
    static constexpr int kPatient = 300;
    void numberRegisters(int count) {
        for (int n = 1; n <= count; ++n) SetRegister(link.controller(), n, kBase + n);
    }
    enum { kFailed, kRight, kWrongValue };
    int readOwn(int n) {
        std::int32_t v = -1;
        if (ZqGetRegister(id(), n, &v) != 1) return kFailed;
        return v == kBase + n ? kRight : kWrongValue;
    }
    // Lets the oldest held reply go and waits until it is on the line.
    void releaseHeldReply() {
        const auto sent = link.controller().heldSent();
        link.controller().releaseHeld();
        WaitUntil([&] { return link.controller().heldSent() > sent; });
    }

    EmulatorLink link{Link::Serial};
};

}  // namespace

TEST_F(SerialLink, OpensWithDefaultLineAndInitialiseChangesIt) {
    auto l = line();
    EXPECT_EQ(l.baud, 9600u);
    EXPECT_EQ(l.dataBits, 8);
    EXPECT_EQ(l.parity, 'N');
    EXPECT_FALSE(l.twoStopBits);
    EXPECT_FALSE(l.xonXoff);
    EXPECT_FALSE(l.translation);
    EXPECT_FALSE(l.signalChars);
    EXPECT_FALSE(l.echo);
    EXPECT_FALSE(l.stripEighthBit);
    EXPECT_FALSE(l.rtsCts);

    ZQ_CONNECTION_INFO info{};
    ASSERT_EQ(ZqGetConnectionInfo(id(), &info), 1);
    EXPECT_EQ(info.type, 1);
    EXPECT_EQ(info.port, link.comPort());
    EXPECT_EQ(info.status, 1);

    // A rate off the standard list and two stop bits. (A pseudo-terminal
    // keeps its characters at 8 bits without parity whatever it is told;
    // the unit tests check how those settings are encoded.)
    ASSERT_EQ(ZqInitConnection(id(), 56800, 2, 7, 2), 1) << ErrorText(id());
    l = line();
    EXPECT_EQ(l.baud, 56800u);
    EXPECT_TRUE(l.twoStopBits);
    EXPECT_FALSE(l.xonXoff);
    EXPECT_FALSE(l.translation);

    ASSERT_EQ(ZqInitConnection(id(), 115200, 1, 8, 0), 1);
    l = line();
    EXPECT_EQ(l.baud, 115200u);
    EXPECT_FALSE(l.twoStopBits);
    ASSERT_EQ(ZqInitConnection(id(), 19200, 3, 8, 0), 1);
    ASSERT_EQ(ZqInitConnection(id(), 38400, 4, 6, 0), 1);
    EXPECT_EQ(line().baud, 38400u);
    // One and a half stop bits go with 5-bit characters only.
    ASSERT_EQ(ZqInitConnection(id(), 1200, 0, 5, 1), 1);
    EXPECT_TRUE(line().twoStopBits);

    // Settings a line cannot carry are refused, and the line stays as it was.
    for (auto bad : {std::array<int, 4>{9600, 0, 8, 1}, {9600, 5, 8, 0}, {9600, 0, 9, 0}, {0, 0, 8, 0},
                     {9600, 0, 5, 2}}) {
        EXPECT_EQ(ZqInitConnection(id(), bad[0], bad[1], bad[2], bad[3]), 0);
        EXPECT_EQ(ErrorText(id()), "SetCommState error");
        EXPECT_EQ(ErrorCode(id()), EINVAL);
    }
    EXPECT_EQ(line().baud, 1200u);
    EXPECT_EQ(ZqInitConnection(9999, 9600, 0, 8, 0), 0);

    // The line still carries frames after all that.
    ASSERT_EQ(ZqInitConnection(id(), 9600, 0, 8, 0), 1);
    SetRegister(link.controller(), 1, 77);
    EXPECT_EQ(RegisterValue(Send(id(), ReadRegister(1))), 77);
}

TEST_F(SerialLink, EveryByteValuePassesBothWays) {
    // 256 bytes take 270 ms to cross the line at 9600 baud before any answer.
    ASSERT_EQ(ZqSetConnectionTimeout(id(), kSerialAnswerTimeout), 1);
    // Echo the arguments back as the reply's data.
    link.controller().setHandler(0x7E, [](orvemu::Controller &, const orvemu::Request &r) {
        return orvemu::replyFrame(0x7F, r.args);
    });
    for (int start : {0, 200}) {
        Bytes args;
        for (int b = start; b < std::min(start + 252, 256); ++b) args.push_back(static_cast<std::uint8_t>(b));
        const auto e = Send(id(), Request(0x7E, args));
        ASSERT_EQ(e.result, 1) << ErrorText(id());
        ASSERT_EQ(e.reply.size(), args.size() + 4);
        EXPECT_EQ(Bytes(e.reply.begin() + 2, e.reply.end() - 2), args);
        EXPECT_EQ(link.controller().lastRequest(), Request(0x7E, args));
    }
    // The text path too: every byte but the terminator, echoed.
    Bytes text;
    for (int b = 0; b < 256; ++b)
        if (b != 0x0D) text.push_back(static_cast<std::uint8_t>(b));
    text.push_back(0x0D);
    std::uint8_t reply[1536] = {};
    ASSERT_EQ(ZqSendAscii(id(), text.data(), static_cast<std::uint32_t>(text.size()), reply, 0x0D), 1)
        << ErrorText(id());
    EXPECT_EQ(Bytes(reply, reply + text.size()), text);
}

TEST_F(SerialLink, BadRepliesGiveTheirCodeAndText) {
    using orvemu::Fault;
    using orvemu::FaultKind;
    SetRegister(link.controller(), 1, 5);
    struct Case {
        Fault fault;
        std::int32_t code;
        std::string text;
        std::size_t replyLength;
    };
    const Case cases[] = {
        {{FaultKind::Drop}, 170, "Timed out waiting for response from controller", 0},
        {{FaultKind::Garbage, 1, 0, 0, {0x00}}, 206, "Illegal packet size", 0},
        {{FaultKind::WrongLength}, 206, "Incomplete packet", 8},
        {{FaultKind::Garbage, 1, 0, 0, {0x03, 0x64}}, 206, "Incomplete packet", 3},
        {{FaultKind::Garbage, 1, 0, 0, {0x03, 0x64, 0x9A, 0xFF}}, 206, "Packet checksum failed (0x9a != 0x9b)", 3},
        {{FaultKind::Garbage, 1, 0, 0, {0x03, 0x64, 0x9B, 0x00}}, 206,
         "Failed to get End-Of-Packet (0x00 != 0xFF)", 3},
        {{FaultKind::Garbage, 1, 0, 0, {0x01, 0xAA}}, 206, "Packet checksum failed (0x01 != 0xff)", 1},
        {{FaultKind::CorruptChecksum}, 206, "Packet checksum failed (0xaa != 0xf0)", 7},
        // The reply twice over: whose answer the first copy was cannot be told.
        {{FaultKind::Duplicate}, 206, "More bytes followed the reply", 8},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        link.controller().setFault(c.fault);
        const auto e = Send(id(), ReadRegister(1));
        EXPECT_EQ(e.result, 0);
        EXPECT_EQ(ErrorCode(id()), c.code);
        EXPECT_EQ(ErrorText(id()), c.text);
        EXPECT_EQ(e.reply.size(), c.replyLength);
        // The next exchange is not thrown off by what the bad one left.
        EXPECT_EQ(RegisterValue(Send(id(), ReadRegister(1))), 5);
    }

    // A short reply passes the transport; deciding about it is the command's.
    link.controller().setFault({FaultKind::ShortError, 1, 0, 0x66});
    auto e = Send(id(), ReadRegister(1));
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.reply, (Bytes{0x03, 0x66, 0x99, 0xFF}));
    link.controller().setFault({FaultKind::Garbage, 1, 0, 0, {0x03, 0x64, 0x9B, 0xFF}});
    e = Send(id(), ReadRegister(1));
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.reply.size(), 4u);
    // A reply that arrives in pieces is read whole.
    link.controller().setFault({FaultKind::SplitReply});
    EXPECT_EQ(RegisterValue(Send(id(), ReadRegister(1))), 5);
}

// A reply that comes after its call gave up (held by the controller and let
// go only once the call has returned), alone, with a fault on the next
// request, behind a noise byte that failed its call at once, with the port
// closed and opened again meanwhile, or only once the next request is on
// the line (that request's own answer waiting behind it, so that the line
// would stay one reply behind): each fault costs its own call and at most
// the next, and no read returns another register's value.
TEST_F(SerialLink, LateRepliesNeverPassForTheAnswerToALaterRequest) {
    using orvemu::Fault;
    using orvemu::FaultKind;
    const Fault held{FaultKind::Hold};
    Fault noiseThenHeld{FaultKind::Hold};
    noiseThenHeld.noise = {0x00};
    struct Case {
        const char *name;
        std::vector<Fault> faults;
        int failures;
        bool reopen = false;
    };
    const Case cases[] = {
        {"a late reply", {held}, 1},
        {"a late reply, then another", {held, held}, 2},
        {"a late reply, then a lost one", {held, Fault{FaultKind::Drop}}, 2},
        {"a reply behind a noise byte", {noiseThenHeld}, 1},
        {"a late reply across a reconnection", {held}, 1, true},
        // Let go by the check that goes before the next request: its form
        // shows it, and that request gets its own answer.
        {"a late reply that comes once the next request is out", {Fault{FaultKind::HoldForNext}}, 1},
    };
    ASSERT_EQ(ZqSetConnectionTimeout(id(), kPatient), 1);
    // A controller as the field has them: its answers take their turnaround.
    link.controller().setLineTiming(true);
    link.controller().setReplyDelay(20, 20);
    numberRegisters(60);
    int next = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        link.controller().setFaults(c.faults);
        const auto holds = std::count_if(c.faults.begin(), c.faults.end(),
                                         [](const Fault &f) { return f.kind == FaultKind::Hold; });
        int failed = 0;
        for (int i = 0; i < 8; ++i, ++next) {
            const int r = readOwn(next);
            EXPECT_NE(r, kWrongValue) << "register " << next;
            if (r != kFailed) continue;
            ++failed;
            if (c.reopen) {
                link.close();
                ASSERT_NE(link.open(), 0) << ErrorText(0);
                ASSERT_EQ(ZqSetConnectionTimeout(id(), kPatient), 1);
            }
            // Its call has returned: now the held reply may come.
            if (failed <= holds) releaseHeldReply();
        }
        EXPECT_EQ(failed, c.failures);
    }
}

// A controller that sends a reply twice, the copy crossing the next request
// (the line's check after the reply, or the caller's next request): the
// copy comes too soon to be its answer, or does not fit that request (an
// acknowledgement where a value is due, or the other way round, or not the
// check's form) and the request's own reply follows it, so one of the two
// calls fails instead of taking the copy for its answer; the line is in
// step again at once.
TEST_F(SerialLink, ARepeatedReplyIsNotTakenForTheNextAnswer) {
    ASSERT_EQ(ZqSetConnectionTimeout(id(), kPatient), 1);
    numberRegisters(20);
    for (int n = 1; n <= 12; n += 3) {
        const bool writeFirst = n % 2 == 1;
        SCOPED_TRACE(writeFirst ? "an acknowledgement repeated into a read" : "a value repeated into a write");
        link.controller().setFault({orvemu::FaultKind::Duplicate, 1, -1});
        std::int32_t value = -1;
        int failed = 0;
        std::string text;
        const auto outcome = [&](bool ok) {
            if (!ok && failed++ == 0) text = ErrorText(id());
        };
        if (writeFirst) {
            outcome(ZqPutRegister(id(), n, kBase + n) == 1);
            const int r = ZqGetRegister(id(), n, &value);
            EXPECT_TRUE(r == 0 || value == kBase + n) << "value " << value;
            outcome(r == 1);
        } else {
            const int r = readOwn(n);
            EXPECT_NE(r, kWrongValue);
            outcome(r == kRight);
            outcome(ZqPutRegister(id(), n, kBase + n) == 1);
        }
        EXPECT_EQ(failed, 1);
        // Found when the copy came sooner than the request could cross the
        // line, when it did not fit, or already when its own followed at once.
        EXPECT_TRUE(text == "Reply came before the request could reach the controller" ||
                    text == "Reply out of step with its request" || text == "More bytes followed the reply" ||
                    text == "Acknowledgement where data was due: it may answer an earlier request" ||
                    text == "Reply of another form than its request's answer" ||
                    text == "Serial line out of step: the reply's own answer came after it, before the line's check")
            << text;
        EXPECT_EQ(readOwn(n + 1), kRight);
        EXPECT_EQ(readOwn(n + 2), kRight);
    }
}

// After a failed exchange a request goes out only once the line has been
// quiet for a whole time-out; a line that keeps talking fails the call after
// a few time-outs, without the request ever going out.
TEST_F(SerialLink, ALineThatKeepsTalkingHoldsRequestsBack) {
    ASSERT_EQ(ZqSetConnectionTimeout(id(), 200), 1);
    SetRegister(link.controller(), 1, 11);
    link.controller().setFault({orvemu::FaultKind::Drop});
    const auto heard = link.controller().requestCount() + 1;
    EXPECT_EQ(Send(id(), ReadRegister(1)).result, 0);
    WaitUntil([&] { return link.controller().requestCount() >= heard; });
    link.controller().setChatter(true);
    EXPECT_EQ(Send(id(), ReadRegister(1)).result, 0);
    EXPECT_EQ(ErrorText(id()), "Serial line does not go quiet");
    EXPECT_EQ(ErrorCode(id()), 206);
    EXPECT_EQ(link.controller().requestCount(), heard);
    link.controller().setChatter(false);
    EXPECT_EQ(RegisterValue(Send(id(), ReadRegister(1))), 11);
    EXPECT_EQ(link.controller().requestCount(), heard + 1);
}

TEST_F(SerialLink, TimeoutChangesTakeEffect) {
    ASSERT_EQ(ZqSetConnectionTimeout(id(), 500), 1);
    link.controller().setFault({orvemu::FaultKind::Drop});
    auto t = Clock::now();
    EXPECT_EQ(Send(id(), ReadRegister(1)).result, 0);
    EXPECT_GE(MsSince(t), 495);
    EXPECT_LT(MsSince(t), 1500);

    // After a failure the next request waits for a quiet line (as long as
    // the longest time-out since, 500 ms) and then its own, shorter one.
    ASSERT_EQ(ZqSetConnectionTimeout(id(), 30), 1);
    link.controller().setFault({orvemu::FaultKind::Drop});
    t = Clock::now();
    EXPECT_EQ(Send(id(), ReadRegister(1)).result, 0);
    EXPECT_EQ(ErrorCode(id()), 170);
    EXPECT_GE(MsSince(t), 495 + 28);

    // A slow controller within the time-out is answered.
    ASSERT_EQ(ZqSetConnectionTimeout(id(), 400), 1);
    ZQ_CONNECTION_INFO info{};
    ZqGetConnectionInfo(id(), &info);
    EXPECT_EQ(info.timeout, 400);
    link.controller().setFault({orvemu::FaultKind::Delay, 1, 120});
    SetRegister(link.controller(), 1, 9);
    EXPECT_EQ(RegisterValue(Send(id(), ReadRegister(1))), 9);
    EXPECT_EQ(ZqSetConnectionTimeout(9999, 10), 0);
}

// Each step waits until the controller has taken its request, so that two
// text requests never run together into one, and uses a time-out that only
// a hang would reach unless the step is meant to end by one.
TEST_F(SerialLink, TextRepliesUpToTheirTerminator) {
    constexpr int kPatient = 5000, kShort = 100;
    Bytes answer;
    link.controller().setTextHandler([&](orvemu::Controller &, std::span<const std::uint8_t>) { return answer; });
    // The handler runs under the controller's lock.
    auto answerWith = [&](Bytes a) { link.controller().withMemory([&](orvemu::Memory &) { answer = std::move(a); }); };
    std::uint8_t reply[1600] = {};
    std::size_t requests = link.controller().requestCount();
    auto ascii = [&](const std::string &request, std::uint8_t terminator, int timeout) {
        EXPECT_EQ(ZqSetConnectionTimeout(id(), timeout), 1);
        std::fill(std::begin(reply), std::end(reply), 0xEE);
        const int r = ZqSendAscii(id(), reinterpret_cast<const std::uint8_t *>(request.data()),
                                  static_cast<std::uint32_t>(request.size()), reply, terminator);
        if (!request.empty()) WaitUntil([&] { return link.controller().requestCount() > requests; });
        requests = link.controller().requestCount();
        return r;
    };
    auto got = [&](std::size_t n) { return std::string(reinterpret_cast<char *>(reply), n); };

    answerWith({'A', 'B', '\r', 'C', 'D', '\r'});
    ASSERT_EQ(ascii("-\r", 0x0D, kPatient), 1) << ErrorText(id());
    EXPECT_EQ(got(4), "AB\r\xEE");
    EXPECT_EQ(link.controller().lastRequest(), (Bytes{'-', '\r'}));

    // The rest of that reply is still on the line for a read that sends
    // nothing: "CD\r".
    ASSERT_EQ(ascii("", 0x0D, kPatient), 1);
    EXPECT_EQ(got(3), "CD\r");

    // Line mode: a reply that starts with a line feed runs to the next one.
    answerWith({'\n', 'o', 'k', '\n'});
    ASSERT_EQ(ascii("?", 0, kPatient), 1) << ErrorText(id());
    EXPECT_EQ(got(5), "\nok\n\xEE");
    // ... and a line that stops early is still a success, with what came.
    answerWith({'\n', 'h', 'a'});
    ASSERT_EQ(ascii("?", 0, 1000), 1);
    EXPECT_EQ(got(4), "\nha\xEE");

    // A reply that stops before its terminator fails and records nothing.
    link.controller().setFault({orvemu::FaultKind::Drop});
    ASSERT_EQ(ascii("?", 0x13, kShort), 0);
    EXPECT_EQ(ErrorCode(id()), 170);
    answerWith({'x', 'y'});
    ASSERT_EQ(ascii("?", 0x13, kShort), 0);
    EXPECT_EQ(ErrorCode(id()), 170);
    EXPECT_EQ(ErrorText(id()), "Timed out waiting for response from controller");

    // XON and XOFF are ordinary bytes on this line. (A binary exchange
    // first waits for the quiet line that the failures above ask for.)
    Send(id(), ReadRegister(1));
    requests = link.controller().requestCount();
    answerWith({'o', 'k', 0x13});
    ASSERT_EQ(ascii(std::string(1, '\x11'), 0x13, kPatient), 1) << ErrorText(id());
    EXPECT_EQ(got(3), "ok\x13");

    // The reply buffer bounds a reply without its terminator.
    answerWith(Bytes(1600, 'z'));
    ASSERT_EQ(ascii("?", 0x0D, kPatient), 0);
    EXPECT_EQ(ErrorCode(id()), 206);
    EXPECT_EQ(ErrorText(id()), "Text reply too long");
}

TEST(SerialOpen, ReopenAfterCloseAndExclusiveOpen) {
    EmulatorLink link(Link::Serial);
    ASSERT_TRUE(link.ok());
    const std::int32_t a = link.open();
    ASSERT_NE(a, 0) << ErrorText(0);
    EXPECT_EQ(ErrorCode(0), 0);

    // The port is ours alone while it is open.
    EXPECT_EQ(ZqOpenConnection(1, link.comPort(), 0), 0);
    EXPECT_EQ(ErrorText(0), "Windows file error (" + link.server().endpoint() + ": Device or resource busy)");
    EXPECT_EQ(ErrorCode(0), EBUSY);

    EXPECT_EQ(ZqCloseConnection(a), 1);
    EXPECT_EQ(ZqCloseConnection(a), 0);
    EXPECT_EQ(ZqGetConnectionInfo(a, nullptr), 0);

    const std::int32_t b = ZqOpenNetConnection(1, link.comPort(), 0, 0);
    ASSERT_NE(b, 0) << ErrorText(0);
    EXPECT_GT(b, a);
    ZQ_CONNECTION_INFO info{};
    ZqGetConnectionInfo(b, &info);
    EXPECT_EQ(info.timeout, 250);
    ZqSetConnectionTimeout(b, 100);
    SetRegister(link.controller(), 3, 33);
    EXPECT_EQ(RegisterValue(Send(b, ReadRegister(3))), 33);
    EXPECT_EQ(ZqCloseConnection(b), 1);
}

TEST(SerialOpen, HalfOpenPortIsClosedWithItsConnection) {
    // A device that opens but takes no line settings: a plain file.
    char path[] = "/tmp/orvcomm-not-a-tty-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const int port = NextComPort();
    SetComPort(port, path);

    const std::int32_t id = ZqOpenConnection(1, port, 0);
    ASSERT_NE(id, 0);
    // The device is named, with the system's reason.
    const std::string notALine = std::string("SetCommState error (") + path + ": " + std::strerror(ENOTTY) + ")";
    EXPECT_EQ(ErrorText(0), notALine);
    EXPECT_EQ(ErrorCode(0), ENOTTY);
    ZQ_CONNECTION_INFO info{};
    ZqGetConnectionInfo(id, &info);
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(Send(id, ReadRegister(1)).result, 0);
    EXPECT_EQ(ErrorText(id), "Invalid connection status");
    EXPECT_EQ(ErrorCode(id), 194);
    EXPECT_EQ(ZqInitConnection(id, 9600, 0, 8, 0), 0);
    EXPECT_EQ(ErrorText(id), "SetCommState error");
    EXPECT_EQ(ZqCloseConnection(id), 1);

    // Closed with it: the next open finds the device free again.
    const std::int32_t again = ZqOpenConnection(1, port, 0);
    EXPECT_NE(again, 0);
    EXPECT_EQ(ErrorText(0), notALine);
    EXPECT_EQ(ZqCloseConnection(again), 1);
    unlink(path);
}

TEST(SerialOpen, MissingDeviceAndUnknownType) {
    const int port = NextComPort();
    SetComPort(port, "/dev/orvcomm-no-such-device");
    // The text callers know, then the device and the system's reason.
    const std::string missing = "Windows file error (/dev/orvcomm-no-such-device: No such file or directory)";
    EXPECT_EQ(ZqOpenConnection(1, port, 0), 0);
    EXPECT_EQ(ErrorText(0), missing);
    EXPECT_EQ(ErrorCode(0), ENOENT);
    // An unknown type records nothing but the cleared code.
    EXPECT_EQ(ZqOpenConnection(5, 1, 0), 0);
    EXPECT_EQ(ErrorCode(0), 0);
    EXPECT_EQ(ErrorText(0), missing);
}

TEST(SerialOpen, ControllerHearsOnlyItsOwnRate) {
    orvemu::Controller controller;
    auto pty = orvemu::startPty(controller, 38400);
    ASSERT_TRUE(pty);
    const int port = NextComPort();
    SetComPort(port, pty->endpoint().c_str());
    const std::int32_t id = ZqOpenConnection(1, port, 0);
    ASSERT_NE(id, 0);
    ASSERT_EQ(ZqSetConnectionTimeout(id, 60), 1);
    std::int32_t value = 0;
    // 9600, the port's opening rate, is not the controller's.
    EXPECT_EQ(ZqGetRegister(id, 1, &value), 0);
    EXPECT_EQ(ErrorCode(id), 170);
    EXPECT_EQ(controller.requestCount(), 0u);
    ASSERT_EQ(ZqInitConnection(id, 38400, 0, 8, 0), 1);
    EXPECT_EQ(ZqGetRegister(id, 13008, &value), 1) << ErrorText(id);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(ZqCloseConnection(id), 1);
}
