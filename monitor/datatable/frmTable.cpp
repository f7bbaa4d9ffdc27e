#include "datatable/frmTable.h"

frmTable::frmTable() : MonitorFrame(QStringLiteral("frmTable"), QStringLiteral("Data Table"), nullptr, QStringLiteral("Dtable"), {1668, 924, 5184, 5000}) {}
