// The object-file listing window. A frame for now: caption, geometry section and nothing more.
#pragma once

#include "windows/frames.h"

class frmFile : public MonitorFrame {
    Q_OBJECT
public:
    frmFile();
};
