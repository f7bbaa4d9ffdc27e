#include "core/frmSetup.h"

#include <arpa/inet.h>
#include <QVBoxLayout>

#include "core/codeORVmain.h"
#include "core/globals.h"

frmSetup::frmSetup() : Form(QStringLiteral("frmSetup")) {}

void frmSetup::buildControls() {
    auto *layout = new QVBoxLayout(this);
    txtIP = named(new QLineEdit(this), QStringLiteral("txtIP"));
    layout->addWidget(txtIP);
    txtResolveIP = named(new QLineEdit(QStringLiteral("0"), this), QStringLiteral("txtResolveIP"));
    txtResolveIP->hide();
    txtLoadCommand = named(new QLineEdit(QStringLiteral("0"), this), QStringLiteral("txtLoadCommand"));
    txtLoadCommand->hide();
    connect(txtResolveIP, &QLineEdit::textChanged, this, [this] { ResolveAddress(); });
    setCaption(QStringLiteral("Communication Setup"));
}

void frmSetup::Form_Load() {
    txtIP->setText(ControllerIPText);
    SetupOpen = false;
}

void frmSetup::Form_Unload(int &) { SetupOpen = false; }

void frmSetup::ResolveAddress() {
    const QString typed = ControllerIPText.trimmed();
    in_addr a{};
    if (!typed.isEmpty() && inet_pton(AF_INET, typed.toLatin1().constData(), &a) == 1) {
        ControllerIP = typed;
        ResolvingHost = true;
        return;
    }
    ResolvingHost = false;
    ControllerIP = typed.isEmpty() ? QString() : IpFromHostName(typed);
}
