// The register, flag/I-O/servo, status and data-table exports against the
// in-process emulator: the transport-agnostic family checks, and the reply
// shapes only a test peer can send.
#include <gtest/gtest.h>

#include <functional>

#include "emulator_transport.h"
#include "family_checks.h"

using namespace orvtest;

namespace {

// A reply frame built by hand: L, code, data, checksum, FF.
Bytes Reply(std::uint8_t code, Bytes data) {
    Bytes f;
    f.reserve(data.size() + 4);
    f.push_back(static_cast<std::uint8_t>(data.size() + 3));
    f.push_back(code);
    for (auto b : data) f.push_back(b);
    unsigned sum = 0;
    for (std::size_t i = 1; i < f.size(); ++i) sum += f[i];
    f.push_back(static_cast<std::uint8_t>(0xFF - (sum & 0xFF)));
    f.push_back(0xFF);
    return f;
}

class Commands : public ::testing::Test {
protected:
    void SetUp() override { id = AddEmulatedConnection(emu); }
    void TearDown() override { RemoveConnection(id); }

    // The next reply is exactly these bytes.
    void nextReply(Bytes bytes) {
        orvemu::Fault f;
        f.kind = orvemu::FaultKind::Garbage;
        f.garbage = std::move(bytes);
        emu.setFault(f);
    }
    // Leaves a recognisable error on the connection.
    void markError() {
        NextReplyShort(emu, 0x66);
        std::int32_t v;
        ASSERT_EQ(ZqGetRegister(id, 1, &v), 0);
        ASSERT_EQ(ErrorText(id), "Illegal register number specified.");
    }

    orvemu::Controller emu;
    std::int32_t id = 0;
};

}  // namespace

TEST_F(Commands, RegisterFamily) { CheckRegisterFamily(id, emu); }
TEST_F(Commands, IoFamily) { CheckIoFamily(id, emu); }
TEST_F(Commands, StatusFamily) { CheckStatusFamily(id, emu); }
TEST_F(Commands, DataTableFamily) { CheckDataTableFamily(id, emu); }

TEST_F(Commands, LookupFailuresSendNothing) {
    std::int32_t v = 7;
    EXPECT_EQ(ZqGetRegister(id + 1000, 1, &v), 0);
    EXPECT_EQ(ZqPutFlag(id + 1000, 1, 1), 0);
    std::int32_t cells[4] = {0, 9, 9, 9};
    EXPECT_EQ(ZqGetDataTableRow(id + 1000, 12, 1, 3, cells), 0);
    EXPECT_EQ(cells[0], 12) << "the row number is written before the lookup";
    EXPECT_EQ(cells[1], 9);

    const auto closed = AddEmulatedConnection(emu, 3, 0);
    std::int32_t model = 0, ea = 0;
    EXPECT_EQ(ZqGetModel(closed, &model, &ea), 0);
    EXPECT_EQ(model, -1);
    EXPECT_EQ(ea, -1);
    std::int32_t code = 0;
    EXPECT_EQ(ErrorText(closed, &code), "Invalid connection status");
    EXPECT_EQ(code, 194);
    EXPECT_EQ(emu.requestCount(), 0u);
    RemoveConnection(closed);
}

TEST_F(Commands, WrongReplyGoesToTheShortReplyDecoder) {
    std::int32_t v = 7, code = 0;
    // L 7 with another code: byte 3 decides between the two texts.
    nextReply({0x07, 0x0B, 0x00, 0xFF, 0x00, 0x00, 0xF5, 0xFF});
    EXPECT_EQ(ZqGetRegister(id, 1, &v), 0);
    EXPECT_EQ(ErrorText(id, &code), "Unknown packet error.");
    EXPECT_EQ(code, 206);
    nextReply(Reply(0x0B, {1, 0, 0, 0}));
    EXPECT_EQ(ZqGetRegister(id, 1, &v), 0);
    EXPECT_EQ(ErrorText(id, &code), "Not a valid binary protocol response.");
    EXPECT_EQ(code, 205);
    // The right code with another L.
    nextReply(Reply(0x0A, {1, 0, 0, 0, 0}));
    EXPECT_EQ(ZqGetRegister(id, 1, &v), 0);
    EXPECT_EQ(code = ErrorCode(id), 205);
    EXPECT_EQ(v, 7);
    // A write answered by data instead of an acknowledgement.
    nextReply(Reply(0x0A, {1, 0, 0, 0}));
    EXPECT_EQ(ZqPutRegister(id, 1, 1), 0);
    EXPECT_EQ(ErrorCode(id), 205);
}

