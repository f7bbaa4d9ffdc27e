#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "controller.h"
#include "emulator_transport.h"
#include "errors.h"
#include "orvcomm.h"
#include "vregister_checks.h"

using namespace orvtest;
using Bytes = std::vector<std::uint8_t>;

static_assert(offsetof(ZQ_VREGISTER_BLOCK, values.doubleValues) == 52);
static_assert(offsetof(ZQ_VREGISTER_BLOCK, values.entries) == 52);
static_assert(sizeof(ZQ_VREGISTER[2]) == 552, "records lie 276 bytes apart");

namespace {

constexpr std::int32_t kSerial = ZQ_TYPE_SERIAL, kUdp = ZQ_TYPE_UDP, kTcp = ZQ_TYPE_TCP;

std::int32_t errorCode(std::int32_t id, std::string *text = nullptr) {
    ZQ_ERROR_INFO info{};
    EXPECT_EQ(ZqGetErrorInfo(id, &info), 1);
    if (text) *text = info.text;
    return info.code;
}

void setError(std::int32_t id, std::uint16_t code, const char *text) {
    orv::TableGuard g;
    orv::table::lookup(id, false)->setError(code, text);
}

bool sumsToFF(const Bytes &f) {
    unsigned sum = 0;
    for (std::size_t i = 2; i + 1 < f.size(); ++i) sum += f[i];
    return (sum & 0xFF) == 0xFF;
}

class VRegisters : public ::testing::Test {
protected:
    orvemu::Controller emu;
    std::vector<std::int32_t> ids;
    std::int32_t open(std::int32_t type) {
        ids.push_back(AddEmulatedConnection(emu, type));
        return ids.back();
    }
    ~VRegisters() override {
        for (auto id : ids) RemoveConnection(id);
    }
    // Replaces the reply of request `code` with what `edit` makes of the
    // reply of a plain controller holding the same V-registers.
    template <typename Edit> void editReplies(std::uint8_t code, Edit edit) {
        plain_.push_back(std::make_unique<orvemu::Controller>());
        orvemu::Controller *plain = plain_.back().get();
        emu.setHandler(code, [edit, plain](orvemu::Controller &ctl, const orvemu::Request &r) {
            plain->memory().vregs = ctl.memory().vregs;
            Bytes reply = plain->handle(r.frame).bytes;
            edit(reply);
            return reply;
        });
    }
    std::vector<std::unique_ptr<orvemu::Controller>> plain_;
};

}  // namespace

TEST_F(VRegisters, RoundTripsOnEveryTransportType) {
    for (auto type : {kSerial, kUdp, kTcp}) {
        SCOPED_TRACE(type);
        const auto id = open(type);
        CheckVRegisterRoundTrips(id);
        CheckVRegisterFullBlocks(id);
        CheckVRegisterFullRandom(id);
    }
}

