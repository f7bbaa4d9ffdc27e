// The raw command, the Q80 and remote I/O reads and the program transfers
// end to end: the shared library over each real transport against the
// emulator, with replies lost or garbled in the middle of a transfer.
#include <gtest/gtest.h>

#include "family_checks.h"
#include "link_fixture.h"
#include "raw_fixture.h"
#include "transfer_checks.h"

using namespace orvtest;
using orv::test::ReadBytes;
using orv::test::TempDir;

namespace {

const Bytes kReadRegister1{0x09, 0x01, 0x00};

// While it lives, the connection waits `ms` for a reply: long enough for any
// answer on a busy machine, short enough that a lost one costs little.
class TimeoutFor {
public:
    TimeoutFor(std::int32_t id, std::int32_t ms) : id_(id) {
        ZQ_CONNECTION_INFO info{};
        ZqGetConnectionInfo(id, &info);
        before_ = info.timeout;
        ZqSetConnectionTimeout(id, ms);
    }
    ~TimeoutFor() { ZqSetConnectionTimeout(id_, before_); }

private:
    std::int32_t id_;
    std::int32_t before_ = 0;
};
constexpr std::int32_t kLossTimeout = 1000;

void FillRemoteIo(orvemu::Controller &emu) {
    emu.withMemory([](orvemu::Memory &m) {
        for (int i = 0; i < orvemu::Memory::kRemoteIoValues; ++i) {
            const auto k = static_cast<std::size_t>(i);
            m.q80Data[k] = i < 256 ? 0xF000 + i : -1000 * i;
            m.remoteIoConfig[k] = i < 256 ? 2 * i : 0x10000 + i;
            m.remoteIoData[k] = i < 256 ? 0xFFFF - i : i;
        }
        return 0;
    });
}

// The command bytes 09 01 00 read register 1 through the raw command.
void CheckRunCommand(std::int32_t id, orvemu::Controller &emu) {
    SetRegister(emu, 1, 42);
    std::uint8_t reply[ZQ_RUN_COMMAND_REPLY_BYTES] = {};
    std::int32_t count = -1;
    ASSERT_EQ(ZqRunCommand(id, kReadRegister1.data(), 3, reply, &count), 1) << ErrorText(id);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x06, 0x61, 0x09, 0x01, 0x00, 0x94, 0xFF}));
    EXPECT_EQ(count, 4);
    EXPECT_EQ(Bytes(reply, reply + 4), (Bytes{0x2A, 0x00, 0x00, 0x00}));

    // No command bytes: the controller refuses it.
    EXPECT_EQ(ZqRunCommand(id, nullptr, 0, reply, &count), 0);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x03, 0x61, 0x9E, 0xFF}));
    EXPECT_EQ(ErrorText(id), "Unknown packet error.");

    // A write inside comes back acknowledged: 1, nothing handed back.
    const Bytes write{0x0B, 0x02, 0x00, 0x07, 0x00, 0x00, 0x00};
    count = -1;
    EXPECT_EQ(ZqRunCommand(id, write.data(), static_cast<std::int32_t>(write.size()), reply, &count), 1);
    EXPECT_EQ(count, -1);
    std::int32_t v = 0;
    ASSERT_EQ(ZqGetRegister(id, 2, &v), 1);
    EXPECT_EQ(v, 7);

    const Bytes tooMany(252, 0x09);
    ExpectRefusedAtOnce(id, emu, [&] { return ZqRunCommand(id, tooMany.data(), 252, reply, &count); }, "252 bytes");
    ExpectRefusedAtOnce(id, emu, [&] { return ZqRunCommand(id, tooMany.data(), -1, reply, &count); }, "-1 bytes");
}

void CheckLoadRemoteIoConfig(std::int32_t id, orvemu::Controller &emu) {
    emu.clearLog();
    EXPECT_EQ(ZqLoadRemoteIOConfig(id, 0), 1);
    EXPECT_EQ(ZqLoadRemoteIOConfig(id, 12345), 1);
    const Bytes load{0x01, 0x03, 0x67, 0x98, 0xFF};
    EXPECT_EQ(emu.requests(), (std::vector<Bytes>{load, load}));
    EXPECT_EQ(emu.withMemory([](orvemu::Memory &m) { return m.remoteIoConfigLoads; }), 2);
    NextReplyShort(emu, 0x68);
    EXPECT_EQ(ZqLoadRemoteIOConfig(id, 0), 0);
    EXPECT_EQ(ErrorCode(id), 216);
}

