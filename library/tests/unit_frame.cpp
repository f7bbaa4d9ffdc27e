#include <gtest/gtest.h>

#include "frame.h"

using namespace orv;
using Bytes = std::vector<std::uint8_t>;

TEST(Frame, ChecksumIsComplementOfTheByteSum) {
    const Bytes b{0x09, 0x01, 0x00};
    EXPECT_EQ(PacketChecksum(b), 0xF5);
    EXPECT_EQ(PacketChecksum(nullptr, 0), 0xFF);
    // Carries are dropped: 0x80 + 0x80 sums to 0x00.
    EXPECT_EQ(PacketChecksum(Bytes{0x80, 0x80}), 0xFF);
    EXPECT_EQ(PacketChecksum(Bytes{0xFF, 0x01, 0x7F}), 0x80);
}

TEST(Frame, RequestFramesMatchHandComputedBytes) {
    EXPECT_EQ(BuildRequest(0x09, Args().u16(1)), (Bytes{0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF}));
    // Register 40000 = 0x9C40: sum 09+40+9C = E5, checksum 1A.
    EXPECT_EQ(BuildRequest(0x09, Args().u16(40000)), (Bytes{0x01, 0x05, 0x09, 0x40, 0x9C, 0x1A, 0xFF}));
    // No arguments: 01 03 code chk FF.
    EXPECT_EQ(BuildRequest(0x20), (Bytes{0x01, 0x03, 0x20, 0xDF, 0xFF}));
    // 32-bit arguments go lowest byte first.
    const auto f = BuildRequest(0x0B, Args().u16(2).u32(0x11223344));
    EXPECT_EQ(f, (Bytes{0x01, 0x09, 0x0B, 0x02, 0x00, 0x44, 0x33, 0x22, 0x11,
                        static_cast<std::uint8_t>(0xFF - ((0x0B + 2 + 0x44 + 0x33 + 0x22 + 0x11) & 0xFF)), 0xFF}));
}

TEST(Frame, LittleEndianReadersAndWritersRoundTrip) {
    std::uint8_t b[4];
    PutU32(b, 0xDEADBEEF);
    EXPECT_EQ(b[0], 0xEF);
    EXPECT_EQ(b[3], 0xDE);
    EXPECT_EQ(GetU32(b), 0xDEADBEEFu);
    PutU16(b, 0xFFFE);
    EXPECT_EQ(GetU16(b), 0xFFFE);
    const std::uint8_t minusOne[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(static_cast<std::int32_t>(GetU32(minusOne)), -1);
}

TEST(Frame, ReplyCheckFindsEachKindOfDamage) {
    EXPECT_EQ(CheckReplyFrame(Bytes{0x03, 0x64, 0x9B, 0xFF}), ReplyCheck::Ok);
    EXPECT_EQ(CheckReplyFrame(Bytes{0x03, 0x64, 0x9B}), ReplyCheck::TooShort);
    EXPECT_EQ(CheckReplyFrame(Bytes{0x04, 0x64, 0x9B, 0xFF}), ReplyCheck::BadLength);
    EXPECT_EQ(CheckReplyFrame(Bytes{0x02, 0x64, 0x9B, 0xFF}), ReplyCheck::BadLength);
    EXPECT_EQ(CheckReplyFrame(Bytes{0x03, 0x64, 0x9C, 0xFF}), ReplyCheck::BadChecksum);
    EXPECT_EQ(CheckReplyFrame(Bytes{0x03, 0x64, 0x9B, 0xFE}), ReplyCheck::BadEnd);
}

TEST(Frame, SequenceNumbersSkipZero) {
    std::uint16_t s = 0;
    EXPECT_EQ(NextSequence(s), 1);
    EXPECT_EQ(NextSequence(s), 2);
    s = 65534;
    EXPECT_EQ(NextSequence(s), 65535);
    EXPECT_EQ(NextSequence(s), 1);
}
