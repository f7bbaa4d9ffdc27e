// What reading a table file costs: the peak resident size and the time of
// the data table editor's scanner and reader on a file whose one row line
// holds millions of fields (refused on their count), and on the largest
// valid table (32767 rows of 255 cells), each beside the floor of a process
// that reads an empty file. Each case runs in a process of its own, so that
// each peak is its own.
//
//   tablefile_bench [millions of fields]    (default 10)
#include <QByteArray>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "childrun.h"
#include "datatable/tablefile.h"

namespace {

struct Figures {
    long peakKb = 0;
    double ms = 0;
    bool read = false;
};

// Reads the file as the editor does, in a child process: its peak and time.
Figures readInChild(const std::string &path) {
    return bench::inChild<Figures>([&](Figures &f) {
        LineScanner scanner;
        scanner.FileName = QString::fromStdString(path);
        DataTableFileReader reader;
        f.read = scanner.Scan([&] { return reader.line(scanner); }) && reader.finish();
    });
}

}  // namespace

int main(int argc, char **argv) {
    const long millions = argc > 1 ? std::atol(argv[1]) : 10;
    if (millions < 1 || millions > 1000) {
        std::fprintf(stderr, "usage: %s [millions of fields, 1 to 1000]\n", argv[0]);
        return 2;
    }
    char dir[] = "/tmp/orv-tablefile-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string empty = std::string(dir) + "/empty.tab", wide = std::string(dir) + "/wide.tab",
                      largest = std::string(dir) + "/largest.tab";
    QByteArray row;
    for (int c = 0; c < 255; ++c) row += " 65535";
    row += "\r\n";
    const bool written = bench::writeFile(empty, {}, {}, 0, {}) &&
                         bench::writeFile(wide, "data_table[2][3] =\r\n{\r\n", QByteArray("1 ").repeated(1000000), millions,
                                   "\r\n}\r\n") &&
                         bench::writeFile(largest, "data_table[32767][255] =\r\n{\r\n", row, 32767, "}\r\n");
    struct Case {
        const char *what;
        const std::string &path;
    } const cases[] = {
        {"floor: an empty file", empty},
        {"one row line of that many fields", wide},
        {"the largest table, 32767 x 255", largest},
    };
    int status = written ? 0 : 1;
    std::printf("table file read: %ld million fields on one line\n", millions);
    std::printf("%-36s %12s %10s %8s\n", "case", "file MB", "peak MB", "ms");
    double floorMb = 0;
    for (const Case &c : cases) {
        if (!written) break;
        QFile f(QString::fromStdString(c.path));
        const double mb = double(f.size()) / (1024 * 1024);
        const Figures r = readInChild(c.path);
        if (r.peakKb == 0) status = 1;
        const double peak = double(r.peakKb) / 1024;
        std::printf("%-36s %12.1f %10.1f %8.1f %s\n", c.what, mb, peak, r.ms, r.read ? "read" : "refused");
        if (&c == &cases[0]) {
            floorMb = peak;
        } else if (floorMb > 0) {
            // A row of bench/run-all.sh's table: the peak beside the floor.
            std::printf("row|table file peak: %s|%.1f MB|%.1f MB|%.2f|-\n",
                        &c == &cases[1] ? "one line of many fields" : "largest table", peak, floorMb,
                        peak / floorMb);
        }
    }
    for (const std::string &p : {empty, wide, largest}) std::remove(p.c_str());
    rmdir(dir);
    return status;
}
