// The main window's commands: the buttons that open the resource windows,
// the controller's run commands and the suspend and resume of monitoring.
#include <QApplication>

#include "core/basics.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "core/msgbox.h"
#include "datatable/frmTable.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"
#include "windows/frames.h"

namespace {

const QString NoCommWarning = QStringLiteral("There is NO communication with the controller!");

// Asks whether to open a window while there is no connection; True to go on.
bool openWithoutConnection(const QString &warning) {
    if (!NoComm) return true;
    return MsgBox(warning + QChar(13) + QStringLiteral("\r\n") + QStringLiteral("Do you wish to display the form anyway ?"),
                  mbOKCancel + mbQuestion) == mbOK;
}

}  // namespace

// One procedure behind the resource buttons: ask when there is no
// connection, tell the status line, caption and show the window, raise its
// open flag.
void frmMain::openResourceWindow(const QString &warning, const QString &formName, const std::function<void()> &show,
                                 bool *openFlag) {
    if (!openWithoutConnection(warning)) return;
    if (!formName.isEmpty()) setStatus(QStringLiteral("Loading ") + formName + QStringLiteral(", please wait."));
    {
        Hourglass wait;
        show();
        if (openFlag) *openFlag = true;
    }
    if (!formName.isEmpty()) setStatus(formName + QStringLiteral(" loaded."));
}

template <class T> static void showCaptioned(const QString &word) {
    T &f = form<T>();
    f.setCaption(word + ConnectionTitle);
    f.Show();
}

void frmMain::AinButton_Click() {
    openResourceWindow(QStringLiteral("There is NO communication with the controller."), QString(),
                       [] { showCaptioned<frmAnalIn>(QStringLiteral("Analog Inputs")); }, &AnalInWindowOpen);
}

void frmMain::AoutButton_Click() {
    openResourceWindow(QStringLiteral("There is NO communication with the controller."),
                       QStringLiteral("Analog Output Form"),
                       [] { showCaptioned<frmAnalOut>(QStringLiteral("Analog Outputs")); }, &AnalOutWindowOpen);
}

void frmMain::Cust1Button_Click() {
    openResourceWindow(NoCommWarning, QStringLiteral("Custom Form 1"),
                       [] { showCaptioned<frmCustom1>(QStringLiteral("Custom Screen 1")); }, &Custom1WindowOpen);
}

void frmMain::Cust2Button_Click() {
    openResourceWindow(NoCommWarning, QStringLiteral("Custom Form 2"),
                       [] { showCaptioned<frmCustom2>(QStringLiteral("Custom Screen 2")); }, &Custom2WindowOpen);
}

void frmMain::FlagButton_Click() {
    openResourceWindow(NoCommWarning, QStringLiteral("Flags Form"),
                       [] { showCaptioned<frmFlag>(QStringLiteral("Flags")); }, &FlagWindowOpen);
}

void frmMain::InputButton_Click() {
    openResourceWindow(NoCommWarning, QStringLiteral("Digital Input Form"),
                       [] { showCaptioned<frmDigIn>(QStringLiteral("Digital Inputs")); }, &DigInWindowOpen);
}

void frmMain::NVRamButton_Click() {
    openResourceWindow(NoCommWarning, QStringLiteral("NVRegisters Form"),
                       [] { showCaptioned<frmRam>(QStringLiteral("NVRegisters")); }, &RamWindowOpen);
}

void frmMain::OutputButton_Click() {
    openResourceWindow(NoCommWarning, QStringLiteral("Digital Output Form"),
                       [] { showCaptioned<frmDigOut>(QStringLiteral("Digital Outputs")); }, &DigOutWindowOpen);
}

void frmMain::RegisterButton_Click() {
    try {
        openResourceWindow(NoCommWarning, QStringLiteral("Register Form"),
                           [] { showCaptioned<frmReg>(QStringLiteral("Registers")); }, &RegWindowOpen);
    } catch (const std::exception &) {
        MsgBox(QStringLiteral("Error Loading Register form"));
    }
}

void frmMain::ServoButton_Click() {
    openResourceWindow(NoCommWarning, QStringLiteral("Servo Motor Form"),
                       [] {
                           form<frmServo>().setCaption(QStringLiteral("Motors/Servos 1-16") + ConnectionTitle);
                           form<frmServo2>().setCaption(QStringLiteral("Motors/Servos 17-32") + ConnectionTitle);
                           if (NumServos > 16) form<frmServo2>().Show();
                           form<frmServo>().Show();
                       },
                       &ServoWindowOpen);
}

