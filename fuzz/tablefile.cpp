// The data table's .tab file through the line scanner and the table reader.
//
// An input is the file, byte for byte, except that a byte 1 and the decimal
// count after it stand for a repetition: at the start of a line, the line
// before it that many times more; elsewhere, the line's text so far that
// many times more. So a short input can make a table of all 32767 rows or
// of the widest rows (255 columns), or a line longer than any table's,
// which inputs of the fuzzer's usual length never reach. A repetition of
// nothing (at the start of the file, say) adds nothing, and the file stops
// growing at 1 MiB, so that no input holds the instrumented reader for more
// than a fraction of a second (the largest table, 32767 rows of 255
// columns, is beyond it: bench/monitor/tablefile_bench reads that one).
#include <QFile>
#include <algorithm>
#include <string>

#include "datatable/tablefile.h"
#include "monitor_env.h"

namespace {

constexpr std::size_t MaxFile = std::size_t(1) << 20;

std::string expand(const std::uint8_t *data, std::size_t size) {
    std::string file;
    std::size_t lineStart = 0, previousLine = 0;  // where the line and the one before it begin
    for (std::size_t i = 0; i < size && file.size() < MaxFile; ++i) {
        if (data[i] != 1) {
            file += char(data[i]);
            if (data[i] == '\n') {
                previousLine = lineStart;
                lineStart = file.size();
            }
            continue;
        }
        std::size_t count = 0;
        for (int digits = 0; i + 1 < size && data[i + 1] >= '0' && data[i + 1] <= '9' && digits < 8; ++digits)
            count = count * 10 + (data[++i] - '0');
        const bool wholeLine = lineStart == file.size();
        const std::size_t from = wholeLine ? previousLine : lineStart;
        const std::size_t length = (wholeLine ? lineStart : file.size()) - from;
        if (length == 0 || count == 0) continue;
        const std::string part = file.substr(from, length);
        for (std::size_t k = 0; k < count && file.size() < MaxFile; ++k)
            file.append(part, 0, std::min(part.size(), MaxFile - file.size()));
        if (wholeLine) {
            // The line after the repetition begins after its last line.
            previousLine = file.size() - part.size();
            lineStart = file.size();
        }
    }
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::monitor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string file = expand(data, size);
    LineScanner scanner;
    scanner.FileName =
        fuzz::inputFile(QStringLiteral("table.tab"), reinterpret_cast<const std::uint8_t *>(file.data()), file.size());
    DataTableFileReader reader;
    if (scanner.Scan([&] { return reader.line(scanner); }) && reader.finish()) {
        // A table read whole: every cell it claims is there. The cells of
        // a large table add up past 32 bits.
        TableCells &cells = reader.cells();
        volatile int64_t sum = 0;
        for (int32_t r = cells.rowLow(); r <= cells.rowHigh(); ++r)
            for (int32_t c = cells.colLow(); c <= cells.colHigh(); ++c) sum = sum + cells(r, c);
    }
    return 0;
}
