// The .SYM symbol file through the line parser and into the symbol database.
#include "core/codeDBase.h"
#include "core/runtime_error.h"
#include "main/symbolimport.h"
#include "monitor_env.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::monitor();
    if (!CreateSymbolDatabase()) return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString path = fuzz::inputFile(QStringLiteral("PLANT.SYM"), data, size);
    try {
        ParseSymbolFile(path);
        OpenSymbolSnapshots();
    } catch (const RuntimeError &) {
    }
    return 0;
}
