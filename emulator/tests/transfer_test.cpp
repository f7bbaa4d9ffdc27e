// The controller's side of program transfers, the raw command and the long
// replies of the Q80 and remote I/O reads.
#include <gtest/gtest.h>

#include "controller.h"

using namespace orvemu;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Frame(std::uint8_t code, const Bytes &args = {}) {
    Bytes f{0x01, static_cast<std::uint8_t>(args.size() + 3), code};
    f.insert(f.end(), args.begin(), args.end());
    f.push_back(checksum(std::span(f).subspan(2)));
    f.push_back(0xFF);
    return f;
}

const Bytes kAckReply{0x03, 0x64, 0x9B, 0xFF};
const Bytes kUnknownReply{0x03, 0x67, 0x98, 0xFF};
const Bytes kRangeReply{0x03, 0x68, 0x97, 0xFF};

}  // namespace

TEST(ProgramMemory, EaSegmentsAreWrittenAndReadBack) {
    Controller c(6);
    EXPECT_EQ(c.handle(Frame(0x01)).bytes, kAckReply);
    EXPECT_TRUE(c.withMemory([](Memory &m) { return m.programLoading; }));
    EXPECT_EQ(c.handle(Frame(0x29, {0x01, 0x10, 0x00, 0xAA, 0xBB})).bytes, kAckReply);
    EXPECT_EQ(c.handle(Frame(0x2B, {0x01, 0x0F, 0x00, 0x03})).bytes,
              (Bytes{0x06, 0x2C, 0x00, 0xAA, 0xBB, checksum(Bytes{0x2C, 0x00, 0xAA, 0xBB}), 0xFF}));
    // The wide write: a 32-bit address for the program segment, 16 bits for the others.
    EXPECT_EQ(c.handle(Frame(0x59, {0x01, 0x00, 0x00, 0x01, 0x00, 0x42})).bytes, kAckReply);
    EXPECT_EQ(c.handle(Frame(0x59, {0x06, 0x00, 0x00, 0x05})).bytes, kAckReply);
    const auto wide = c.handle(Frame(0x63, {0x01, 0x00, 0x00, 0x01, 0x00, 0x01})).bytes;
    EXPECT_EQ(wide, (Bytes{0x04, 0x64, 0x42, checksum(Bytes{0x64, 0x42}), 0xFF}));
    EXPECT_EQ(c.withMemory([](Memory &m) { return m.segmentByte(6, 0); }), 0x05);
    EXPECT_EQ(c.handle(Frame(0x02)).bytes, kAckReply);
    EXPECT_FALSE(c.withMemory([](Memory &m) { return m.programLoading; }));

    // No segment 7, no write beyond the segment limit, no window requests.
    EXPECT_EQ(c.handle(Frame(0x29, {0x07, 0x00, 0x00, 0x01})).bytes, kRangeReply);
    EXPECT_EQ(c.handle(Frame(0x59, {0x01, 0xF0, 0xFF, 0xFF, 0xFF, 0x01})).bytes, kRangeReply);
    EXPECT_EQ(c.handle(Frame(0x00, {0x00, 0x98, 0x01})).bytes, kUnknownReply);
    EXPECT_EQ(c.handle(Frame(0x03, {0x00, 0x98})).bytes, kUnknownReply);
}

