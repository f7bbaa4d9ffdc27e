// The splash window shown while the program starts.
#pragma once

#include "core/forms.h"

class QLabel;

class frmSplash : public Form {
    Q_OBJECT
public:
    frmSplash();

protected:
    void buildControls() override;
    void Form_Load() override;

private:
    QLabel *lblProductName = nullptr;
    QLabel *lblPlatform = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblCopyright = nullptr;
    QLabel *lblCompany = nullptr;
};
