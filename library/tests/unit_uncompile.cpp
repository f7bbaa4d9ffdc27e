#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <map>

#include "connection.h"
#include "objectfile.h"
#include "orvcomm.h"
#include "step_cases.h"
#include "temp_dir.h"
#include "uncompile.h"

using namespace orv;
using namespace orv::test;
using Bytes = std::vector<std::uint8_t>;

namespace {


// An object file built byte by byte.
struct ObjectBytes {
    Bytes bytes;
    ObjectBytes(std::uint16_t magic, std::uint8_t status) : bytes{std::uint8_t(magic & 0xFF), std::uint8_t(magic >> 8), status} {}
    ObjectBytes &record(std::uint8_t type, std::uint16_t address, const Bytes &data) {
        bytes.push_back(static_cast<std::uint8_t>(data.size()));
        bytes.push_back(type);
        bytes.push_back(static_cast<std::uint8_t>(address & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(address >> 8));
        bytes.insert(bytes.end(), data.begin(), data.end());
        return *this;
    }
    // Steps as the upload writes them: their code, then the step length table.
    ObjectBytes &steps(const std::vector<Bytes> &code) {
        std::uint32_t offset = 0;
        Bytes table;
        for (const Bytes &c : code) {
            if (!c.empty()) record(kRecordProgram, static_cast<std::uint16_t>(offset), c);
            offset += static_cast<std::uint32_t>(c.size());
            table.push_back(static_cast<std::uint8_t>(c.size()));
        }
        for (std::size_t at = 0; at < table.size(); at += 16) {
            const std::size_t n = std::min<std::size_t>(16, table.size() - at);
            record(kRecordSteplen, static_cast<std::uint16_t>(at), Bytes(table.begin() + at, table.begin() + at + n));
        }
        return *this;
    }
};

struct Result {
    std::int32_t result = 0;
    ZQ_TRANSFER_STATS stats{};
    std::string steps, table, config;
    bool tableExists = false;
};

class Uncompile : public ::testing::Test {
protected:
    TempDir dir;
    std::string obj = dir.file("prog.obj"), stp = dir.file("prog.stp"), dtb = dir.file("prog.dtb"),
                cfg = dir.file("prog.cfg");

    void SetUp() override {
        // No connection has been looked up: errors go to ID 0.
        TableGuard guard;
        table::lookup(-1, false);
    }

    Result run(const Bytes &object, std::int32_t model = 0) {
        WriteBytes(obj, object);
        Result r;
        r.result = ZqUncompile(model, obj.c_str(), stp.c_str(), dtb.c_str(), cfg.c_str(), &r.stats);
        r.steps = ReadText(stp);
        r.tableExists = Exists(dtb);
        r.table = ReadText(dtb);
        r.config = ReadText(cfg);
        for (const auto &p : {obj, stp, dtb, cfg}) std::remove(p.c_str());
        return r;
    }