TEST_F(VRegisters, SingleWriteRequestOfEachType) {
    const auto id = open(kSerial);
    auto check = [&](const ZQ_VREGISTER &w, const Bytes &value) {
        ASSERT_EQ(ZqSetVRegister(id, &w), 1);
        const Bytes f = emu.lastRequest();
        ASSERT_EQ(f.size(), 251u);
        EXPECT_EQ(Bytes(f.begin(), f.begin() + 5), (Bytes{0x01, 0xF9, 0x5F, 0x35, 0x8D}));  // 36149
        // Header: type, A, B, C, zero, D, string length 0, E, F.
        const Bytes header(f.begin() + 5, f.begin() + 25);
        Bytes expected{static_cast<std::uint8_t>(w.type), 0, 0, 0, 0x06, 0x22, 0x33, 0x00, 0x34, 0x12, 0x00, 0x00,
                       0x78, 0x56, 0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE};
        EXPECT_EQ(header, expected);
        Bytes area(f.begin() + 25, f.begin() + 249);
        Bytes want(224, 0);
        std::copy(value.begin(), value.end(), want.begin());
        EXPECT_EQ(area, want);
        EXPECT_TRUE(sumsToFF(f));
        EXPECT_EQ(f.back(), 0xFF);
    };
    auto rec = [](std::int32_t type) {
        auto r = VRecord(36149, type);
        r.headerA = 0x106;
        r.headerB = 0x22;
        r.headerC = 0x33;
        r.headerD = 0x51234;
        r.headerE = 0x12345678;
        r.headerF = static_cast<std::int32_t>(0xDEADBEEF);
        r.stringLength = 0;
        return r;
    };
    auto i = rec(ZQ_VTYPE_INTEGER);
    i.intValue = -2;
    i.doubleValue = 99.0;  // not sent
    check(i, {0xFE, 0xFF, 0xFF, 0xFF});
    auto fl = rec(ZQ_VTYPE_FLOAT);
    fl.floatValue = 1.5f;
    check(fl, {0x00, 0x00, 0xC0, 0x3F});
    auto d = rec(ZQ_VTYPE_DOUBLE);
    d.doubleValue = -1.5;
    check(d, {0, 0, 0, 0, 0, 0, 0xF8, 0xBF});
    // A string of 5: its characters at 20-24, a NUL at 25, length field 0.
    auto s = rec(ZQ_VTYPE_STRING);
    std::strcpy(s.text, "HELLO and more");
    s.stringLength = 5;
    check(s, {'H', 'E', 'L', 'L', 'O', 0});
    EXPECT_EQ(emu.withMemory([](orvemu::Memory &m) { return m.vregs.getString(36149); }), "HELLO");
}

TEST_F(VRegisters, SingleRequestsThatCannotBeSentAreRefusedQuietly) {
    const auto id = open(kUdp);
    setError(id, 216, "kept");
    auto w = VRecord(5, ZQ_VTYPE_STRING);
    w.stringLength = 224;
    EXPECT_EQ(ZqSetVRegister(id, &w), 0);
    w.stringLength = -1;
    EXPECT_EQ(ZqSetVRegister(id, &w), 0);
    w = VRecord(5, ZQ_VTYPE_WORD);
    EXPECT_EQ(ZqSetVRegister(id, &w), 0);
    w = VRecord(5, 3);
    EXPECT_EQ(ZqSetVRegister(id, &w), 0);
    EXPECT_EQ(emu.requestCount(), 0u);
    std::string text;
    EXPECT_EQ(errorCode(id, &text), 216);
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(ZqSetVRegister(9999, &w), 0);
    EXPECT_EQ(ZqGetVRegister(id, nullptr), 0);
}

