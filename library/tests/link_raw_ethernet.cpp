// The real library over raw Ethernet, against the emulator on the other end
// of a veth pair in the test's own network namespace.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "link_fixture.h"
#include "raw_fixture.h"

using orvtest::RawEthernetTest;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

long msSince(Clock::time_point t0) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

Bytes macOf(const std::uint8_t *m) { return Bytes(m, m + 6); }

const Bytes kBroadcast(6, 0xFF);

}  // namespace

TEST_F(RawEthernetTest, FirstRequestIsBroadcastThenGoesToTheLearnedMac) {
    controller_.withMemory([](orvemu::Memory &m) { m.registers[1] = 0x12345678; });
    const std::int32_t id = Open(32001, 7);
    ASSERT_NE(id, 0) << Error(0).text;

    ZQ_CONNECTION_INFO info{};
    ASSERT_EQ(ZqGetConnectionInfo(id, &info), 1);
    EXPECT_EQ(info.type, ZQ_TYPE_RAW_ETHERNET);
    EXPECT_EQ(macOf(info.sourceMac), macOf(lib_.mac));
    EXPECT_EQ(macOf(info.destinationMac), kBroadcast);

    std::int32_t value = 0;
    ASSERT_TRUE(ReadRegister(id, 1, value)) << Error(id).text;
    EXPECT_EQ(value, 0x12345678);
    ASSERT_EQ(ZqGetConnectionInfo(id, &info), 1);
    EXPECT_EQ(macOf(info.destinationMac), macOf(server_->mac().data()));
    ASSERT_TRUE(server_->learnedMac(32001));
    EXPECT_EQ(macOf(server_->learnedMac(32001)->data()), macOf(lib_.mac));

    ASSERT_TRUE(ReadRegister(id, 1, value));
    const auto frames = server_->received();
    ASSERT_EQ(frames.size(), 2u);

    Bytes expected = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00, 0x00, 0x10, 0x51, 0x5A,
                      0x07, 0x00, 0x01, 0x7D, 0x03, 0x01, 0x14, 0,    0,    0,    0,    0,    0,    0,
                      0,    0,    0,    0,    0,    0, /* tick */ 0, 0, 0x01, 0x00, 0, 0, 0, 0,
                      0,    0,    0,    0, /* deadline */ 0, 0, 0, 0, 0, 0x07, 0, 0,
                      0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF};
    ASSERT_EQ(expected.size(), 61u);
    for (int pass = 0; pass < 2; ++pass) {
        Bytes frame = frames[static_cast<std::size_t>(pass)];
        ASSERT_EQ(frame.size(), 61u);
        const std::uint32_t tick = orvemu::u32(&frame[30]);
        EXPECT_EQ(orvemu::u32(&frame[42]) - tick, static_cast<std::uint32_t>(kAnswerTimeout)) << "deadline = tick + timeout";
        std::fill(frame.begin() + 30, frame.begin() + 34, 0);
        std::fill(frame.begin() + 42, frame.begin() + 46, 0);
        EXPECT_EQ(frame, expected) << "request " << pass + 1;
        // The second request goes to the controller's MAC with the next sequence number.
        const orvemu::Mac controllerMac = server_->mac();
        std::copy(controllerMac.begin(), controllerMac.end(), expected.begin());
        expected[36] = 0x02;
    }
}

TEST_F(RawEthernetTest, OpenCallsSetTheirDefaultTimeouts) {
    const std::int32_t a = ZqOpenConnection(ZQ_TYPE_RAW_ETHERNET, 32001, 7);
    const std::int32_t b = ZqOpenNetConnection(ZQ_TYPE_RAW_ETHERNET, 32002, 7, 0);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    opened_ = {a, b};
    ZQ_CONNECTION_INFO info{};
    ASSERT_EQ(ZqGetConnectionInfo(a, &info), 1);
    EXPECT_EQ(info.timeout, 333);
    ASSERT_EQ(ZqGetConnectionInfo(b, &info), 1);
    EXPECT_EQ(info.timeout, 250);
    EXPECT_EQ(info.port, 32002);
    EXPECT_EQ(info.address, 7);
    std::int32_t value = -1;
    EXPECT_TRUE(ReadRegister(b, 2, value)) << Error(b).text;
    EXPECT_EQ(value, 0);
}