    static ZQ_ERROR_INFO libraryErrorInfo() {
        ZQ_ERROR_INFO info{};
        ZqGetErrorInfo(0, &info);
        return info;
    }
};

std::string Heading(int step) { return "\n[" + std::to_string(step) + "] step" + std::to_string(step) + "\n"; }

// Each case as one step behind an unchanged output block; returns the code
// of the steps and the step listing they give.
std::pair<std::vector<Bytes>, std::string> CaseSteps(const std::vector<StepCase> &cases) {
    std::vector<Bytes> code;
    std::string listing;
    for (const StepCase &c : cases) {
        Bytes step{0x00};
        step.insert(step.end(), c.code.begin(), c.code.end());
        if (c.goesOn) step.push_back(0xCA);
        code.push_back(step);
        listing += Heading(static_cast<int>(code.size())) + kSeparator + kNoChange + kSeparator + c.text +
                   (c.goesOn ? kDone : "");
    }
    return {code, listing};
}

std::string ConfigLine(const std::string &key, const std::string &value) {
    return key + std::string(41 - key.size() - value.size(), ' ') + value + "\n";
}

// The whole configuration listing: the defaults with some values changed.
std::string ConfigText(const std::map<std::string, std::string> &changed) {
    static const std::vector<std::pair<std::string, std::string>> defaults = {
        {"network_node", "0"},        {"controller_model", "Q50"}, {"start_on_input#1", "no"},
        {"stop_on_input#2", "no"},    {"reset_on_input#3", "no"},  {"step_on_input#4", "no"},
        {"analog_inputs", "64"},      {"analog_outputs", "64"},    {"stepper_motors", "16"},
        {"servos", "16"},             {"prototype_boards", "8"},   {"highspeed_ctrs", "8"},
        {"thumbwheels", "16"},        {"digital_displays", "16"},  {"digital_inputs", "128"},
        {"digital_outputs", "128"},   {"steps", "256"},            {"flags", "32"},
        {"counters", "8"},            {"registers", "60000"}};
    std::string text;
    for (const auto &[key, value] : defaults) {
        const auto it = changed.find(key);
        text += ConfigLine(key, it == changed.end() ? value : it->second);
    }
    return text;
}

}  // namespace

TEST_F(Uncompile, GoldenListingsOfANonEaFile) {
    auto [code, listing] = CaseSteps(kNonEaCases);
    ObjectBytes o(kMagicNonEa, 0);
    o.steps(code)
        .record(kRecordDatasiz, 0, {2, 0, 3, 0})
        .record(kRecordDatatab, 0, {0, 1, 0, 2, 0, 3})
        .record(kRecordDatatab, 6, {0, 4, 0, 5, 0xFF, 0xFF})
        .record(kRecordSysconf, 0, {0x0A})
        .record(kRecordCheksum, 0, {0x5A});
    const Result r = run(o.bytes, 0);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.steps, listing);
    EXPECT_EQ(r.table, "data_table[2][3] =\n{\n"
                       "         1     2     3 \n"
                       "         4     5 65535 \n"
                       "}\n");
    EXPECT_EQ(r.config, ConfigText({{"controller_model", "Q10"}, {"stop_on_input#2", "yes"}, {"step_on_input#4", "yes"},
                                    {"stepper_motors", "5"}, {"servos", "0"}, {"prototype_boards", "0"}}));
    EXPECT_EQ(r.stats.steps, static_cast<std::int32_t>(kNonEaCases.size()));
    EXPECT_EQ(r.stats.bytes, static_cast<std::int32_t>(o.bytes.size()));
    EXPECT_EQ(r.stats.errors, 0);
    EXPECT_EQ(r.stats.warnings, 0);
}

TEST_F(Uncompile, GoldenStepListingsOfEaAndWideFiles) {
    auto [eaCode, eaListing] = CaseSteps(kEaCases);
    // EA output entries: 300 on (number 299 = 0x12B), 2 off.
    eaCode.push_back({0x02, 0x2B, 0x81, 0x01, 0x00, 0xCA});
    eaListing += Heading(static_cast<int>(eaCode.size())) + kSeparator + "          300+               2-\n" +
                 kSeparator + kDone;
    ObjectBytes ea(kMagicEa, 0);
    ea.steps(eaCode);
    Result r = run(ea.bytes, 6);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.steps, eaListing);
    EXPECT_FALSE(WideFlagFormat);

    auto [wideCode, wideListing] = CaseSteps(kWideCases);
    ObjectBytes wide(kMagicEaWide2, 0);
    wide.steps(wideCode);
    r = run(wide.bytes, 14);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.steps, wideListing);
    EXPECT_TRUE(WideFlagFormat);  // stays set after the call

    // 0xFEEC files have wide flags, except for model code 15.
    ObjectBytes feec(kMagicEaWide, 0);
    feec.steps(wideCode);
    EXPECT_EQ(run(feec.bytes, 5).steps, wideListing);
    EXPECT_TRUE(WideFlagFormat);
    EXPECT_NE(run(feec.bytes, 15).steps, wideListing);
    EXPECT_FALSE(WideFlagFormat);
}

TEST_F(Uncompile, EmptyStepsGetNoHeadingAndCodeFollowsTheTable) {
    ObjectBytes o(kMagicNonEa, 0);
    o.record(kRecordProgram, 0, {0x81, 0xC9, 0xCA}).record(kRecordProgram, 3, {0x00, 0xE9, 0x00, 0xCA, 0x02});
    o.record(kRecordSteplen, 0, {3, 0, 5});
    const Result r = run(o.bytes);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.steps, Heading(1) + kSeparator + "        <TURN ALL DIGITAL OUTPUTS OFF>\n" + kSeparator +
                           "    goto next\n    done\n" + Heading(3) + kSeparator + kNoChange + kSeparator +
                           "    goto step1\n    done\n");
    EXPECT_EQ(r.stats.steps, 2);
    EXPECT_FALSE(r.tableExists);  // no "datasiz": no data-table listing
}