TEST_F(VRegisters, SingleReadTypesAndStringLengths) {
    const auto id = open(kSerial);
    emu.withMemory([](orvemu::Memory &m) {
        m.vregs.setString(1, std::string(223, 'q'));
        m.vregs.setString(2, std::string(224, 'z'));
        m.vregs.setInt(3, 41);
        m.vregs.at(3).type = ZQ_VTYPE_WORD;
        m.vregs.setFloat(4, 2.25f);
        return 0;
    });
    // The read request: the header, a zero value area and a zero length field.
    auto r = VRecord(1, ZQ_VTYPE_DOUBLE);
    r.stringLength = 50;
    r.doubleValue = 7.0;
    ASSERT_EQ(ZqGetVRegister(id, &r), 1);
    const Bytes f = emu.lastRequest();
    ASSERT_EQ(f.size(), 251u);
    EXPECT_EQ(f[2], 0x5D);
    EXPECT_EQ(f[5], 16);
    EXPECT_EQ(f[9], 6);
    EXPECT_EQ(Bytes(f.begin() + 15, f.begin() + 249), Bytes(234, 0));
    EXPECT_EQ(r.type, ZQ_VTYPE_STRING);
    EXPECT_EQ(r.stringLength, 223);
    EXPECT_EQ(std::string(r.text), std::string(223, 'q'));
    EXPECT_EQ(double{r.doubleValue}, 7.0);  // nothing else is written

    // 224 characters: refused after type and length were written.
    r = VRecord(2, ZQ_VTYPE_STRING);
    r.text[0] = 'k';
    EXPECT_EQ(ZqGetVRegister(id, &r), 0);
    EXPECT_EQ(r.type, ZQ_VTYPE_STRING);
    EXPECT_EQ(r.stringLength, 224);
    EXPECT_EQ(r.text[0], 'k');

    // Type 2: the single read refuses it, the array read stores an integer.
    r = VRecord(3, ZQ_VTYPE_INTEGER);
    EXPECT_EQ(ZqGetVRegister(id, &r), 0);
    EXPECT_EQ(r.type, ZQ_VTYPE_WORD);
    EXPECT_EQ(r.intValue, 0);
    ZQ_VREGISTER rs[2] = {VRecord(3, ZQ_VTYPE_INTEGER), VRecord(4, ZQ_VTYPE_FLOAT)};
    std::int32_t done = 0;
    EXPECT_EQ(ZqGetVRegisters(id, 2, &done, rs), 1);
    EXPECT_EQ(done, 2);
    EXPECT_EQ(rs[0].intValue, 41);
    EXPECT_EQ(rs[1].floatValue, 2.25f);
}

TEST_F(VRegisters, ArraysStopAtTheFirstFailure) {
    const auto id = open(kTcp);
    emu.withMemory([](orvemu::Memory &m) { m.vregs.last = 10; return 0; });
    ZQ_VREGISTER w[3] = {VRecord(9, ZQ_VTYPE_INTEGER), VRecord(11, ZQ_VTYPE_INTEGER), VRecord(10, ZQ_VTYPE_INTEGER)};
    w[0].intValue = 1;
    w[2].intValue = 3;
    std::int32_t done = -1;
    EXPECT_EQ(ZqSetVRegisters(id, 3, &done, w), 0);
    EXPECT_EQ(done, 1);
    std::string text;
    EXPECT_EQ(errorCode(id, &text), 216);
    EXPECT_EQ(text, "Illegal register number specified.");
    EXPECT_EQ(emu.requestCount(), 2u);
    EXPECT_EQ(emu.withMemory([](orvemu::Memory &m) { return m.vregs.entries.count(10); }), 0u);

    // An unknown type ends the array write before its request.
    w[1] = VRecord(10, 7);
    done = -1;
    EXPECT_EQ(ZqSetVRegisters(id, 3, &done, w), 0);
    EXPECT_EQ(done, 1);

    // Reads: the records after the failure stay as they were.
    ZQ_VREGISTER r[3] = {VRecord(9, ZQ_VTYPE_INTEGER), VRecord(11, ZQ_VTYPE_INTEGER), VRecord(10, ZQ_VTYPE_INTEGER)};
    r[2].intValue = 55;
    done = -1;
    EXPECT_EQ(ZqGetVRegisters(id, 3, &done, r), 0);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(r[0].intValue, 1);
    EXPECT_EQ(r[2].intValue, 55);

    // Nothing to do: nothing sent, done untouched.
    emu.clearLog();
    done = -1;
    EXPECT_EQ(ZqGetVRegisters(id, 0, &done, r), 1);
    EXPECT_EQ(ZqSetVRegisters(id, 0, &done, nullptr), 1);
    EXPECT_EQ(done, -1);
    EXPECT_EQ(emu.requestCount(), 0u);
}