TEST_F(RawEthernetTest, InterimRepliesExtendTheWait) {
    controller_.withMemory([](orvemu::Memory &m) { m.registers[5] = 55; });
    const std::int32_t id = Open(32001, 7, 1000);
    ASSERT_NE(id, 0);
    // Two interim frames 600 ms apart: the reply comes 1800 ms after the
    // request, well past one timeout, and is taken on the first try.
    server_->setInterim(2, 600);
    std::int32_t value = 0;
    EXPECT_TRUE(ReadRegister(id, 5, value)) << Error(id).text;
    EXPECT_EQ(value, 55);
    EXPECT_EQ(server_->interimSent(), 2);
    EXPECT_EQ(server_->received().size(), 1u);

    // Nothing within the timeout: three tries, then a timeout (the interim
    // frame comes long after the last try, even on a loaded machine).
    ZqSetConnectionTimeout(id, 60);
    server_->setInterim(1, 1000);
    server_->clearReceived();
    EXPECT_FALSE(ReadRegister(id, 5, value));
    EXPECT_EQ(Error(id).code, 236);
    EXPECT_STREQ(Error(id).text, "Windows socket timeout: no reply within 3 x 60 ms from node 7");
    orvtest::WaitUntil([&] { return server_->received().size() >= 3u; });
    EXPECT_EQ(server_->received().size(), 3u);
}

TEST_F(RawEthernetTest, ReplyWithAnotherSequenceNumberIsIgnoredAndTheSameFrameResent) {
    controller_.withMemory([](orvemu::Memory &m) { m.registers[9] = 99; });
    const std::int32_t id = Open(32001, 7);
    ASSERT_NE(id, 0);
    orvemu::Fault f;
    f.kind = orvemu::FaultKind::WrongSequence;
    controller_.setFault(f);
    std::int32_t value = 0;
    EXPECT_TRUE(ReadRegister(id, 9, value)) << Error(id).text;
    EXPECT_EQ(value, 99);
    const auto frames = server_->received();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], frames[1]);
}

TEST_F(RawEthernetTest, BroadcastRepliesAndSilenceEndInATimeoutAfterThreeTries) {
    const std::int32_t id = Open(32001, 7, 80);
    ASSERT_NE(id, 0);
    server_->setBroadcastReplies(true);
    std::int32_t value = 0;
    EXPECT_FALSE(ReadRegister(id, 1, value));
    EXPECT_EQ(Error(id).code, 236);
    EXPECT_STREQ(Error(id).text, "Windows socket timeout: no reply within 3 x 80 ms from node 7");
    orvtest::WaitUntil([&] { return server_->received().size() >= 3u; });
    EXPECT_EQ(server_->received().size(), 3u);

    // A controller node that nobody serves.
    server_->setBroadcastReplies(false);
    server_->serveNode(8, controller_);
    server_->clearReceived();
    EXPECT_FALSE(ReadRegister(id, 1, value));
    EXPECT_EQ(Error(id).code, 236);
    orvtest::WaitUntil([&] { return server_->received().size() >= 3u; });
    EXPECT_EQ(server_->received().size(), 3u);
    // Nothing was sent on: the exchange hands over no reply.
    ZQ_MESSAGE_INFO message{};
    ASSERT_EQ(ZqGetMessageInfo(id, &message), 1);
    EXPECT_EQ(message.replyLength, 0);
}

TEST_F(RawEthernetTest, TwoNodePairsAreServedConcurrentlyWithoutMixingReplies) {
    orvemu::Controller other;
    controller_.withMemory([](orvemu::Memory &m) { m.registers[1] = 111; });
    other.withMemory([](orvemu::Memory &m) { m.registers[1] = 222; });
    server_->serveNode(7, controller_);
    server_->serveNode(8, other);
    const std::int32_t a = Open(32001, 7);
    const std::int32_t b = Open(32002, 8);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);

    std::atomic<int> wrong{0}, failed{0};
    auto run = [&](std::int32_t id, std::int32_t want) {
        for (int i = 0; i < 200; ++i) {
            std::int32_t value = 0;
            if (!ReadRegister(id, 1, value)) ++failed;
            else if (value != want) ++wrong;
        }
    };
    std::thread ta(run, a, 111), tb(run, b, 222);
    ta.join();
    tb.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(controller_.requestCount(), 200u);
    EXPECT_EQ(other.requestCount(), 200u);
}

