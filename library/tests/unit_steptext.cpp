#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "objectfile.h"
#include "step_cases.h"
#include "steptext.h"

using namespace orv;
using namespace orv::test;
using Bytes = std::vector<std::uint8_t>;

namespace {

const std::string kSeparator = "    " + std::string(75, '-') + "\n";
const std::string kNoChange = "        <NO CHANGE IN DIGITAL OUTPUTS>\n";

std::string Framed(const std::string &block, const std::string &body) {
    return kSeparator + block + kSeparator + body;
}

void CheckCases(const std::vector<StepCase> &cases, bool ea, bool wide) {
    for (const StepCase &c : cases) {
        Bytes code{0x00};
        code.insert(code.end(), c.code.begin(), c.code.end());
        if (c.goesOn) code.push_back(0xCA);
        const std::string expected = Framed(kNoChange, c.text + (c.goesOn ? kDone : ""));
        EXPECT_EQ(StepText(code, ea, wide), expected) << "instruction " << ::testing::PrintToString(c.code);
    }
}

std::string Source(const Bytes &b, std::size_t *length = nullptr) {
    std::string out;
    const std::size_t n = PrintSourceOperand(out, b);
    if (length) *length = n;
    return out;
}

std::string Destination(const Bytes &b, std::size_t *length = nullptr) {
    std::string out;
    const std::size_t n = PrintDestinationOperand(out, b);
    if (length) *length = n;
    return out;
}

}  // namespace

TEST(StepText, EveryNonEaInstructionKind) { CheckCases(kNonEaCases, false, false); }
TEST(StepText, EveryEaInstructionKind) { CheckCases(kEaCases, true, false); }
TEST(StepText, WideFlagNumbers) { CheckCases(kWideCases, true, true); }

TEST(StepText, OutputBlockFourEntriesToALine) {
    // 1+, 2-, 3+, 4+, 5-: each number right-aligned in nine columns.
    const std::string block = "            1+               2-               3+               4+\n"
                              "            5-\n";
    EXPECT_EQ(StepText(Bytes{0x05, 0x80, 0x01, 0x82, 0x83, 0x04}, false, false), Framed(block, ""));
    // EA entries: low byte, then on bit and the high 7 bits.
    EXPECT_EQ(StepText(Bytes{0x02, 0x00, 0x81, 0xFF, 0x7F, 0xCA}, true, false),
              Framed("          257+           32768-\n", kDone));
    EXPECT_EQ(StepText(Bytes{0x81, 0xCA}, false, false),
              Framed("        <TURN ALL DIGITAL OUTPUTS OFF>\n", kDone));
    EXPECT_EQ(StepText(Bytes{0x81, 0xCA}, true, false), Framed("        <TURN ALL DIGITAL OUTPUTS OFF>\n", kDone));
    // Only the block: nothing after the second separator.
    EXPECT_EQ(StepText(Bytes{0x00}, false, false), Framed(kNoChange, ""));
    // A block that claims more entries than the step holds shows those it has.
    EXPECT_EQ(StepText(Bytes{0x04, 0x80, 0x01}, false, false),
              Framed("            1+               2-\n", ""));
}

