// The register text file through its reader and number rules.
#include "core/runtime_error.h"
#include "core/registerfile.h"
#include "monitor_env.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::monitor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    RegisterFileReader reader;
    try {
        reader.open(fuzz::inputFile(QStringLiteral("registers.txt"), data, size));
        reader.skipHeader();
        while (!reader.atEnd()) {
            const RegisterFileEntry e = reader.next();
            try {
                RegisterFileReader::wholeNumber(e.number);
            } catch (const RuntimeError &) {
            }
            if (e.failedRead()) continue;
            try {
                RegisterFileReader::wholeNumber(e.value);
            } catch (const RuntimeError &) {
            }
            try {
                RegisterFileReader::realNumber(e.value);
            } catch (const RuntimeError &) {
            }
        }
    } catch (const RuntimeError &) {
    }
    reader.close();
    return 0;
}