TEST_F(VRegisters, BlockRequestsBySerialAndNetworkForm) {
    const auto serial = open(kSerial);
    const auto udp = open(kUdp);
    auto b = VBlock(0x1234, ZQ_VTYPE_DOUBLE, 25);
    b.headerA = 1;
    b.headerD = 0x0BCD;
    b.countReturned = 99;  // never sent
    b.headerG = 7;
    b.headerI = -1;
    for (int i = 0; i < 25; ++i) b.values.doubleValues[i] = i + 0.5;
    ASSERT_EQ(ZqSetVRegisterBlockDouble(serial, &b), 1);
    Bytes f = emu.lastRequest();
    ASSERT_EQ(f.size(), 251u);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 5), (Bytes{0x01, 0xF9, 0x6F, 0x34, 0x12}));
    const Bytes header{16, 0, 0, 0, 1, 0, 0, 0, 0xCD, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                       25, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(Bytes(f.begin() + 5, f.begin() + 41), header);
    double v;
    std::memcpy(&v, &f[41 + 8 * 24], 8);
    EXPECT_EQ(v, 24.5);
    EXPECT_TRUE(sumsToFF(f));

    // The network block: 1427 bytes with L = 5.
    auto r = VBlock(0x1234, ZQ_VTYPE_DOUBLE, 3);
    ASSERT_EQ(ZqGetVRegisterBlock(udp, &r), 1);
    f = emu.lastRequest();
    ASSERT_EQ(f.size(), 1427u);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 3), (Bytes{0x01, 0x05, 0x6D}));
    EXPECT_TRUE(sumsToFF(f));
    EXPECT_EQ(r.countReturned, 3);
    EXPECT_EQ(double{r.values.doubleValues[2]}, 2.5);
}

TEST_F(VRegisters, CountsBeyondOneBlockAreRefusedUnsent) {
    const auto serial = open(kSerial);
    const auto udp = open(kUdp);
    auto refused = [&](std::int32_t id, auto call) {
        setError(id, 206, "earlier text");
        emu.clearLog();
        EXPECT_EQ(call(), 0);
        std::string text;
        EXPECT_EQ(errorCode(id, &text), 194);
        EXPECT_EQ(text, "earlier text");
        EXPECT_EQ(emu.requestCount(), 0u);
    };
    auto b = VBlock(1, ZQ_VTYPE_DOUBLE, 26);
    refused(serial, [&] { return ZqSetVRegisterBlockDouble(serial, &b); });
    refused(serial, [&] { return ZqGetVRegisterBlock(serial, &b); });
    b.countRequested = 25;
    b.type = ZQ_VTYPE_INTEGER;  // the Double forms count doubles whatever the record says
    EXPECT_EQ(ZqSetVRegisterBlockDouble(serial, &b), 1);
    EXPECT_EQ(emu.lastRequest().size(), 251u);
    b.countRequested = 51;
    refused(serial, [&] { return ZqSetVRegisterBlockInteger(serial, &b); });
    b.countRequested = 347;
    refused(udp, [&] { return ZqGetVRegisterBlockInteger(udp, &b); });
    b.countRequested = 174;
    refused(udp, [&] { return ZqSetVRegisterBlockDouble(udp, &b); });
    b.countRequested = -1;
    refused(udp, [&] { return ZqSetVRegisterBlock(udp, &b); });

    // Random reads: only the entries that fit one request, 17 on serial.
    auto r = VBlock(0, ZQ_VTYPE_INTEGER, 18);
    refused(serial, [&] { return ZqGetVRegisterRandomBlock(serial, &r); });
    ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE d;
    std::memset(&d, 0, sizeof d);
    d.countRequested = 18;
    refused(serial, [&] { return ZqGetVRegisterRandomBlockDouble(serial, &d); });
    d.countRequested = 116;
    refused(udp, [&] { return ZqGetVRegisterRandomBlockDouble(udp, &d); });
    r.countRequested = 17;
    for (int i = 0; i < 17; ++i) r.values.entries[i][0] = 100 + i;
    EXPECT_EQ(ZqGetVRegisterRandomBlock(serial, &r), 1);
    EXPECT_EQ(r.countReturned, 17);
}