TEST_F(Commands, CountMismatchLeavesTheErrorAlone) {
    markError();
    const std::int32_t regs[2] = {1, 2};
    std::int32_t out[2] = {7, 7};
    nextReply(Reply(0x58, {1, 5, 0, 0, 0}));
    EXPECT_EQ(ZqGetNRegisters(id, 2, regs, out), 0);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(ErrorText(id), "Illegal register number specified.");
}

TEST_F(Commands, NoDecodeReadsPastWhatTheReplyAnnounces) {
    const std::int32_t regs[2] = {1, 2};
    std::int32_t out[2] = {7, 7};
    std::int32_t code = 0;
    // Code 0x58 (L not tested) and the right count, but no values behind it.
    nextReply(Reply(0x58, {2}));
    EXPECT_EQ(ZqGetNRegisters(id, 2, regs, out), 0);
    EXPECT_EQ(ErrorText(id, &code), "Incomplete packet");
    EXPECT_EQ(code, 206);
    EXPECT_EQ(out[0], 7);
    // A reply whose L promises more than arrived: the rest would be stale bytes.
    std::int32_t v = 7;
    ASSERT_EQ(ZqGetRegister(id, 1, &v), 1);  // leaves a whole reply in the buffer
    v = 7;
    nextReply({0x07, 0x0A, 0x01, 0x02});
    EXPECT_EQ(ZqGetRegister(id, 1, &v), 0);
    EXPECT_EQ(ErrorText(id), "Incomplete packet");
    EXPECT_EQ(v, 7);
    // A row chunk that says it carries more cells than it holds.
    ASSERT_EQ(ZqPutDataTableDim(id, 1, 10), 1);
    std::int32_t cells[4] = {0, 9, 9, 9};
    nextReply(Reply(0x3A, {3, 1, 0}));
    EXPECT_EQ(ZqGetDataTableRow(id, 1, 1, 3, cells), 0);
    EXPECT_EQ(ErrorCode(id), 206);
    EXPECT_EQ(cells[1], 9);
}

TEST_F(Commands, RowChunkWithNoCellsOrTooManyFailsQuietly) {
    markError();
    std::int32_t cells[8] = {};
    nextReply(Reply(0x3A, {0}));
    EXPECT_EQ(ZqGetDataTableRow(id, 1, 1, 3, cells), 0);
    nextReply(Reply(0x3A, {4, 1, 0, 2, 0, 3, 0, 4, 0}));
    EXPECT_EQ(ZqGetDataTableRow(id, 1, 1, 3, cells), 0);
    EXPECT_EQ(cells[1], 0) << "cells of a refused chunk are not stored";
    EXPECT_EQ(ErrorText(id), "Illegal register number specified.");
    // A count the 16-bit cell counting cannot follow is refused before anything.
    const auto sent = emu.requestCount();
    EXPECT_EQ(ZqGetDataTableRow(id, 1, 1, 65536, cells), 0);
    EXPECT_EQ(ZqGetDataTableRow(id, 1, 1, -1, cells), 0);
    EXPECT_EQ(ZqGetDataTableRow(id, 1, -1, 1, cells), 0);
    EXPECT_EQ(emu.requestCount(), sent);
}

