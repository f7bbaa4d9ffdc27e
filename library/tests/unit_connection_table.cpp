#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <tuple>
#include <string>
#include <thread>

#include "controller.h"
#include "emulator_transport.h"
#include "errors.h"
#include "orvcomm.h"

using namespace orv;
using orvtest::AddEmulatedConnection;
using Bytes = std::vector<std::uint8_t>;

namespace {

Connection &record(std::int32_t id) {
    TableGuard g;
    return *table::lookup(id, false);
}

std::string errorText(std::int32_t id, std::int32_t *code = nullptr) {
    ZQ_ERROR_INFO info{};
    EXPECT_EQ(ZqGetErrorInfo(id, &info), 1);
    if (code) *code = info.code;
    return info.text;
}

const Bytes kReadRegister1{0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF};

}  // namespace

TEST(ShortReply, EveryCodeMapsToItsExactTextAndNumber) {
    struct Case { std::uint8_t code; int result; std::uint16_t error; const char *text; };
    const Case cases[] = {
        {0x64, 1, 0, "                                              "},
        {0x65, 0, 215, "Checksum error, or end of packet <> FFH."},
        {0x66, 0, 216, "Illegal register number specified."},
        {0x67, 0, 206, "Unknown packet error."},
        {0x68, 0, 216, "Resource value out of range."},
        {0x69, 0, 157, "Attempting to run Q42 code on Q43."},
        {0x6A, 0, 206, "Unknown packet error."},
        {0x00, 0, 206, "Unknown packet error."},
    };
    Connection c;
    for (const auto &k : cases) {
        c.setError(999, "stale");
        EXPECT_EQ(CheckShortReply(c, Bytes{0x03, k.code, static_cast<std::uint8_t>(0xFF - k.code), 0xFF}), k.result)
            << int(k.code);
        EXPECT_EQ(c.errorCode, k.error) << int(k.code);
        EXPECT_STREQ(c.errorText, k.text) << int(k.code);
    }
}

TEST(ShortReply, OnlyBytesThatArrivedAreDecoded) {
    Connection c;
    // A longer reply whose byte 3 is not FF.
    EXPECT_EQ(CheckShortReply(c, Bytes{0x07, 0x0A, 0x01, 0x00, 0x00, 0x00, 0xF4, 0xFF}), 0);
    EXPECT_EQ(c.errorCode, 205);
    EXPECT_STREQ(c.errorText, "Not a valid binary protocol response.");
    // Three bytes received: byte 3 is whatever the buffer held before, and must not count.
    const Bytes ack{0x03, 0x64, 0x9B, 0xFF};
    EXPECT_EQ(CheckShortReply(c, std::span(ack).first(3)), 0);
    EXPECT_EQ(c.errorCode, 205);
    EXPECT_EQ(CheckShortReply(c, {}), 0);
    EXPECT_EQ(c.errorCode, 205);
}

class Table : public ::testing::Test {
protected:
    orvemu::Controller emu;
};

TEST_F(Table, IdsCountUpAndAreNeverReused) {
    const auto a = AddEmulatedConnection(emu);
    const auto b = AddEmulatedConnection(emu);
    EXPECT_GT(a, 0);
    EXPECT_EQ(b, a + 1);
    orvtest::RemoveConnection(b);
    const auto c = AddEmulatedConnection(emu);
    EXPECT_EQ(c, b + 1);
    orvtest::RemoveConnection(a);
    orvtest::RemoveConnection(c);
}

TEST_F(Table, UnknownIdFailsEverywhereAndRecordsNothing) {
    const auto id = AddEmulatedConnection(emu);
    orvtest::RemoveConnection(id);
    ZQ_ERROR_INFO e;
    std::memset(&e, 0xAB, sizeof e);
    EXPECT_EQ(ZqGetErrorInfo(id, &e), 0);
    EXPECT_EQ(e.code, static_cast<std::int32_t>(0xABABABAB));  // untouched
    ZQ_CONNECTION_INFO ci{};
    EXPECT_EQ(ZqGetConnectionInfo(id, &ci), 0);
    ZQ_MESSAGE_INFO mi{};
    EXPECT_EQ(ZqGetMessageInfo(id, &mi), 0);
    std::uint8_t reply[kMaxReply];
    EXPECT_EQ(ZqSendData(id, 20, kReadRegister1.data(), 7, reply), 0);
    EXPECT_EQ(ZqSendAscii(id, kReadRegister1.data(), 7, reply, 0x0D), 0);
    EXPECT_EQ(emu.requestCount(), 0u);
}

