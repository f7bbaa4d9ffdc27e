#include "vregister_checks.h"

namespace orvtest {

std::int32_t ConnectionType(std::int32_t id) {
    ZQ_CONNECTION_INFO info{};
    EXPECT_EQ(ZqGetConnectionInfo(id, &info), 1);
    return info.type;
}

ZQ_VREGISTER VRecord(std::int32_t number, std::int32_t type) {
    ZQ_VREGISTER r;
    std::memset(&r, 0, sizeof r);
    r.number = number;
    r.type = type;
    r.headerA = 6;
    return r;
}

ZQ_VREGISTER_BLOCK VBlock(std::int32_t first, std::int32_t type, std::int32_t count) {
    ZQ_VREGISTER_BLOCK b;
    std::memset(&b, 0, sizeof b);
    b.firstNumber = first;
    b.type = type;
    b.countRequested = count;
    return b;
}

std::uint64_t Bits(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, 8);
    return u;
}

std::uint32_t Bits(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

std::vector<double> AwkwardDoubles() {
    return {0.0,
            -0.0,
            1.0 / 3.0,
            -2.5e-308,
            std::numeric_limits<double>::denorm_min(),
            std::numeric_limits<double>::max(),
            -std::numeric_limits<double>::infinity(),
            3.141592653589793,
            123456789.123456789};
}

void CheckVRegisterRoundTrips(std::int32_t id, std::int32_t base) {
    // One V-register of each type.
    const auto doubles = AwkwardDoubles();
    for (std::size_t i = 0; i < doubles.size(); ++i) {
        auto w = VRecord(base + static_cast<std::int32_t>(i), ZQ_VTYPE_DOUBLE);
        w.doubleValue = doubles[i];
        ASSERT_EQ(ZqSetVRegister(id, &w), 1) << i;
        auto r = VRecord(base + static_cast<std::int32_t>(i), ZQ_VTYPE_DOUBLE);
        ASSERT_EQ(ZqGetVRegister(id, &r), 1) << i;
        EXPECT_EQ(r.type, ZQ_VTYPE_DOUBLE);
        EXPECT_EQ(Bits(r.doubleValue), Bits(doubles[i])) << i;
    }
    {
        auto w = VRecord(base + 20, ZQ_VTYPE_INTEGER);
        w.intValue = -2147483647 - 1;
        ASSERT_EQ(ZqSetVRegister(id, &w), 1);
        auto r = VRecord(base + 20, ZQ_VTYPE_INTEGER);
        ASSERT_EQ(ZqGetVRegister(id, &r), 1);
        EXPECT_EQ(r.intValue, w.intValue);

        w = VRecord(base + 21, ZQ_VTYPE_FLOAT);
        w.floatValue = -1.17549435e-38f;
        ASSERT_EQ(ZqSetVRegister(id, &w), 1);
        r = VRecord(base + 21, ZQ_VTYPE_FLOAT);
        ASSERT_EQ(ZqGetVRegister(id, &r), 1);
        EXPECT_EQ(Bits(r.floatValue), Bits(w.floatValue));
    }
    // Strings: empty, with bytes above 127, and the longest (223).
    const std::string texts[] = {"", "caf\xc3\xa9 \x7f\x80\xff!", std::string(223, 'x') + ""};
    for (std::size_t i = 0; i < 3; ++i) {
        auto w = VRecord(base + 22 + static_cast<std::int32_t>(i), ZQ_VTYPE_STRING);
        std::memcpy(w.text, texts[i].data(), texts[i].size());
        w.stringLength = static_cast<std::int32_t>(texts[i].size());
        ASSERT_EQ(ZqSetVRegister(id, &w), 1) << i;
        auto r = VRecord(base + 22 + static_cast<std::int32_t>(i), ZQ_VTYPE_STRING);
        std::memset(r.text, '#', sizeof r.text);
        ASSERT_EQ(ZqGetVRegister(id, &r), 1) << i;
        EXPECT_EQ(r.stringLength, static_cast<std::int32_t>(texts[i].size()));
        EXPECT_EQ(std::string(r.text), texts[i]);
    }

    // Arrays: three records of three types, one request each.
    {
        ZQ_VREGISTER w[3] = {VRecord(base + 30, ZQ_VTYPE_INTEGER), VRecord(base + 31, ZQ_VTYPE_DOUBLE),
                             VRecord(base + 32, ZQ_VTYPE_STRING)};
        w[0].intValue = 77;
        w[1].doubleValue = -0.1;
        std::strcpy(w[2].text, "abc");
        w[2].stringLength = 3;
        std::int32_t done = -1;
        ASSERT_EQ(ZqSetVRegisters(id, 3, &done, w), 1);
        EXPECT_EQ(done, 3);
        ZQ_VREGISTER r[3] = {VRecord(base + 30, ZQ_VTYPE_INTEGER), VRecord(base + 31, ZQ_VTYPE_DOUBLE),
                             VRecord(base + 32, ZQ_VTYPE_STRING)};
        done = -1;
        ASSERT_EQ(ZqGetVRegisters(id, 3, &done, r), 1);
        EXPECT_EQ(done, 3);
        EXPECT_EQ(r[0].intValue, 77);
        EXPECT_EQ(Bits(r[1].doubleValue), Bits(-0.1));
        EXPECT_STREQ(r[2].text, "abc");
    }

    // Blocks of 20 doubles, integers and floats.
    {
        auto w = VBlock(base + 40, ZQ_VTYPE_DOUBLE, 20);
        for (int i = 0; i < 20; ++i) w.values.doubleValues[i] = doubles[static_cast<std::size_t>(i) % doubles.size()] + i;
        ASSERT_EQ(ZqSetVRegisterBlockDouble(id, &w), 1);
        auto r = VBlock(base + 40, ZQ_VTYPE_DOUBLE, 20);
        ASSERT_EQ(ZqGetVRegisterBlockDouble(id, &r), 1);
        EXPECT_EQ(r.type, ZQ_VTYPE_DOUBLE);
        EXPECT_EQ(r.countReturned, 20);
        for (int i = 0; i < 20; ++i) EXPECT_EQ(Bits(r.values.doubleValues[i]), Bits(w.values.doubleValues[i])) << i;

        auto wi = VBlock(base + 60, ZQ_VTYPE_INTEGER, 20);
        for (int i = 0; i < 20; ++i) wi.values.intValues[i] = i * -1000003;
        ASSERT_EQ(ZqSetVRegisterBlockInteger(id, &wi), 1);
        auto ri = VBlock(base + 60, ZQ_VTYPE_INTEGER, 20);
        ASSERT_EQ(ZqGetVRegisterBlockInteger(id, &ri), 1);
        EXPECT_EQ(ri.countReturned, 20);
        for (int i = 0; i < 20; ++i) EXPECT_EQ(ri.values.intValues[i], wi.values.intValues[i]) << i;

        auto wf = VBlock(base + 80, ZQ_VTYPE_FLOAT, 20);
        for (int i = 0; i < 20; ++i) wf.values.floatValues[i] = 1.0f / static_cast<float>(i + 3);
        ASSERT_EQ(ZqSetVRegisterBlockFloat(id, &wf), 1);
        auto rf = VBlock(base + 80, ZQ_VTYPE_FLOAT, 20);
        ASSERT_EQ(ZqGetVRegisterBlock(id, &rf), 1);
        EXPECT_EQ(rf.type, ZQ_VTYPE_FLOAT);
        for (int i = 0; i < 20; ++i) EXPECT_EQ(Bits(rf.values.floatValues[i]), Bits(wf.values.floatValues[i])) << i;
    }

    // Random reads of chosen entries (their first word names the V-register).
    {
        const std::int32_t picks[] = {base + 45, base + 3, base + 59, base + 40, base + 1};
        auto r = VBlock(0, ZQ_VTYPE_DOUBLE, 5);
        for (int i = 0; i < 5; ++i) r.values.entries[i][0] = picks[i];
        ASSERT_EQ(ZqGetVRegisterRandomBlock(id, &r), 1);
        EXPECT_EQ(r.countReturned, 5);
        auto single = [&](std::int32_t n) {
            auto v = VRecord(n, ZQ_VTYPE_DOUBLE);
            EXPECT_EQ(ZqGetVRegister(id, &v), 1);
            return Bits(v.doubleValue);
        };
        for (int i = 0; i < 5; ++i) EXPECT_EQ(Bits(r.values.doubleValues[i]), single(picks[i])) << i;

        ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE d;
        std::memset(&d, 0, sizeof d);
        d.countRequested = 5;
        for (int i = 0; i < 5; ++i) d.entries[i][0] = picks[i];
        ASSERT_EQ(ZqGetVRegisterRandomBlockDouble(id, &d), 1);
        EXPECT_EQ(d.type, ZQ_VTYPE_DOUBLE);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(Bits(d.values[i]), single(picks[i])) << i;
        EXPECT_EQ(d.entries[4][0], picks[4]);  // the entries asked for stay
    }
}

void CheckVRegisterFullBlocks(std::int32_t id, std::int32_t base) {
    const bool serial = ConnectionType(id) == ZQ_TYPE_SERIAL;
    const std::int32_t doubles = serial ? 25 : 173;
    const std::int32_t ints = serial ? 50 : 346;

    auto w = VBlock(base, ZQ_VTYPE_DOUBLE, doubles);
    for (int i = 0; i < doubles; ++i) w.values.doubleValues[i] = std::ldexp(1.0 + i / 1024.0, i - 80);
    ASSERT_EQ(ZqSetVRegisterBlockDouble(id, &w), 1);
    auto r = VBlock(base, ZQ_VTYPE_DOUBLE, doubles);
    ASSERT_EQ(ZqGetVRegisterBlockDouble(id, &r), 1);
    ASSERT_EQ(r.countReturned, doubles);
    for (int i = 0; i < doubles; ++i) EXPECT_EQ(Bits(r.values.doubleValues[i]), Bits(w.values.doubleValues[i])) << i;

    auto wi = VBlock(base + 400, ZQ_VTYPE_INTEGER, ints);
    for (int i = 0; i < ints; ++i) wi.values.intValues[i] = static_cast<std::int32_t>(0x01020304u * static_cast<std::uint32_t>(i + 1));
    ASSERT_EQ(ZqSetVRegisterBlock(id, &wi), 1);
    auto ri = VBlock(base + 400, ZQ_VTYPE_INTEGER, ints);
    ASSERT_EQ(ZqGetVRegisterBlock(id, &ri), 1);
    ASSERT_EQ(ri.countReturned, ints);
    for (int i = 0; i < ints; ++i) EXPECT_EQ(ri.values.intValues[i], wi.values.intValues[i]) << i;
}

void CheckVRegisterFullRandom(std::int32_t id, std::int32_t base) {
    const std::int32_t entries = ConnectionType(id) == ZQ_TYPE_SERIAL ? 17 : 115;
    std::vector<double> written;
    for (std::int32_t i = 0; i < entries; ++i) {
        auto w = VRecord(base + i, ZQ_VTYPE_DOUBLE);
        w.doubleValue = std::ldexp(-1.0 - i / 512.0, 3 * i - 170);
        written.push_back(double{w.doubleValue});
        ASSERT_EQ(ZqSetVRegister(id, &w), 1) << i;
    }
    ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE d;
    std::memset(&d, 0, sizeof d);
    d.countRequested = entries;
    for (std::int32_t i = 0; i < entries; ++i) d.entries[i][0] = base + (i * 7) % entries;
    ASSERT_EQ(ZqGetVRegisterRandomBlockDouble(id, &d), 1);
    for (std::int32_t i = 0; i < entries; ++i)
        EXPECT_EQ(Bits(d.values[i]), Bits(written[static_cast<std::size_t>((i * 7) % entries)])) << i;
}

void CheckVRegisterFamily(std::int32_t id, orvemu::Controller &) { CheckVRegisterRoundTrips(id); }

void CheckVRegisterFullFamily(std::int32_t id, orvemu::Controller &) {
    CheckVRegisterFullBlocks(id);
    CheckVRegisterFullRandom(id);
}
}  // namespace orvtest