void frmMain::StatButton_Click() {
    openResourceWindow(NoCommWarning, QStringLiteral("Program Status Form"),
                       [] {
                           frmStatus &f = form<frmStatus>();
                           f.setCaption(ControllerIP.isEmpty() ? QStringLiteral("Step Status")
                                                               : QStringLiteral("Step Status - ") + ControllerIP);
                           f.Show();
                       },
                       &StatusPollOn);
}

void frmMain::TableButton_Click() {
    openResourceWindow(NoCommWarning, QStringLiteral("Data Table Form"),
                       [] {
                           frmTable &f = form<frmTable>();
                           f.Show();
                           f.setCaption(QStringLiteral("Data Table") + ConnectionTitle);
                       },
                       nullptr);
}

// ---- Run commands --------------------------------------------------------------------

namespace {
bool eaController() { return ControllerModel == 3 || ControllerModel > 4; }

// The shared start of the three run commands: the question, the link, the
// controller's kind; the status byte read, or nullopt to end.
std::optional<int32_t> runCommandStatus(const QString &verb, const QString &notEaMessage) {
    if (MsgBox(QStringLiteral("Are you sure you want to ") + verb + QStringLiteral(" the controller?"), mbYesNo) ==
        mbNo)
        return std::nullopt;
    if (NoComm) return std::nullopt;
    if (!eaController()) {
        if (!notEaMessage.isEmpty()) MsgBox(notEaMessage);
        return std::nullopt;
    }
    int32_t s = 0;
    if (OrvComm::ZqGetStatus(ConnectionHandle, &s) != 1) return std::nullopt;
    return s;
}
}  // namespace

void frmMain::StartButton_Click() {
    const QString failed = QStringLiteral("Failed to execute START command!");
    const auto s = runCommandStatus(QStringLiteral("START"), failed);
    if (!s || (*s & 1) == 0) return;
    if (OrvComm::ZqPutStatus(ConnectionHandle, *s & ~8) != 1) MsgBox(failed);
}

void frmMain::StopButton_Click() {
    const QString failed = QStringLiteral("Failed to execute STOP command!");
    if (!runCommandStatus(QStringLiteral("STOP"), failed)) return;
    if (OrvComm::ZqPutStatus(ConnectionHandle, 0) != 1) {
        OrvComm::ZqGetErrorInfo(ConnectionHandle, &ErrorInfo);
        MsgBox(failed + QChar(10) + errorInfoText());
    }
}

void frmMain::ResetButton_Click() {
    const auto s = runCommandStatus(QStringLiteral("RESET"), QString());
    if (!s) return;
    if (OrvComm::ZqPutStatus(ConnectionHandle, (*s & 1) ? 8 : 9) != 1)
        MsgBox(QStringLiteral("Failed to execute RESET command!"));
}

// ---- Suspend and resume ----------------------------------------------------------------

void frmMain::setDdeMessage(const QString &text) {
    if (auto *m = form<frmDDE>().control<QLabel>(QStringLiteral("Message"))) {
        if (!text.isNull()) m->setText(text);
        m->repaint();
    }
}

void frmMain::SuspendButton_Click() {
    if (SuspendButton->Caption() == QStringLiteral("Suspend Monitoring")) {
        const auto step = [](const std::function<void()> &f) {
            try {
                f();
            } catch (const std::exception &) {
            }
        };
        step([this] {
            Timer1->setEnabled(false);
            MonitoringSuspended = true;
            NoComm = true;
            DoEvents();
        });
        step([this] {
            SuspendButton->setCaption(QStringLiteral("Resume Monitoring"));
            SuspendButton->setForeColor(ColourDarkGreen);
        });
        step([this] { setStatus(QStringLiteral("Controller Monitoring Suspended")); });
        step([this] { setDdeMessage(QStringLiteral("Controller Monitoring Suspended")); });
        step([this] {
            for (SSCommand *b : {StartButton, StopButton, ResetButton}) b->setEnabled(false);
        });
        step([this] {
            Timer1->setEnabled(false);
            DoEvents();
            setDdeMessage(QString());
        });
        step([] {
            if (ConnectionHandle == 0) return;
            const int32_t rc = OrvComm::ZqCloseConnection(ConnectionHandle);
            ConnectionHandle = 0;
            if (rc != 1) MsgBox(QStringLiteral("Failed to CLOSE network."), mbExclamation);
        });
    } else {
        ConnectFailCount = -1;
        SuspendButton->setCaption(QStringLiteral("Suspend Monitoring"));
        MonitoringSuspended = false;
        SuspendButton->setForeColor(ColourRed);
        for (SSCommand *b : {StartButton, StopButton, ResetButton}) b->setEnabled(true);
        NoComm = true;
        Timer1->setEnabled(true);
        Timer1_Timer();
    }
}
