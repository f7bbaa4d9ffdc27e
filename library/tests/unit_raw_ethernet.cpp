#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "raw_ethernet.h"

using namespace orv;
using Bytes = std::vector<std::uint8_t>;

namespace {

const std::array<std::uint8_t, 6> kBroadcastMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const std::array<std::uint8_t, 6> kOurMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x10};
const Bytes kReadRegister1{0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF};

// A frame from the controller (node `from`) to us (node `to`) carrying `reply`.
Bytes replyFrame(std::uint16_t from, std::uint16_t to, const Bytes &reply, std::uint16_t sequence = 1,
                 std::array<std::uint8_t, 6> destination = kOurMac) {
    EnvelopeFields f;
    f.destinationMac = destination;
    f.sourceMac = {0x02, 0, 0, 0, 0, 0x11};
    f.destinationNode = to;
    f.sourceNode = from;
    f.sequence = sequence;
    return BuildEthernetFrame(f, reply);
}

}  // namespace

TEST(EthernetFrame, FirstRegisterReadIsTheExact61Bytes) {
    EnvelopeFields f;
    f.destinationMac = kBroadcastMac;
    f.sourceMac = kOurMac;
    f.destinationNode = 7;
    f.sourceNode = 32001;
    f.packetClass = 20;
    f.sequence = 1;
    f.tick = 0x04030201;
    f.timeout = 333;
    const Bytes expected = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // destination: broadcast
        0x02, 0x00, 0x00, 0x00, 0x00, 0x10,  // source: our adapter
        0x51, 0x5A,                          // frame type 0x5A51, low byte first
        0x07, 0x00, 0x01, 0x7D,              // controller node 7, own node 32001
        0x03, 0x01, 0x14,                    // 3, 1, class 20
        0, 0, 0, 0, 0, 0, 0, 0, 0,           //
        0x01, 0x02, 0x03, 0x04,              // tick
        0, 0,                                //
        0x01, 0x00,                          // sequence 1
        0, 0, 0, 0,                          //
        0x4E, 0x03, 0x03, 0x04,              // deadline: tick + 333
        0, 0, 0, 0, 0, 0x07, 0, 0,           //
        0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF};
    EXPECT_EQ(BuildEthernetFrame(f, kReadRegister1), expected);
}

TEST(EthernetFrame, DeadlineWrapsWithTheTickCount) {
    EnvelopeFields f;
    f.timeout = 333;
    f.tick = 0xFFFFFF00;
    Bytes frame = BuildEthernetFrame(f, kReadRegister1);
    EXPECT_EQ(GetU32(frame.data() + eth::kTick), 0xFFFFFF00u);
    EXPECT_EQ(GetU32(frame.data() + eth::kDeadline), 0x4Du);
    f.tick = 0xFFFFFFFF;
    f.timeout = 1;
    frame = BuildEthernetFrame(f, kReadRegister1);
    EXPECT_EQ(GetU32(frame.data() + eth::kDeadline), 0u);
}

TEST(EthernetFrame, ReplyLengthRuleIsBoundedByWhatArrived) {
    // Short reply, with and without the padding of a minimum-size frame.
    Bytes ack = replyFrame(7, 32001, {0x03, 0x64, 0x9B, 0xFF});
    EXPECT_EQ(EthernetReplyLength(ack), 4u);
    ack.resize(60, 0);
    EXPECT_EQ(EthernetReplyLength(ack), 4u);

    // Long form FF 10 02: 0x0210 + 4 = 532 bytes, when all of them arrived.
    Bytes longForm(532, 0xAA);
    longForm[0] = 0xFF;
    longForm[1] = 0x10;
    longForm[2] = 0x02;
    EXPECT_EQ(EthernetReplyLength(replyFrame(7, 32001, longForm)), 532u);
    // The same announcement with fewer bytes behind it, or beyond any reply.
    longForm.resize(300);
    EXPECT_EQ(EthernetReplyLength(replyFrame(7, 32001, longForm)), std::nullopt);
    EXPECT_EQ(EthernetReplyLength(replyFrame(7, 32001, {0xFF, 0xFF, 0xFF})), std::nullopt);
    EXPECT_EQ(EthernetReplyLength(replyFrame(7, 32001, {0xFF, 0x10})), std::nullopt);

    // No reply at all behind the envelope.
    EXPECT_EQ(EthernetReplyLength(replyFrame(7, 32001, {})), std::nullopt);

    // Not a protocol frame: what there is, at most 256 bytes, for the
    // caller's reply test to refuse.
    EXPECT_EQ(EthernetReplyLength(replyFrame(7, 32001, {0x09, 0x01, 0x02})), 3u);
    EXPECT_EQ(EthernetReplyLength(replyFrame(7, 32001, Bytes(600, 0x20))), 256u);
}

