// The remembered-files window: at start-up the user picks which of the four
// files remembered from the last run are loaded again.
#pragma once

#include "core/forms.h"

class QCheckBox;
class QLabel;
class QPushButton;

class frmFiles : public Form {
    Q_OBJECT
public:
    frmFiles();

    void SSCommand1_Click();  // "&Okay"
    void SSCommand2_Click();  // "&Cancel"

protected:
    void buildControls() override;
    void Form_Load() override;

private:
    QCheckBox *SSCheck1 = nullptr;
    QCheckBox *SSCheck2 = nullptr;
    QCheckBox *SSCheck3 = nullptr;
    QCheckBox *SSCheck4 = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *SSCommand1 = nullptr;
    QPushButton *SSCommand2 = nullptr;
};
