#include "core/frmRTC.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/globals.h"
#include "core/mainwindow.h"

frmRTC::frmRTC() : Form(QStringLiteral("frmRTC")) {}

void frmRTC::buildControls() {
    setWindowTitle(QStringLiteral("Controller Real Time Clock"));
    auto *g = new QGridLayout(this);
    auto box = [this](const char *name) {
        auto *e = named(new QLineEdit(this), QString::fromLatin1(name));
        e->setMaximumWidth(60);
        e->setAlignment(Qt::AlignCenter);
        return e;
    };
    txtHr = box("txtHr");
    txtMin = box("txtMin");
    txtSec = box("txtSec");
    txtMo = box("txtMo");
    txtDay = box("txtDay");
    txtYr = box("txtYr");
    txtDow = box("txtDow");
    g->addWidget(named(new QLabel(QStringLiteral("Time:"), this), QStringLiteral("Label1")), 0, 0);
    g->addWidget(txtHr, 0, 1);
    g->addWidget(txtMin, 0, 2);
    g->addWidget(txtSec, 0, 3);
    g->addWidget(named(new QLabel(QStringLiteral("Date:"), this), QStringLiteral("Label2")), 1, 0);
    g->addWidget(txtMo, 1, 1);
    g->addWidget(txtDay, 1, 2);
    g->addWidget(txtYr, 1, 3);
    g->addWidget(named(new QLabel(QStringLiteral("Day of Week:"), this), QStringLiteral("Label3")), 2, 0);
    g->addWidget(txtDow, 2, 1);
    cmdUpdate = named(new QPushButton(QStringLiteral("Sync. with System Clock"), this), QStringLiteral("cmdUpdate"));
    g->addWidget(cmdUpdate, 3, 0, 1, 4);
    lblSysClock = named(new QLabel(this), QStringLiteral("lblSysClock"));
    g->addWidget(lblSysClock, 4, 0, 1, 4);
    connect(cmdUpdate, &QPushButton::clicked, this, [this] { cmdUpdate_Click(); });
}

void frmRTC::Form_Load() {
    Form &main = mainWindow().mainForm();
    setLeft(main.Left() + 1000);
    setTop(main.Top() + 1000);
    RtcWindowOpen = true;
}

void frmRTC::cmdUpdate_Click() { RtcSyncRequest = true; }

void frmRTC::Form_Unload(int &) { RtcWindowOpen = false; }
