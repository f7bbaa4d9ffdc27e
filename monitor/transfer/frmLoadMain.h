// The object-file window. A frame for now: caption, geometry section and nothing more.
#pragma once

#include "windows/frames.h"

class frmLoadMain : public MonitorFrame {
    Q_OBJECT
public:
    frmLoadMain();
};