TEST_F(Commands, NumbersThatTheirFieldCannotCarryAreRefused) {
    markError();
    const auto vreg = [](std::int32_t number) {
        ZQ_VREGISTER r{};
        r.number = number;
        r.type = ZQ_VTYPE_INTEGER;
        return r;
    };
    const auto vblock = [](std::int32_t first) {
        ZQ_VREGISTER_BLOCK b{};
        b.firstNumber = first;
        b.type = ZQ_VTYPE_INTEGER;
        b.countRequested = 1;
        return b;
    };
    std::int32_t v = 0, p1 = 0, p2 = 0, p3 = 0, done = 0;
    std::int32_t out[300] = {};
    ZQ_VREGISTER one = vreg(65536), two[2] = {vreg(1), vreg(70000)};
    ZQ_VREGISTER_BLOCK block = vblock(65536);
    ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE random{};
    random.firstNumber = -1;
    ZQ_TASK_BANK bank{};
    const std::int32_t registers[2] = {1, 70000};
    const std::int32_t values[3] = {0, 5, 70000};
    struct Case {
        const char *what;
        std::function<std::int32_t()> call;
        Bytes sent;  // the arguments that go out; none: refused at once
    };
    const Case cases[] = {
        // Item numbers beyond their field.
        {"register 70000", [&] { return ZqGetRegister(id, 70000, &v); }, {}},
        {"register -1", [&] { return ZqGetRegister(id, -1, &v); }, {}},
        {"write register 70000", [&] { return ZqPutRegister(id, 70000, 1); }, {}},
        {"sixteen from 0", [&] { return ZqGetRegister16(id, 0, out); }, {}},
        {"sixteen from 65537", [&] { return ZqGetRegister16(id, 65537, out); }, {}},
        {"block 0", [&] { return ZqGetRegister50(id, 0, out); }, {}},
        {"block 257", [&] { return ZqGetRegister50(id, 257, out); }, {}},
        {"list with 70000", [&] { return ZqGetNRegisters(id, 2, registers, out); }, {}},
        {"properties 65536", [&] { return ZqGetVProperties(id, 65536, &p1, &p2, &p3); }, {}},
        {"V-register 65536", [&] { return ZqGetVRegister(id, &one); }, {}},
        {"write V-register 65536", [&] { return ZqSetVRegister(id, &one); }, {}},
        {"V-registers with 70000", [&] { return ZqGetVRegisters(id, 2, &done, two); }, {}},
        {"write V-registers with 70000", [&] { return ZqSetVRegisters(id, 2, &done, two); }, {}},
        {"block from 65536", [&] { return ZqGetVRegisterBlock(id, &block); }, {}},
        {"integers from 65536", [&] { return ZqGetVRegisterBlockInteger(id, &block); }, {}},
        {"floats from 65536", [&] { return ZqGetVRegisterBlockFloat(id, &block); }, {}},
        {"doubles from 65536", [&] { return ZqGetVRegisterBlockDouble(id, &block); }, {}},
        {"write block from 65536", [&] { return ZqSetVRegisterBlock(id, &block); }, {}},
        {"write integers from 65536", [&] { return ZqSetVRegisterBlockInteger(id, &block); }, {}},
        {"write floats from 65536", [&] { return ZqSetVRegisterBlockFloat(id, &block); }, {}},
        {"write doubles from 65536", [&] { return ZqSetVRegisterBlockDouble(id, &block); }, {}},
        {"random from 65536", [&] { return ZqGetVRegisterRandomBlock(id, &block); }, {}},
        {"random doubles from -1", [&] { return ZqGetVRegisterRandomBlockDouble(id, &random); }, {}},
        {"task bank 257", [&] { return ZqGetTaskBank(id, 257, &bank); }, {}},
        {"cell of row 70000", [&] { return ZqGetDataTableLoc(id, 70000, 1, &v); }, {}},
        {"write row 70000", [&] { return ZqPutDataTableLoc(id, 70000, 1, 1); }, {}},
        {"row 70000", [&] { return ZqGetDataTableRow(id, 70000, 1, 1, out); }, {}},
        {"columns 506 on", [&] { return ZqGetDataTableRow(id, 1, 506, 6, out); }, {}},
        {"columns 250 to 256", [&] { return ZqGetDataTableRow(id, 1, 250, 7, out); }, {}},
        {"write cells of row 70000", [&] { return ZqPutDataTableRow(id, 70000, 1, 1, values); }, {}},
        // Written values beyond 16 bits, signed or not.
        {"output 70000", [&] { return ZqPutAnalogOutput(id, 1, 70000); }, {}},
        {"output -32769", [&] { return ZqPutAnalogOutput(id, 1, -32769); }, {}},
        {"outputs with 70000", [&] { return ZqPutAnalogOutputN(id, 1, 3, values); }, {}},
        {"70000 rows", [&] { return ZqPutDataTableDim(id, 70000, 4); }, {}},
        {"-32769 rows", [&] { return ZqPutDataTableDim(id, -32769, 4); }, {}},
        // Counts: no negative number of rows.
        {"-1 rows", [&] { return ZqPutDataTableDim(id, -1, 4); }, {}},
        {"-32768 rows", [&] { return ZqPutDataTableDim(id, -32768, 4); }, {}},
        {"cell 70000", [&] { return ZqPutDataTableLoc(id, 1, 1, 70000); }, {}},
        {"cell -32769", [&] { return ZqPutDataTableLoc(id, 1, 1, -32769); }, {}},
        {"cells with 70000", [&] { return ZqPutDataTableRow(id, 1, 1, 2, values + 1); }, {}},
        // What still fits goes out unchanged.
        {"register 65535", [&] { return ZqGetRegister(id, 65535, &v); }, {0xFF, 0xFF}},
        {"sixteen from 65536", [&] { return ZqGetRegister16(id, 65536, out); }, {0xFF, 0xFF}},
        {"task bank 256", [&] { return ZqGetTaskBank(id, 256, &bank); }, {0xFF}},
        {"properties 65535", [&] { return ZqGetVProperties(id, 65535, &p1, &p2, &p3); }, {0xFF, 0xFF}},
        {"output -32768", [&] { return ZqPutAnalogOutput(id, 1, -32768); }, {0x00, 0x00, 0x80}},
        {"output 65535", [&] { return ZqPutAnalogOutput(id, 2, 65535); }, {0x01, 0xFF, 0xFF}},
        {"65535 rows", [&] { return ZqPutDataTableDim(id, 65535, 4); }, {0xFF, 0xFF, 0x04}},
        {"cell -32768 of row 65535", [&] { return ZqPutDataTableLoc(id, 65535, 255, -32768); },
         {0xFF, 0xFF, 0xFF, 0x00, 0x80}},
        {"column 255", [&] { return ZqGetDataTableRow(id, 1, 255, 1, out); }, {0x01, 0x00, 0xFF, 0x00}},
    };
    for (const auto &k : cases) {
        if (k.sent.empty()) {
            ExpectRefusedAtOnce(id, emu, k.call, k.what);
            continue;
        }
        emu.clearLog();
        k.call();
        ASSERT_EQ(emu.requestCount(), 1u) << k.what;
        const Bytes frame = emu.lastRequest();
        EXPECT_EQ(Bytes(frame.begin() + 3, frame.end() - 2), k.sent) << k.what;
    }
}

