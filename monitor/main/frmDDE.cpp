#include "main/frmDDE.h"

frmDDE::frmDDE() : MonitorFrame(QStringLiteral("frmDDE"), QStringLiteral("DDE Screen"), nullptr, QString(), {1668, 924, 5184, 5000}) {}