TEST_F(Uncompile, StepTableRecordsArePlacedByAddress) {
    // The table in two records, the later part first.
    ObjectBytes o(kMagicNonEa, 0);
    o.record(kRecordProgram, 0, {0x00, 0xCA, 0x00, 0xC9});
    o.record(kRecordSteplen, 2, {2}).record(kRecordSteplen, 0, {2, 0});
    const Result r = run(o.bytes);
    EXPECT_EQ(r.steps, Heading(1) + kSeparator + kNoChange + kSeparator + kDone + Heading(3) + kSeparator +
                           kNoChange + kSeparator + "    goto next\n");
}

TEST_F(Uncompile, ProgramRecordsWrapAt64KAndMustFitTheBuffer) {
    // 257 steps of 255 bytes, one of 17, then one at offset 0x10010.
    std::vector<std::uint8_t> table(257, 255);
    table.push_back(17);
    table.push_back(2);
    ObjectBytes o(kMagicNonEa, 0);
    o.record(kRecordProgram, 0xFF00, {0x81}).record(kRecordProgram, 0x0010, {0x00, 0xCA});
    for (std::size_t at = 0; at < table.size(); at += 16) {
        const std::size_t n = std::min<std::size_t>(16, table.size() - at);
        o.record(kRecordSteplen, static_cast<std::uint16_t>(at), Bytes(table.begin() + at, table.begin() + at + n));
    }
    const Result r = run(o.bytes);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.stats.steps, 259);
    const std::string last = Heading(259) + kSeparator + kNoChange + kSeparator + kDone;
    ASSERT_GE(r.steps.size(), last.size());
    EXPECT_EQ(r.steps.substr(r.steps.size() - last.size()), last);
    EXPECT_NE(r.steps.find(Heading(257) + kSeparator + "        <TURN ALL DIGITAL OUTPUTS OFF>\n"), std::string::npos);
    EXPECT_EQ(r.stats.warnings, 0);

    // Offsets 0xF000, 0x11000, 0x20F00, 0x30E00 fit; 0x40D00 lies past 256000.
    ObjectBytes far(kMagicNonEa, 0);
    for (std::uint16_t a : {0xF000, 0x1000, 0x0F00, 0x0E00, 0x0D00}) far.record(kRecordProgram, a, {0xCA});
    EXPECT_EQ(run(far.bytes).stats.warnings, 1);
    // A record that ends exactly at 256000 fits; one byte more does not.
    ObjectBytes edge(kMagicNonEa, 0);
    for (std::uint16_t a : {0x8000, 0x0000, 0x8000, 0x0000, 0x8000, 0x0000}) edge.record(kRecordProgram, a, {0});
    edge.record(kRecordProgram, 0xE7FE, {1, 2}).record(kRecordProgram, 0xE7FE, {1, 2, 3});
    EXPECT_EQ(run(edge.bytes).stats.warnings, 1);
}

TEST_F(Uncompile, DataTableRecordsNeedTheirSizeFirst) {
    ObjectBytes o(kMagicNonEa, 0);
    o.record(kRecordDatatab, 0, {0, 1})
        .record(kRecordDatasiz, 0, {1, 0, 1, 0})
        .record(kRecordDatatab, 0, {0x12, 0x34})
        .record(kRecordDatatab, 2, {0, 1});  // past the table
    const Result r = run(o.bytes);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.stats.errors, 1);
    EXPECT_EQ(r.stats.warnings, 1);
    EXPECT_EQ(r.table, "data_table[1][1] =\n{\n      4660 \n}\n");

    // A size of 0 rows leaves no listing; a size too short to read is a
    // warning; a size no controller holds is an error and allocates nothing.
    ObjectBytes zero(kMagicNonEa, 0);
    zero.record(kRecordDatasiz, 0, {0, 0, 3, 0});
    EXPECT_FALSE(run(zero.bytes).tableExists);
    ObjectBytes shortSize(kMagicNonEa, 0);
    shortSize.record(kRecordDatasiz, 0, {1, 0, 1});
    const Result s = run(shortSize.bytes);
    EXPECT_EQ(s.stats.warnings, 1);
    EXPECT_FALSE(s.tableExists);
    ObjectBytes huge(kMagicNonEa, 0);
    huge.record(kRecordDatasiz, 0, {0xFF, 0xFF, 0xFF, 0xFF}).record(kRecordDatatab, 0, {0, 1});
    const Result h = run(huge.bytes);
    EXPECT_EQ(h.result, 1);
    EXPECT_EQ(h.stats.errors, 2);
    EXPECT_FALSE(h.tableExists);
}