TEST_F(Commands, RowWriteUpToTheLastColumn) {
    ASSERT_EQ(ZqPutDataTableDim(id, 2, 255), 1);
    std::vector<std::int32_t> cells(256);
    for (int c = 0; c < 256; ++c) cells[static_cast<std::size_t>(c)] = c * 3;
    emu.clearLog();
    EXPECT_EQ(ZqPutDataTableRow(id, 2, 200, 56, cells.data()), 1);
    EXPECT_EQ(emu.requestCount(), 3u);  // 27 + 27 + 2
    std::vector<std::int32_t> back(256, -1);
    EXPECT_EQ(ZqGetDataTableRow(id, 2, 1, 255, back.data()), 1);
    EXPECT_EQ(back[199], 0);
    EXPECT_EQ(back[200], 600);
    EXPECT_EQ(back[255], 765);
}

TEST_F(Commands, TaskBankShortFormFromAHandComputedReply) {
    // Stopped 0, fault 2 in step 0x0102 with data 0x01020304; tasks 0..7
    // at steps 0, FFFF, 5, ... with masks 1, 2, ...
    Bytes data{0x00, 0x02, 0x02, 0x01, 0x04, 0x03, 0x02, 0x01};
    for (int t = 0; t < 8; ++t) {
        const std::uint16_t step = t == 1 ? 0xFFFF : static_cast<std::uint16_t>(t * 5);
        data.push_back(static_cast<std::uint8_t>(step));
        data.push_back(static_cast<std::uint8_t>(step >> 8));
        for (std::uint8_t b : {static_cast<std::uint8_t>(1 << t), std::uint8_t{0}, std::uint8_t{0},
                               static_cast<std::uint8_t>(t == 7 ? 0x80 : 0)})
            data.push_back(b);
    }
    auto reply = Reply(0x99, data);
    ASSERT_EQ(reply[0], 59);
    nextReply(reply);
    ZQ_TASK_BANK b;
    std::memset(&b, 0x55, sizeof b);
    ASSERT_EQ(ZqGetTaskBank(id, 1, &b), 1) << "the code is not tested";
    EXPECT_EQ(b.stopped, 0);
    EXPECT_EQ(b.faultCode, 2);
    EXPECT_EQ(b.faultStep, 0x0102);
    EXPECT_EQ(b.faultData, 0x01020304);
    EXPECT_EQ(b.steps[0], 1);
    EXPECT_EQ(b.steps[1], 0x10000);
    EXPECT_EQ(b.steps[2], 11);
    EXPECT_EQ(b.childLow[3], 8);
    EXPECT_EQ(b.childLow[7], static_cast<std::int32_t>(0x80000080u));
    for (int t = 0; t < 8; ++t) EXPECT_EQ(b.childHigh[t], 0);
}

