#include <gtest/gtest.h>

#include "controller.h"

using namespace orvemu;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Bytes 1 .. n + 1 and the checksum after them sum to FF.
bool longFormConsistent(const Bytes &f) {
    if (f.size() < 6 || f[0] != 0xFF || f.back() != 0xFF) return false;
    const std::size_t n = u16(&f[1]);
    if (f.size() != n + 4) return false;
    unsigned sum = 0;
    for (std::size_t i = 1; i <= n + 2; ++i) sum += f[i];
    return (sum & 0xFF) == 0xFF;
}

// A network block read (6D) of `count` integers from V-register 100.
Bytes blockRead(std::uint32_t count) {
    Bytes f{0x01, 0x05, 0x6D, 100, 0};
    Bytes block(1420, 0);
    block[0] = 1;  // integers
    block[20] = static_cast<std::uint8_t>(count);
    block[21] = static_cast<std::uint8_t>(count >> 8);
    f.insert(f.end(), block.begin(), block.end());
    f.push_back(checksum(std::span(f).subspan(2)));
    f.push_back(0xFF);
    return f;
}

}  // namespace

TEST(Wire, LongReplyFrameLayout) {
    const Bytes body{1, 2, 3};
    Bytes f = longReplyFrame(7, 0x6E, body);
    EXPECT_EQ(f, (Bytes{0xFF, 0x07, 0x00, 0x6E, 1, 2, 3, 0, 0, f[9], 0xFF}));
    EXPECT_TRUE(longFormConsistent(f));
    // A body longer than n says is cut.
    f = longReplyFrame(3, 0x6E, body);
    EXPECT_EQ(f.size(), 7u);
    EXPECT_EQ(f[4], 1);
    EXPECT_TRUE(longFormConsistent(f));
}

TEST(Wire, BlockRepliesTakeTheLongFormOnRawEthernet) {
    Controller c;
    c.withMemory([](Memory &m) {
        for (int i = 0; i < 346; ++i) m.vregs.setInt(static_cast<std::uint16_t>(100 + i), -i);
        return 0;
    });
    const Bytes network = c.handle(blockRead(346)).bytes;
    ASSERT_EQ(network.size(), 1426u);
    ASSERT_EQ(network[0], 0x03);
    ASSERT_EQ(network[1], 0x6E);

    const Bytes raw = rawEthernetReply(network);
    ASSERT_EQ(raw.size(), 1426u);
    EXPECT_EQ(u16(&raw[1]), 1422);
    EXPECT_EQ(raw[3], 0x6E);
    // The block stays at byte 4, its last value included.
    EXPECT_TRUE(std::equal(raw.begin() + 4, raw.end() - 2, network.begin() + 4));
    EXPECT_EQ(static_cast<std::int32_t>(u32(&raw[4 + 36 + 4 * 345])), -345);
    EXPECT_TRUE(longFormConsistent(raw));

    // Frames that say their own length go as they are.
    for (const Bytes &same : {shortReply(kAck), c.handle(Bytes{0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF}).bytes,
                              c.handle(Bytes{0x01, 0x03, 0x53, 0xAC, 0xFF}).bytes})
        EXPECT_EQ(rawEthernetReply(same), same);
}
