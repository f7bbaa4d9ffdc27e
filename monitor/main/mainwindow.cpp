// frmMain as the MainWindow of the other folders, and the accessors through
// which they reach the main window and the DDE window.
#include <QLabel>

#include "core/mainwindow.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"

MainWindow &mainWindow() { return form<frmMain>(); }

MainWindow *existingMainWindow() { return FormRegistry::existing<frmMain>(); }

Form &ddeWindow() { return form<frmDDE>(); }

void frmMain::setStatusText(const QString &text) { Message->setText(text); }

void frmMain::setPolling(bool enabled) { Timer1->setEnabled(enabled); }

void frmMain::setPollInterval(int ms) { Timer1->setInterval(ms); }

void frmMain::requestReconnect() { Timer2->setEnabled(true); }

void frmMain::cancelPollStart() {
    Timer3->setEnabled(false);
    PollStartPending = false;
}

bool frmMain::monitoringRunning() const { return !controllerLink().waitsForUser(); }

void frmMain::showLinkClosed(const QString &text) {
    Message->setText(text);
    RefreshMessage();
    if (auto *dde = form<frmDDE>().control<QLabel>(QStringLiteral("Message"))) dde->setText(text);
}
