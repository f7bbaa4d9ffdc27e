// The controller clock window. It only raises flags: the polling loop reads
// the clock into its boxes while it is open and sets the controller's clock
// from the PC's when asked.
#pragma once

#include "core/forms.h"

class QLabel;
class QLineEdit;
class QPushButton;

class frmRTC : public Form {
    Q_OBJECT
public:
    frmRTC();

    void cmdUpdate_Click();

    // Filled by the polling loop.
    QLineEdit *txtHr = nullptr, *txtMin = nullptr, *txtSec = nullptr;
    QLineEdit *txtMo = nullptr, *txtDay = nullptr, *txtYr = nullptr;
    QLineEdit *txtDow = nullptr;
    QPushButton *cmdUpdate = nullptr;
    QLabel *lblSysClock = nullptr;  // the PC's date and time

protected:
    void buildControls() override;
    void Form_Load() override;
    void Form_Unload(int &cancel) override;
};
