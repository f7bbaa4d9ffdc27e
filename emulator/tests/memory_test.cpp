// The emulator's register map, run status, task state and data table.
#include <gtest/gtest.h>

#include "controller.h"

using namespace orvemu;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Frame(std::uint8_t code, Bytes args) {
    Bytes f{0x01, static_cast<std::uint8_t>(args.size() + 3), code};
    unsigned sum = code;
    for (auto b : args) {
        f.push_back(b);
        sum += b;
    }
    f.push_back(static_cast<std::uint8_t>(0xFF - (sum & 0xFF)));
    f.push_back(0xFF);
    return f;
}

}  // namespace

TEST(RegisterMap, ResourcesAndTheirRegistersAreOneState) {
    Memory m;
    m.setFlag(1, true);
    m.setFlag(33, true);
    m.setFlag(256, true);
    EXPECT_EQ(m.readRegister(13005), 1);
    EXPECT_EQ(m.readRegister(13022), 1);
    EXPECT_EQ(m.readRegister(13028), INT32_MIN);
    EXPECT_EQ(m.readRegister(13233), 1);
    EXPECT_TRUE(m.writeRegister(13233, 0));
    EXPECT_FALSE(m.flag(33));
    EXPECT_TRUE(m.writeRegister(13021, INT32_MIN));
    EXPECT_TRUE(m.flag(32));
    EXPECT_FALSE(m.flag(1)) << "the word write replaced flags 1..32";
    EXPECT_EQ(m.readRegister(13005), INT32_MIN);

    EXPECT_TRUE(m.writeRegister(1010, 7));
    EXPECT_EQ(m.digitalOutputs[9], 1);
    EXPECT_EQ(m.readRegister(1010), 1);
    m.digitalInputs[999] = 1;
    EXPECT_EQ(m.readRegister(3000), 1);
    EXPECT_TRUE(m.writeRegister(8003, -20000));
    EXPECT_EQ(m.analogOutputs[2], 45536);
    EXPECT_EQ(m.readRegister(8003), -20000);
    EXPECT_TRUE(m.writeRegister(14032, -9));
    EXPECT_EQ(m.servoPosition[31], -9);

    // Inputs and measured values cannot be written; numbers beyond the map do not exist.
    for (std::uint32_t n : {2001u, 8501u, 8756u, 14101u, 14701u, 0u, 40001u, 65535u})
        EXPECT_FALSE(m.writeRegister(n, 1)) << n;
    EXPECT_FALSE(m.readRegister(40001).has_value());
    EXPECT_FALSE(m.readRegister(0).has_value());
    EXPECT_TRUE(m.writeRegister(40000, 3));
    EXPECT_EQ(m.readRegister(40000), 3);
    EXPECT_EQ(m.readRegister(13008), 5);
}

TEST(RegisterMap, CommandsAndRegisterRequestsMeet) {
    Controller c;
    EXPECT_EQ(c.handle(Frame(0x13, {0x27, 0xFF})).bytes, shortReply(kAck));  // flag 40
    auto r = c.handle(Frame(0x09, {0xB8, 0x33})).bytes;                    // register 13240
    EXPECT_EQ(r, replyFrame(0x0A, Bytes{1, 0, 0, 0}));
    r = c.handle(Frame(0x11, {0x27})).bytes;
    EXPECT_EQ(r, replyFrame(0x12, Bytes{0xFF}));
    // Flag 129 is beyond the 128 flags of model 5.
    EXPECT_EQ(c.handle(Frame(0x11, {0x80})).bytes, shortReply(kOutOfRange));
    // The analog output request with 00 as its first channel writes channel 256.
    EXPECT_EQ(c.handle(Frame(0x55, {0x00, 0x01, 0x34, 0x12})).bytes, shortReply(kAck));
    EXPECT_EQ(c.withMemory([](Memory &m) { return m.analogOutputs[255]; }), 0x1234);
    EXPECT_EQ(c.handle(Frame(0x55, {0xFF, 0x03, 0, 0, 0, 0, 0, 0})).bytes, shortReply(kOutOfRange));
    // Malformed arguments are an unknown packet, not a crash.
    EXPECT_EQ(c.handle(Frame(0x57, {0x03, 0x01, 0x00})).bytes, shortReply(kUnknownPacket));
    EXPECT_EQ(c.handle(Frame(0x3B, {0x01, 0x00, 0x01, 0x05, 0x00})).bytes, shortReply(kUnknownPacket));
}

TEST(RunStatus, StartStopResetAndFault) {
    Memory m;
    EXPECT_EQ(m.status, 0x09);
    m.writeStatus(1);
    EXPECT_EQ(m.status, 0x00);
    m.writeStatus(0);
    EXPECT_EQ(m.status, 0x01);
    m.raiseFault(2, 17, 5);
    EXPECT_EQ(m.status, 0x05);
    m.tasks[3].step = 4;
    m.writeStatus(8);
    EXPECT_EQ(m.status, 0x09);
    EXPECT_EQ(m.faultCode, 0);
    EXPECT_EQ(m.tasks[3].step, 0xFFFF);
    EXPECT_EQ(m.tasks[0].step, 0);
    EXPECT_EQ(m.statusWrites, (Bytes{1, 0, 8}));
}