TEST_F(VRegisters, ShortBlockRepliesFailAndWriteNothing) {
    const auto udp = open(kUdp);
    const auto tcp = open(kTcp);
    const auto serial = open(kSerial);
    emu.withMemory([](orvemu::Memory &m) {
        for (int i = 0; i < 200; ++i) m.vregs.setInt(static_cast<std::uint16_t>(10 + i), i);
        return 0;
    });
    // What a TCP receive of the first 256 bytes would hand over.
    editReplies(0x6D, [](Bytes &r) { r.resize(256); });
    editReplies(0x71, [](Bytes &r) { r.resize(256); });
    auto expectIncomplete = [&](std::int32_t id) {
        std::string text;
        EXPECT_EQ(errorCode(id, &text), 206);
        EXPECT_EQ(text, "Incomplete packet");
    };
    auto b = VBlock(10, ZQ_VTYPE_INTEGER, 100);
    b.values.intValues[0] = -7;
    EXPECT_EQ(ZqGetVRegisterBlock(tcp, &b), 0);
    expectIncomplete(tcp);
    EXPECT_EQ(b.countReturned, 0);
    EXPECT_EQ(b.values.intValues[0], -7);
    // 54 values fit in 256 bytes: 4 + 36 + 216.
    b.countRequested = 54;
    EXPECT_EQ(ZqGetVRegisterBlockInteger(tcp, &b), 1);
    EXPECT_EQ(b.values.intValues[53], 53);

    auto r = VBlock(0, ZQ_VTYPE_INTEGER, 60);
    for (int i = 0; i < 60; ++i) r.values.entries[i][0] = 10 + i;
    EXPECT_EQ(ZqGetVRegisterRandomBlock(udp, &r), 0);
    expectIncomplete(udp);
    EXPECT_EQ(r.values.entries[1][0], 11);
    ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE d;
    std::memset(&d, 0, sizeof d);
    d.countRequested = 28;  // 4 + 36 + 224 bytes
    for (int i = 0; i < 28; ++i) d.entries[i][0] = 10 + i;
    d.values[0] = 3.0;
    EXPECT_EQ(ZqGetVRegisterRandomBlockDouble(udp, &d), 0);
    EXPECT_EQ(double{d.values[0]}, 3.0);
    d.countRequested = 27;
    EXPECT_EQ(ZqGetVRegisterRandomBlockDouble(udp, &d), 1);

    // On a serial line the reply's L bounds it: checksum and end byte are no data.
    emu.setHandler(0x6D, [](orvemu::Controller &, const orvemu::Request &) {
        Bytes data(2 + 36 + 12, 0);
        data[2] = 1;      // type 1
        data[2 + 10] = 4; // four values announced, three sent
        return orvemu::replyFrame(0x6E, data);
    });
    b = VBlock(10, ZQ_VTYPE_INTEGER, 4);
    EXPECT_EQ(ZqGetVRegisterBlock(serial, &b), 0);
    expectIncomplete(serial);
    EXPECT_EQ(b.countReturned, 0);
}