// A piece of a download refused, lost or garbled after `after` requests
// (the model read and the begin come first).
void CheckDownloadBrokenOff(std::int32_t id, orvemu::Controller &emu, const TempDir &dir, bool transportRetries) {
    const ProgramImage p = SampleProgram(6);
    LoadProgram(emu, p);
    const std::string path = dir.file("broken.dso");
    ZQ_TRANSFER_STATS s{};
    ASSERT_EQ(ZqUpload(id, path.c_str(), &s), 1) << ErrorText(id);
    std::int32_t code = 0;

    orvemu::Fault refuse;
    refuse.kind = orvemu::FaultKind::ShortError;
    refuse.errorCode = 0x69;
    refuse.after = 5;
    emu.setFault(refuse);
    EXPECT_EQ(ZqDownload(id, path.c_str(), &s), 0);
    EXPECT_EQ(ErrorText(id, &code), "Attempting to run Q42 code on Q43.");
    EXPECT_EQ(code, 157);
    EXPECT_EQ(s.errors, 1);
    EXPECT_EQ(emu.lastRequest(), (Bytes{0x01, 0x03, 0x02, 0xFD, 0xFF})) << "the load is ended all the same";

    {
        const TimeoutFor shortWait(id, kLossTimeout);
        orvemu::Fault lose;
        lose.kind = orvemu::FaultKind::Drop;
        lose.after = 5;
        emu.setFault(lose);
        if (transportRetries) {
            EXPECT_EQ(ZqDownload(id, path.c_str(), &s), 1) << "the transport's retry brings the reply";
            EXPECT_EQ(s.errors, 0);
        } else {
            EXPECT_EQ(ZqDownload(id, path.c_str(), &s), 0);
            EXPECT_EQ(ErrorText(id, &code), "Timed out waiting for response from controller");
            EXPECT_EQ(code, 236);
            EXPECT_EQ(s.errors, 1);
        }

        orvemu::Fault garble;
        garble.kind = orvemu::FaultKind::Garbage;
        garble.garbage = {0x17, 0x42, 0x00};
        garble.after = 5;
        emu.setFault(garble);
        EXPECT_EQ(ZqDownload(id, path.c_str(), &s), 0);
        EXPECT_EQ(ErrorText(id, &code), "Timed out waiting for response from controller");
        EXPECT_EQ(s.errors, 1);
    }

    // The link is fine afterwards, and a whole download goes through.
    emu.clearFault();
    ClearProgram(emu);
    EXPECT_EQ(ZqDownload(id, path.c_str(), &s), 1) << ErrorText(id);
    EXPECT_EQ(ReadBytes(path), ExpectedObjectFile(p));
}

// A step read lost in the middle of an upload: the step is missing from the
// file, counted, and the file is marked; with a transport that retries
// nothing is missing.
void CheckUploadWithALostStep(std::int32_t id, orvemu::Controller &emu, const TempDir &dir, bool transportRetries) {
    const ProgramImage p = SampleProgram(6);
    LoadProgram(emu, p);
    orvemu::Fault lose;
    lose.kind = orvemu::FaultKind::Drop;
    lose.after = 1 + 64 + 2;  // the model, the table, two steps
    emu.setFault(lose);
    const std::string path = dir.file("lost.dso");
    ZQ_TRANSFER_STATS s{};
    {
        const TimeoutFor shortWait(id, kLossTimeout);
        ASSERT_EQ(ZqUpload(id, path.c_str(), &s), 1) << ErrorText(id);
    }
    const Bytes file = ReadBytes(path);
    if (transportRetries) {
        EXPECT_EQ(file, ExpectedObjectFile(p));
        EXPECT_EQ(s.errors, 0);
        return;
    }
    EXPECT_EQ(s.steps, 7);
    EXPECT_EQ(s.errors, 2) << "the step and the checksum";
    EXPECT_EQ(s.bytes, static_cast<std::int32_t>(file.size()) + 1);
    ASSERT_GT(file.size(), 3u);
    EXPECT_EQ(file[2], 2) << "the file is marked";
}

class TransferOver : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        if (GetParam() == Link::Serial) ZqInitConnection(id(), 19200, 0, 8, 0);
        controller().clearLog();
    }
    bool retries() const { return GetParam() == Link::Udp; }
    TempDir dir;
};

}  // namespace

TEST_P(TransferOver, RunCommand) { CheckRunCommand(id(), controller()); }