TEST(ProgramMemory, LegacyWindowFrom9800) {
    Controller c(2);
    EXPECT_EQ(c.handle(Frame(0x00, {0xFF, 0xA7, 0x0D})).bytes, kAckReply);  // sysconf, the last byte
    EXPECT_EQ(c.withMemory([](Memory &m) { return m.legacy[0xFFF]; }), 0x0D);
    EXPECT_EQ(c.handle(Frame(0x03, {0xFF, 0xA7})).bytes, (Bytes{0x04, 0x04, 0x0D, static_cast<std::uint8_t>(~0x11), 0xFF}));
    // A run of 16 bytes from inside the window.
    EXPECT_EQ(c.handle(Frame(0x03, {0x00, 0x98})).bytes.size(), 16u + 4u);
    // Outside the window, or running past its end.
    EXPECT_EQ(c.handle(Frame(0x03, {0xFF, 0x97})).bytes, kRangeReply);
    EXPECT_EQ(c.handle(Frame(0x03, {0x00, 0xA8})).bytes, kRangeReply);
    EXPECT_EQ(c.handle(Frame(0x00, {0xFF, 0xA7, 0x01, 0x02})).bytes, kRangeReply);
    EXPECT_EQ(c.handle(Frame(0x29, {0x01, 0x00, 0x00, 0x01})).bytes, kUnknownReply);

    Controller big(4);  // 8 KB
    EXPECT_EQ(big.handle(Frame(0x00, {0xFF, 0xB7, 0x0E})).bytes, kAckReply);
    EXPECT_EQ(big.withMemory([](Memory &m) { return m.legacy[0x1FFF]; }), 0x0E);
}

TEST(RawCommand, CarriesTheRequestInsideAndWrapsItsData) {
    Controller c;
    c.withMemory([](Memory &m) { m.registers[1] = 42; return 0; });
    EXPECT_EQ(c.handle(Frame(0x61, {0x09, 0x01, 0x00})).bytes,
              (Bytes{0x07, 0x62, 0x2A, 0x00, 0x00, 0x00, 0x73, 0xFF}));
    // Short replies of the request inside come back as they are.
    EXPECT_EQ(c.handle(Frame(0x61, {0x0B, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00})).bytes, kAckReply);
    EXPECT_EQ(c.withMemory([](Memory &m) { return m.registers[1]; }), 5);
    EXPECT_EQ(c.handle(Frame(0x61)).bytes, kUnknownReply);
    // A long reply does not fit a 62 reply.
    EXPECT_EQ(c.handle(Frame(0x61, {0x53})).bytes, kUnknownReply);
    EXPECT_EQ(c.requestCount(), 4u) << "the request inside is not logged apart";
}

TEST(RemoteIo, LongRepliesCarryTheValuesAtTheirOffsets) {
    Controller c;
    c.withMemory([](Memory &m) {
        for (int i = 0; i < Memory::kRemoteIoValues; ++i) m.remoteIoData[static_cast<std::size_t>(i)] = 1000 + i;
        return 0;
    });
    const Bytes r = c.handle(Frame(0x69)).bytes;
    ASSERT_EQ(r.size(), 0x46Au + 4);
    EXPECT_EQ(r[0], 0xFF);
    EXPECT_EQ(r[1], 0x6A);
    EXPECT_EQ(u16(r.data() + 4), 1000);
    EXPECT_EQ(u16(r.data() + 260), 1128);
    EXPECT_EQ(u32(r.data() + 516), 1256u);
    EXPECT_EQ(u32(r.data() + 992), 1375u);
    EXPECT_EQ(r.back(), 0xFF);
    EXPECT_EQ(c.handle(Frame(0x53)).bytes[1], 0x54);
    EXPECT_EQ(c.handle(Frame(0x65)).bytes[1], 0x66);
    EXPECT_EQ(c.handle(Frame(0x67)).bytes, kAckReply);
    EXPECT_EQ(c.withMemory([](Memory &m) { return m.remoteIoConfigLoads; }), 1);
}

TEST(Faults, StartAfterTheGivenNumberOfRequests) {
    Controller c;
    Fault f;
    f.kind = FaultKind::Drop;
    f.after = 2;
    c.setFault(f);
    EXPECT_FALSE(c.handle(Frame(0x01)).drop);
    EXPECT_FALSE(c.handle(Frame(0x01)).drop);
    EXPECT_TRUE(c.handle(Frame(0x01)).drop);
    EXPECT_FALSE(c.handle(Frame(0x01)).drop);
}
