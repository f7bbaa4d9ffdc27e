// Program transfer and the uncompiler, each beside its floor in the same run:
//
// - the peak memory of the download check and of the uncompiler on object
//   files no controller holds (a 2.3 GB sparse file, 50 MB of 1-byte
//   records) and on one of 20 MB of 1-byte records, each measured in a
//   child process of its own;
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
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

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

// ---- Peak memory -------------------------------------------------------------------

// The growth of the peak resident size, in KB, while `run` runs in a child
// process (which starts from this process's footprint); -1 when the child
// did not report. Its output goes to this process's stdout.
long PeakGrowthKb(const std::function<void()> &run) {
    std::fflush(stdout);
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        run();
        getrusage(RUSAGE_SELF, &after);
        const long growth = after.ru_maxrss - before.ru_maxrss;
        std::fflush(stdout);
        (void)!write(fds[1], &growth, sizeof growth);
        _exit(0);
    }
    close(fds[1]);
    long growth = -1;
    if (pid < 0 || read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
    close(fds[0]);
    if (pid > 0) waitpid(pid, nullptr, 0);
    return growth;
}

// An object file of an EA header and `records` records of one data byte.
bool WriteOneByteRecords(const std::string &path, std::size_t records) {
    std::FILE *out = std::fopen(path.c_str(), "wbx");
    if (!out) return false;
    const std::uint8_t header[] = {0xEC, 0xFE, 0x00};
    std::fwrite(header, 1, sizeof header, out);
    const std::uint8_t record[] = {1, 6, 0, 0, 0x01};  // "sysconf" at 0
    for (std::size_t i = 0; i < records; ++i) std::fwrite(record, 1, sizeof record, out);
    return std::fclose(out) == 0;
}

// An object file of `size` bytes: an EA header and one record, then holes,
// which read as zeros.
bool WriteSparse(const std::string &path, off_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::uint8_t start[] = {0xEC, 0xFE, 0x00, 1, 6, 0, 0, 0x01};
    const bool ok = write(fd, start, sizeof start) == sizeof start && ftruncate(fd, size) == 0;
    close(fd);
    return ok;
}

void PrintError(std::int32_t id) {
    ZQ_ERROR_INFO e{};
    ZqGetErrorInfo(id, &e);
    std::printf("    error %d \"%s\"\n", e.code, e.text);
}

// The check and the uncompiler on each file, with their peak memory.
void ObjectFileMemory(std::int32_t id, const orv::test::TempDir &dir) {
    struct Case {
        const char *what;
        std::string path;
        bool made;
    };
    const std::string sparse = dir.file("sparse.obj"), fifty = dir.file("fifty.obj"), twenty = dir.file("twenty.obj");
    const Case cases[] = {
        {"2.3 GB sparse file", sparse, WriteSparse(sparse, 2'300'000'000)},
        {"50 MB of 1-byte records", fifty, WriteOneByteRecords(fifty, 10'000'000)},
        {"20 MB of 1-byte records", twenty, WriteOneByteRecords(twenty, 4'000'000)},
    };
    std::printf("peak memory of the object-file readers (growth of the peak resident size):\n");
    for (const Case &c : cases) {
        if (!c.made) {
            std::printf("  %s: cannot be made\n", c.what);
            continue;
        }
        const long check = PeakGrowthKb([&] {
            const auto start = orvbench::Clock::now();
            const std::int32_t result = ZqCheckDownload(id, c.path.c_str());
            const double ms = std::chrono::duration<double, std::milli>(orvbench::Clock::now() - start).count();
            std::printf("  %s: ZqCheckDownload %d in %.0f ms\n", c.what, result, ms);
            if (result != 1) PrintError(id);
        });
        std::printf("    peak +%ld KB\n", check);
        const long listing = PeakGrowthKb([&] {
            const std::string stp = dir.file("m.stp"), dtb = dir.file("m.dtb"), cfg = dir.file("m.cfg");
            ZQ_TRANSFER_STATS stats{};
            const auto start = orvbench::Clock::now();
            const std::int32_t result = ZqUncompile(5, c.path.c_str(), stp.c_str(), dtb.c_str(), cfg.c_str(), &stats);
            const double ms = std::chrono::duration<double, std::milli>(orvbench::Clock::now() - start).count();
            std::printf("  %s: ZqUncompile %d in %.0f ms, bytes %d, warnings %d\n", c.what, result, ms, stats.bytes,
                        stats.warnings);
            if (result != 1) PrintError(id);
            for (const auto &p : {stp, dtb, cfg}) std::remove(p.c_str());
        });
        std::printf("    peak +%ld KB\n", listing);
        std::remove(c.path.c_str());
    }
    std::printf("\n");
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
    ObjectFileMemory(id, dir);

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