TEST(StepText, OperandsAndTheirLengths) {
    std::size_t n = 0;
    EXPECT_EQ(Source({0xFB, 0x08, 0x00}, &n), "ctr#8");
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(Source({0xFB, 0x09, 0x00}, &n), "reg#9");
    EXPECT_EQ(Source({0xFB, 0x00, 0x00}, &n), "");
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Source({0xFB, 0x61, 0xEA}, &n), "");
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Source({0x07}, &n), "ctr#8");
    EXPECT_EQ(Source({0x08}), "reg#9");
    EXPECT_EQ(Source({0xF9, 0x00, 0x00, 0x00, 0x80}, &n), "-2147483648");
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(Source({0xF0, 0xFF, 0xFF}), "65535");
    EXPECT_EQ(Source({0xFA, 0x1F, 0x00}), "servo#32:position");
    EXPECT_EQ(Source({0xFA, 0x20, 0x00}, &n), "");
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Source({0xF8, 0x82, 0x80}), "proto#3:bit#1:bcd");
    for (std::uint8_t b : {0xF1, 0xF7, 0xFC, 0xFF}) {
        EXPECT_EQ(Source({b, 0, 0, 0, 0}, &n), "");
        EXPECT_EQ(n, 0u);
    }
    EXPECT_EQ(Destination({0xBF}), "aout#64");
    EXPECT_EQ(Destination({0xE3}), "disp#4");
    EXPECT_EQ(Destination({0xF0, 0x01, 0x00}, &n), "");
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Destination({0xFB, 0x05, 0x00}), "ctr#5");
    // An operand cut short prints nothing.
    EXPECT_EQ(Source({0xF9, 0x01, 0x02}, &n), "");
    EXPECT_EQ(n, 0u);
}

TEST(StepText, InstructionsCutByTheStepsEndAreNotShown) {
    // An "if" missing its second operand, a store missing its destination,
    // a monitor expression longer than the step, a counter start cut short.
    for (const Bytes &cut : {Bytes{0x00, 0x80, 0x00, 0x01}, Bytes{0x00, 0x38, 0x01},
                             Bytes{0x00, 0x00, 0x09, 0x00, 0x41, 0x92}, Bytes{0x00, 0xCA, 0x49, 0x00, 0x85}})
        EXPECT_EQ(StepText(cut, false, false), Framed(kNoChange, cut[1] == 0xCA ? kDone : "")) << ::testing::PrintToString(cut);
    // An EA target needs two bytes.
    EXPECT_EQ(StepText(Bytes{0x00, 0xE9, 0x01}, true, false), Framed(kNoChange, ""));
}

TEST(StepText, OpcodesWithoutAnInstruction) {
    const std::vector<std::pair<unsigned, unsigned>> ranges = {
        {0x02, 0x02}, {0x06, 0x06}, {0x08, 0x0A}, {0x0E, 0x0E}, {0x10, 0x12}, {0x16, 0x17}, {0x1F, 0x1F},
        {0x21, 0x22}, {0x26, 0x26}, {0x28, 0x2A}, {0x2E, 0x2E}, {0x30, 0x32}, {0x36, 0x36}, {0x3D, 0x3F},
        {0x85, 0x87}, {0x89, 0x8C}, {0x99, 0x9F}, {0xA8, 0xBF}, {0xD1, 0xD7}, {0xD9, 0xDF}, {0xEE, 0xEE},
        {0xF1, 0xF7}, {0xF9, 0xFF}};
    std::array<bool, 256> none{};
    for (auto [from, to] : ranges)
        for (unsigned op = from; op <= to; ++op) none[op] = true;
    const StepPrinter nothing = StepPrinterTable[0x02];
    for (unsigned op = 0; op < 256; ++op) EXPECT_EQ(StepPrinterTable[op] == nothing, none[op]) << std::hex << op;
    // In the middle of a step such an opcode ends its listing.
    EXPECT_EQ(StepText(Bytes{0x00, 0xC9, 0x3E, 0xCA}, false, false), Framed(kNoChange, "    goto next\n"));
}

TEST(StepText, PrintStepUsesTheWideFlagSetting) {
    const Bytes code{0x00, 0xCC, 0x40, 0x7F};
    for (bool wide : {false, true}) {
        WideFlagFormat = wide;
        char *text = nullptr;
        std::size_t size = 0;
        std::FILE *out = open_memstream(&text, &size);
        ASSERT_TRUE(out);
        PrintStep(out, code, true);
        std::fclose(out);
        EXPECT_EQ(std::string(text, size), StepText(code, true, wide));
        std::free(text);
    }
    WideFlagFormat = false;
    // Wide: flag 128 from byte 2. Not wide: flag 1 from byte 1, then 7F
    // (set/clear flag) reads on as the next instruction and is cut.
    EXPECT_NE(StepText(code, true, true), StepText(code, true, false));
}
