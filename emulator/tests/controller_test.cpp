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
    EXPECT_EQ(c.handle(kRead1).delay.count(), 40);
    EXPECT_EQ(c.handle(kRead1).delay.count(), 40);
    c.clearFault();
    EXPECT_EQ(c.handle(kRead1).delay.count(), 0);
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
