#include "core/frmAbout.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/codeORVmain.h"
#include "core/msgbox.h"
#include "core/settings.h"
#include "core/shell.h"

frmAbout::frmAbout() : Form(QStringLiteral("frmAbout")) {}

QString frmAbout::disclaimerText() {
    return QStringLiteral(
        "Warning: this computer program is protected by copyright law and\r\n"
        "international treaties. Unauthorized reproduction or distribution\r\n"
        "of this program, or any portion of it, may result in severe civil\r\n"
        "and criminal penalties, and will be prosecuted to the maximum\r\n"
        "extent possible under the law. Use of the program is subject to\r\n"
        "the licence agreement that came with it.");
}

void frmAbout::buildControls() {
    setWindowTitle(QStringLiteral("About ORV Monitor"));
    auto *v = new QVBoxLayout(this);
    lblTitle = named(new QLabel(this), QStringLiteral("lblTitle"));
    QFont f = lblTitle->font();
    f.setPointSize(f.pointSize() + 4);
    f.setBold(true);
    lblTitle->setFont(f);
    lblVersion = named(new QLabel(this), QStringLiteral("lblVersion"));
    lblCopyright = named(new QLabel(this), QStringLiteral("lblCopyright"));
    lblDescription = named(new QLabel(this), QStringLiteral("lblDescription"));
    lblDisclaimer = named(new QLabel(this), QStringLiteral("lblDisclaimer"));
    for (QLabel *l : {lblTitle, lblVersion, lblCopyright, lblDescription}) v->addWidget(l);
    v->addSpacing(12);
    v->addWidget(lblDisclaimer);
    auto *h = new QHBoxLayout;
    h->addStretch();
    cmdOK = named(new QPushButton(QStringLiteral("OK"), this), QStringLiteral("cmdOK"));
    cmdSysInfo = named(new QPushButton(QStringLiteral("&System Info..."), this), QStringLiteral("cmdSysInfo"));
    h->addWidget(cmdOK);
    h->addWidget(cmdSysInfo);
    v->addLayout(h);
    connect(cmdOK, &QPushButton::clicked, this, [this] { Unload(); });
    connect(cmdSysInfo, &QPushButton::clicked, this, [this] { StartSysInfo(); });
}

void frmAbout::Form_Load() {
    lblTitle->setText(appTitle());
    lblVersion->setText(VersionInfo::VersionLine);
    lblCopyright->setText(VersionInfo::NoticeLine);
    lblDescription->setText(VersionInfo::FileDescription);
    // The label shows the line ends as the one break each they are.
    lblDisclaimer->setText(disclaimerText());
}

bool frmAbout::GetKeyValue(int32_t keyRoot, const QString &keyName, const QString &subKeyRef, QString &keyVal) {
    SettingsStore &store = SettingsStore::instance();
    int32_t handle = 0;
    keyVal.clear();
    // Only the user's own settings can be read; there are no machine-wide keys.
    if (!store.openKey(keyRoot, keyName, handle)) return false;
    QString text;
    int32_t number = 0;
    bool ok = false;
    if (store.queryString(handle, subKeyRef, text)) {
        keyVal = text;
        ok = true;
    } else if (store.queryLong(handle, subKeyRef, number)) {
        keyVal = QString::number(number);
        ok = true;
    }
    store.closeKey(handle);
    return ok;
}

void frmAbout::StartSysInfo() {
    try {
        // The system-information tool is whatever ORVMON_SYSINFO names.
        const QString tool = QString::fromLocal8Bit(qgetenv("ORVMON_SYSINFO")).trimmed();
        if (!tool.isEmpty() && StartProgram(tool)) return;
    } catch (const std::exception &) {
    }
    MsgBox(QStringLiteral("System Information Is Unavailable At This Time"), mbOKOnly);
}
