// The firmware update window: the module list, the start button, the log and
// the progress bar of an update, and two buttons below the visible area that
// answer only to their access keys (transfer baud rate and support code).
#pragma once

#include <cstdint>

#include "core/forms.h"
#include "core/msgbox.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class SSCommand;

class frmProgFlash : public Form {
    Q_OBJECT
public:
    frmProgFlash();

    // Controls.
    QComboBox *Combo1 = nullptr;  // the module list
    QLabel *lblModule = nullptr;
    SSCommand *SSCommand1 = nullptr;  // "Start Update"
    QPlainTextEdit *Text1 = nullptr;  // the log
    QProgressBar *ProgressBar1 = nullptr;
    QPushButton *Command1 = nullptr;  // "&B", transfer baud rate
    QPushButton *Command2 = nullptr;  // "&F", support code
    CommonDialog CMDialog1;
    QWidget *VideoSoftElastic1 = nullptr;

    // Shared with the variant-selection window and the update procedure.
    int16_t SelectedModel = 0;  // CPU module variant: 11, 12, 14 or 16; 0 until chosen
    bool SelectionOK = false;
    int16_t FileMode = 0;    // plain or compressed firmware file
    int16_t ModuleType = 0;  // 0 CPU module, 1 communication module, 2 Q600 series controller
    bool HufEOF = false;     // end of the compressed file

    // The transfer baud rate and the module's code for it.
    int32_t FlashBaudRate = 38400;
    uint8_t BaudCode = 3;
    int16_t BaudCodeChar = 51;

protected:
    void buildControls() override;
    void Form_Load() override;
};
