#include "transfer/frmFile.h"

frmFile::frmFile() : MonitorFrame(QStringLiteral("frmFile"), QStringLiteral("Object File"), nullptr, QString(), {1668, 924, 5184, 5000}) {}