// Sizes are counted without wrap-around, and a table that no object file's
// records can reach (more than 255 columns, or beyond a 16-bit address and
// its 255 bytes) is refused with an error, never allocated or listed.
TEST_F(Uncompile, DataTableSizeMustFitWhatRecordsCarry) {
    struct Case {
        std::uint16_t rows, columns;
    };
    // 2 x 65535 x 32769 wraps to 65534 in 32 bits.
    for (const Case c : {Case{65535, 32769}, Case{1, 256}, Case{130, 255}}) {
        SCOPED_TRACE(std::to_string(c.rows) + " x " + std::to_string(c.columns));
        ObjectBytes o(kMagicNonEa, 0);
        o.record(kRecordDatasiz, 0,
                 {std::uint8_t(c.rows), std::uint8_t(c.rows >> 8), std::uint8_t(c.columns), std::uint8_t(c.columns >> 8)});
        if (c.rows == 65535) {
            ASSERT_EQ(o.bytes.size(), 11u);
        }
        const Result r = run(o.bytes);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.stats.errors, 1);
        EXPECT_FALSE(r.tableExists);
        const ZQ_ERROR_INFO info = libraryErrorInfo();
        EXPECT_EQ(info.code, 183);
        EXPECT_STREQ(info.text, "Data table too large for an object file");
    }
    // The largest that fits: its last cell comes from a record at 0xFFFF.
    ObjectBytes o(kMagicNonEa, 0);
    Bytes last(255, 0);
    last[253] = 0x12;
    last[254] = 0x34;
    o.record(kRecordDatasiz, 0, {129, 0, 255, 0}).record(kRecordDatatab, 0xFFFF, last);
    const Result r = run(o.bytes);
    EXPECT_EQ(r.stats.errors, 0);
    EXPECT_EQ(r.stats.warnings, 0);
    ASSERT_TRUE(r.tableExists);
    EXPECT_EQ(r.table.substr(0, 26), "data_table[129][255] =\n{\n ");
    EXPECT_EQ(r.table.substr(r.table.size() - 9), " 4660 \n}\n");
}

TEST_F(Uncompile, ConfigurationByModelCode) {
    ObjectBytes o(kMagicEaWide2, 0);
    o.record(kRecordSysconf, 0, {0x05}).record(kRecordOptions, 0, {1, 2, 3, 4});
    Result r = run(o.bytes, 14);
    EXPECT_EQ(r.config, ConfigText({{"controller_model", "Q43"}, {"start_on_input#1", "yes"}, {"reset_on_input#3", "yes"},
                                    {"analog_inputs", "256"}, {"analog_outputs", "256"}, {"prototype_boards", "0"},
                                    {"digital_inputs", "1024"}, {"digital_outputs", "1024"}, {"steps", "4096"},
                                    {"flags", "128"}}));
    EXPECT_EQ(r.config.substr(0, 42), "network_node" + std::string(28, ' ') + "0\n");
    EXPECT_EQ(r.steps, "");

    // Nothing carries over into the next call.
    ObjectBytes none(kMagicEa, 0);
    r = run(none.bytes, 2);
    EXPECT_NE(r.config.find(ConfigLine("flags", "32")), std::string::npos);
    EXPECT_NE(r.config.find(ConfigLine("start_on_input#1", "no")), std::string::npos);
    EXPECT_NE(r.config.find(ConfigLine("reset_on_input#3", "no")), std::string::npos);
    EXPECT_NE(r.config.find(ConfigLine("controller_model", "Q50")), std::string::npos);
    EXPECT_NE(r.config.find(ConfigLine("steps", "1024")), std::string::npos);

    struct Row {
        std::int32_t model;
        const char *name, *steps, *flags, *steppers, *servos, *boards, *analog;
    };
    for (const Row &row : {Row{0, "Q10", "256", "32", "5", "0", "0", "64"}, Row{1, "Q50", "256", "32", "16", "16", "8", "64"},
                           Row{3, "Q51", "1024", "32", "16", "16", "8", "256"}, Row{4, "Q11", "256", "32", "5", "10", "0", "64"},
                           Row{5, "Q7XX", "16384", "128", "16", "16", "0", "256"}, Row{7, "Q20", "1024", "32", "16", "16", "0", "256"},
                           Row{8, "Q21", "1024", "32", "16", "16", "0", "256"}, Row{9, "Q22", "1024", "32", "16", "16", "0", "256"},
                           Row{11, "Q41", "1280", "32", "16", "16", "0", "256"}, Row{12, "Q42", "1280", "32", "16", "16", "0", "256"},
                           Row{13, "Q50", "256", "32", "16", "16", "8", "64"}, Row{15, "Q6XX", "1280", "32", "16", "16", "0", "256"},
                           Row{16, "Q44", "4096", "128", "16", "16", "0", "256"}, Row{-1, "Q50", "256", "32", "16", "16", "8", "64"},
                           Row{17, "Q50", "256", "32", "16", "16", "8", "64"}}) {
        const std::string c = run(none.bytes, row.model).config;
        for (const std::string &line : {ConfigLine("controller_model", row.name), ConfigLine("steps", row.steps),
                                        ConfigLine("flags", row.flags), ConfigLine("stepper_motors", row.steppers),
                                        ConfigLine("servos", row.servos), ConfigLine("prototype_boards", row.boards),
                                        ConfigLine("analog_outputs", row.analog)})
            EXPECT_NE(c.find(line), std::string::npos) << "model " << row.model << ": " << line;
    }
}

