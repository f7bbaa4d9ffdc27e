// Program transfer and the uncompiler, each beside its floor in the same run:
//
// - download and upload of a program of about 100 KB over UDP, against the
//   same request frames (recorded from the library's own transfer) sent
//   bare, one datagram out and one back;
// - the uncompiler on an object file of thousands of steps and a big data
//   table, against a plain read of that file and a plain write of as much
//   text as the listings come to.
//
// Pinned to one core. The argument is the number of rounds.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "../library/tests/step_cases.h"
#include "../library/tests/transfer_checks.h"
#include "bench_stats.h"
#include "servers.h"

namespace {

using orvtest::Bytes;
const char kAddress[] = "127.77.0.2";

// About 100 KB of code in 1,000 steps of 100 bytes, and a 200 x 8 table.
orvtest::ProgramImage LargeProgram() {
    orvtest::ProgramImage p;
    p.model = 5;
    p.stepLengths.assign(orvtest::StepTableEntries(p.model), 0);
    orv::test::ArbitraryBytes next(7);
    for (std::size_t step = 0; step < 1000; ++step) {
        p.stepLengths[step * 3] = 100;
        Bytes c(100);
        for (auto &b : c) b = next();
        p.code.push_back(c);
    }
    p.rows = 200;
    p.columns = 8;
    for (int i = 0; i < p.rows * p.columns; ++i) p.cells.push_back(static_cast<std::uint16_t>(i * 37));
    p.options = {1, 2, 3, 4};
    p.sysconf = 5;
    return p;
}

// An object file the uncompiler lists in full: 4,000 steps of instructions
// of every kind, and a 2,000 x 16 data table.
Bytes LargeListing() {
    orvtest::ProgramImage p;
    p.model = 5;
    p.stepLengths.assign(orvtest::StepTableEntries(p.model), 0);
    std::size_t k = 0;
    for (std::size_t step = 0; step < 4000; ++step) {
        Bytes c{0x00};
        while (c.size() < 40) {
            const auto &one = orv::test::kEaCases[k++ % orv::test::kEaCases.size()];
            if (!one.goesOn) continue;
            c.insert(c.end(), one.code.begin(), one.code.end());
        }
        c.push_back(0xCA);
        p.stepLengths[step] = static_cast<std::uint8_t>(c.size());
        p.code.push_back(c);
    }
    p.rows = 2000;
    p.columns = 16;
    for (int i = 0; i < p.rows * p.columns; ++i) p.cells.push_back(static_cast<std::uint16_t>(i * 13));
    return orvtest::ExpectedObjectFile(p);
}

// Sends each frame behind an envelope header and waits for its answer.
class BareUdp {
public:
    BareUdp() {
        to_.sin_family = AF_INET;
        to_.sin_port = htons(3000);
        inet_pton(AF_INET, kAddress, &to_.sin_addr);
        timeval tv{2, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~BareUdp() { close(fd_); }
    bool run(const std::vector<Bytes> &frames) {
        std::uint8_t out[1492], in[1492];
        for (const Bytes &f : frames) {
            sequence_ = static_cast<std::uint16_t>(sequence_ + 1 == 0x10000 ? 1 : sequence_ + 1);
            out[0] = 4;
            out[1] = 0;
            out[2] = static_cast<std::uint8_t>(sequence_);
            out[3] = static_cast<std::uint8_t>(sequence_ >> 8);
            out[4] = 20;
            out[5] = 0;
            out[6] = static_cast<std::uint8_t>(f.size());
            out[7] = static_cast<std::uint8_t>(f.size() >> 8);
            std::copy(f.begin(), f.end(), out + 8);
            sendto(fd_, out, f.size() + 8, 0, reinterpret_cast<const sockaddr *>(&to_), sizeof to_);
            if (recv(fd_, in, sizeof in, 0) < 9) return false;
        }
        return true;
    }

private:
    int fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to_{};
    std::uint16_t sequence_ = 0;
};

std::size_t FileSize(const std::string &path) {
    std::error_code ec;
    const auto n = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<std::size_t>(n);
}

bool ReadWhole(const std::string &path, std::vector<char> &into) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    into.resize(FileSize(path));
    const ssize_t n = read(fd, into.data(), into.size());
    close(fd);
    return n == static_cast<ssize_t>(into.size());
}

bool WriteWhole(const std::string &path, const std::vector<char> &bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    close(fd);
    return n == static_cast<ssize_t>(bytes.size());
}

int Fail(const char *what) {
    std::fprintf(stderr, "transfer_bench: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    orvbench::PinToOneCore();
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;

    orv::test::TempDir dir;
    orvemu::Controller emu(5);
    const auto udp = orvemu::startUdp(emu, kAddress);
    if (!udp) return Fail("cannot serve the emulator");
    const std::int32_t id = ZqOpenConnection(ZQ_TYPE_UDP, 0, static_cast<std::int32_t>(inet_addr(kAddress)));
    if (!id) return Fail("cannot open the connection");
    ZqSetConnectionTimeout(id, 2000);

    // The program's object file, and the frames each transfer is made of.
    const orvtest::ProgramImage program = LargeProgram();
    orvtest::LoadProgram(emu, program);
    const std::string object = dir.file("program.obj"), uploaded = dir.file("uploaded.obj");
    ZQ_TRANSFER_STATS stats{};
    emu.clearLog();
    if (ZqUpload(id, object.c_str(), &stats) != 1) return Fail("upload failed");
    const auto uploadFrames = emu.requests();
    emu.clearLog();
    if (ZqDownload(id, object.c_str(), &stats) != 1) return Fail("download failed");
    const auto downloadFrames = emu.requests();
    std::printf("program: %zu bytes of object file; download %zu exchanges, upload %zu\n\n", FileSize(object),
                downloadFrames.size(), uploadFrames.size());
    emu.clearLog();

    BareUdp bare;
    bool ok = true;
    orvbench::Alternate(
        rounds, "download bare", [&] { ok = bare.run(downloadFrames) && ok; }, "download library",
        [&] { ok = ZqDownload(id, object.c_str(), &stats) == 1 && ok; }, [&] { emu.clearLog(); });
    orvbench::Alternate(
        rounds, "upload bare", [&] { ok = bare.run(uploadFrames) && ok; }, "upload library",
        [&] { ok = ZqUpload(id, uploaded.c_str(), &stats) == 1 && ok; },
        [&] {
            std::remove(uploaded.c_str());
            emu.clearLog();
        });
    if (!ok) return Fail("a transfer failed");
    ZqCloseConnection(id);

    // The uncompiler, against reading its input and writing as much text.
    const std::string listingObject = dir.file("listing.obj");
    orv::test::WriteBytes(listingObject, LargeListing());
    const std::string stp = dir.file("out.stp"), dtb = dir.file("out.dtb"), cfg = dir.file("out.cfg");
    const std::string plain = dir.file("plain.txt");
    auto removeOutputs = [&] {
        for (const auto &p : {stp, dtb, cfg, plain}) std::remove(p.c_str());
    };
    if (ZqUncompile(5, listingObject.c_str(), stp.c_str(), dtb.c_str(), cfg.c_str(), &stats) != 1)
        return Fail("uncompile failed");
    const std::size_t text = FileSize(stp) + FileSize(dtb) + FileSize(cfg);
    std::printf("listing: %zu bytes of object file, %d steps, %zu bytes of text\n\n", FileSize(listingObject),
                stats.steps, text);
    removeOutputs();
    std::vector<char> input, output(text, 'x');
    orvbench::Alternate(
        rounds, "uncompile floor",
        [&] { ok = ReadWhole(listingObject, input) && WriteWhole(plain, output) && ok; }, "uncompile library",
        [&] { ok = ZqUncompile(5, listingObject.c_str(), stp.c_str(), dtb.c_str(), cfg.c_str(), &stats) == 1 && ok; },
        removeOutputs);
    if (!ok) return Fail("an uncompile failed");

    orvbench::PrintRatio("download library", "download bare");
    orvbench::PrintRatio("upload library", "upload bare");
    orvbench::PrintRatio("uncompile library", "uncompile floor");
    orvbench::PrintRow("Download ~100 KB over UDP", orvbench::Median("download library"),
                       orvbench::Median("download bare"), 1.2);
    orvbench::PrintRow("Upload ~100 KB over UDP", orvbench::Median("upload library"), orvbench::Median("upload bare"),
                       1.2);
    orvbench::PrintRow("Uncompile 4000 steps", orvbench::Median("uncompile library"),
                       orvbench::Median("uncompile floor"), 3.0);
    return 0;
}
