// The data table's .tab file through the line scanner and the table reader.
#include "datatable/tablefile.h"
#include "monitor_env.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::monitor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    LineScanner scanner;
    scanner.FileName = fuzz::inputFile(QStringLiteral("table.tab"), data, size);
    DataTableFileReader reader;
    if (scanner.Scan([&] { return reader.line(scanner); }) && reader.finish()) {
        // A table read whole: every cell it claims is there.
        TableCells &cells = reader.cells();
        volatile int32_t sum = 0;
        for (int32_t r = cells.rowLow(); r <= cells.rowHigh(); ++r)
            for (int32_t c = cells.colLow(); c <= cells.colHigh(); ++c) sum = sum + cells(r, c);
    }
    return 0;
}