TEST_F(Table, ExchangeDeliversTheWholeReplyAndKeepsTheMessage) {
    emu.withMemory([](auto &m) { m.registers[1] = 0x01020304; return 0; });
    const auto id = AddEmulatedConnection(emu);
    std::uint8_t reply[kMaxReply] = {};
    ASSERT_EQ(ZqSendData(id, 20, kReadRegister1.data(), 7, reply), 1);
    EXPECT_EQ(emu.lastRequest(), kReadRegister1);
    EXPECT_EQ(Bytes(reply, reply + 8), (Bytes{0x07, 0x0A, 0x04, 0x03, 0x02, 0x01, 0xEB, 0xFF}));

    ZQ_MESSAGE_INFO mi;
    std::memset(&mi, 0xCC, sizeof mi);
    ASSERT_EQ(ZqGetMessageInfo(id, &mi), 1);
    EXPECT_EQ(mi.requestLength, 7);
    EXPECT_EQ(mi.replyLength, 8);
    EXPECT_EQ(Bytes(mi.request, mi.request + 7), kReadRegister1);
    // All 256 bytes come from the record, none left from the caller's fill.
    for (int i = 7; i < 256; ++i) ASSERT_NE(mi.request[i], 0xCC) << i;
    EXPECT_EQ(record(id).packetClass, 20);
    orvtest::RemoveConnection(id);
}

TEST_F(Table, SuccessKeepsTheErrorAndOnlyAnAcknowledgementClearsIt) {
    const auto id = AddEmulatedConnection(emu);
    std::uint8_t reply[kMaxReply];
    emu.setFault({orvemu::FaultKind::Drop});
    EXPECT_EQ(ZqSendData(id, 20, kReadRegister1.data(), 7, reply), 0);
    std::int32_t code = 0;
    EXPECT_EQ(errorText(id, &code), "Timed out waiting for response from controller");
    EXPECT_EQ(code, 170);

    ASSERT_EQ(ZqSendData(id, 20, kReadRegister1.data(), 7, reply), 1);
    EXPECT_EQ(errorText(id, &code), "Timed out waiting for response from controller");

    EXPECT_EQ(CheckShortReply(record(id), Bytes{0x03, 0x64, 0x9B, 0xFF}), 1);
    EXPECT_EQ(errorText(id, &code), std::string(46, ' '));
    EXPECT_EQ(code, 0);
    orvtest::RemoveConnection(id);
}

// Each thread reads the error of its own last call, whatever another
// thread's call left on the connection since. A thread whose last call left
// no error (one that handed the connection to a worker) reads the
// connection's last error.
TEST_F(Table, EachThreadReadsTheErrorOfItsOwnLastCall) {
    const auto id = AddEmulatedConnection(emu);
    std::int32_t v = 0;
    // Refused (216), or lost (170) when `lost`; a plain read when `fault` is false.
    const auto call = [&](bool fault, bool lost) {
        if (fault) emu.setFault(lost ? orvemu::Fault{orvemu::FaultKind::Drop}
                                     : orvemu::Fault{orvemu::FaultKind::ShortError, 1, 0, 0x66});
        return ZqGetRegister(id, 1, &v);
    };
    for (const auto &[mineFails, mineLost, workerLost, expected] :
         {std::tuple{true, false, true, 216}, {true, true, false, 170}, {false, false, false, 216}, {false, false, true, 170}}) {
        SCOPED_TRACE(::testing::Message() << mineFails << mineLost << workerLost);
        call(mineFails, mineLost);
        std::int32_t workerCode = -1;
        std::thread worker([&, lost = workerLost] {
            EXPECT_EQ(call(true, lost), 0);
            errorText(id, &workerCode);
        });
        worker.join();
        std::int32_t code = -1;
        errorText(id, &code);
        EXPECT_EQ(code, expected);
        EXPECT_EQ(workerCode, workerLost ? 170 : 216);
    }
    orvtest::RemoveConnection(id);
}

TEST_F(Table, HalfOpenConnectionRefusesExchangesButReportsItsError) {
    const auto id = AddEmulatedConnection(emu, 1, 0);
    std::uint8_t reply[kMaxReply];
    EXPECT_EQ(ZqSendData(id, 20, kReadRegister1.data(), 7, reply), 0);
    std::int32_t code = 0;
    EXPECT_EQ(errorText(id, &code), "Invalid connection status");
    EXPECT_EQ(code, 194);
    EXPECT_EQ(emu.requestCount(), 0u);
    ZQ_CONNECTION_INFO ci;
    std::memset(&ci, 0x77, sizeof ci);
    ASSERT_EQ(ZqGetConnectionInfo(id, &ci), 1);
    EXPECT_EQ(ci.status, 0);
    EXPECT_EQ(ci.type, 1);
    for (auto b : ci.sourceMac) EXPECT_EQ(b, 0);
    for (auto b : ci.destinationMac) EXPECT_EQ(b, 0);
    orvtest::RemoveConnection(id);
}

