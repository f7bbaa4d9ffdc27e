#include "transfer/frmProgFlash.h"

frmProgFlash::frmProgFlash() : MonitorFrame(QStringLiteral("frmProgFlash"), QStringLiteral("Update Firmware"), nullptr, QString(), {1668, 924, 5184, 5000}) {}