TEST_F(RawEthernetTest, RuntsAndLengthsBeyondTheFrameAreIgnored) {
    controller_.withMemory([](orvemu::Memory &m) { m.registers[3] = 333; });
    const std::int32_t id = Open(32001, 7);
    ASSERT_NE(id, 0);
    // Before the real reply: a runt, a bare envelope and a long-form reply
    // that announces 65,539 bytes, all with the right nodes and sequence.
    server_->setReplyHook([](const orvemu::Frame &, std::vector<orvemu::Frame> frames) {
        const orvemu::Frame &reply = frames.back();
        orvemu::Frame runt(reply.begin(), reply.begin() + 20);
        orvemu::Frame bare(reply.begin(), reply.begin() + 54);
        orvemu::Frame overlong(reply.begin(), reply.begin() + 54);
        for (std::uint8_t b : {0xFF, 0xFF, 0xFF, 0x0A, 0x01, 0x02}) overlong.push_back(b);
        frames.insert(frames.begin(), {runt, bare, overlong});
        return frames;
    });
    std::int32_t value = 0;
    EXPECT_TRUE(ReadRegister(id, 3, value)) << Error(id).text;
    EXPECT_EQ(value, 333);
    EXPECT_EQ(server_->received().size(), 1u);

    // A long-form reply that holds what it announces is taken whole.
    server_->setReplyHook([](const orvemu::Frame &, std::vector<orvemu::Frame> frames) {
        orvemu::Frame &reply = frames.back();
        reply.resize(54);
        orvemu::Frame payload(532, 0x5A);
        payload[0] = 0xFF;
        payload[1] = 0x10;
        payload[2] = 0x02;
        reply.insert(reply.end(), payload.begin(), payload.end());
        return frames;
    });
    const std::uint8_t request[7] = {0x01, 0x05, 0x09, 0x03, 0x00, 0xF3, 0xFF};
    std::uint8_t reply[1536] = {};
    ASSERT_EQ(ZqSendData(id, ZQ_PACKET_CLASS_REQUEST, request, sizeof request, reply), 1) << Error(id).text;
    ZQ_MESSAGE_INFO message{};
    ASSERT_EQ(ZqGetMessageInfo(id, &message), 1);
    EXPECT_EQ(message.replyLength, 532);
    EXPECT_EQ(reply[531], 0x5A);
}

TEST_F(RawEthernetTest, AdapterListingAndChoice) {
    // Interfaces in index order: a pair without IPv4 (8, 9), zq0/emu0
    // (10, 11) and a second pair zq1/emu1 (12, 13).
    auto bareA = orvtest::MakeEnd("nx0", 8, 0x08, 9, 1), bareB = orvtest::MakeEnd("nx1", 9, 0x09, 9, 2);
    bareA.ipv4.clear();
    bareB.ipv4.clear();
    const auto zq1 = orvtest::MakeEnd("zq1", 12, 0x12, 1, 1), emu1 = orvtest::MakeEnd("emu1", 13, 0x13, 1, 2);
    ASSERT_TRUE(orvtest::AddVethPair(bareA, bareB));
    ASSERT_TRUE(orvtest::AddVethPair(zq1, emu1));

    ZQ_ADAPTER_IP_LIST list{};
    ASSERT_EQ(ZqGetAvailableAdaptersIPList(list.addresses, list.indexes, &list.count), 1);
    ASSERT_EQ(list.count, 4);
    const std::uint32_t addresses[] = {lib_.ipv4Value, emu_.ipv4Value, zq1.ipv4Value, emu1.ipv4Value};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(list.addresses[i], addresses[i]) << i;
        EXPECT_EQ(list.indexes[i], i + 2) << i;  // nx0 and nx1 hold table places 0 and 1
    }

    // Automatic: the first adapter with an address, zq0.
    std::int32_t a = Open(32001, 7);
    ASSERT_NE(a, 0);
    std::int32_t value = -1;
    EXPECT_TRUE(ReadRegister(a, 1, value)) << Error(a).text;

    // Choosing zq1 closes the adapter: the open connection is marked closed.
    orvemu::Controller second;
    second.withMemory([](orvemu::Memory &m) { m.registers[1] = 444; });
    auto secondServer = orvemu::RawServer::start(second, emu1.name);
    ASSERT_TRUE(secondServer);
    ASSERT_EQ(ZqSetAdapter(4), 1);
    EXPECT_FALSE(ReadRegister(a, 1, value));
    EXPECT_EQ(Error(a).code, 194);
    EXPECT_STREQ(Error(a).text, "Invalid connection status");

    const std::int32_t b = Open(32001, 7);
    ASSERT_NE(b, 0) << Error(0).text;
    EXPECT_TRUE(ReadRegister(b, 1, value)) << Error(b).text;
    EXPECT_EQ(value, 444);
    ZQ_CONNECTION_INFO info{};
    ASSERT_EQ(ZqGetConnectionInfo(b, &info), 1);
    EXPECT_EQ(macOf(info.sourceMac), macOf(zq1.mac)) << "the opened adapter's MAC, not the last interface's";

    // The same choice again changes nothing.
    ASSERT_EQ(ZqSetAdapter(4), 1);
    EXPECT_TRUE(ReadRegister(b, 1, value));

    // A choice beyond the table: empty listing, and no adapter to open.
    ASSERT_EQ(ZqSetAdapter(7), 1);
    list.count = -1;
    ASSERT_EQ(ZqGetAvailableAdaptersIPList(list.addresses, list.indexes, &list.count), 1);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(ZqOpenConnection(ZQ_TYPE_RAW_ETHERNET, 32001, 7), 0);
    EXPECT_EQ(Error(0).code, 0);
    EXPECT_STREQ(Error(0).text, "No Network Adapter found error");
    // Connections marked closed still close.
    EXPECT_EQ(ZqCloseConnection(a), 1);
    EXPECT_EQ(ZqCloseConnection(b), 1);
    opened_.clear();
    ZqSetAdapter(-1);
    secondServer.reset();
}