TEST_F(Commands, TaskBankLongFormFromAHandComputedReply) {
    Bytes data{0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    for (int t = 0; t < 8; ++t) {
        data.push_back(static_cast<std::uint8_t>(t));
        data.push_back(0x80);
        const std::uint64_t mask = (1ull << (40 + t)) | static_cast<std::uint64_t>(t);
        for (int i = 0; i < 8; ++i) data.push_back(static_cast<std::uint8_t>(mask >> (8 * i)));
    }
    auto reply = Reply(0x24, data);
    ASSERT_EQ(reply[0], 91);
    nextReply(reply);
    ZQ_TASK_BANK b{};
    ASSERT_EQ(ZqGetTaskBank(id, 3, &b), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x23, 0x02, 0xDA, 0xFF}));
    EXPECT_EQ(b.stopped, 1);
    EXPECT_EQ(b.faultData, -1);
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(b.steps[t], 0x8000 + t + 1);
        EXPECT_EQ(b.childLow[t], t);
        EXPECT_EQ(b.childHigh[t], 1 << (8 + t));
    }
}

TEST_F(Commands, TaskBankOfAnotherLengthGoesToTheShortReplyDecoder) {
    ZQ_TASK_BANK b{};
    b.stopped = 77;
    NextReplyShort(emu, 0x64);
    EXPECT_EQ(ZqGetTaskBank(id, 1, &b), 1);
    EXPECT_EQ(b.stopped, 77);
    nextReply(Reply(0x24, Bytes(57, 0)));  // L 60
    EXPECT_EQ(ZqGetTaskBank(id, 1, &b), 0);
    EXPECT_EQ(ErrorCode(id), 205);
}

TEST_F(Commands, EaFlagOfEveryModelCode) {
    for (int code = -3; code <= 20; ++code) {
        emu.withMemory([&](orvemu::Memory &m) { return m.registers[13008] = code; });
        std::int32_t model = 99, ea = 99;
        ASSERT_EQ(ZqGetModel(id, &model, &ea), 1) << code;
        EXPECT_EQ(model, code);
        EXPECT_EQ(ea, code == 3 || code > 4 ? 1 : 0) << code;
    }
}