TEST_P(TransferOver, RemoteIoConfigAndRecordsThatDoNotFitTheLink) {
    CheckLoadRemoteIoConfig(id(), controller());
    FillRemoteIo(controller());
    ZQ_REMOTE_IO_DATA data;
    data.values[0] = -7;
    controller().clearLog();
    // These transports carry at most 256 bytes of the long reply: refused
    // without a value written.
    EXPECT_EQ(ZqGetQ80Data(id(), &data), 0);
    EXPECT_EQ(controller().lastRequest(), (Bytes{0x01, 0x03, 0x53, 0xAC, 0xFF}));
    EXPECT_EQ(ErrorCode(id()), 206);
    EXPECT_EQ(ZqUnloadRemoteIOConfig(id(), &data), 0);
    EXPECT_EQ(controller().lastRequest(), (Bytes{0x01, 0x03, 0x65, 0x9A, 0xFF}));
    EXPECT_EQ(ZqGetRemoteIOData(id(), &data), 0);
    EXPECT_EQ(controller().lastRequest(), (Bytes{0x01, 0x03, 0x69, 0x96, 0xFF}));
    EXPECT_EQ(data.values[0], -7);
    // A bare acknowledgement: the record unwritten.
    ExpectAcknowledgedRead(id(), controller(), [&] { return ZqGetQ80Data(id(), &data); });
    EXPECT_EQ(data.values[0], -7);
    // The rest of the long reply does not linger on the link.
    std::int32_t v = 0;
    SetRegister(controller(), 3, 33);
    EXPECT_EQ(ZqGetRegister(id(), 3, &v), 1) << ErrorText(id());
    EXPECT_EQ(v, 33);
}

TEST_P(TransferOver, RoundTripEa) { CheckRoundTrip(id(), controller(), SampleProgram(6), dir); }
TEST_P(TransferOver, RoundTripNonEa) { CheckRoundTrip(id(), controller(), SampleProgram(2), dir); }
TEST_P(TransferOver, DownloadBrokenOff) { CheckDownloadBrokenOff(id(), controller(), dir, retries()); }
TEST_P(TransferOver, UploadWithALostStep) { CheckUploadWithALostStep(id(), controller(), dir, retries()); }

ORV_ALL_LINKS(TransferOver);

namespace {

class TransferOverRawEthernet : public RawEthernetTest {
protected:
    std::int32_t OpenClean() {
        const auto id = Open(32001, 7);
        controller_.clearLog();
        return id;
    }
    TempDir dir;
};

}  // namespace

TEST_F(TransferOverRawEthernet, RunCommand) { CheckRunCommand(OpenClean(), controller_); }

TEST_F(TransferOverRawEthernet, RemoteIoRecordsArriveWhole) {
    const auto id = OpenClean();
    CheckLoadRemoteIoConfig(id, controller_);
    FillRemoteIo(controller_);
    ZQ_REMOTE_IO_DATA q80{}, config{}, data{};
    ASSERT_EQ(ZqGetQ80Data(id, &q80), 1) << ErrorText(id);
    ASSERT_EQ(ZqUnloadRemoteIOConfig(id, &config), 1) << ErrorText(id);
    ASSERT_EQ(ZqGetRemoteIOData(id, &data), 1) << ErrorText(id);
    for (int i = 0; i < ZQ_REMOTE_IO_VALUES; ++i) {
        const auto k = static_cast<std::size_t>(i);
        SCOPED_TRACE(i);
        const auto expected = controller_.withMemory([&](orvemu::Memory &m) {
            return std::array<std::int32_t, 3>{m.q80Data[k], m.remoteIoConfig[k], m.remoteIoData[k]};
        });
        EXPECT_EQ(q80.values[i], expected[0]);
        EXPECT_EQ(config.values[i], expected[1]);
        EXPECT_EQ(data.values[i], expected[2]);
    }
    // The words are unsigned, the long words signed.
    EXPECT_EQ(q80.values[0], 0xF000);
    EXPECT_EQ(q80.values[375], -375000);
}

TEST_F(TransferOverRawEthernet, RoundTripWide) { CheckRoundTrip(OpenClean(), controller_, SampleProgram(5), dir); }
TEST_F(TransferOverRawEthernet, RoundTripNonEa) { CheckRoundTrip(OpenClean(), controller_, SampleProgram(2), dir); }
TEST_F(TransferOverRawEthernet, DownloadBrokenOff) { CheckDownloadBrokenOff(OpenClean(), controller_, dir, true); }
TEST_F(TransferOverRawEthernet, UploadWithALostStep) { CheckUploadWithALostStep(OpenClean(), controller_, dir, true); }