TEST_F(Uncompile, WarningsForTheStatusByteAndMisplacedRecords) {
    ObjectBytes o(kMagicNonEa, 3);
    o.record(kRecordMagic, 0, {0xEF, 0xBE})
        .record(kRecordStatus, 0, {0})
        .record(kRecordSysconf, 1, {1})
        .record(kRecordOptions, 2, {1, 2, 3})
        .record(kRecordSteplen, 16380, {1, 1, 1, 1, 1})
        .record(kRecordCheksum, 0, {0})
        .record(0x42, 0, {0});
    const Result r = run(o.bytes);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.stats.warnings, 6);
    EXPECT_EQ(r.stats.errors, 0);
    EXPECT_EQ(r.stats.bytes, static_cast<std::int32_t>(o.bytes.size()));
}

// A listing of what came before a cut would pass for the whole program: a
// file that breaks off is not listed, and the call says where it ends, as
// the download does.
TEST_F(Uncompile, ABrokenRecordFailsTheCallAndLeavesNoListing) {
    ObjectBytes o(kMagicNonEa, 0);
    o.record(kRecordSteplen, 0, {2}).record(kRecordDatasiz, 0, {1, 0, 1, 0}).record(kRecordProgram, 0, {0x00, 0xC9});
    o.bytes.resize(o.bytes.size() - 1);  // the program record is cut
    const Result r = run(o.bytes);
    EXPECT_EQ(r.result, 0);
    const ZQ_ERROR_INFO info = libraryErrorInfo();
    EXPECT_EQ(info.code, 184);
    EXPECT_STREQ(info.text, "Bad object file: it ends at byte 21, inside record 3 (6 bytes from byte 16)");
    EXPECT_FALSE(Exists(stp));
    EXPECT_FALSE(r.tableExists);
    EXPECT_FALSE(Exists(cfg));
    EXPECT_EQ(r.stats.bytes, 3 + 5 + 8);
}

