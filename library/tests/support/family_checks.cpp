#include "family_checks.h"

namespace orvtest {

void NextReplyShort(orvemu::Controller &emu, std::uint8_t code) {
    orvemu::Fault f;
    f.kind = orvemu::FaultKind::ShortError;
    f.errorCode = code;
    emu.setFault(f);
}

void CheckRegisterFamily(std::int32_t id, orvemu::Controller &emu) {
    emu.withMemory([](orvemu::Memory &m) {
        m.registers[1] = -2;
        m.registers[100] = 0x7FFFFFFF;
        m.registers[5] = static_cast<std::int32_t>(0x80000000u);
        m.registers[13] = 13;
        for (int i = 0; i < 16; ++i) m.registers[17 + i] = -1000 * i;
        for (int i = 0; i < 50; ++i) m.registers[101 + i] = 7 * i - 100;
        return 0;
    });
    std::int32_t v = 0;
    EXPECT_EQ(ZqGetRegister(id, 1, &v), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x05, 0x09, 0x01, 0x00, 0xF5, 0xFF}));
    EXPECT_EQ(v, -2);
    EXPECT_EQ(ZqGetRegister(id, 100, &v), 1);
    EXPECT_EQ(v, 0x7FFFFFFF);
    EXPECT_EQ(ZqGetRegister(id, 5, &v), 1);
    EXPECT_EQ(v, INT32_MIN);

    EXPECT_EQ(ZqPutRegister(id, 100, 1), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x09, 0x0B, 0x64, 0x00, 0x01, 0x00, 0x00, 0x00, 0x8F, 0xFF}));
    EXPECT_EQ(emu.withMemory([](orvemu::Memory &m) { return m.registers[100]; }), 1);
    EXPECT_EQ(ZqPutRegister(id, 6, -7), 1);
    EXPECT_EQ(ZqGetRegister(id, 6, &v), 1);
    EXPECT_EQ(v, -7);

    std::int32_t sixteen[17];
    for (auto &x : sixteen) x = 99;
    EXPECT_EQ(ZqGetRegister16(id, 17, sixteen), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x05, 0x4D, 0x10, 0x00, 0xA2, 0xFF}));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(sixteen[i], -1000 * i) << i;
    EXPECT_EQ(sixteen[16], 99) << "written past the sixteen values";

    std::int32_t fifty[51];
    for (auto &x : fifty) x = 99;
    EXPECT_EQ(ZqGetRegister50(id, 3, fifty), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x4B, 0x02, 0xB2, 0xFF}));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(fifty[i], 7 * i - 100) << i;
    EXPECT_EQ(fifty[50], 99);

    const std::int32_t list[2] = {5, 13008};
    std::int32_t two[3] = {0, 0, 99};
    EXPECT_EQ(ZqGetNRegisters(id, 2, list, two), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x08, 0x57, 0x02, 0x05, 0x00, 0xD0, 0x32, 0x9F, 0xFF}));
    EXPECT_EQ(two[0], INT32_MIN);
    EXPECT_EQ(two[1], 5) << "model code";
    EXPECT_EQ(two[2], 99);
    EXPECT_EQ(ZqGetNRegisters(id, 0, nullptr, two), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x57, 0x00, 0xA8, 0xFF}));

    // The last block: registers 12751..12800.
    EXPECT_EQ(ZqGetRegister50(id, 256, fifty), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x4B, 0xFF, 0xB5, 0xFF}));
    // Registers above 40000 do not exist.
    std::int32_t code = 0;
    EXPECT_EQ(ZqPutRegister(id, 40001, 1), 0);
    EXPECT_EQ(ErrorCode(id), 216);

    // A bare acknowledgement to a read: the outputs unwritten.
    v = 1234;
    ExpectAcknowledgedRead(id, emu, [&] { return ZqGetRegister(id, 1, &v); });
    EXPECT_EQ(v, 1234);
    for (auto &x : sixteen) x = 99;
    ExpectAcknowledgedRead(id, emu, [&] { return ZqGetRegister16(id, 1, sixteen); });
    EXPECT_EQ(sixteen[0], 99);

    // A short error reply's code and text.
    NextReplyShort(emu, 0x68);
    EXPECT_EQ(ZqGetRegister(id, 1, &v), 0);
    EXPECT_EQ(ErrorText(id, &code), "Resource value out of range.");
    EXPECT_EQ(code, 216);
    NextReplyShort(emu, 0x65);
    EXPECT_EQ(ZqPutRegister(id, 1, 1), 0);
    EXPECT_EQ(ErrorText(id, &code), "Checksum error, or end of packet <> FFH.");
    EXPECT_EQ(code, 215);

    // More than 50 registers, or a negative count, is refused before anything.
    std::int32_t many[51] = {};
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetNRegisters(id, 51, many, many); }, "51 registers");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetNRegisters(id, -1, many, many); }, "-1 registers");
}