TEST(EthernetReceivePath, FramesReachOnlyTheStationsOfTheirNodePair) {
    PacketDriver adapter;
    auto a = adapter.openStation(32001, 7);
    auto b = adapter.openStation(32002, 7);
    auto shared = adapter.openStation(32001, 7);
    auto other = adapter.openStation(32001, 8);
    Bytes buffer(kEthernetFrameBuffer);

    const Bytes frame = replyFrame(7, 32001, {0x03, 0x64, 0x9B, 0xFF});
    adapter.queueFrame(frame);
    EXPECT_EQ(adapter.receive(*a, buffer, 0), frame.size());
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), buffer.begin()));
    EXPECT_EQ(adapter.receive(*shared, buffer, 0), frame.size());  // both share the pair
    EXPECT_EQ(adapter.receive(*b, buffer, 0), 0u);
    EXPECT_EQ(adapter.receive(*other, buffer, 0), 0u);
    EXPECT_EQ(adapter.receive(*a, buffer, 0), 0u);  // taken once

    // Broadcasts, runts and frames of another type are never queued.
    adapter.queueFrame(replyFrame(7, 32001, {0x03, 0x64, 0x9B, 0xFF}, 1, kBroadcastMac));
    adapter.queueFrame(Bytes(frame.begin(), frame.begin() + 20));
    adapter.queueFrame(Bytes(frame.begin(), frame.begin() + 53));
    Bytes otherType = frame;
    otherType[12] = 0x5A;
    otherType[13] = 0x51;
    adapter.queueFrame(otherType);
    EXPECT_EQ(adapter.receive(*a, buffer, 0), 0u);

    // A frame that doesn't fit the buffer stays queued; a flush drops it.
    adapter.queueFrame(frame);
    Bytes small(10);
    EXPECT_EQ(adapter.receive(*a, small, 0), 0u);
    EXPECT_EQ(adapter.receive(*a, buffer, 0), frame.size());
    adapter.queueFrame(frame);
    adapter.flush(*a);
    EXPECT_EQ(adapter.receive(*a, buffer, 0), 0u);
}

TEST(EthernetReceivePath, WaitingReceiveEndsWhenAFrameArrivesOrTheStationCloses) {
    PacketDriver adapter;
    auto a = adapter.openStation(32001, 7);
    Bytes buffer(kEthernetFrameBuffer);
    const Bytes frame = replyFrame(7, 32001, {0x03, 0x64, 0x9B, 0xFF});

    // The waits are far longer than any test run: only a receive that is
    // not woken reaches them (the frame would still be taken then, so the
    // time tells). The other thread starts once the receive is about to
    // wait; which of the two comes first changes nothing in the outcome.
    constexpr int kHang = 120000;
    const auto woken = [](std::chrono::steady_clock::time_point t0) {
        return std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(kHang / 2);
    };
    std::atomic<bool> waiting{false};
    std::thread late([&] {
        while (!waiting.load()) std::this_thread::yield();
        adapter.queueFrame(frame);
    });
    auto t0 = std::chrono::steady_clock::now();
    waiting = true;
    EXPECT_EQ(adapter.receive(*a, buffer, kHang), frame.size());
    late.join();
    EXPECT_TRUE(woken(t0));

    waiting = false;
    std::thread closer([&] {
        while (!waiting.load()) std::this_thread::yield();
        adapter.close();
    });
    t0 = std::chrono::steady_clock::now();
    waiting = true;
    EXPECT_EQ(adapter.receive(*a, buffer, kHang), 0u);
    closer.join();
    EXPECT_TRUE(woken(t0));
    EXPECT_EQ(adapter.stationCount(), 0u);
    adapter.queueFrame(frame);  // nobody left to take it
    EXPECT_EQ(adapter.receive(*a, buffer, 0), 0u);
}