TEST_F(Commands, ModelWithoutAValueIsUnknown) {
    std::int32_t model = 99, ea = 99;
    NextReplyShort(emu, 0x64);
    EXPECT_EQ(ZqGetModel(id, &model, &ea), 1);
    EXPECT_EQ(model, -1);
    EXPECT_EQ(ea, -1);
    model = ea = 99;
    NextReplyShort(emu, 0x66);
    EXPECT_EQ(ZqGetModel(id, &model, &ea), 0);
    EXPECT_EQ(model, -1);
    EXPECT_EQ(ea, -1);
    EXPECT_EQ(ErrorCode(id), 216);
}

TEST_F(Commands, StatusIsReplyByteTwoAlone) {
    std::int32_t s = 0;
    nextReply({0x04, 0x3E, 0x0B, 0xB6, 0xFF});
    EXPECT_EQ(ZqGetStatus(id, &s), 1);
    EXPECT_EQ(s, 11);
    nextReply(Reply(0x42, {0xFE}));
    EXPECT_EQ(ZqGetConfig(id, &s), 1);
    EXPECT_EQ(s, 254);
}

TEST(CommandModels, CountsOfTheModels) {
    struct Case { int model; int flags, inputs, steppers, servos, analog, prototype; };
    const Case cases[] = {
        {0, 32, 128, 5, 0, 64, 0},   {2, 32, 1024, 16, 16, 255, 8}, {4, 32, 128, 5, 10, 64, 0},
        {5, 128, 1024, 16, 16, 255, 0}, {10, 32, 1024, 16, 16, 255, 0}, {14, 128, 1024, 16, 16, 255, 0},
        {13, 32, 128, 16, 16, 64, 8},
    };
    for (const auto &k : cases) {
        orvemu::Controller emu(k.model);
        const auto id = AddEmulatedConnection(emu);
        ZQ_IO_COUNT io{};
        ASSERT_EQ(ZqGetIoCount(id, &io), 1) << k.model;
        EXPECT_EQ(io.flags, k.flags) << k.model;
        EXPECT_EQ(io.inputs, k.inputs) << k.model;
        EXPECT_EQ(io.outputs, k.inputs) << k.model;
        EXPECT_EQ(io.steppers, k.steppers) << k.model;
        EXPECT_EQ(io.servos, k.servos) << k.model;
        EXPECT_EQ(io.analogInputs, k.analog) << k.model;
        ZQ_MISC_IO_COUNT misc{};
        ASSERT_EQ(ZqGetMiscIoCount(id, &misc), 1);
        EXPECT_EQ(misc.prototype, k.prototype) << k.model;
        std::int32_t model = 0, ea = 0;
        ASSERT_EQ(ZqGetModel(id, &model, &ea), 1);
        EXPECT_EQ(model, k.model);
        RemoveConnection(id);
    }
}

TEST(CommandModels, InputCountsAreSixteenBits) {
    orvemu::Controller emu;
    emu.withMemory([](orvemu::Memory &m) { return m.counts.inputs = 256; });
    const auto id = AddEmulatedConnection(emu);
    ZQ_IO_COUNT io{};
    ASSERT_EQ(ZqGetIoCount(id, &io), 1);
    EXPECT_EQ(io.inputs, 256);
    RemoveConnection(id);
}

TEST(CommandModels, LegacyDataTableRunsDownTheMemoryWindow) {
    orvemu::Controller emu(2);
    const auto id = AddEmulatedConnection(emu);
    ASSERT_EQ(ZqPutDataTableDim(id, 2, 2), 1);
    const std::int32_t cells[3] = {0, 0xB1B2, 0xB3B4};
    ASSERT_EQ(ZqPutDataTableRow(id, 1, 1, 2, cells), 1);
    // Table bytes B1 B2 B3 B4 lie from the base 0x0FF7 downward.
    const auto bytes = emu.withMemory([](orvemu::Memory &m) {
        return Bytes(m.legacy.begin() + 0x0FF4, m.legacy.begin() + 0x0FFC);
    });
    EXPECT_EQ(bytes, (Bytes{0xB4, 0xB3, 0xB2, 0xB1, 0, 0, 2, 0}));
    // A table that does not fit the window is refused by the controller.
    EXPECT_EQ(ZqPutDataTableDim(id, 100, 100), 0);
    EXPECT_EQ(ErrorCode(id), 216);
    RemoveConnection(id);
}