void CheckIoFamily(std::int32_t id, orvemu::Controller &emu) {
    std::int32_t v = -5;
    // Flags: the command and the register map show the same flag.
    EXPECT_EQ(ZqPutFlag(id, 1, 1), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x05, 0x13, 0x00, 0xFF, 0xED, 0xFF}));
    EXPECT_EQ(ZqGetFlag(id, 1, &v), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x11, 0x00, 0xEE, 0xFF}));
    EXPECT_EQ(v, 1);
    EXPECT_EQ(ZqPutFlag(id, 5, 2), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x05, 0x13, 0x04, 0xFF, 0xE9, 0xFF}));
    EXPECT_EQ(ZqPutFlag(id, 6, -1), 1);
    EXPECT_EQ(emu.lastRequest()[4], 0xFF);
    EXPECT_EQ(ZqGetRegister(id, 13005, &v), 1);
    EXPECT_EQ(v, 0x31);
    EXPECT_EQ(ZqPutFlag(id, 1, 0), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x05, 0x13, 0x00, 0x00, 0xEC, 0xFF}));
    EXPECT_EQ(ZqGetFlag(id, 1, &v), 1);
    EXPECT_EQ(v, 0);
    // Flag 40 written through its register, read through the command and
    // through the second flag word.
    EXPECT_EQ(ZqPutRegister(id, 13240, 1), 1);
    EXPECT_EQ(ZqGetFlag(id, 40, &v), 1);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(ZqGetRegister(id, 13022, &v), 1);
    EXPECT_EQ(v, 0x80);
    // Flag 256 goes out as FF; model 5 has 128 flags and refuses it.
    EXPECT_EQ(ZqGetFlag(id, 256, &v), 0);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x11, 0xFF, 0xEF, 0xFF}));
    std::int32_t code = 0;
    EXPECT_EQ(ErrorText(id, &code), "Resource value out of range.");
    EXPECT_EQ(code, 216);

    emu.withMemory([](orvemu::Memory &m) {
        m.digitalInputs[56] = 1;  // input 57: module 8, bit 0
        m.digitalInputs[63] = 1;  // input 64: module 8, bit 7
        m.digitalInputs[0] = 1;
        m.digitalInputs[127] = 1;
        m.digitalOutputs[1023] = 1;  // output 1024: group 8, word 3, bit 31
        m.digitalOutputs[896] = 1;   // output 897: group 8, word 0, bit 0
        m.analogInputs[255] = 0xFFFF;
        m.analogInputs[224] = 0x8001;  // channel 225: group 8, value 0
        m.servoPosition[15] = -123456;
        m.servoError[0] = 77;
        m.servoInputs[1] = 0x36;
        return 0;
    });
    EXPECT_EQ(ZqGetDigitalInput8(id, 8, &v), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x0F, 0x07, 0xE9, 0xFF}));
    EXPECT_EQ(v, 0x81);
    std::int32_t words[4] = {};
    EXPECT_EQ(ZqGetDigitalInput128(id, 1, words), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x4F, 0x00, 0xB0, 0xFF}));
    EXPECT_EQ(words[0], 1);
    EXPECT_EQ(words[1], static_cast<std::int32_t>(0x81000000u));
    EXPECT_EQ(words[3], INT32_MIN);
    EXPECT_EQ(ZqGetDigitalOutput128(id, 8, words), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x51, 0x07, 0xA7, 0xFF}));
    EXPECT_EQ(words[0], 1);
    EXPECT_EQ(words[1], 0);
    EXPECT_EQ(words[3], INT32_MIN);
    // Outputs written through their registers show in the module read.
    EXPECT_EQ(ZqPutRegister(id, 1001, 1), 1);
    EXPECT_EQ(ZqPutRegister(id, 1003, 5), 1);
    EXPECT_EQ(ZqGetDigitalOutput8(id, 1, &v), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x15, 0x00, 0xEA, 0xFF}));
    EXPECT_EQ(v, 0x05);
    EXPECT_EQ(ZqGetRegister(id, 1003, &v), 1);
    EXPECT_EQ(v, 1);

    EXPECT_EQ(ZqGetAnalogInput(id, 256, &v), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x1D, 0xFF, 0xE3, 0xFF}));
    EXPECT_EQ(v, 65535) << "analog values are unsigned";
    EXPECT_EQ(ZqPutAnalogOutput(id, 1, 4464), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x06, 0x21, 0x00, 0x70, 0x11, 0x5D, 0xFF}));
    EXPECT_EQ(ZqGetAnalogOutput(id, 1, &v), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x1F, 0x00, 0xE0, 0xFF}));
    EXPECT_EQ(v, 4464);
    EXPECT_EQ(ZqGetRegister(id, 8001, &v), 1);
    EXPECT_EQ(v, 4464);
    std::int32_t channels[33];
    for (auto &x : channels) x = -9;
    EXPECT_EQ(ZqGetAnalogInput32(id, 8, channels), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x47, 0x07, 0xB1, 0xFF}));
    EXPECT_EQ(channels[0], 0x8001);
    EXPECT_EQ(channels[31], 65535);
    EXPECT_EQ(channels[32], -9);
    EXPECT_EQ(ZqGetAnalogOutput32(id, 1, channels), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x49, 0x00, 0xB6, 0xFF}));
    EXPECT_EQ(channels[0], 4464);

    // The one request whose first channel is not reduced by one: 256 is 00.
    const std::int32_t one[1] = {0x1234};
    EXPECT_EQ(ZqPutAnalogOutputN(id, 256, 1, one), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x07, 0x55, 0x00, 0x01, 0x34, 0x12, 0x63, 0xFF}));
    EXPECT_EQ(ZqGetRegister(id, 8256, &v), 1);
    EXPECT_EQ(v, 0x1234);
    std::vector<std::int32_t> values(57);
    for (int i = 0; i < 57; ++i) values[static_cast<std::size_t>(i)] = 1000 + i;
    EXPECT_EQ(ZqPutAnalogOutputN(id, 200, 57, values.data()), 1);
    const auto sent = emu.lastRequest();
    ASSERT_EQ(sent.size(), 2u * 57 + 7);
    EXPECT_EQ(sent[1], 2 * 57 + 5);
    EXPECT_EQ(sent[3], 200);
    EXPECT_EQ(sent[4], 57);
    EXPECT_EQ(ZqGetAnalogOutput(id, 255, &v), 1);
    EXPECT_EQ(v, 1055);

    EXPECT_EQ(ZqGetServoPosition(id, 16, &v), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x17, 0x0F, 0xD9, 0xFF}));
    EXPECT_EQ(v, -123456);
    EXPECT_EQ(ZqGetRegister(id, 14016, &v), 1);
    EXPECT_EQ(v, -123456);
    EXPECT_EQ(ZqGetServoError(id, 1, &v), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x2F, 0x00, 0xD0, 0xFF}));
    EXPECT_EQ(v, 77);
    EXPECT_EQ(ZqGetServoInputs(id, 2, &v), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x1B, 0x01, 0xE3, 0xFF}));
    EXPECT_EQ(v, 0x36);
    EXPECT_EQ(ZqGetRegister(id, 14702, &v), 1);
    EXPECT_EQ(v, 0x36);
    // A position written through its register is what the command reads.
    EXPECT_EQ(ZqPutRegister(id, 14003, -5), 1);
    EXPECT_EQ(ZqGetServoPosition(id, 3, &v), 1);
    EXPECT_EQ(v, -5);

    // A bare acknowledgement leaves the outputs alone.
    v = 4321;
    ExpectAcknowledgedRead(id, emu, [&] { return ZqGetServoPosition(id, 1, &v); });
    EXPECT_EQ(v, 4321);
    for (auto &x : words) x = 4321;
    ExpectAcknowledgedRead(id, emu, [&] { return ZqGetDigitalInput128(id, 1, words); });
    EXPECT_EQ(words[0], 4321);

    // Range checks: nothing sent, error unchanged.
    std::int32_t arr[64] = {};
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetFlag(id, 0, &v); }, "flag 0");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutFlag(id, 257, 1); }, "flag 257");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutFlag(id, -1, 1); }, "flag -1");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetDigitalInput8(id, 9, &v); }, "module 9");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetDigitalOutput8(id, 0, &v); }, "module 0");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetDigitalOutput128(id, 9, arr); }, "group 9");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetAnalogInput(id, 257, &v); }, "channel 257");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutAnalogOutput(id, 0, 1); }, "channel 0");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetAnalogInput32(id, 0, arr); }, "analog group 0");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutAnalogOutputN(id, 200, 58, values.data()); }, "200 + 58");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutAnalogOutputN(id, 1, 0, arr); }, "n 0");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutAnalogOutputN(id, 1, 65, arr); }, "n 65");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutAnalogOutputN(id, 0, 1, arr); }, "first 0");
    // A first channel that would wrap the sum past the check.
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutAnalogOutputN(id, -10, 20, arr); }, "first -10");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetServoPosition(id, 17, &v); }, "axis 17");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetServoError(id, 0, &v); }, "axis 0");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetServoInputs(id, 17, &v); }, "axis 17 inputs");
}

