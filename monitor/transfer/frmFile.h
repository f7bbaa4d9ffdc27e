// The progress window of the register transfers: one 3-D panel whose flood
// bar shows the share done. The transfer sets its caption and the bar.
#pragma once

#include "core/forms.h"

class SSPanel;

class frmFile : public Form {
    Q_OBJECT
public:
    frmFile();

    SSPanel *SSPanel1 = nullptr;

protected:
    void buildControls() override;
    void Form_Load() override;
};