TEST_F(Uncompile, FailuresLeaveNoListingsAndNeverTouchExistingFiles) {
    ZQ_TRANSFER_STATS stats{};
    // No statistics record.
    EXPECT_EQ(ZqUncompile(0, obj.c_str(), stp.c_str(), dtb.c_str(), cfg.c_str(), nullptr), 0);
    // No object file.
    EXPECT_EQ(ZqUncompile(0, obj.c_str(), stp.c_str(), dtb.c_str(), cfg.c_str(), &stats), 0);
    ZQ_ERROR_INFO info = libraryErrorInfo();
    EXPECT_EQ(info.code, 187);
    EXPECT_STREQ(info.text, "Object file not found");
    EXPECT_FALSE(Exists(stp));

    // A listing that exists already.
    WriteBytes(obj, ObjectBytes(kMagicNonEa, 0).bytes);
    WriteBytes(cfg, {'k', 'e', 'e', 'p'});
    stats.steps = 99;
    EXPECT_EQ(ZqUncompile(0, obj.c_str(), stp.c_str(), dtb.c_str(), cfg.c_str(), &stats), 0);
    EXPECT_EQ(stats.steps, 0);
    info = libraryErrorInfo();
    EXPECT_EQ(info.code, EEXIST);
    EXPECT_STREQ(info.text, "Cannot create file");
    EXPECT_EQ(ReadText(cfg), "keep");
    EXPECT_FALSE(Exists(stp));
    EXPECT_FALSE(Exists(dtb));
    std::remove(cfg.c_str());

    struct Bad {
        Bytes bytes;
        int code;
        const char *text;
    };
    for (const Bad &bad : {Bad{{}, 184, "Bad object file"}, Bad{{0xEF}, 184, "Bad object file"},
                           Bad{{0xEF, 0xBE}, 183, "Bad object record"},
                           Bad{{0xAD, 0xDE, 0x00, 0x01, 0x06, 0x00, 0x00, 0x01}, 184, "Not an object file"}}) {
        WriteBytes(obj, bad.bytes);
        EXPECT_EQ(ZqUncompile(0, obj.c_str(), stp.c_str(), dtb.c_str(), cfg.c_str(), &stats), 0);
        info = libraryErrorInfo();
        EXPECT_EQ(info.code, bad.code);
        EXPECT_STREQ(info.text, bad.text);
        for (const auto &p : {stp, dtb, cfg}) EXPECT_FALSE(Exists(p)) << p;
    }
}

TEST_F(Uncompile, ErrorsGoToTheLatestLookedUpConnection) {
    std::int32_t id = 0;
    {
        TableGuard guard;
        id = table::insert(std::make_unique<Connection>());
        table::lookup(id, false);
    }
    ZQ_TRANSFER_STATS stats{};
    EXPECT_EQ(ZqUncompile(0, obj.c_str(), stp.c_str(), dtb.c_str(), cfg.c_str(), &stats), 0);
    ZQ_ERROR_INFO info{};
    ASSERT_EQ(ZqGetErrorInfo(id, &info), 1);
    EXPECT_EQ(info.code, 187);
    EXPECT_STREQ(info.text, "Object file not found");
    {
        TableGuard guard;
        table::erase(id);
    }
}

TEST_F(Uncompile, ArbitraryRecordsNeverBreakTheCall) {
    ArbitraryBytes next(777);
    for (int round = 0; round < 200; ++round) {
        ObjectBytes o(round % 2 ? kMagicEa : kMagicNonEa, next());
        const int records = next() % 12;
        for (int i = 0; i < records; ++i) {
            Bytes data(1 + next() % 24);
            for (auto &b : data) b = next();
            const std::uint8_t type = next() % 10;
            if (type == kRecordDatasiz) data = {static_cast<std::uint8_t>(next() % 8), 0, static_cast<std::uint8_t>(next() % 8), 0};
            o.record(type, static_cast<std::uint16_t>(next() | (next() % 4) << 8), data);
        }
        const bool cut = round % 7 == 0 && o.bytes.size() > 3;
        if (cut) o.bytes.resize(o.bytes.size() - 1);
        const Result r = run(o.bytes, next() % 18);
        EXPECT_EQ(r.result, cut ? 0 : 1);
        if (cut) {
            EXPECT_EQ(libraryErrorInfo().code, 184);
        }
    }
}

TEST_F(Uncompile, AFailedListingWriteStopsTheListing) {
    // A stream on a full disk: every write fails. The listing of the
    // largest table stops at the first failure instead of trying them all.
    int writes = 0;
    cookie_io_functions_t full{};
    full.write = [](void *cookie, const char *, size_t) -> ssize_t {
        ++*static_cast<int *>(cookie);
        errno = ENOSPC;
        return -1;
    };
    std::FILE *out = fopencookie(&writes, "w", full);
    ASSERT_NE(out, nullptr);
    const Bytes cells(2u * 65535u * 255u, 0x11);
    EXPECT_FALSE(WriteDataTableText(out, 65535, 255, cells));
    EXPECT_LE(writes, 2);
    std::fclose(out);
}
