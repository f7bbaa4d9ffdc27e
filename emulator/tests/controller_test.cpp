#include <gtest/gtest.h>

#include "controller.h"

using namespace orvemu;
using Bytes = std::vector<std::uint8_t>;

namespace {
const Bytes kRead1{0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF};
}

TEST(Controller, AnswersAFrameAndLogsIt) {
    Controller c;
    c.withMemory([](Memory &m) { m.registers[1] = -2; return 0; });
    auto r = c.handle(kRead1);
    EXPECT_EQ(r.bytes, (Bytes{0x07, 0x0A, 0xFE, 0xFF, 0xFF, 0xFF, 0xFA, 0xFF}));
    EXPECT_EQ(c.lastRequest(), kRead1);
    EXPECT_EQ(c.requestCount(), 1u);

    // Each request is logged with when its first byte came.
    const auto heard = Controller::Clock::now() - std::chrono::milliseconds(5);
    c.handle(kRead1, heard);
    EXPECT_EQ(c.heardAt(1), heard);
    EXPECT_FALSE(c.heardAt(2));
    EXPECT_EQ(c.requestsSince(1), std::vector<Bytes>{kRead1});
    EXPECT_TRUE(c.requestsSince(2).empty());
}

TEST(Controller, BadFramesAndUnknownCodesGetShortReplies) {
    Controller c;
    Bytes badSum = kRead1;
    badSum[5] ^= 1;
    EXPECT_EQ(c.handle(badSum).bytes, (Bytes{0x03, 0x65, 0x9A, 0xFF}));
    Bytes badEnd = kRead1;
    badEnd[6] = 0xFE;
    EXPECT_EQ(c.handle(badEnd).bytes, (Bytes{0x03, 0x65, 0x9A, 0xFF}));
    EXPECT_EQ(c.handle(Bytes{0x01, 0x03, 0xEE, 0x11, 0xFF}).bytes, (Bytes{0x03, 0x67, 0x98, 0xFF}));
    EXPECT_EQ(c.handle(Bytes{0x01, 0x02}).bytes, (Bytes{0x03, 0x67, 0x98, 0xFF}));
    EXPECT_EQ(c.requestCount(), 4u);
}

TEST(Controller, FaultsApplyToTheNextRequestsOnly) {
    Controller c;
    c.setFault({FaultKind::Drop, 2});
    EXPECT_TRUE(c.handle(kRead1).drop);
    EXPECT_TRUE(c.handle(kRead1).drop);
    EXPECT_FALSE(c.handle(kRead1).drop);

    c.setFault({FaultKind::ShortError, 1, 0, 0x66});
    EXPECT_EQ(c.handle(kRead1).bytes, (Bytes{0x03, 0x66, 0x99, 0xFF}));

    c.setFault({FaultKind::CorruptChecksum});
    auto r = c.handle(kRead1).bytes;
    EXPECT_NE(r[6], checksum(std::span(r).subspan(1, 5)));

    c.setFault({FaultKind::WrongLength});
    EXPECT_EQ(c.handle(kRead1).bytes[0], 0x08);

    c.setFault({FaultKind::WrongCode});
    r = c.handle(kRead1).bytes;
    EXPECT_NE(r[1], 0x0A);
    EXPECT_EQ(r[6], checksum(std::span(r).subspan(1, 5)));

    c.setFault({FaultKind::Garbage, 1, 0, 0, {0xDE, 0xAD}});
    EXPECT_EQ(c.handle(kRead1).bytes, (Bytes{0xDE, 0xAD}));

    c.setFault({FaultKind::Delay, -1, 40});
    EXPECT_EQ(c.handle(kRead1).delay, std::chrono::milliseconds(40));
    EXPECT_EQ(c.handle(kRead1).delay, std::chrono::milliseconds(40));
    c.clearFault();
    EXPECT_EQ(c.handle(kRead1).delay.count(), 0);

    // A request never heard takes no time at all, whatever the turnaround.
    c.setReplyDelay(20, 20);
    c.setFault({FaultKind::Unheard});
    r = c.handle(kRead1).bytes;
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(c.handle(kRead1).delay, std::chrono::milliseconds(20));
}

TEST(Controller, AFaultForOneRequestPassesOthersBy) {
    Controller c;
    const Bytes read2{0x01, 0x05, 0x09, 0x02, 0x00, 0xF4, 0xFF};
    Fault f{FaultKind::Drop};
    f.request = read2;
    c.setFault(f);
    EXPECT_FALSE(c.handle(kRead1).drop);
    EXPECT_TRUE(c.handle(read2).drop);
    EXPECT_FALSE(c.handle(read2).drop);
}