TEST_F(VRegisters, RawEthernetBlockRepliesInTheLongForm) {
    const auto raw = open(ZQ_TYPE_RAW_ETHERNET);
    const auto udp = open(kUdp);
    // What the controller sends on raw Ethernet: FF, n, the code at byte 3,
    // the block from byte 4, checksum, FF.
    std::function<void(Bytes &)> edit = [](Bytes &) {};
    for (std::uint8_t code : {0x6D, 0x71})
        editReplies(code, [&edit](Bytes &r) {
            r = orvemu::rawEthernetReply(r);
            edit(r);
        });
    CheckVRegisterFullBlocks(raw);
    CheckVRegisterFullRandom(raw);

    // The values must lie before the checksum that n places: 100 integers
    // end at byte 440, so n = 438 is the least that carries them.
    emu.withMemory([](orvemu::Memory &m) {
        for (int i = 0; i < 100; ++i) m.vregs.setInt(static_cast<std::uint16_t>(10 + i), 5 * i);
        return 0;
    });
    auto setLength = [](Bytes &r, std::uint16_t n) {
        r[1] = static_cast<std::uint8_t>(n);
        r[2] = static_cast<std::uint8_t>(n >> 8);
    };
    edit = [&](Bytes &r) { setLength(r, 437); };
    auto b = VBlock(10, ZQ_VTYPE_INTEGER, 100);
    b.values.intValues[0] = -7;
    EXPECT_EQ(ZqGetVRegisterBlock(raw, &b), 0);
    std::string text;
    EXPECT_EQ(errorCode(raw, &text), 206);
    EXPECT_EQ(text, "Incomplete packet");
    EXPECT_EQ(b.countReturned, 0);
    EXPECT_EQ(b.values.intValues[0], -7);
    edit = [&](Bytes &r) { setLength(r, 438); };
    EXPECT_EQ(ZqGetVRegisterBlock(raw, &b), 1);
    EXPECT_EQ(b.values.intValues[99], 495);

    // Another code at byte 3 goes to the short reply decoder; the random
    // double read fails without touching the error.
    edit = [](Bytes &r) { r[3] = 0x6F; };
    EXPECT_EQ(ZqGetVRegisterBlockInteger(raw, &b), 0);
    EXPECT_EQ(errorCode(raw, &text), 205);
    EXPECT_EQ(text, "Not a valid binary protocol response.");
    setError(raw, 215, "stays");
    ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE d;
    std::memset(&d, 0, sizeof d);
    d.countRequested = 2;
    d.entries[0][0] = d.entries[1][0] = 10;
    EXPECT_EQ(ZqGetVRegisterRandomBlockDouble(raw, &d), 0);
    EXPECT_EQ(errorCode(raw, &text), 215);
    EXPECT_EQ(text, "stays");

    // The long form is raw Ethernet's only: on UDP its byte 1 is no code.
    edit = [](Bytes &) {};
    EXPECT_EQ(ZqGetVRegisterBlock(udp, &b), 0);
    EXPECT_EQ(errorCode(udp), 205);
}

TEST_F(VRegisters, ReturnedCountsAndTypesOutsideTheBlock) {
    const auto serial = open(kSerial);
    const auto udp = open(kUdp);
    std::uint16_t count = 0;
    std::uint8_t type = 1;
    emu.setHandler(0x6D, [&](orvemu::Controller &, const orvemu::Request &req) {
        const std::size_t size = req.args.size() - 2;
        Bytes block(size, 0);
        block[0] = type;
        block[10] = static_cast<std::uint8_t>(count);
        block[11] = static_cast<std::uint8_t>(count >> 8);
        Bytes data{0, 0};
        data.insert(data.end(), block.begin(), block.end());
        return orvemu::replyFrame(0x6E, data);  // its L is wrong on the network; nobody reads it there
    });
    std::string text;
    auto b = VBlock(1, ZQ_VTYPE_INTEGER, 50);
    count = 53;  // 212 bytes: more than the serial value area
    EXPECT_EQ(ZqGetVRegisterBlock(serial, &b), 0);
    EXPECT_EQ(errorCode(serial, &text), 206);
    EXPECT_EQ(text, "Illegal packet size");
    EXPECT_EQ(b.countReturned, 0);
    count = 347;
    EXPECT_EQ(ZqGetVRegisterBlock(udp, &b), 0);
    EXPECT_EQ(errorCode(udp), 206);
    count = 346;
    EXPECT_EQ(ZqGetVRegisterBlock(udp, &b), 1);
    EXPECT_EQ(b.countReturned, 346);

    // A type the read does not take: type and count are written, result 0, error untouched.
    setError(udp, 216, "untouched");
    count = 2;
    for (auto [t, call] : std::initializer_list<std::pair<std::uint8_t, std::int32_t (*)(std::int32_t, ZQ_VREGISTER_BLOCK *)>>{
             {4, ZqGetVRegisterBlock}, {8, ZqGetVRegisterBlockInteger}, {2, ZqGetVRegisterBlockFloat},
             {1, ZqGetVRegisterBlockDouble}}) {
        type = t;
        b = VBlock(1, ZQ_VTYPE_INTEGER, 2);
        EXPECT_EQ(call(udp, &b), 0) << int(t);
        EXPECT_EQ(b.type, t);
        EXPECT_EQ(b.countReturned, 2);
    }
    EXPECT_EQ(errorCode(udp, &text), 216);
    EXPECT_EQ(text, "untouched");
    type = 2;
    EXPECT_EQ(ZqGetVRegisterBlockInteger(udp, &b), 1);
}

