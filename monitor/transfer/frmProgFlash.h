// The firmware update window. A frame for now: caption, geometry section and nothing more.
#pragma once

#include "windows/frames.h"

class frmProgFlash : public MonitorFrame {
    Q_OBJECT
public:
    frmProgFlash();
};