TEST(TaskState, HeaderAndStatusPages) {
    Controller c(12);  // 128 tasks: 16 mask bytes per task record
    c.withMemory([](Memory &m) {
        m.raiseFault(4, 0x0203, 0x11223344);
        m.tasks[0].childLow = 0x2;
        m.tasks[1].step = 9;
        m.tasks[9].childHigh = 0x8000000000000000ull;
        return 0;
    });
    auto r = c.handle(Frame(0x23, {0xFF})).bytes;
    EXPECT_EQ(r, replyFrame(0x2D, Bytes{1, 4, 0x03, 0x02, 0x44, 0x33, 0x22, 0x11}));

    r = c.handle(Frame(0x6B, {0x00, 0x01})).bytes;
    const std::size_t R = (128 - 1) / 8 + 4;
    ASSERT_EQ(r.size(), 8 * R + 6);
    EXPECT_EQ(r[1], 0x6C);
    EXPECT_EQ(r[2], 128);
    EXPECT_EQ(r[3], 0);
    EXPECT_EQ(r[4], 0x00);  // task 0 at step 0
    EXPECT_EQ(r[6], 1);     // child flag
    EXPECT_EQ(r[7], 0x02);  // mask byte 0
    EXPECT_EQ(r[4 + R], 9);
    EXPECT_EQ(r[4 + R + 2], 0);
    r = c.handle(Frame(0x6B, {0x08, 0x00})).bytes;
    EXPECT_EQ(r[3], 8);
    EXPECT_EQ(r[4 + R + 2], 1);            // task 9 has a child
    EXPECT_EQ(r[4 + R + 3 + 15], 0x80);    // task 127 is it
    EXPECT_EQ(r[4 + 2 * R], 0xFF);         // task 10 not running
    EXPECT_EQ(c.handle(Frame(0x6B, {0x80, 0x00})).bytes, shortReply(kOutOfRange));

    // Bank forms: short below 0x40, long from 0x40.
    EXPECT_EQ(c.handle(Frame(0x23, {0x00})).bytes[0], 59);
    EXPECT_EQ(c.handle(Frame(0x23, {0x41})).bytes[0], 91);
}

TEST(DataTable, CellsAreProgramMemoryBytes) {
    Controller ea(14);
    EXPECT_EQ(ea.handle(Frame(0x33, {0x02, 0x00, 0x03})).bytes, shortReply(kAck));
    EXPECT_EQ(ea.handle(Frame(0x37, {0x02, 0x00, 0x02, 0xCD, 0xAB})).bytes, shortReply(kAck));
    ea.withMemory([](Memory &m) {
        // Size: rows and columns, 16 bits each, low byte first.
        EXPECT_EQ(m.segments[3], (Bytes{0x02, 0x00, 0x03, 0x00}));
        // Row 2 starts at byte 2 * 3; column 2 is its second cell, high byte first.
        EXPECT_EQ(m.segmentByte(2, 8), 0xAB);
        EXPECT_EQ(m.segmentByte(2, 9), 0xCD);
        // A download that writes the table segment shows in the cells.
        m.setSegmentByte(2, 0, 0x12);
        m.setSegmentByte(2, 1, 0x34);
        return 0;
    });
    EXPECT_EQ(ea.handle(Frame(0x35, {0x01, 0x00, 0x01})).bytes, replyFrame(0x36, Bytes{0x34, 0x12}));
    EXPECT_EQ(ea.handle(Frame(0x35, {0x03, 0x00, 0x01})).bytes, shortReply(kOutOfRange));
    EXPECT_EQ(ea.handle(Frame(0x39, {0x01, 0x00, 0x02, 0x01})).bytes, replyFrame(0x3A, Bytes{2, 0, 0, 0, 0}));
    EXPECT_EQ(ea.handle(Frame(0x39, {0x01, 0x00, 0x02, 0x02})).bytes, shortReply(kOutOfRange));

    // A legacy controller: what a download puts at 0x9800 + base - address - n + 1,
    // reversed, is the table as the commands see it.
    Controller legacy(0);
    legacy.withMemory([](Memory &m) {
        EXPECT_EQ(m.legacy.size(), 4096u);
        m.setTableDimensions(1, 2);
        const Bytes row{0xB1, 0xB2, 0xB3, 0xB4};
        const std::size_t at = 0xA7F4 - Memory::kLegacyWindow;
        for (std::size_t i = 0; i < row.size(); ++i) m.legacy[at + i] = row[row.size() - 1 - i];
        EXPECT_EQ(m.legacy[0x0FFA], 1);
        EXPECT_EQ(m.legacy[0x0FFC], 2);
        return 0;
    });
    EXPECT_EQ(legacy.handle(Frame(0x39, {0x01, 0x00, 0x01, 0x01})).bytes,
              replyFrame(0x3A, Bytes{2, 0xB2, 0xB1, 0xB4, 0xB3}));
    Controller big(4);
    EXPECT_EQ(big.withMemory([](Memory &m) { return m.legacy.size(); }), 8192u);
}