TEST_F(VRegisters, OtherRepliesGoThroughTheShortReplyDecoder) {
    const auto id = open(kUdp);
    // A bare acknowledgement to a read: 1, nothing written, error cleared.
    setError(id, 206, "old");
    emu.setFault({orvemu::FaultKind::ShortError, 1, 0, orvemu::kAck});
    auto r = VRecord(1, ZQ_VTYPE_DOUBLE);
    r.doubleValue = 4.0;
    EXPECT_EQ(ZqGetVRegister(id, &r), 1);
    EXPECT_EQ(double{r.doubleValue}, 4.0);
    EXPECT_EQ(errorCode(id), 0);
    // A refusal of a block read.
    emu.setFault({orvemu::FaultKind::ShortError, 1, 0, orvemu::kOutOfRange});
    auto b = VBlock(1, ZQ_VTYPE_DOUBLE, 1);
    EXPECT_EQ(ZqGetVRegisterBlock(id, &b), 0);
    std::string text;
    EXPECT_EQ(errorCode(id, &text), 216);
    EXPECT_EQ(text, "Resource value out of range.");
    // The random double read fails on another code without touching the error.
    setError(id, 215, "stays");
    emu.setFault({orvemu::FaultKind::ShortError, 1, 0, orvemu::kIllegalRegister});
    ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE d;
    std::memset(&d, 0, sizeof d);
    d.countRequested = 1;
    EXPECT_EQ(ZqGetVRegisterRandomBlockDouble(id, &d), 0);
    EXPECT_EQ(errorCode(id, &text), 215);
    EXPECT_EQ(text, "stays");
    // A write refused.
    emu.setFault({orvemu::FaultKind::ShortError, 1, 0, orvemu::kIllegalRegister});
    EXPECT_EQ(ZqSetVRegisterBlockInteger(id, &b), 0);
    EXPECT_EQ(errorCode(id), 216);
    // A single read whose L is not 249.
    emu.setFault({orvemu::FaultKind::WrongLength});
    EXPECT_EQ(ZqGetVRegister(id, &r), 0);
    EXPECT_EQ(errorCode(id, &text), 205);
}

TEST_F(VRegisters, Properties) {
    const auto id = open(kSerial);
    emu.withMemory([](orvemu::Memory &m) {
        auto &v = m.vregs.at(300);
        v.property1 = 0xFFFE;
        v.property2 = 0x1234;
        v.property3 = 0x99;
        return 0;
    });
    std::int32_t p1 = 0, p2 = 0, p3 = 0;
    ASSERT_EQ(ZqGetVProperties(id, 300, &p1, &p2, &p3), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x05, 0x5B, 0x2C, 0x01, 0x77, 0xFF}));
    EXPECT_EQ(p1, 0xFFFE);
    EXPECT_EQ(p2, 0x1234);
    EXPECT_EQ(p3, 0x99);
    emu.withMemory([](orvemu::Memory &m) { m.vregs.last = 299; return 0; });
    p1 = -5;
    EXPECT_EQ(ZqGetVProperties(id, 300, &p1, &p2, &p3), 0);
    EXPECT_EQ(p1, -5);
    EXPECT_EQ(errorCode(id), 216);
}
