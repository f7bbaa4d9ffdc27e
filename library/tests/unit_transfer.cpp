// The controller memory requests, the program download and the program
// upload against the in-process emulator: request bytes, pieces, address
// translation, the statistics and every failure path.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "emulator_transport.h"
#include "family_checks.h"
#include "memory_transfer.h"
#include "transfer_checks.h"

using namespace orvtest;
using orv::ZQ_MEMORY_BUFFER;
using orv::test::Exists;
using orv::test::ReadBytes;
using orv::test::TempDir;
using orv::test::WriteBytes;

namespace {

Bytes Frame(std::uint8_t code, const Bytes &args = {}) {
    Bytes f{0x01, static_cast<std::uint8_t>(args.size() + 3), code};
    f.insert(f.end(), args.begin(), args.end());
    unsigned sum = 0;
    for (std::size_t i = 2; i < f.size(); ++i) sum += f[i];
    f.push_back(static_cast<std::uint8_t>(0xFF - (sum & 0xFF)));
    f.push_back(0xFF);
    return f;
}
Bytes Reply(std::uint8_t code, const Bytes &data = {}) {
    Bytes f{static_cast<std::uint8_t>(data.size() + 3), code};
    f.insert(f.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (std::size_t i = 1; i < f.size(); ++i) sum += f[i];
    f.push_back(static_cast<std::uint8_t>(0xFF - (sum & 0xFF)));
    f.push_back(0xFF);
    return f;
}

// The 16-bit address of a segment write (01, L, 29, segment, address).
int GetAddress(const Bytes &write) { return write[4] | (write[5] << 8); }

const Bytes kBegin{0x01, 0x03, 0x01, 0xFE, 0xFF};
const Bytes kEnd{0x01, 0x03, 0x02, 0xFD, 0xFF};

class Transfer : public ::testing::Test {
protected:
    void SetUp() override { id = AddEmulatedConnection(emu); }
    void TearDown() override { RemoveConnection(id); }

    void setModel(int model) {
        emu.withMemory([&](orvemu::Memory &m) {
            m.setModel(model);
            return 0;
        });
    }
    // The next reply is exactly these bytes (after `after` ordinary ones).
    void nextReply(Bytes bytes, int after = 0) {
        orvemu::Fault f;
        f.kind = orvemu::FaultKind::Garbage;
        f.garbage = std::move(bytes);
        f.after = after;
        emu.setFault(f);
    }
    void dropReply(int after, int count = 1) {
        orvemu::Fault f;
        f.kind = orvemu::FaultKind::Drop;
        f.after = after;
        f.count = count;
        emu.setFault(f);
    }
    // Requests of one code in the log, in order.
    std::vector<Bytes> sent(std::uint8_t code) const {
        std::vector<Bytes> out;
        for (auto &r : emu.requests())
            if (r.size() > 2 && r[0] == 0x01 && r[2] == code) out.push_back(r);
        return out;
    }
    // Leaves a refusal of its own on the connection.
    void markErrorQ42() {
        NextReplyShort(emu, 0x69);
        std::int32_t v = 0;
        ASSERT_EQ(ZqGetRegister(id, 1, &v), 0);
        ASSERT_EQ(ErrorCode(id), 157);
    }
    std::int32_t download(const Bytes &file, ZQ_TRANSFER_STATS &stats) {
        const std::string path = dir.file("in.dso");
        std::remove(path.c_str());
        WriteBytes(path, file);
        emu.clearLog();
        return ZqDownload(id, path.c_str(), &stats);
    }
    // ZqCheckDownload of the file; whatever it finds, nothing but the model
    // read reaches the controller.
    std::int32_t check(const Bytes &file) {
        const std::string path = dir.file("in.dso");
        std::remove(path.c_str());
        WriteBytes(path, file);
        emu.clearLog();
        const std::int32_t result = ZqCheckDownload(id, path.c_str());
        EXPECT_EQ(emu.requests(), (std::vector<Bytes>{Frame(0x09, {0xD0, 0x32})})) << "only the model read";
        return result;
    }
    // The check and the download both refuse the file with this text and
    // code, and nothing but the model read reaches the controller.
    void expectRefused(const Bytes &file, const std::string &text, std::int32_t wanted) {
        std::int32_t code = 0;
        EXPECT_EQ(check(file), 0) << text;
        EXPECT_EQ(ErrorText(id, &code), text);
        EXPECT_EQ(code, wanted);
        ZQ_TRANSFER_STATS s{};
        EXPECT_EQ(download(file, s), 0) << text;
        EXPECT_EQ(emu.requests(), (std::vector<Bytes>{Frame(0x09, {0xD0, 0x32})})) << text << ": only the model read";
        EXPECT_EQ(ErrorText(id, &code), text);
        EXPECT_EQ(code, wanted);
        EXPECT_EQ(s.errors, 0);
    }
    // The uncompiler's verdict on the file: 0, no listing left behind, and
    // its error, on the connection of the latest lookup, with this text
    // and code. `stats` is what it counted.
    void expectUncompileRefused(const std::string &path, const std::string &text, std::int32_t wanted,
                                ZQ_TRANSFER_STATS &stats) {
        markErrorQ42();  // not the download's error, left on the connection
        const std::string stp = dir.file("p.stp"), dtb = dir.file("p.dtb"), cfg = dir.file("p.cfg");
        EXPECT_EQ(ZqUncompile(6, path.c_str(), stp.c_str(), dtb.c_str(), cfg.c_str(), &stats), 0) << text;
        std::int32_t code = 0;
        EXPECT_EQ(ErrorText(id, &code), text);
        EXPECT_EQ(code, wanted);
        for (const auto &listing : {stp, dtb, cfg}) EXPECT_FALSE(Exists(listing)) << listing;
    }
    // The check, the download and the uncompiler all refuse the file alike.
    void expectRefusedByAll(const Bytes &file, const std::string &text, std::int32_t wanted) {
        expectRefused(file, text, wanted);
        ZQ_TRANSFER_STATS s{};
        expectUncompileRefused(dir.file("in.dso"), text, wanted, s);
    }

    orvemu::Controller emu;
    std::int32_t id = 0;
    TempDir dir;
};

}  // namespace

// ---- The memory requests ----------------------------------------------------

TEST_F(Transfer, BlockWritesBuildTheirFramesAndTakeOnlyTheAcknowledgement) {
    setModel(6);
    emu.clearLog();
    const Bytes three{0x0A, 0x0B, 0x0C};
    EXPECT_EQ(orv::WriteSegmentBlock(id, 1, 0x1234, three), 1);
    EXPECT_EQ(emu.lastRequest(), Frame(0x29, {0x01, 0x34, 0x12, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(emu.lastRequest().size(), 3u + 8u);
    EXPECT_EQ(orv::WriteSegmentBlock32(id, 1, 0x00012345, three, true), 1);
    EXPECT_EQ(emu.lastRequest(), Frame(0x59, {0x01, 0x45, 0x23, 0x01, 0x00, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(orv::WriteSegmentBlock32(id, 6, 0x00012345, three, true), 1);
    EXPECT_EQ(emu.lastRequest(), Frame(0x59, {0x06, 0x45, 0x23, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(orv::WriteSegmentBlock32(id, 1, 0x00012345, three, false), 1);
    EXPECT_EQ(emu.lastRequest(), Frame(0x29, {0x01, 0x45, 0x23, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(emu.withMemory([](orvemu::Memory &m) { return m.segmentByte(1, 0x12346); }), 0x0B);

    nextReply({0x03, 0x65, 0x9A, 0xFF});
    EXPECT_EQ(orv::WriteSegmentBlock(id, 1, 0, three), 0);
    std::int32_t code = 0;
    EXPECT_EQ(ErrorText(id, &code), "Checksum error, or end of packet <> FFH.");
    EXPECT_EQ(code, 215);
    // A reply with data is no acknowledgement.
    nextReply(Reply(0x64, {0x00}));
    EXPECT_EQ(orv::WriteSegmentBlock(id, 1, 0, three), 0);
    EXPECT_EQ(ErrorCode(id), 205);

    setModel(2);
    EXPECT_EQ(orv::WriteMemoryBlock(id, 0xA7FF, Bytes{0x0D}), 1);
    EXPECT_EQ(emu.lastRequest(), Frame(0x00, {0xFF, 0xA7, 0x0D}));
    EXPECT_EQ(emu.withMemory([](orvemu::Memory &m) { return m.legacy[0xFFF]; }), 0x0D);
}

TEST_F(Transfer, BracketRequestsTakeAnyReplyButNotASilence) {
    emu.clearLog();
    NextReplyShort(emu, 0x67);
    EXPECT_EQ(orv::BeginProgramLoad(id), 1);
    EXPECT_EQ(emu.lastRequest(), kBegin);
    EXPECT_EQ(orv::EndProgramLoad(id), 1);
    EXPECT_EQ(emu.lastRequest(), kEnd);
    // No reply at all: the transport's error stands, not a verdict on an
    // older reply.
    nextReply({0x03, 0x64, 0x9B, 0xFF});
    std::int32_t v = 0;
    ASSERT_EQ(ZqGetRegister(id, 1, &v), 1);
    dropReply(0);
    EXPECT_EQ(orv::BeginProgramLoad(id), 0);
    EXPECT_EQ(ErrorText(id), "Timed out waiting for response from controller");
    EXPECT_EQ(orv::BeginProgramLoad(999), 0);
}

TEST_F(Transfer, ReadsGoInPiecesOfSixteenFromTheirAddress) {
    setModel(6);
    emu.withMemory([](orvemu::Memory &m) {
        for (std::size_t i = 0; i < 64; ++i) m.setSegmentByte(1, 0x100 + i, static_cast<std::uint8_t>(i));
        return 0;
    });
    emu.clearLog();
    ZQ_MEMORY_BUFFER buffer(64);
    ASSERT_EQ(orv::ReadSegmentBlock(id, 1, 0x100, 40, buffer), 1);
    EXPECT_EQ(emu.requests(), (std::vector<Bytes>{Frame(0x2B, {0x01, 0x00, 0x01, 16}),
                                                  Frame(0x2B, {0x01, 0x10, 0x01, 16}),
                                                  Frame(0x2B, {0x01, 0x20, 0x01, 8})}));
    ASSERT_EQ(buffer.size(), 40u);
    for (std::size_t i = 0; i < 40; ++i) EXPECT_EQ(buffer.data()[i], i);

    emu.clearLog();
    ASSERT_EQ(orv::ReadSegmentBlock32(id, 1, 0x120, 3, buffer), 1);
    EXPECT_EQ(emu.lastRequest(), Frame(0x63, {0x01, 0x20, 0x01, 0x00, 0x00, 3}));
    EXPECT_EQ(emu.lastRequest().size(), 11u);
    EXPECT_EQ(buffer.view()[2], 0x22);

    // A count of 0 sends nothing.
    emu.clearLog();
    EXPECT_EQ(orv::ReadSegmentBlock(id, 1, 0, 0, buffer), 1);
    EXPECT_EQ(buffer.size(), 0u);
    EXPECT_EQ(emu.requestCount(), 0u);
}

TEST_F(Transfer, ReadRefusedHalfWayKeepsTheEarlierBytes) {
    setModel(6);
    orvemu::Fault f;
    f.kind = orvemu::FaultKind::ShortError;
    f.errorCode = 0x68;
    f.after = 1;
    emu.setFault(f);
    emu.clearLog();
    ZQ_MEMORY_BUFFER buffer(40);
    EXPECT_EQ(orv::ReadSegmentBlock(id, 1, 0, 40, buffer), 0);
    EXPECT_EQ(emu.requestCount(), 2u);
    EXPECT_EQ(buffer.size(), 16u);
    EXPECT_EQ(ErrorText(id), "Resource value out of range.");
    // An acknowledgement ends the read as a success with what it has.
    f.errorCode = 0x64;
    emu.setFault(f);
    EXPECT_EQ(orv::ReadSegmentBlock(id, 1, 0, 40, buffer), 1);
    EXPECT_EQ(buffer.size(), 16u);
}

TEST_F(Transfer, ReadRepliesWithoutDataOrWithTooMuch) {
    setModel(6);
    // No data: refused at once rather than asked for again forever.
    nextReply({0x03, 0x2C, 0xD3, 0xFF});
    emu.clearLog();
    ZQ_MEMORY_BUFFER buffer(16);
    EXPECT_EQ(orv::ReadSegmentBlock(id, 1, 0, 4, buffer), 0);
    EXPECT_EQ(emu.requestCount(), 1u);
    std::int32_t code = 0;
    EXPECT_EQ(ErrorText(id, &code), "Incomplete packet");
    EXPECT_EQ(code, 206);
    // The wide read's reply code is 0x64: a bare one carries no data either.
    nextReply({0x03, 0x64, 0x9B, 0xFF});
    EXPECT_EQ(orv::ReadSegmentBlock32(id, 1, 0, 4, buffer), 0);
    EXPECT_EQ(ErrorCode(id), 206);
    // More bytes than asked for: only those asked for are kept.
    nextReply(Reply(0x2C, Bytes(20, 0x77)));
    EXPECT_EQ(orv::ReadSegmentBlock(id, 1, 0, 4, buffer), 1);
    EXPECT_EQ(buffer.view().size(), 4u);
    // An L that announces more than arrived.
    nextReply({0x10, 0x2C, 0x01, 0x02, 0xFF});
    EXPECT_EQ(orv::ReadSegmentBlock(id, 1, 0, 4, buffer), 0);
    EXPECT_EQ(ErrorText(id), "Incomplete packet");
    // A buffer without room is refused before anything goes out.
    emu.clearLog();
    EXPECT_EQ(orv::ReadSegmentBlock(id, 1, 0, 17, buffer), 0);
    EXPECT_EQ(emu.requestCount(), 0u);
}

TEST_F(Transfer, LegacyReadsAddressTheRecordAreaInTheWindow) {
    setModel(2);
    emu.withMemory([](orvemu::Memory &m) {
        m.legacy[0xFFF] = 0x0D;
        for (std::size_t i = 0; i < 40; ++i) m.legacy[0x100 + 0x20 + i] = static_cast<std::uint8_t>(0x40 + i);
        return 0;
    });
    emu.clearLog();
    ZQ_MEMORY_BUFFER buffer(64);
    ASSERT_EQ(orv::ReadLegacyMemory(id, 6, 0, 1, 2, buffer), 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x05, 0x03, 0xFF, 0xA7, 0x56, 0xFF}));
    EXPECT_EQ(buffer.view()[0], 0x0D);
    // The controller answers a run of 16: a read of 40 asks three times and
    // keeps exactly 40.
    emu.clearLog();
    ASSERT_EQ(orv::ReadLegacyMemory(id, 1, 0x20, 40, 2, buffer), 1);
    EXPECT_EQ(emu.requests(), (std::vector<Bytes>{Frame(0x03, {0x20, 0x99}), Frame(0x03, {0x30, 0x99}),
                                                  Frame(0x03, {0x40, 0x99})}));
    ASSERT_EQ(buffer.size(), 40u);
    EXPECT_EQ(buffer.view()[39], 0x40 + 39);

    setModel(4);
    ASSERT_EQ(orv::ReadLegacyMemory(id, 6, 0, 1, 4, buffer), 1);
    EXPECT_EQ(emu.lastRequest(), Frame(0x03, {0xFF, 0xB7}));
    ASSERT_EQ(orv::ReadLegacyMemory(id, 2, 0, 1, 4, buffer), 1);
    EXPECT_EQ(emu.lastRequest(), Frame(0x03, {0xF7, 0xB7}));
}

// ---- Download -------------------------------------------------------------------

TEST_F(Transfer, DownloadOfAnEmptyProgramIsTheBracketAlone) {
    setModel(6);
    ZQ_TRANSFER_STATS s{-1, -1, -1, -1};
    EXPECT_EQ(download(ObjectHeader(0xFEED), s), 1);
    EXPECT_EQ(emu.requests(), (std::vector<Bytes>{Frame(0x09, {0xD0, 0x32}), kBegin, kEnd}));
    EXPECT_EQ(s.steps, 0);
    EXPECT_EQ(s.bytes, 3);
    EXPECT_EQ(s.errors, 0);
    EXPECT_EQ(s.warnings, 0);
}

TEST_F(Transfer, DownloadSendsRecordsInPiecesAtTheirAddresses) {
    setModel(6);
    Bytes file = ObjectHeader(0xFEED, 7);
    Bytes forty(40);
    for (std::size_t i = 0; i < 40; ++i) forty[i] = static_cast<std::uint8_t>(i);
    AddRecord(file, 1, 0x0200, forty);
    AddRecord(file, 6, 0, {0x01});
    ZQ_TRANSFER_STATS s{};
    ASSERT_EQ(download(file, s), 1) << ErrorText(id);
    const auto writes = sent(0x29);
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0], Frame(0x29, [&] { Bytes a{1, 0x00, 0x02}; a.insert(a.end(), forty.begin(), forty.begin() + 16); return a; }()));
    EXPECT_EQ(GetAddress(writes[1]), 0x0210);
    EXPECT_EQ(GetAddress(writes[2]), 0x0220);
    EXPECT_EQ(writes[2].size(), 8u + 8u);
    EXPECT_EQ(writes[3], Frame(0x29, {6, 0, 0, 0x01}));
    EXPECT_EQ(s.bytes, 3 + 44 + 5);
    EXPECT_EQ(s.warnings, 1) << "the status byte of the file is not 0";
    EXPECT_EQ(emu.withMemory([](orvemu::Memory &m) { return m.segmentByte(1, 0x227); }), 39);
}

TEST_F(Transfer, DownloadTranslatesNonEaAddressesIntoTheWindow) {
    setModel(2);
    Bytes file = ObjectHeader(0xBEEF);
    AddRecord(file, 2, 0, {0xB1, 0xB2, 0xB3, 0xB4});
    AddRecord(file, 6, 0, {0x04});
    AddRecord(file, 1, 0x10, {0x99});
    ZQ_TRANSFER_STATS s{};
    ASSERT_EQ(download(file, s), 1) << ErrorText(id);
    const auto writes = sent(0x00);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0], Frame(0x00, {0xF4, 0xA7, 0xB4, 0xB3, 0xB2, 0xB1}));
    EXPECT_EQ(writes[1], Frame(0x00, {0xFF, 0xA7, 0x04}));
    EXPECT_EQ(writes[2], Frame(0x00, {0x10, 0x99, 0x99}));
    // The cells read back as the table's.
    emu.withMemory([](orvemu::Memory &m) {
        m.setTableDimensions(1, 2);
        return 0;
    });
    std::int32_t v = 0;
    ASSERT_EQ(ZqGetDataTableLoc(id, 1, 2, &v), 1);
    EXPECT_EQ(v, 0xB3B4);

    setModel(4);
    file = ObjectHeader(0xBEEF);
    AddRecord(file, 6, 0, {0x04});
    AddRecord(file, 3, 0, {1, 0, 2, 0});
    ASSERT_EQ(download(file, s), 1);
    EXPECT_EQ(sent(0x00)[0], Frame(0x00, {0xFF, 0xB7, 0x04}));
    EXPECT_EQ(sent(0x00)[1], Frame(0x00, {0xFA, 0xB7, 1, 0, 2, 0}));
}

TEST_F(Transfer, WideDownloadRebuildsProgramOffsetsPast64K) {
    setModel(5);
    Bytes file = ObjectHeader(0xFEEC);
    AddRecord(file, 1, 0xFF00, {0x11});
    AddRecord(file, 1, 0x0010, {0x22});
    AddRecord(file, 6, 0, {0x00});
    ZQ_TRANSFER_STATS s{};
    ASSERT_EQ(download(file, s), 1) << ErrorText(id);
    const auto writes = sent(0x59);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0], Frame(0x59, {0x01, 0x00, 0xFF, 0x00, 0x00, 0x11}));
    EXPECT_EQ(writes[1], Frame(0x59, {0x01, 0x10, 0x00, 0x01, 0x00, 0x22}));
    EXPECT_EQ(writes[2], Frame(0x59, {0x06, 0x00, 0x00, 0x00}));
    EXPECT_EQ(emu.withMemory([](orvemu::Memory &m) { return m.segmentByte(1, 0x10010); }), 0x22);
}

TEST_F(Transfer, DownloadRefusesFilesThatDoNotFit) {
    setModel(6);
    ZQ_TRANSFER_STATS s{};
    std::int32_t code = 0;
    expectRefusedByAll({}, "Bad object file", 184);
    expectRefusedByAll({0xED}, "Bad object file", 184);
    expectRefusedByAll({0xAD, 0xDE, 0x00}, "Not an object file", 184);
    expectRefusedByAll({0xED, 0xFE}, "Bad object record", 183);
    expectRefused(ObjectHeader(0xBEEF), "Wrong object file architecture - non-EA object file and EA controller.", 185);
    setModel(2);
    expectRefused(ObjectHeader(0xFEEB), "Wrong object file architecture - EA object file and non-EA controller.", 185);

    emu.clearLog();
    EXPECT_EQ(ZqDownload(id, dir.file("missing.dso").c_str(), &s), 0);
    EXPECT_EQ(ErrorText(id, &code), "Object file not found");
    EXPECT_EQ(code, 187);
    EXPECT_EQ(ZqDownload(id, nullptr, &s), 0);
    EXPECT_EQ(ZqDownload(id, dir.file("missing.dso").c_str(), nullptr), 0) << "no statistics record";
    EXPECT_EQ(ErrorCode(id), 187);
    EXPECT_EQ(ZqDownload(12345, dir.file("missing.dso").c_str(), &s), 0);
    EXPECT_EQ(ZqCheckDownload(id, dir.file("missing.dso").c_str()), 0);
    EXPECT_EQ(ErrorText(id, &code), "Object file not found");
    EXPECT_EQ(ZqCheckDownload(id, nullptr), 0);
    EXPECT_EQ(ZqCheckDownload(12345, dir.file("missing.dso").c_str()), 0);
}

// A file that cannot be read whole is refused before the load begins: only
// the model read reaches the controller, and the text says where the file
// breaks off. The uncompiler refuses a file that breaks off alike.
TEST_F(Transfer, DownloadOfABrokenFileSendsNothingAndSaysWhere) {
    setModel(6);
    // One record of every type, in the order an upload writes them.
    const std::vector<std::pair<std::uint8_t, Bytes>> records{
        {1, {1, 2, 3}}, {0, Bytes(16, 1)}, {3, {1, 0, 2, 0}}, {2, {0, 5, 0, 6}},
        {4, {9, 9, 9, 9}}, {6, {0x01}}, {5, {0x42}}};
    struct Case {
        std::string what, where;
        Bytes file;
    };
    std::vector<Case> cases;
    Bytes whole = ObjectHeader(0xFEED);
    for (std::size_t k = 0; k < records.size(); ++k) {
        const auto &[type, data] = records[k];
        const std::size_t start = whole.size();
        AddRecord(whole, type, 0, data);
        const std::string record = std::to_string(k + 1);
        const std::string span = " (" + std::to_string(4 + data.size()) + " bytes from byte " + std::to_string(start) + ")";
        for (const std::size_t keep : {std::size_t{2}, 4 + data.size() - 1}) {
            Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(start + keep));
            cases.push_back({"type " + std::to_string(type) + (keep == 2 ? " cut in its header" : " cut in its data"),
                             "it ends at byte " + std::to_string(cut.size()) + ", inside record " + record + span, cut});
        }
    }
    // A length that runs past the end of the file; a type of no memory area.
    Bytes longer = ObjectHeader(0xFEED), unknown = longer;
    AddRecord(longer, 1, 0, {1, 2, 3});
    AddRecord(longer, 6, 0, {0x01});
    longer[10] = 200;
    cases.push_back({"a length past the end", "it ends at byte 15, inside record 2 (204 bytes from byte 10)", longer});
    AddRecord(unknown, 9, 0, {1});
    AddRecord(unknown, 6, 0, {0x01});
    cases.push_back({"an unknown type", "record 1 (at byte 3) has the unknown type 9", unknown});

    // Not the stale refusal left on the connection before.
    markErrorQ42();
    const MemorySnapshot before = Snapshot(emu);
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        // The uncompiler lists a file with records of types no controller
        // area has; it cannot list one that breaks off.
        if (k.what == "an unknown type") expectRefused(k.file, "Bad object file: " + k.where, 184);
        else expectRefusedByAll(k.file, "Bad object file: " + k.where, 184);
    }
    // A zero length byte ends a file only as a whole header: cut in its
    // header it is a file that breaks off.
    expectRefusedByAll({0xED, 0xFE, 0x00, 0x00, 0x1D, 0x00},
                       "Bad object file: it ends at byte 6, inside record 1 (4 bytes from byte 3)", 184);
    EXPECT_EQ(Snapshot(emu), before);

    // The whole file passes the check, which writes none of it, and goes
    // through.
    EXPECT_EQ(check(whole), 1) << ErrorText(id);
    EXPECT_EQ(Snapshot(emu), before);
    ZQ_TRANSFER_STATS s{};
    EXPECT_EQ(download(whole, s), 1) << ErrorText(id);
    EXPECT_EQ(s.bytes, static_cast<std::int32_t>(whole.size()));
}

// A file larger than any controller's program is refused by all three
// before its records are read: nothing of it is counted, and only the model
// read reaches the controller. (The files are sparse: their holes cost no
// disk and read as zeros, which end a file as a 0 length byte.)
TEST_F(Transfer, FilesLargerThanAnyProgramAreRefusedUnread) {
    setModel(6);
    const std::string path = dir.file("huge.dso");
    const auto sparse = [&](off_t size) {
        std::remove(path.c_str());
        Bytes start = ObjectHeader(0xFEED);
        AddRecord(start, 6, 0, {0x01});
        WriteBytes(path, start);
        EXPECT_EQ(truncate(path.c_str(), size), 0);
    };
    const std::string bound = std::to_string(orv::kMostObjectFileBytes);
    for (const off_t size : {off_t{2'300'000'000}, off_t{orv::kMostObjectFileBytes + 1}}) {
        SCOPED_TRACE(size);
        const std::string text = "Bad object file: it is " + std::to_string(size) +
                                 " bytes, larger than any controller's program (at most " + bound + ")";
        sparse(size);
        emu.clearLog();
        std::int32_t code = 0;
        EXPECT_EQ(ZqCheckDownload(id, path.c_str()), 0);
        EXPECT_EQ(ErrorText(id, &code), text);
        EXPECT_EQ(code, 184);
        ZQ_TRANSFER_STATS s{-1, -1, -1, -1};
        EXPECT_EQ(ZqDownload(id, path.c_str(), &s), 0);
        EXPECT_EQ(ErrorText(id), text);
        EXPECT_EQ(emu.requests(), (std::vector<Bytes>{Frame(0x09, {0xD0, 0x32}), Frame(0x09, {0xD0, 0x32})}))
            << "only the two model reads";
        EXPECT_EQ(s.bytes, 0) << "nothing of it read";
        ZQ_TRANSFER_STATS u{-1, -1, -1, -1};
        expectUncompileRefused(path, text, 184, u);
        EXPECT_EQ(u.bytes, 0);
        EXPECT_EQ(u.steps, 0);
    }
    // A file of the largest size taken is read: its one record, then the
    // holes, which end it.
    sparse(orv::kMostObjectFileBytes);
    EXPECT_EQ(ZqCheckDownload(id, path.c_str()), 1) << ErrorText(id);
    ZQ_TRANSFER_STATS s{};
    emu.clearLog();
    EXPECT_EQ(ZqDownload(id, path.c_str(), &s), 1) << ErrorText(id);
    EXPECT_EQ(s.bytes, 3 + 5);
    EXPECT_EQ(sent(0x29), (std::vector<Bytes>{Frame(0x29, {6, 0, 0, 0x01})}));
    const std::string stp = dir.file("p.stp"), dtb = dir.file("p.dtb"), cfg = dir.file("p.cfg");
    EXPECT_EQ(ZqUncompile(6, path.c_str(), stp.c_str(), dtb.c_str(), cfg.c_str(), &s), 1);
    EXPECT_EQ(s.bytes, 3 + 5);
}

// The download walks the file twice: once to check it, once to send it. A
// file changed on the disk in between (here when the load begins) stops the
// sending at what the check would have refused; the load is ended all the
// same. (The changes lie past the first 64 KB, which the reader may still
// hold from the check.)
TEST_F(Transfer, FileChangedAfterItsCheckStopsTheSending) {
    setModel(6);
    Bytes file = ObjectHeader(0xFEED);
    const std::size_t programs = 300;
    for (std::size_t i = 0; i < programs; ++i) AddRecord(file, 1, static_cast<std::uint16_t>(i * 255), Bytes(255, 0x11));
    const std::size_t sysconf = file.size();
    AddRecord(file, 6, 0, {0x01});
    AddRecord(file, 5, 0, {0x42});
    Bytes hugeTable(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(sysconf));
    AddRecord(hugeTable, 3, 0, {0xFF, 0xFF, 0xFF, 0x00});
    AddRecord(hugeTable, 6, 0, {0x01});
    const std::string at = std::to_string(sysconf), number = std::to_string(programs + 1);
    struct Change {
        const char *what;
        std::function<void(Bytes &)> change;
        std::string text;
        std::int32_t code;
        std::size_t writes;  // of the records after the program's
    };
    const Change changes[] = {
        {"cut", [](Bytes &f) { f.resize(f.size() - 1); },
         "Bad object file: it ends at byte " + std::to_string(file.size() - 1) + ", inside record " +
             std::to_string(programs + 2) + " (5 bytes from byte " + std::to_string(sysconf + 5) + ")",
         184, 1},
        {"unknown type", [&](Bytes &f) { f[sysconf + 1] = 9; },
         "Bad object file: record " + number + " (at byte " + at + ") has the unknown type 9", 184, 0},
        {"table too large", [&](Bytes &f) { f = hugeTable; }, orv::TableTooLargeText(65535, 255), 183, 0},
    };
    const std::string path = dir.file("in.dso");
    for (const Change &c : changes) {
        SCOPED_TRACE(c.what);
        std::remove(path.c_str());
        WriteBytes(path, file);
        const orvemu::Handler begin = emu.handler(0x01);
        emu.setHandler(0x01, [&, begin](orvemu::Controller &ctl, const orvemu::Request &r) {
            Bytes changed = file;
            c.change(changed);
            WriteBytes(path, changed);
            return begin(ctl, r);
        });
        emu.clearLog();
        ZQ_TRANSFER_STATS s{};
        EXPECT_EQ(ZqDownload(id, path.c_str(), &s), 0);
        emu.setHandler(0x01, begin);
        std::int32_t code = 0;
        EXPECT_EQ(ErrorText(id, &code), c.text);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(s.bytes, static_cast<std::int32_t>(file.size())) << "as the check counted it";
        EXPECT_EQ(s.errors, 0);
        EXPECT_EQ(emu.lastRequest(), kEnd);
        // Only what came before the change went out.
        const auto writes = sent(0x29);
        ASSERT_EQ(writes.size(), programs * 16 + c.writes);
        if (c.writes) {
            EXPECT_EQ(writes.back(), Frame(0x29, {6, 0, 0, 0x01}));
        }
    }
}

TEST_F(Transfer, RefusedPieceEndsTheDownloadWithItsText) {
    setModel(6);
    Bytes file = ObjectHeader(0xFEED);
    AddRecord(file, 1, 0, Bytes(40, 0x55));
    AddRecord(file, 6, 0, {0x01});
    orvemu::Fault f;
    f.kind = orvemu::FaultKind::ShortError;
    f.errorCode = 0x65;
    f.after = 3;  // the model, the begin and the first piece pass
    emu.setFault(f);
    ZQ_TRANSFER_STATS s{};
    EXPECT_EQ(download(file, s), 0);
    std::int32_t code = 0;
    EXPECT_EQ(ErrorText(id, &code), "Checksum error, or end of packet <> FFH.");
    EXPECT_EQ(code, 215);
    EXPECT_EQ(s.errors, 1);
    EXPECT_EQ(sent(0x29).size(), 2u) << "no piece after the refused one";
    EXPECT_EQ(emu.lastRequest(), kEnd);
}

TEST_F(Transfer, RefusedEndOfLoadWarnsAndFallsBackToTextCommands) {
    setModel(6);
    Bytes file = ObjectHeader(0xFEED);
    AddRecord(file, 6, 0, {0x01});
    emu.setHandler(0x02, [](orvemu::Controller &, const orvemu::Request &) { return Bytes{}; });
    ZQ_TRANSFER_STATS s{};
    EXPECT_EQ(download(file, s), 1);
    EXPECT_EQ(s.warnings, 1);
    const auto log = emu.requests();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 2], (Bytes{'-', 13}));
    EXPECT_EQ(log.back(), (Bytes{'*', 13}));

    // Without a start on input 1 only the asterisk goes.
    file = ObjectHeader(0xFEED);
    AddRecord(file, 6, 0, {0x0E});
    EXPECT_EQ(download(file, s), 1);
    EXPECT_EQ(emu.requests()[emu.requestCount() - 2], kEnd);
    EXPECT_EQ(emu.lastRequest(), (Bytes{'*', 13}));
}

// ---- Upload -----------------------------------------------------------------------

TEST_F(Transfer, RoundTripOfEveryArchitecture) {
    for (int model : {6, 5, 14, 16, 2, 4}) {
        SCOPED_TRACE(model);
        TempDir own;
        CheckRoundTrip(id, emu, SampleProgram(model), own);
    }
}

TEST_F(Transfer, WideProgramLargerThan64K) {
    ProgramImage p = SampleProgram(5);
    p.code.clear();
    std::fill(p.stepLengths.begin(), p.stepLengths.end(), 0);
    for (std::size_t i = 0; i < 300; ++i) {
        p.stepLengths[i] = 255;
        p.code.push_back(Bytes(255, static_cast<std::uint8_t>(i)));
    }
    TempDir own;
    CheckRoundTrip(id, emu, p, own);
    EXPECT_EQ(emu.withMemory([](orvemu::Memory &m) { return m.segmentByte(1, 299 * 255); }), 299 % 256);
}

TEST_F(Transfer, UploadNeverReplacesAFile) {
    setModel(6);
    const std::string path = dir.file("taken.dso");
    WriteBytes(path, {1, 2, 3});
    ZQ_TRANSFER_STATS s{};
    EXPECT_EQ(ZqUpload(id, path.c_str(), &s), 0);
    std::int32_t code = 0;
    EXPECT_EQ(ErrorText(id, &code), "Cannot create object file");
    EXPECT_EQ(code, EEXIST);
    EXPECT_EQ(ReadBytes(path), (Bytes{1, 2, 3}));
    EXPECT_EQ(ZqUpload(id, dir.file("no/such/folder.dso").c_str(), &s), 0);
    EXPECT_EQ(ErrorCode(id), ENOENT);
}

// The text names the step and then why its read failed: the controller's
// refusal, or the time-out of a controller that stopped answering.
TEST_F(Transfer, UploadWithoutAStepLengthTable) {
    setModel(6);
    const struct {
        orvemu::FaultKind fault;
        const char *text;
    } cases[] = {
        {orvemu::FaultKind::ShortError, "Failed to upload Step Length Table: Resource value out of range."},
        {orvemu::FaultKind::Drop, "Failed to upload Step Length Table: Timed out waiting for response from controller"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        orvemu::Fault f;
        f.kind = c.fault;
        f.errorCode = 0x68;
        f.count = -1;
        f.after = 3;  // the model and two pieces of the table pass
        emu.setFault(f);
        const std::string path = dir.file("stub.dso");
        std::remove(path.c_str());
        ZQ_TRANSFER_STATS s{};
        EXPECT_EQ(ZqUpload(id, path.c_str(), &s), 0);
        emu.clearFault();
        std::int32_t code = 0;
        EXPECT_EQ(ErrorText(id, &code), c.text);
        EXPECT_EQ(code, 160);
        // An upload that ended early never looks like one that met no error.
        EXPECT_EQ(ReadBytes(path), (Bytes{0xED, 0xFE, 0xFF}));
        EXPECT_EQ(s.bytes, 4);
    }
}

TEST_F(Transfer, UploadOfAModelThatWasOnlyAcknowledgedCreatesNothing) {
    NextReplyShort(emu, 0x64);
    const std::string path = dir.file("none.dso");
    ZQ_TRANSFER_STATS s{};
    EXPECT_EQ(ZqUpload(id, path.c_str(), &s), 0);
    EXPECT_EQ(ErrorText(id), "Incomplete packet");
    EXPECT_FALSE(Exists(path));
    NextReplyShort(emu, 0x66);
    EXPECT_EQ(ZqUpload(id, path.c_str(), &s), 0);
    EXPECT_EQ(ErrorText(id), "Illegal register number specified.");
    EXPECT_FALSE(Exists(path));
}

TEST_F(Transfer, LostStepKeepsTheOffsetsOfTheStepsAfterIt) {
    const ProgramImage p = SampleProgram(6);
    LoadProgram(emu, p);
    // The model, 64 pieces of the table, then the first step (one piece):
    // the second step's only request is lost.
    dropReply(1 + 64 + 1);
    const std::string path = dir.file("gap.dso");
    ZQ_TRANSFER_STATS s{};
    ASSERT_EQ(ZqUpload(id, path.c_str(), &s), 1);
    EXPECT_EQ(s.steps, 7);
    EXPECT_EQ(s.errors, 2) << "the lost step and the checksum that no longer matches";
    EXPECT_EQ(ErrorText(id), "Timed out waiting for response from controller");

    // The expected file without the second step's record, marked.
    Bytes expected = ExpectedObjectFile(p);
    const std::size_t second = 3 + 4 + 5;
    expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(second),
                   expected.begin() + static_cast<std::ptrdiff_t>(second + 4 + 1));
    expected[2] = 2;
    const Bytes file = ReadBytes(path);
    EXPECT_EQ(file, expected);
    // The third step is still at offset 6 (5 + 1).
    EXPECT_EQ(file[second + 2], 6);

    // Downloaded, every step but the lost one lands where it was.
    ClearProgram(emu);
    ZQ_TRANSFER_STATS d{};
    EXPECT_EQ(ZqDownload(id, path.c_str(), &d), 1);
    EXPECT_EQ(d.warnings, 1);
    const Bytes program = p.programBytes();
    const Bytes back = emu.withMemory([](orvemu::Memory &m) { return m.segments[1]; });
    ASSERT_EQ(back.size(), program.size());
    EXPECT_EQ(back[5], 0) << "the lost step";
    EXPECT_TRUE(std::equal(program.begin() + 6, program.end(), back.begin() + 6));
}

TEST_F(Transfer, ShortStepIsPaddedAndCounted) {
    const ProgramImage p = SampleProgram(6);
    LoadProgram(emu, p);
    // The third step (40 bytes) ends with an acknowledgement after 16.
    orvemu::Fault f;
    f.kind = orvemu::FaultKind::ShortError;
    f.errorCode = 0x64;
    f.after = 1 + 64 + 1 + 1 + 1;
    emu.setFault(f);
    const std::string path = dir.file("short.dso");
    ZQ_TRANSFER_STATS s{};
    ASSERT_EQ(ZqUpload(id, path.c_str(), &s), 1);
    EXPECT_EQ(s.steps, 8);
    EXPECT_EQ(s.errors, 2) << "the short step and the checksum";
    const Bytes file = ReadBytes(path);
    EXPECT_EQ(file[2], 2);
    const std::size_t third = 3 + 9 + 5;
    EXPECT_EQ(file[third], 40);
    EXPECT_EQ(Bytes(file.begin() + third + 4, file.begin() + third + 20),
              Bytes(p.code[2].begin(), p.code[2].begin() + 16));
    EXPECT_EQ(Bytes(file.begin() + third + 20, file.begin() + third + 44), Bytes(24, 0));
}

TEST_F(Transfer, UploadedDataTables) {
    // No rows: the size alone.
    ProgramImage p = SampleProgram(6);
    p.rows = 0;
    p.cells.clear();
    LoadProgram(emu, p);
    ZQ_TRANSFER_STATS s{};
    ASSERT_EQ(ZqUpload(id, dir.file("norows.dso").c_str(), &s), 1);
    EXPECT_EQ(ReadBytes(dir.file("norows.dso")), ExpectedObjectFile(p));

    // Rows of 200 columns: longer than one record, read back whole.
    p.rows = 2;
    p.columns = 200;
    p.cells.clear();
    for (int i = 0; i < 400; ++i) p.cells.push_back(static_cast<std::uint16_t>(i * 97));
    TempDir own;
    CheckRoundTrip(id, emu, p, own);
}

namespace {
// A data table of `rows` rows of one cell whose odd rows the controller
// refuses to read: never three failed reads in a row.
void RefuseOddRows(orvemu::Controller &emu, int rows) {
    ProgramImage p = SampleProgram(6);
    p.rows = static_cast<std::uint16_t>(rows);
    p.columns = 1;
    p.cells.assign(static_cast<std::size_t>(rows), 7);
    LoadProgram(emu, p);
    emu.setHandler(0x39, [read = emu.handler(0x39)](orvemu::Controller &c, const orvemu::Request &r) {
        if (r.args.size() == 4 && r.args[0] % 2 == 1) return Bytes{0x03, 0x66, 0x99, 0xFF};
        return read(c, r);
    });
}
}  // namespace

TEST_F(Transfer, ManyLostRowsLeaveTheirCountInTheStatusByte) {
    RefuseOddRows(emu, 600);
    const std::string path = dir.file("rows.dso");
    ZQ_TRANSFER_STATS s{};
    ASSERT_EQ(ZqUpload(id, path.c_str(), &s), 1);
    EXPECT_EQ(s.errors, 301) << "300 rows and the checksum";
    EXPECT_EQ(ReadBytes(path)[2], 301 % 256);
    EXPECT_EQ(s.bytes, static_cast<std::int32_t>(ReadBytes(path).size()) + 1) << "the status byte, written twice";
}

TEST_F(Transfer, ErrorCountOfWholeMultiplesOf256StillMarksTheFile) {
    RefuseOddRows(emu, 510);
    const std::string path = dir.file("rows.dso");
    ZQ_TRANSFER_STATS s{};
    ASSERT_EQ(ZqUpload(id, path.c_str(), &s), 1);
    EXPECT_EQ(s.errors, 256) << "255 rows and the checksum";
    EXPECT_EQ(ReadBytes(path)[2], 0xFF);
}

TEST_F(Transfer, FailedReadsOfTheLastRecordsAreCounted) {
    // The options, then the sysconf byte, then the checksum refused.
    const orvemu::Handler read = emu.handler(0x2B);
    for (int last = 1; last <= 3; ++last) {
        SCOPED_TRACE(last);
        const ProgramImage p = SampleProgram(6);
        LoadProgram(emu, p);
        emu.setHandler(0x2B, [read, last](orvemu::Controller &c, const orvemu::Request &r) {
            const int segment = r.args.empty() ? 0 : r.args[0];
            if ((last == 1 && segment == 4) || (last == 2 && segment == 6) || (last == 3 && segment == 5))
                return Bytes{0x03, 0x68, 0x97, 0xFF};
            return read(c, r);
        });
        const std::string path = dir.file("last" + std::to_string(last) + ".dso");
        ZQ_TRANSFER_STATS s{};
        ASSERT_EQ(ZqUpload(id, path.c_str(), &s), 1);
        // A missing options or sysconf record also leaves the checksum
        // different from the controller's.
        EXPECT_EQ(s.errors, last == 3 ? 1 : 2);
        EXPECT_EQ(ReadBytes(path)[2], s.errors);
    }
}

TEST_F(Transfer, ControllerThatStopsAnsweringEndsTheUploadAtOnce) {
    ProgramImage p = SampleProgram(6);
    p.rows = 1000;
    p.columns = 1;
    p.cells.assign(1000, 3);
    LoadProgram(emu, p);
    // The model, the table, the steps (27 pieces), the size and ten rows
    // pass; then no reply at all.
    const int answered = 1 + 64 + 27 + 1 + 10;
    dropReply(answered, -1);
    const std::string path = dir.file("stopped.dso");
    ZQ_TRANSFER_STATS s{};
    EXPECT_EQ(ZqUpload(id, path.c_str(), &s), 0);
    std::int32_t code = 0;
    EXPECT_EQ(ErrorText(id, &code),
              "Upload ended: 3 reads in a row failed (Timed out waiting for response from controller)");
    EXPECT_NE(code, 0);
    EXPECT_EQ(emu.requests().size(), static_cast<std::size_t>(answered + 3));
    EXPECT_EQ(s.errors, 3);
    EXPECT_EQ(ReadBytes(path)[2], 3) << "the file is marked";
}

// A data table whose rows reach past the 16-bit record addresses would be
// written over its own first rows: the upload refuses it (with a marked
// file) and so does the download of a file that carries it, before the
// controller is touched. The largest tables that fit go up and down whole.
TEST_F(Transfer, TablesPastSixteenBitRecordAddressesAreRefused) {
    struct Case {
        std::uint16_t rows;
        std::uint8_t columns;
        unsigned most;  // 0: fits
    };
    const auto refusal = [](unsigned rows, unsigned columns, unsigned most) {
        return "Data table of " + std::to_string(rows) + " rows x " + std::to_string(columns) + " columns (" +
               std::to_string(2ul * rows * columns) + " bytes) too large to transfer: at most " + std::to_string(most) +
               " rows of " + std::to_string(columns) +
               " columns fit the 16-bit addresses of the object file and the controller's memory";
    };
    const Case cases[] = {
        {327, 100, 0}, {128, 255, 0}, {328, 100, 327}, {330, 100, 327},
        {1000, 100, 327}, {129, 255, 128}, {32769, 1, 32768},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.rows) + " x " + std::to_string(c.columns));
        ProgramImage p = SampleProgram(6);
        p.rows = c.rows;
        p.columns = c.columns;
        p.cells.clear();
        for (std::size_t i = 0; i < std::size_t{c.rows} * c.columns; ++i)
            p.cells.push_back(static_cast<std::uint16_t>(i * 7 + 1));
        if (c.most == 0) {
            TempDir own;
            CheckRoundTrip(id, emu, p, own);
            continue;
        }
        LoadProgram(emu, p);
        emu.clearLog();
        const std::string path = dir.file("big" + std::to_string(c.rows) + ".dso");
        ZQ_TRANSFER_STATS s{};
        EXPECT_EQ(ZqUpload(id, path.c_str(), &s), 0);
        std::int32_t code = 0;
        EXPECT_EQ(ErrorText(id, &code), refusal(c.rows, c.columns, c.most));
        EXPECT_EQ(code, 183);
        EXPECT_TRUE(sent(0x39).empty()) << "no row was read";
        EXPECT_EQ(ReadBytes(path).at(2), 0xFF) << "the file is marked";

        // A file that carries such a table (its last row wrapped to 0).
        Bytes file = ObjectHeader(0xFEED);
        AddRecord(file, 3, 0, p.sizeBytes());
        AddRecord(file, 2, 0, Bytes(2u * c.columns, 1));
        AddRecord(file, 2, static_cast<std::uint16_t>(2u * c.columns * (c.rows - 1u)), Bytes(2u * c.columns, 2));
        expectRefused(file, refusal(c.rows, c.columns, c.most), 183);
    }
}

TEST_F(Transfer, HealthyControllerGivesNoErrors) {
    // A program downloaded, then a data table written through the
    // controller's own commands: its checksum follows.
    for (int model : {6, 2}) {
        SCOPED_TRACE(model);
        TempDir own;
        const ProgramImage p = SampleProgram(model);
        LoadProgram(emu, p);
        const std::string first = own.file("first.dso");
        ZQ_TRANSFER_STATS s{};
        ASSERT_EQ(ZqUpload(id, first.c_str(), &s), 1);
        ClearProgram(emu);
        ASSERT_EQ(ZqDownload(id, first.c_str(), &s), 1);
        std::int32_t row[5] = {0, 11, 22, 33, 44};  // by column number
        ASSERT_EQ(ZqPutDataTableRow(id, 2, 1, 4, row), 1) << ErrorText(id);
        const std::string second = own.file("second.dso");
        ASSERT_EQ(ZqUpload(id, second.c_str(), &s), 1);
        EXPECT_EQ(s.errors, 0);
        EXPECT_EQ(ReadBytes(second)[2], 0);
    }
}

TEST_F(Transfer, ChecksumMismatchIsAnError) {
    const ProgramImage p = SampleProgram(2);
    LoadProgram(emu, p);
    emu.withMemory([](orvemu::Memory &m) {
        m.checksumSkew = 1;
        return 0;
    });
    const std::string path = dir.file("sum.dso");
    ZQ_TRANSFER_STATS s{};
    ASSERT_EQ(ZqUpload(id, path.c_str(), &s), 1);
    EXPECT_EQ(s.errors, 1);
    EXPECT_EQ(ReadBytes(path)[2], 1);
}