void CheckStatusFamily(std::int32_t id, orvemu::Controller &emu) {
    std::int32_t v = -5;
    // On a serial line the status and configuration reads are the line's
    // checks, which the log leaves out.
    ZQ_CONNECTION_INFO info{};
    ZqGetConnectionInfo(id, &info);
    const bool checked = info.type == ZQ_TYPE_SERIAL;
    EXPECT_EQ(ZqGetStatus(id, &v), 1);
    if (!checked) EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x03, 0x3D, 0xC2, 0xFF}));
    EXPECT_EQ(v, 9) << "a fresh controller is stopped after a reset";
    // Start, as the monitor does it: the status read with bit 3 cleared.
    EXPECT_EQ(ZqPutStatus(id, 1), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x3F, 0x01, 0xBF, 0xFF}));
    EXPECT_EQ(ZqGetStatus(id, &v), 1);
    EXPECT_EQ(v, 0) << "running";
    EXPECT_EQ(ZqPutStatus(id, 0), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x3F, 0x00, 0xC0, 0xFF}));
    EXPECT_EQ(ZqPutStatus(id, 9), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x3F, 0x09, 0xB7, 0xFF}));
    EXPECT_EQ(emu.withMemory([](orvemu::Memory &m) { return m.statusWrites; }), (Bytes{1, 0, 9}));

    EXPECT_EQ(ZqPutConfig(id, 0), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x43, 0x00, 0xBC, 0xFF}));
    EXPECT_EQ(ZqPutConfig(id, 5), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x43, 0x05, 0xB7, 0xFF}));
    EXPECT_EQ(emu.withMemory([](orvemu::Memory &m) { return m.config; }), 5);
    EXPECT_EQ(ZqGetConfig(id, &v), 1);
    if (!checked) EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x03, 0x41, 0xBE, 0xFF}));
    EXPECT_EQ(v, 5);

    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutStatus(id, 256); }, "status 256");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutStatus(id, -1); }, "status -1");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutConfig(id, 256); }, "config 256");
    ZQ_TASK_BANK bank{};
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetTaskBank(id, 0, &bank); }, "bank 0");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetTaskBank(id, -3, &bank); }, "bank -3");

    // Model 5: counts, model code and EA flag.
    ZQ_IO_COUNT io{};
    EXPECT_EQ(ZqGetIoCount(id, &io), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x03, 0x0D, 0xF2, 0xFF}));
    EXPECT_EQ(io.flags, 128);
    EXPECT_EQ(io.inputs, 1024);
    EXPECT_EQ(io.outputs, 1024);
    EXPECT_EQ(io.servos, 16);
    ZQ_MISC_IO_COUNT misc{};
    EXPECT_EQ(ZqGetMiscIoCount(id, &misc), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x03, 0x45, 0xBA, 0xFF}));
    EXPECT_EQ(misc.prototype, 0);
    EXPECT_EQ(misc.hsCounters, 8);
    std::int32_t model = 0, ea = 0;
    EXPECT_EQ(ZqGetModel(id, &model, &ea), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x05, 0x09, 0xD0, 0x32, 0xF4, 0xFF}));
    EXPECT_EQ(model, 5);
    EXPECT_EQ(ea, 1);

    // Task banks in both forms, from the controller's task state.
    emu.withMemory([](orvemu::Memory &m) {
        m.raiseFault(3, 0x1234, -2);
        m.tasks[0].step = 0;
        m.tasks[0].childLow = 0x8000000000000006ull;
        m.tasks[1].step = 41;
        m.tasks[2].step = 0xFFFF;
        m.tasks[7].step = 0xFFFE;
        m.tasks[8].step = 8;
        m.tasks[8].childLow = 0x0000000100000000ull;
        return 0;
    });
    EXPECT_EQ(ZqGetTaskBank(id, 1, &bank), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x23, 0x00, 0xDC, 0xFF}));
    EXPECT_EQ(bank.stopped, 1);
    EXPECT_EQ(bank.faultCode, 3);
    EXPECT_EQ(bank.faultStep, 0x1234);
    EXPECT_EQ(bank.faultData, -2);
    EXPECT_EQ(bank.steps[0], 1);
    EXPECT_EQ(bank.steps[1], 42);
    EXPECT_EQ(bank.steps[2], 0x10000);
    EXPECT_EQ(bank.steps[7], 0xFFFF);
    EXPECT_EQ(bank.childLow[0], 6);
    EXPECT_EQ(bank.childHigh[0], 0) << "the short form has no high words";
    // Banks from 0x41 come in the long form.
    EXPECT_EQ(ZqGetTaskBank(id, 0x41, &bank), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x04, 0x23, 0x40, 0x9C, 0xFF}));
    EXPECT_EQ(bank.childLow[0], 6);
    EXPECT_EQ(bank.childHigh[0], INT32_MIN);
    EXPECT_EQ(bank.steps[1], 42);
    EXPECT_EQ(ZqGetTaskBank(id, 0x42, &bank), 1);
    EXPECT_EQ(bank.steps[0], 9);
    EXPECT_EQ(bank.childLow[0], 0);
    EXPECT_EQ(bank.childHigh[0], 1);
}

