#include "main/frmMain.h"

#include <QCoreApplication>

#include "core/globals.h"

frmMain::frmMain() : Form(QStringLiteral("frmMain")) {}

void frmMain::buildControls() { resize(733, 533); }

void frmMain::Form_Load() { setCaption(QStringLiteral("ORV Monitor V3.6") + ConnectionTitle); }

void frmMain::Form_Unload(int &) {
    // Closing the main window ends the program.
    QCoreApplication::exit(0);
}
