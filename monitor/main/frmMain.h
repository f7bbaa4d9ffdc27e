// The main window. Until its controls and procedures arrive it is an empty
// window whose unload ends the program.
#pragma once

#include "core/forms.h"

class frmMain : public Form {
    Q_OBJECT
public:
    frmMain();

protected:
    void buildControls() override;
    void Form_Load() override;
    void Form_Unload(int &cancel) override;
};
