// Firmware files: the first byte picks plain (.sr) or compressed (.csr)
// reading; the rest is the file, read line by line, rewound, and searched
// for a section length; and the whole file checked as an update checks it.
#include "monitor_env.h"
#include "transfer/frmProgFlash.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::monitor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return -1;
    frmProgFlash &w = form<frmProgFlash>();
    w.FileMode = data[0] & 1;
    const QString path = fuzz::inputFile(QStringLiteral("firmware.csr"), data + 1, size - 1);
    if (!w.OpenFile(path)) return 0;
    QString line;
    for (int n = 0; n < 100000 && w.GetLine(line); ++n) {
    }
    if (w.FileMode == 1 && w.ResetFile(path)) {
        int32_t length = 0;
        w.SectionLength(QStringLiteral("S0"), length);
    }
    w.CloseCompressedFile();
    FirmwareFileFault(path, w.FileMode, {QStringLiteral("S0"), QStringLiteral("Q41R")});
    return 0;
}
