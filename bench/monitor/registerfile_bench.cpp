// What reading a register file costs: the peak resident size and the time
// of the register file reader (as both register downloads use it) on the
// largest valid file (registers 1 to 1000, eight banks, the V-registers:
// 9700 register lines, read whole with every number), on a file of
// millions of short lines and on one of a single line of many megabytes
// and on one of as many blank lines (all three refused), each beside the
// floor of a process that reads an empty
// file. Each case runs in a process of its own, so that each peak is its
// own. The refusals' messages are printed with the length of the line they
// quote.
//
//   registerfile_bench [millions of lines] [megabytes of the long line]
//                      (defaults 30 and 100)
#include <QByteArray>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "childrun.h"
#include "core/registerfile.h"
#include "core/runtime_error.h"

namespace {

struct Figures {
    long peakKb = 0;
    double ms = 0;
    bool read = false;
    long entries = 0;
    char message[200] = {};
};

// Reads the file as a download does, in a child process: every line with
// its numbers, or the refusal.
Figures readInChild(const std::string &path) {
    return bench::inChild<Figures>([&](Figures &f) {
        RegisterFileReader reader;
        try {
            reader.open(QString::fromStdString(path));
            reader.skipHeader();
            while (!reader.atEnd()) {
                const RegisterFileEntry e = reader.next();
                RegisterFileReader::wholeNumber(e.number);
                if (!e.failedRead()) RegisterFileReader::realNumber(e.value);
                ++f.entries;
            }
            f.read = true;
        } catch (const RuntimeError &e) {
            const QByteArray m = (QStringLiteral("line %1: ").arg(reader.lineNumber()) + e.description()).toUtf8();
            std::strncpy(f.message, m.constData(), sizeof f.message - 1);
        }
    });
}

// The largest file the format describes, as the File menu's upload writes
// it on a model with eight banks and V-registers.
QByteArray largestFile() {
    QByteArray out = "Reg#          Value\r\n\r\n";
    const auto add = [&out](int reg, const QByteArray &value) {
        QByteArray l = QByteArray::number(reg);
        out += l + QByteArray(14 - l.size(), ' ') + value + "\r\n";
    };
    for (int r = 1; r <= 1000; ++r) add(r, QByteArray::number(-2147483647 + r));
    for (int r = 32001; r <= 40000; ++r) add(r, QByteArray::number(2147483647 - r));
    for (int r = 36101; r <= 36800; ++r) add(r, " -2.2250738585072014e-308 ");
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    const long millions = argc > 1 ? std::atol(argv[1]) : 30;
    const long megabytes = argc > 2 ? std::atol(argv[2]) : 100;
    if (millions < 1 || millions > 1000 || megabytes < 1 || megabytes > 10000) {
        std::fprintf(stderr, "usage: %s [millions of lines, 1 to 1000] [megabytes, 1 to 10000]\n", argv[0]);
        return 2;
    }
    char dir[] = "/tmp/orv-registerfile-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string empty = std::string(dir) + "/empty.txt", largest = std::string(dir) + "/largest.txt",
                      many = std::string(dir) + "/many.txt", blank = std::string(dir) + "/blank.txt",
                      wide = std::string(dir) + "/wide.txt";
    const QByteArray header = "Reg#          Value\r\n\r\n";
    const bool written = bench::writeFile(empty, {}, {}, 0) && bench::writeFile(largest, largestFile(), {}, 0) &&
                         bench::writeFile(many, header, QByteArray("1 1\n").repeated(1000000), millions) &&
                         bench::writeFile(blank, header, QByteArray("\n").repeated(1000000), millions) &&
                         bench::writeFile(wide, header + "1 ", QByteArray(1024 * 1024, '7'), megabytes, "\r\n");
    struct Case {
        const char *what;
        const std::string &path;
    } const cases[] = {
        {"floor: an empty file", empty},
        {"the largest valid file", largest},
        {"millions of short lines", many},
        {"as many blank lines", blank},
        {"one line of many megabytes", wide},
    };
    int status = written ? 0 : 1;
    std::printf("register file read: %ld million lines; one line of %ld MB\n", millions, megabytes);
    std::printf("%-30s %9s %9s %9s %9s  %s\n", "case", "file MB", "peak MB", "ms", "entries", "outcome");
    double largestMb = 0;
    for (const Case &c : cases) {
        if (!written) break;
        QFile f(QString::fromStdString(c.path));
        const double mb = double(f.size()) / (1024 * 1024);
        const Figures r = readInChild(c.path);
        if (r.peakKb == 0) status = 1;
        const double peak = double(r.peakKb) / 1024;
        std::printf("%-30s %9.1f %9.1f %9.1f %9ld  %s\n", c.what, mb, peak, r.ms, r.entries,
                    r.read ? "read" : r.message);
        // The line a refusal quotes.
        if (const char *quoted = std::strstr(r.message, "characters: "))
            std::printf("%-30s the line quoted in %zu characters\n", "", std::strlen(quoted) - 12);
        if (&c == &cases[1]) {
            largestMb = peak;
            if (!r.read) status = 1;
        } else if (&c != &cases[0] && largestMb > 0) {
            // A row of bench/run-all.sh's table: the peak beside the largest valid file's.
            std::printf("row|register file peak: %s|%.1f MB|%.1f MB|%.2f|2\n",
                        &c == &cases[2] ? "many lines" : &c == &cases[3] ? "blank lines" : "one long line", peak,
                        largestMb, peak / largestMb);
        }
    }
    for (const std::string &p : {empty, largest, many, blank, wide}) std::remove(p.c_str());
    rmdir(dir);
    return status;
}
