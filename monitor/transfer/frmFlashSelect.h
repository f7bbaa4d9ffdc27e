// The variant-selection window of the firmware update: shown modally when the
// controller no longer answers after its reset, it explains why, offers the
// CPU module variants that the firmware file holds and hands the choice back
// through the firmware window's SelectedModel and SelectionOK.
#pragma once

#include <array>

#include "core/forms.h"

class QButtonGroup;
class QLabel;
class QPushButton;
class QRadioButton;

class frmFlashSelect : public Form {
    Q_OBJECT
public:
    frmFlashSelect();

    QLabel *Label1 = nullptr;
    std::array<QRadioButton *, 4> Option1{};
    QPushButton *Command1 = nullptr;  // "&OK"
    QPushButton *Command2 = nullptr;  // "&Cancel"

    void Command1_Click();
    void Command2_Click();

protected:
    void buildControls() override;
    void Form_Load() override;
    void Form_Unload(int &cancel) override;

private:
    QButtonGroup *options_ = nullptr;
};