void CheckDataTableFamily(std::int32_t id, orvemu::Controller &emu) {
    EXPECT_EQ(ZqPutDataTableDim(id, 10, 4), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x06, 0x33, 0x0A, 0x00, 0x04, 0xBE, 0xFF}));
    std::int32_t rows = 0, columns = 0;
    EXPECT_EQ(ZqGetDataTableDim(id, &rows, &columns), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x03, 0x31, 0xCE, 0xFF}));
    EXPECT_EQ(rows, 10);
    EXPECT_EQ(columns, 4);
    // Rows travel as 16 bits and read back unsigned.
    EXPECT_EQ(ZqPutDataTableDim(id, 0x1234, 255), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x06, 0x33, 0x34, 0x12, 0xFF, 0x87, 0xFF}));
    EXPECT_EQ(ZqPutDataTableDim(id, 40000, 255), 1);
    EXPECT_EQ(ZqGetDataTableDim(id, &rows, &columns), 1);
    EXPECT_EQ(rows, 40000);
    EXPECT_EQ(columns, 255);

    EXPECT_EQ(ZqPutDataTableDim(id, 3, 40), 1);
    EXPECT_EQ(ZqPutDataTableLoc(id, 2, 3, 0x1234), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x08, 0x37, 0x02, 0x00, 0x03, 0x34, 0x12, 0x7D, 0xFF}));
    std::int32_t v = 0;
    EXPECT_EQ(ZqGetDataTableLoc(id, 2, 3, &v), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x06, 0x35, 0x02, 0x00, 0x03, 0xC5, 0xFF}));
    EXPECT_EQ(v, 0x1234);
    EXPECT_EQ(ZqPutDataTableLoc(id, 1, 1, -1), 1);
    EXPECT_EQ(ZqGetDataTableLoc(id, 1, 1, &v), 1);
    EXPECT_EQ(v, 65535) << "cells read unsigned";
    // The cells are program memory: row 2, column 3 of a 40-column table is
    // byte 2 * (40 + 2) of the table, high byte first.
    EXPECT_EQ(emu.withMemory([](orvemu::Memory &m) { return m.tableByte(84) << 8 | m.tableByte(85); }), 0x1234);

    // Writes and reads of a row at the chunk boundaries.
    std::int32_t cells[64];
    for (int c = 0; c < 64; ++c) cells[c] = 100 + c;
    EXPECT_EQ(ZqPutDataTableRow(id, 1, 1, 2, cells), 1);
    EXPECT_EQ(emu.lastRequest()[7], 101);
    const std::int32_t fiveSix[3] = {0, 5, 6};
    EXPECT_EQ(ZqPutDataTableRow(id, 1, 1, 2, fiveSix), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x0B, 0x3B, 0x01, 0x00, 0x01, 0x02, 0x05, 0x00, 0x06, 0x00, 0xB5, 0xFF}));
    emu.clearLog();
    EXPECT_EQ(ZqPutDataTableRow(id, 2, 1, 27, cells), 1);
    ASSERT_EQ(emu.requestCount(), 1u);
    EXPECT_EQ(emu.lastRequest().size(), 63u);
    EXPECT_EQ(emu.lastRequest()[1], 61);
    emu.clearLog();
    EXPECT_EQ(ZqPutDataTableRow(id, 2, 1, 28, cells), 1);
    auto sent = emu.requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0][6], 27);
    EXPECT_EQ(sent[1][5], 28) << "second chunk starts at column 28";
    EXPECT_EQ(sent[1][6], 1);
    EXPECT_EQ(sent[1][7], 128) << "cell of column 28";
    emu.clearLog();
    EXPECT_EQ(ZqPutDataTableRow(id, 3, 1, 40, cells), 1);
    ASSERT_EQ(emu.requestCount(), 2u);
    EXPECT_EQ(emu.requests()[1][6], 13) << "the last chunk";

    std::int32_t back[64];
    for (int n : {27, 28, 29}) {
        for (auto &x : back) x = -1;
        emu.clearLog();
        EXPECT_EQ(ZqGetDataTableRow(id, 3, 2, n, back), 1) << n;
        EXPECT_EQ(back[0], 3);
        EXPECT_EQ(back[1], -1) << "column before the run untouched";
        for (int c = 2; c < 2 + n; ++c) EXPECT_EQ(back[c], 100 + c) << "n " << n << " column " << c;
        EXPECT_EQ(back[2 + n], -1) << "column after the run untouched";
        sent = emu.requests();
        ASSERT_EQ(sent.size(), n <= 28 ? 1u : 2u) << n;
        EXPECT_EQ(sent[0][6], n <= 28 ? n - 1 : 27);
        if (n == 29) {
            EXPECT_EQ(sent[1], (Bytes{0x01, 0x07, 0x39, 0x03, 0x00, 0x1E, 0x00, 0xA5, 0xFF}));
        }
    }
    EXPECT_EQ(ZqGetDataTableRow(id, 1, 1, 3, back), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x07, 0x39, 0x01, 0x00, 0x01, 0x02, 0xC2, 0xFF}));
    emu.clearLog();
    EXPECT_EQ(ZqGetDataTableRow(id, 1, 1, 0, back), 1);
    EXPECT_EQ(ZqPutDataTableRow(id, 1, 1, 0, cells), 1);
    EXPECT_EQ(emu.requestCount(), 0u);

    // A chunk that fails in the middle of a row: the table has 40 columns,
    // so the second chunk of 50 cells is refused. The first stays done.
    for (auto &x : back) x = -1;
    emu.clearLog();
    EXPECT_EQ(ZqGetDataTableRow(id, 3, 1, 50, back), 0);
    EXPECT_EQ(emu.requestCount(), 2u);
    std::int32_t code = 0;
    EXPECT_EQ(ErrorText(id, &code), "Resource value out of range.");
    EXPECT_EQ(code, 216);
    EXPECT_EQ(back[28], 128);
    EXPECT_EQ(back[29], -1);
    std::int32_t zeros[64] = {};
    emu.clearLog();
    EXPECT_EQ(ZqPutDataTableRow(id, 3, 1, 50, zeros), 0);
    EXPECT_EQ(emu.requestCount(), 2u);
    EXPECT_EQ(ZqGetDataTableLoc(id, 3, 27, &v), 1);
    EXPECT_EQ(v, 0) << "first chunk written";
    EXPECT_EQ(ZqGetDataTableLoc(id, 3, 28, &v), 1);
    EXPECT_EQ(v, 128) << "second chunk refused";

    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutDataTableDim(id, 1, 0); }, "0 columns");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutDataTableDim(id, 1, 256); }, "256 columns");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqGetDataTableLoc(id, 1, 0, &v); }, "column 0");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutDataTableLoc(id, 1, 256, 1); }, "column 256");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutDataTableRow(id, 1, 200, 57, cells); }, "200 + 57");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutDataTableRow(id, 1, 0, 1, cells); }, "column 0 row");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqPutDataTableRow(id, 1, 2, -1, cells); }, "count -1");
}
}  // namespace orvtest
