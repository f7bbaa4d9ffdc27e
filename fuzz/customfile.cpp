// The custom window's .CFG file, and the file written back from what was
// read, which must read back the same.
#include <cstdlib>

#include "monitor_env.h"
#include "windows/customfile.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::monitor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::array<CustomResourceRow, 16> rows{};
    ReadCustomFile(QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)), rows);
    // Long names read from a file near the size limit may write back a
    // file past it, which is refused as any such file is.
    const QByteArray text = CustomFileText(rows);
    if (text.size() > MaxCustomFileBytes) return 0;
    std::array<CustomResourceRow, 16> again{};
    const CustomFileRead second = ReadCustomFile(text, again);
    if (second.rows != 16) std::abort();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (again[i].kind != rows[i].kind || again[i].number != rows[i].number) std::abort();
    return 0;
}
