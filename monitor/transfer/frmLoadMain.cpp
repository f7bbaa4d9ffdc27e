#include "transfer/frmLoadMain.h"

frmLoadMain::frmLoadMain() : MonitorFrame(QStringLiteral("frmLoadMain"), QStringLiteral("Program Transfer"), nullptr, QString(), {1668, 924, 5184, 5000}) {}