TEST_F(RawEthernetTest, UnloadClosesTheAdapterAtOnceAndAReopenBuildsItAgain) {
    const std::int32_t a = Open(32001, 7);
    ASSERT_NE(a, 0);
    std::int32_t value = 0;
    ASSERT_TRUE(ReadRegister(a, 1, value));
    // The remembered choice again: the adapter stays.
    ASSERT_EQ(ZqSetAdapter(-1), 1);
    ASSERT_TRUE(ReadRegister(a, 1, value));

    // (Only a hang reaches the bound: the receive thread is woken, not
    // waited out.)
    const auto t0 = Clock::now();
    ASSERT_EQ(ZqUnload(), 1);
    EXPECT_LT(msSince(t0), 30000);
    EXPECT_EQ(ZqUnload(), 1);  // nothing left to close
    EXPECT_FALSE(ReadRegister(a, 1, value));
    EXPECT_EQ(Error(a).code, 194);
    ZQ_CONNECTION_INFO info{};
    ASSERT_EQ(ZqGetConnectionInfo(a, &info), 1);
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(ZqCloseConnection(a), 1);
    EXPECT_EQ(ZqCloseConnection(a), 0);
    opened_.clear();

    const std::int32_t b = Open(32001, 7);
    ASSERT_NE(b, 0) << Error(0).text;
    EXPECT_GT(b, a);
    EXPECT_TRUE(ReadRegister(b, 1, value)) << Error(b).text;
    // Closing the last connection leaves the adapter open for the next.
    EXPECT_EQ(ZqCloseConnection(b), 1);
    opened_.clear();
    const std::int32_t c = Open(32003, 7);
    ASSERT_NE(c, 0);
    EXPECT_TRUE(ReadRegister(c, 1, value)) << Error(c).text;
}

TEST_F(RawEthernetTest, ConcurrentOpensShareOneAdapter) {
    std::int32_t ids[8] = {};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            ids[i] = i % 2 ? ZqOpenNetConnection(ZQ_TYPE_RAW_ETHERNET, 32001 + i, 7, 0)
                           : ZqOpenConnection(ZQ_TYPE_RAW_ETHERNET, 32001 + i, 7);
        });
    for (auto &t : threads) t.join();
    for (std::int32_t id : ids) {
        ASSERT_NE(id, 0);
        opened_.push_back(id);
        ZqSetConnectionTimeout(id, kAnswerTimeout);
    }
    // Every connection gets its reply: one adapter, one receive thread
    // feeding all of their stations.
    for (std::int32_t id : ids) {
        std::int32_t value = -1;
        EXPECT_TRUE(ReadRegister(id, 1, value)) << id << ": " << Error(id).text;
    }
}
