// The network envelope and the reply length rules.
#include <gtest/gtest.h>

#include <vector>

#include "net.h"

using Bytes = std::vector<std::uint8_t>;

TEST(NetEnvelope, HeaderCarriesSequenceClassAndLength) {
    orv::Connection c;
    const Bytes request{0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF};
    std::copy(request.begin(), request.end(), c.request);
    c.requestLength = 7;
    c.packetClass = 0x0114;  // only the low byte travels
    c.sequence = 65534;
    std::uint8_t buf[orv::kNetBuffer];
    ASSERT_EQ(orv::BuildNetHeader(c, buf), 15u);
    EXPECT_EQ(Bytes(buf, buf + 15), (Bytes{4, 0, 0xFF, 0xFF, 0x14, 0, 7, 0, 0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF}));
    EXPECT_EQ(buf[15], 0);
    orv::BuildNetHeader(c, buf);
    EXPECT_EQ(orv::GetU16(buf + 2), 1);  // 0 is never sent
}

TEST(NetEnvelope, ReplyLengthNeverBeyondWhatArrived) {
    std::uint8_t p[1500] = {0x07, 0x0A, 1, 2, 3, 4, 0xF5, 0xFF};
    EXPECT_EQ(orv::NetReplyLength(p, 8), 8u);
    EXPECT_EQ(orv::NetReplyLength(p, 20), 8u);  // extra bytes are not part of it
    EXPECT_EQ(orv::NetReplyLength(p, 7), 7u);   // end byte missing: what came
    p[7] = 0;
    EXPECT_EQ(orv::NetReplyLength(p, 300), 256u);
    const std::uint8_t block[] = {0x03, 0x6E, 0, 0xFF};
    std::copy(std::begin(block), std::end(block), p);
    EXPECT_EQ(orv::NetReplyLength(p, 1424), 1424u);
    EXPECT_EQ(orv::NetReplyLength(p, 1492 - 8), 1424u);
    EXPECT_EQ(orv::NetReplyLength(p, 100), 100u);
    p[1] = 0x72;  // the random-block reply has the same long form
    EXPECT_EQ(orv::NetReplyLength(p, 1484), 1424u);
    const std::uint8_t ack[] = {0x03, 0x64, 0x9B, 0xFF};
    std::copy(std::begin(ack), std::end(ack), p);
    EXPECT_EQ(orv::NetReplyLength(p, 4), 4u);

    // A stream reply is judged once its length byte (and, for L = 3, its
    // code) is in.
    std::uint8_t s[1500] = {4, 0, 1, 0, 20, 0, 8, 0};
    EXPECT_EQ(orv::NetBytesWanted(s, 5), 9u);
    s[8] = 0x07;
    EXPECT_EQ(orv::NetBytesWanted(s, 9), 16u);
    s[8] = 0x03;
    EXPECT_EQ(orv::NetBytesWanted(s, 9), 10u);
    s[9] = 0x64;
    EXPECT_EQ(orv::NetBytesWanted(s, 10), 12u);
    s[9] = 0x6E;
    EXPECT_EQ(orv::NetBytesWanted(s, 10), 8u + 1424u);
    s[9] = 0x72;
    EXPECT_EQ(orv::NetBytesWanted(s, 10), 8u + 1424u);
}
