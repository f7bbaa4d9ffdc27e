// The communication setup window. Its hidden service fields: txtResolveIP,
// whose change derives ControllerIP from the typed address, and
// txtLoadCommand.
#pragma once

#include <QLineEdit>

#include "core/forms.h"

class frmSetup : public Form {
    Q_OBJECT
public:
    frmSetup();
    QLineEdit *txtIP = nullptr;
    QLineEdit *txtResolveIP = nullptr;
    QLineEdit *txtLoadCommand = nullptr;
    // Derives ControllerIP and ResolvingHost from ControllerIPText: a dotted
    // address is used as it stands, a host name is resolved; anything that
    // gives no address leaves ControllerIP empty.
    void ResolveAddress();

protected:
    void buildControls() override;
    void Form_Load() override;
    void Form_Unload(int &cancel) override;
};
