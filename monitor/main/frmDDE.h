// The DDE setup window. A frame for now: caption, geometry section and nothing more.
#pragma once

#include "windows/frames.h"

class frmDDE : public MonitorFrame {
    Q_OBJECT
public:
    frmDDE();
};
