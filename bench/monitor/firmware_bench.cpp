// The firmware update window's reader on a large compressed firmware file
// (about 1 MB of S-records), every line read through GetLine as the update
// reads them, against a plain read of the same file. The reader lets pending
// window events run after every decoded byte; a second row shows the same
// reading with yields that run no events, the decoding's own cost. The
// argument is the number of rounds.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>

#include "../../monitor/transfer/tests/firmwarefiles.h"
#include "bench_stats.h"
#include "core/eventpump.h"
#include "harness/harness.h"
#include "transfer/frmProgFlash.h"

namespace {

// S-records of 32 data bytes each, about 1 MB of text with CR LF.
QByteArray LargeFirmwareText() {
    QStringList lines{firmware::sRecord('0', 0, "BENCH FIRMWARE")};
    std::uint32_t seed = 11;
    for (unsigned address = 0; lines.size() < 13000; address += 32) {
        QByteArray data;
        for (int i = 0; i < 32; ++i) {
            seed = seed * 1103515245u + 12345u;
            // Firmware is far from random: mostly small opcodes and zeros.
            data.append(char((seed >> 16) % 5 == 0 ? (seed >> 8) & 0xFF : (seed >> 20) & 0x0F));
        }
        lines << firmware::sRecord('2', address, data, 3);
    }
    lines << firmware::sRecord('8', 0, {}, 3);
    return firmware::crlfText(lines);
}

// The compressed file: the counts scaled to what the header can hold (their
// sum at most 32767), and the text coded with the tree of those counts.
QByteArray Compress(const QByteArray &text) {
    std::array<long, 257> raw{};
    for (char c : text) ++raw[uint8_t(c)];
    std::array<int, 257> counts{};
    for (int i = 0; i < 256; ++i)
        if (raw[size_t(i)]) counts[size_t(i)] = std::max(1, int(raw[size_t(i)] * 30000 / text.size()));
    int first = 0, last = 255;
    while (counts[size_t(first)] == 0) ++first;
    while (counts[size_t(last)] == 0) --last;
    firmware::Run run{int16_t(first), int16_t(last), {}};
    for (int i = first; i <= last; ++i) run.counts.push_back(int16_t(counts[size_t(i)]));
    const auto code = firmware::codes(counts);
    // Pack the bits (most significant first), then the end symbol.
    QByteArray out = firmware::header({run});
    unsigned acc = 0;
    int bits = 0;
    auto put = [&](const QString &c) {
        for (QChar b : c) {
            acc = (acc << 1) | (b == u'1' ? 1u : 0u);
            if (++bits == 8) {
                out.append(char(acc));
                acc = 0;
                bits = 0;
            }
        }
    };
    std::array<QString, 256> table;
    for (int i = 0; i < 256; ++i)
        if (code.count(i)) table[size_t(i)] = code.at(i);
    for (char c : text) put(table[uint8_t(c)]);
    put(code.at(256));
    if (bits) out.append(char(acc << (8 - bits)));
    return out;
}

bool PlainRead(const QString &path, std::vector<char> &into) {
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t n = read(fd, into.data(), into.size());
    close(fd);
    return n > 0;
}

}  // namespace

int main(int argc, char **argv) {
    orvbench::PinToOneCore();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 10;

    MonitorTestEnv env;
    const QByteArray text = LargeFirmwareText();
    const QByteArray compressed = Compress(text);
    const QString path = firmware::writeFile(env.dir() + "/large.csr", compressed);
    std::printf("firmware: %lld bytes of text, %lld compressed\n\n", static_cast<long long>(text.size()),
                static_cast<long long>(compressed.size()));

    frmProgFlash &w = form<frmProgFlash>();
    w.FileMode = 1;
    std::vector<char> buffer(std::size_t(compressed.size()) + 1);
    bool ok = true;
    auto decode = [&] {
        qsizetype decoded = 0;
        ok = w.OpenFile(path) && ok;
        QString line;
        while (w.GetLine(line)) decoded += line.size() + 2;
        w.CloseCompressedFile();
        // Every line came out (the end symbol adds an empty last line).
        ok = decoded == text.size() + 2 && ok;
    };
    orvbench::Alternate(
        rounds, "firmware plain read", [&] { ok = PlainRead(path, buffer) && ok; }, "firmware decoder", decode);
    // The decoder's own work: the same with yields that let no events run.
    {
        ScriptedPump quiet(false);
        installEventPump(&quiet);
        orvbench::Alternate(
            rounds, "firmware plain read 2", [&] { ok = PlainRead(path, buffer) && ok; }, "firmware decoding alone",
            decode);
        installEventPump(nullptr);
    }
    if (!ok) {
        std::fprintf(stderr, "firmware_bench: the file did not decode\n");
        return 1;
    }
    orvbench::PrintRatio("firmware decoder", "firmware plain read");
    orvbench::PrintRatio("firmware decoding alone", "firmware plain read 2");
    orvbench::PrintRow("Firmware decoder, 1 MB", orvbench::Median("firmware decoder"),
                       orvbench::Median("firmware plain read"), 3.0);
    orvbench::PrintRow("  the same, yields running no events", orvbench::Median("firmware decoding alone"),
                       orvbench::Median("firmware plain read 2"), 0);
    return 0;
}
