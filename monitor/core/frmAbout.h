// The program's information box.
#pragma once

#include <QString>
#include <cstdint>

#include "core/forms.h"

class QLabel;
class QPushButton;

class frmAbout : public Form {
    Q_OBJECT
public:
    frmAbout();

    // Starts the system-information tool, or says that there is none.
    void StartSysInfo();
    // Reads a value of the settings store as text (DWORD values as their
    // decimal text); True when the value was read.
    bool GetKeyValue(int32_t keyRoot, const QString &keyName, const QString &subKeyRef, QString &keyVal);

    // The six lines of the legal warning.
    static QString disclaimerText();

protected:
    void buildControls() override;
    void Form_Load() override;

private:
    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblCopyright = nullptr;
    QLabel *lblDescription = nullptr;
    QLabel *lblDisclaimer = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdSysInfo = nullptr;
};
