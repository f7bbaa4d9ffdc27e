// The data table editor window. A frame for now: caption, geometry section and nothing more.
#pragma once

#include "windows/frames.h"

class frmTable : public MonitorFrame {
    Q_OBJECT
public:
    frmTable();
};