TEST_F(Table, UnknownTypeAndOversizeRequestAreRefusedBeforeSending) {
    const auto bad = AddEmulatedConnection(emu, 7);
    std::uint8_t reply[kMaxReply];
    EXPECT_EQ(ZqSendData(bad, 20, kReadRegister1.data(), 7, reply), 0);
    EXPECT_EQ(errorText(bad), "Unknown connection type");

    const auto id = AddEmulatedConnection(emu);
    std::vector<std::uint8_t> big(kMaxRequest + 1, 0x01);
    EXPECT_EQ(ZqSendData(id, 20, big.data(), static_cast<std::uint32_t>(big.size()), reply), 0);
    std::int32_t code = 0;
    EXPECT_EQ(errorText(id, &code), "Request too long");
    EXPECT_EQ(code, 194);
    EXPECT_EQ(emu.requestCount(), 0u);
    // Only the low 16 bits of the length count: 0x10007 is a 7-byte request.
    EXPECT_EQ(ZqSendData(id, 20, kReadRegister1.data(), 0x10007, reply), 1);
    orvtest::RemoveConnection(bad);
    orvtest::RemoveConnection(id);
}

TEST_F(Table, ConcurrentExchangesOnTwoConnectionsDoNotMix) {
    orvemu::Controller other;
    emu.withMemory([](auto &m) { m.registers[1] = 111; return 0; });
    other.withMemory([](auto &m) { m.registers[1] = 222; return 0; });
    const auto a = AddEmulatedConnection(emu);
    const auto b = AddEmulatedConnection(other);
    auto run = [](std::int32_t id, std::int32_t expected, int *bad) {
        std::uint8_t reply[kMaxReply];
        for (int i = 0; i < 2000; ++i) {
            if (!ZqSendData(id, 20, kReadRegister1.data(), 7, reply) ||
                static_cast<std::int32_t>(GetU32(reply + 2)) != expected)
                ++*bad;
        }
    };
    int badA = 0, badB = 0;
    std::thread ta(run, a, 111, &badA), tb(run, b, 222, &badB);
    ta.join();
    tb.join();
    EXPECT_EQ(badA, 0);
    EXPECT_EQ(badB, 0);
    orvtest::RemoveConnection(a);
    orvtest::RemoveConnection(b);
}

TEST(LibraryError, IdZeroReadsTheLibraryWideErrorAsItStands) {
    libraryError().set(0, "");
    libraryError().set(236, "left by a failed open");
    libraryError().code = 0;  // an open that succeeded resets only the code
    ZQ_ERROR_INFO e{};
    ASSERT_EQ(ZqGetErrorInfo(0, &e), 1);
    EXPECT_EQ(e.code, 0);
    EXPECT_STREQ(e.text, "left by a failed open");
}

TEST_F(Table, OpenOfAnUnknownTypeFailsWithCodeZeroAndCloseRemovesOnce) {
    libraryError().set(236, "earlier");
    EXPECT_EQ(ZqOpenConnection(5, 1, 0), 0);
    ZQ_ERROR_INFO e{};
    ZqGetErrorInfo(0, &e);
    EXPECT_EQ(e.code, 0);
    EXPECT_STREQ(e.text, "earlier");

    const auto id = AddEmulatedConnection(emu, 1, 0);
    EXPECT_EQ(ZqCloseConnection(id), 1);
    EXPECT_EQ(ZqCloseConnection(id), 0);
}

// A taker that finds the table lock held does not poll it with sleeps of
// milliseconds: it marks the word and sleeps on it, and the release wakes it.
// (Judged by the lock's state, not by the clock, which a loaded machine
// stretches at will.)
TEST(TableLock, ContendedTakerSleepsOnTheWordUntilTheRelease) {
    using Clock = std::chrono::steady_clock;
    TableLock::lock();
    std::atomic<bool> taken{false};
    std::thread taker([&] {
        TableLock::lock();
        taken = true;
        TableLock::unlock();
    });
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!TableLock::hasSleeper() && Clock::now() < deadline) std::this_thread::yield();
    EXPECT_TRUE(TableLock::hasSleeper());
    EXPECT_FALSE(taken.load());
    TableLock::unlock();
    taker.join();
    EXPECT_TRUE(taken.load());
    EXPECT_FALSE(TableLock::hasSleeper());
}