// Each way of giving a turnaround, and what the answers then take: reads
// and writes apart, a share of slow answers, a step after some requests.
TEST(Controller, TurnaroundsAsTheyAreWritten) {
    struct Case {
        const char *text;
        std::optional<Turnaround> parsed;
    };
    Turnaround rw;
    rw.reads = {3000, 3000};
    rw.writes = {30000, 50000};
    Turnaround slow = Turnaround::between(5, 5);
    slow.slowPercent = 10;
    slow.slow = {45000, 45000};
    Turnaround step = Turnaround::between(10, 10);
    step.stepAfter = 20;
    step.then = {30000, 30000};
    const Case cases[] = {
        {"20", Turnaround::between(20, 20)}, {"10-30", Turnaround::between(10, 30)}, {"3/30-50", rw},
        {"5,45@10%", slow},  {"10,30@20", step},  {"", std::nullopt},
        {"30-10", std::nullopt}, {"5,45@", std::nullopt}, {"5,@10", std::nullopt},
        {"5,45@101%", std::nullopt}, {"60001", std::nullopt}, {"1-2-3", std::nullopt}, {"a/b", std::nullopt},
    };
    for (const Case &c : cases) EXPECT_EQ(Turnaround::parse(c.text), c.parsed) << c.text;
    EXPECT_EQ(rw.longestUs(), 50000);
    EXPECT_EQ(slow.longestUs(), 45000);

    Controller c;
    const Bytes write1{0x01, 0x09, 0x0B, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00, 0xEE, 0xFF};
    c.setTurnaround(*Turnaround::parse("3/40"));
    EXPECT_EQ(c.handle(kRead1).delay, std::chrono::milliseconds(3));
    EXPECT_EQ(c.handle(write1).delay, std::chrono::milliseconds(40));
    c.setTurnaround(step);
    std::vector<long> took;
    for (int i = 0; i < 22; ++i) took.push_back(static_cast<long>(c.handle(kRead1).delay.count() / 1000));
    EXPECT_EQ(took.front(), 10);
    EXPECT_EQ(took[19], 10);
    EXPECT_EQ(took[20], 30);
    c.setTurnaround(slow);
    int slowOnes = 0;
    for (int i = 0; i < 1000; ++i) slowOnes += c.handle(kRead1).delay == std::chrono::milliseconds(45);
    EXPECT_GT(slowOnes, 50);
    EXPECT_LT(slowOnes, 150);

    // A fault may leave the controller slower after its own answer: for
    // good until another fault says otherwise, or for a few answers.
    auto took3 = [&](Fault f) {
        std::vector<long> ms;
        c.setFault(std::move(f));
        for (int i = 0; i < 3; ++i) ms.push_back(static_cast<long>(c.handle(kRead1).delay.count() / 1000));
        return ms;
    };
    c.setTurnaround(Turnaround::between(20, 20));
    Fault held{FaultKind::Delay, 1, 100};
    held.thenSlowerMs = 30;
    EXPECT_EQ(took3(held), (std::vector<long>{120, 50, 50}));
    Fault back{FaultKind::Drop};
    back.thenSlowerMs = 0;
    EXPECT_EQ(took3(back), (std::vector<long>{50, 20, 20}));
    Fault once{FaultKind::CopyForNext};
    once.thenSlowerMs = 28;
    once.thenSlowerFor = 1;
    EXPECT_EQ(took3(once), (std::vector<long>{20, 48, 20}));
    // Or change its pace altogether, past the time-out or quicker, with
    // the offset on top; a fault with an offset alone brings the usual
    // pace back.
    Fault past{FaultKind::CopyForNext};
    past.thenTakes = Turnaround::Spread{101000, 101000};
    EXPECT_EQ(took3(past), (std::vector<long>{20, 101, 101}));
    Fault quicker{FaultKind::Drop};
    quicker.thenTakes = Turnaround::Spread{3000, 3000};
    quicker.thenSlowerMs = 2;
    EXPECT_EQ(took3(quicker), (std::vector<long>{101, 5, 5}));
    Fault usual{FaultKind::Drop};
    usual.thenSlowerMs = 0;
    EXPECT_EQ(took3(usual), (std::vector<long>{5, 20, 20}));
    // A new turnaround forgets what the faults left.
    c.setFault(past);
    c.handle(kRead1);
    c.setTurnaround(Turnaround::between(7, 7));
    EXPECT_EQ(c.handle(kRead1).delay, std::chrono::milliseconds(7));
}
