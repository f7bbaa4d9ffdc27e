// The main window's commands: the buttons that open the resource windows,
// the controller's run commands and the suspend and resume of monitoring.
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

#include "core/basics.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "core/link.h"
#include "core/frmAbout.h"
#include "core/frmRTC.h"
#include "core/frmSetup.h"
#include "core/msgbox.h"
#include "core/shell.h"
#include "datatable/frmTable.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"
#include "main/registercommands.h"
#include "transfer/frmLoadMain.h"
#include "transfer/frmProgFlash.h"
#include "windows/frames.h"
#include "windows/resourcewindow.h"

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
bool eaController() { return IsEaModel(ControllerModel); }

QString noRunCommands(const QString &verb) {
    return QStringLiteral("this controller (model %1) does not take the %2 command").arg(ControllerModel).arg(verb);
}

// The status read of a run command failed: a box with the command's words
// and the reason (with where the link goes, unless the controller refused
// it); the same in one line for why the command ended.
QString statusUnread(const QString &failed) {
    const QString reason =
        QStringLiteral("The controller's status could not be read: ") + controllerLink().fetchFailure(ConnectionHandle);
    MsgBox(failed + QChar(10) + reason);
    return failed + QChar(' ') + reason;
}

// The status write of a run command failed: the same, and when no answer
// settled it, that the controller may still have carried it out.
QString runFailed(const QString &failed) {
    const QString text = controllerLink().failedWrite(failed, ConnectionHandle).text;
    MsgBox(text);
    return QString(text).replace(QChar(10), QChar(' '));
}

// The shared start of the three run commands: the link, the question, the
// controller's kind; the status byte read, or nullopt to end, with why set.
// A controller of another kind gets the failure box only where notEaBox says.
std::optional<int32_t> runCommandStatus(const QString &verb, const QString &failed, bool notEaBox, QString &why) {
    // With the link known to be down the command cannot run: the box says
    // so at once, before any question.
    if (const QString refused = LinkRefusal(failed); !refused.isEmpty()) {
        MsgBox(refused);
        why = frmMain::whyNoController();
        return std::nullopt;
    }
    if (MsgBox(QStringLiteral("Are you sure you want to ") + verb + QStringLiteral(" the controller?"), mbYesNo) ==
        mbNo) {
        why = QStringLiteral("the user answered No");
        return std::nullopt;
    }
    // The link went while the question was asked.
    if (const QString refused = LinkRefusal(failed); !refused.isEmpty()) {
        MsgBox(refused);
        why = frmMain::whyNoController();
        return std::nullopt;
    }
    if (!eaController()) {
        if (notEaBox) MsgBox(failed);
        why = noRunCommands(verb);
        return std::nullopt;
    }
    int32_t s = 0;
    if (OrvComm::ZqGetStatus(ConnectionHandle, &s) != 1) {
        // The command did not reach the controller: the user is told so.
        why = statusUnread(failed);
        return std::nullopt;
    }
    return s;
}
}  // namespace

QString frmMain::whyNoController() { return controllerLink().whyNot(); }

QString frmMain::runCommandBlocked(const QString &verb) const {
    if (const QString why = whyNoController(); !why.isEmpty()) return why;
    if (!eaController()) return noRunCommands(verb);
    return QString();
}

// Each run command leaves why it ended without its write in runEnded_, set
// last, after every box: a command that another client's command ran inside
// (in a box's event loop) finds its own reason there.
void frmMain::StartButton_Click() {
    const QString failed = QStringLiteral("Failed to execute START command!");
    QString why;
    // A controller that runs already needs nothing written.
    if (const auto s = runCommandStatus(QStringLiteral("START"), failed, true, why);
        s && (*s & 1) != 0 && OrvComm::ZqPutStatus(ConnectionHandle, *s & ~8) != 1)
        why = runFailed(failed);
    runEnded_ = why;
}

void frmMain::StopButton_Click() {
    const QString failed = QStringLiteral("Failed to execute STOP command!");
    QString why;
    if (runCommandStatus(QStringLiteral("STOP"), failed, true, why) && OrvComm::ZqPutStatus(ConnectionHandle, 0) != 1)
        why = runFailed(failed);
    runEnded_ = why;
}

void frmMain::ResetButton_Click() {
    const QString failed = QStringLiteral("Failed to execute RESET command!");
    QString why;
    if (const auto s = runCommandStatus(QStringLiteral("RESET"), failed, false, why);
        s && OrvComm::ZqPutStatus(ConnectionHandle, (*s & 1) ? 8 : 9) != 1)
        why = runFailed(failed);
    runEnded_ = why;
}

// ---- Suspend and resume ----------------------------------------------------------------

void frmMain::setDdeMessage(const QString &text) {
    if (auto *m = form<frmDDE>().control<QLabel>(QStringLiteral("Message"))) {
        if (!text.isNull()) m->setText(text);
        m->repaint();
    }
}

void frmMain::SuspendButton_Click() {
    ControllerLink &link = controllerLink();
    if (!link.waitsForUser()) {
        const auto step = [](const std::function<void()> &f) {
            try {
                f();
            } catch (const std::exception &) {
            }
        };
        // The owner's change turns the button into "Resume Monitoring" and
        // the run buttons off.
        step([this, &link] {
            Timer1->setEnabled(false);
            abandonAttempt();
            link.markSuspended();
            DoEvents();
        });
        step([this] { setStatus(QStringLiteral("Controller Monitoring Suspended")); });
        step([this] { setDdeMessage(QStringLiteral("Controller Monitoring Suspended")); });
        step([this] {
            Timer1->setEnabled(false);
            DoEvents();
            setDdeMessage(QString());
        });
        step([&link] {
            // A transfer that holds the connection closes it itself.
            if (ConnectionHandle == 0 || link.busy()) return;
            if (!link.close()) MsgBox(QStringLiteral("Failed to CLOSE network."), mbExclamation);
        });
    } else {
        ConnectFailCount = -1;
        resetReconnectBackOff();
        link.markResumed();
        Timer1->setEnabled(true);
        Timer1_Timer();
    }
}

// ---- Menus -------------------------------------------------------------------------------

void frmMain::buildMenus(QVBoxLayout *layout) {
    auto *bar = named(new QMenuBar(this), QStringLiteral("MenuBar"));
    layout->setMenuBar(bar);
    const auto item = [this](QMenu *menu, const QString &array, int index, const QString &caption,
                             void (frmMain::*click)(int16_t)) {
        QAction *a = caption == QStringLiteral("-") ? menu->addSeparator() : menu->addAction(caption);
        a->setObjectName(controlName(array, index));
        if (click) connect(a, &QAction::triggered, this, [this, click, index] { (this->*click)(int16_t(index)); });
        return a;
    };
    QMenu *file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File"));
    item(file, QStringLiteral("Filemenu"), 1, QStringLiteral("Open &Symbol File..."), &frmMain::Filemenu_Click);
    item(file, QStringLiteral("Filemenu"), 2, QStringLiteral("-"), nullptr);
    item(file, QStringLiteral("Filemenu"), 3, QStringLiteral("Open &Register File..."), &frmMain::Filemenu_Click);
    item(file, QStringLiteral("Filemenu"), 4, QStringLiteral("&Upload Register File"), &frmMain::Filemenu_Click);
    item(file, QStringLiteral("Filemenu"), 5, QStringLiteral("&Download Register File"), &frmMain::Filemenu_Click);
    item(file, QStringLiteral("Filemenu"), 6, QStringLiteral("&Program Transfer (Movrel Based)"), &frmMain::Filemenu_Click);
    item(file, QStringLiteral("Filemenu"), 7, QStringLiteral("E&xit"), &frmMain::Filemenu_Click);
    QMenu *config = bar->addMenu(QStringLiteral("&Configuration"));
    config->setObjectName(QStringLiteral("config"));
    item(config, QStringLiteral("configmenu"), 1, QStringLiteral("Change &Configuration"), &frmMain::configmenu_Click);
    item(config, QStringLiteral("configmenu"), 2, QStringLiteral("-"), nullptr);
    item(config, QStringLiteral("configmenu"), 3, QStringLiteral("Change &DDE Setup"), &frmMain::configmenu_Click);
    item(config, QStringLiteral("configmenu"), 4, QStringLiteral("&Update Firmware"), &frmMain::configmenu_Click);
    QAction *rtc = bar->addAction(QStringLiteral("Set Real Time Clock"));
    rtc->setObjectName(QStringLiteral("SetRTC"));
    connect(rtc, &QAction::triggered, this, [this] { SetRTC_Click(); });
    QMenu *help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help"));
    item(help, QStringLiteral("Helpmenu"), 1, QStringLiteral("&ORV Monitor Help Topics"), &frmMain::Helpmenu_Click);
    item(help, QStringLiteral("Helpmenu"), 3, QStringLiteral("-"), nullptr);
    item(help, QStringLiteral("Helpmenu"), 4, QStringLiteral("&About ORV Monitor"), &frmMain::Helpmenu_Click);
}

void frmMain::Filemenu_Click(int16_t index) {
    switch (index) {
    case 1: ImportSymbolFile(); break;
    case 3: OpenInNotepad(); break;
    case 4: ReadRegistersToFile(); break;
    case 5: WriteRegistersFromFile(); break;
    case 6: {
        frmLoadMain &w = form<frmLoadMain>();
        w.Label2->clear();
        w.setTop(Top() + 200);
        w.setLeft(Left() + 200);
        w.Show();
        break;
    }
    case 7: close(); break;
    default: break;
    }
}

void frmMain::configmenu_Click(int16_t index) {
    // Run-time errors are passed over: the next step runs.
    const auto step = [](const std::function<void()> &f) {
        try {
            f();
        } catch (const std::exception &) {
        }
    };
    switch (index) {
    case 1: {
        step([] { QApplication::setOverrideCursor(Qt::WaitCursor); });
        step([] { SetupOpen = true; });
        step([] { DoEvents(); });
        step([] { form<frmSetup>().Show(); });
        step([] { form<frmSetup>().txtLoadCommand->setText(QStringLiteral("Load")); });
        QApplication::restoreOverrideCursor();
        step([] { form<frmSetup>().ExitButton->setFocus(); });
        break;
    }
    case 3: {
        if (NoComm && MsgBox(QStringLiteral("There is NO communication with the controller ...") + QChar(10) +
                                 QStringLiteral("Do you wish to display the form anyway ?"),
                             mbOKCancel + mbQuestion) != mbOK)
            return;
        setStatus(QStringLiteral("Loading DDE Form(s), please wait."));
        {
            Hourglass wait;
            step([] {
                form<frmDDE>().setCaption(ControllerIP.isEmpty() ? QStringLiteral("DDE Screen 1")
                                                                 : QStringLiteral("DDE Screen 1 - ") + ControllerIP);
            });
            step([] { form<frmDDE>().Show(); });
        }
        setStatus(QStringLiteral("DDE Form(s) loaded."));
        break;
    }
    case 4: step([] { form<frmProgFlash>().Show(); }); break;
    default: break;
    }
}

void frmMain::SetRTC_Click() { form<frmRTC>().Show(); }

void frmMain::Helpmenu_Click(int16_t index) {
    if (index == 1) ShellOpen(QCoreApplication::applicationDirPath() + QStringLiteral("/orvmon34.pdf"));
    else if (index == 4) form<frmAbout>().ShowModal();
}

void frmMain::OpenInNotepad() {
    CMDialog1.DefaultExt = QStringLiteral("TXT");
    CMDialog1.Filter = QStringLiteral("Text Files(*.TXT)|*.TXT|All Files(*.*)|*.*");
    CMDialog1.FilterIndex = 1;
    // A cancelled dialog opens nothing.
    if (!CMDialog1.ShowOpen(this)) return;
    if (!CMDialog1.FileName.isEmpty()) OpenTextFile(CMDialog1.FileName);
}

// ---- DDE topic "ORVmain" ----------------------------------------------------------------------

void frmMain::Form_LinkOpen(int16_t &cancel) { cancel = 0; }

void frmMain::Form_LinkExecute(const QString &command, int16_t &cancel) {
    cancel = 0;
    static const std::pair<const char *, void (frmMain::*)()> commands[] = {
        {"REGISTERS", &frmMain::RegisterButton_Click}, {"INPUTS", &frmMain::InputButton_Click},
        {"ANALOG INS", &frmMain::AinButton_Click},     {"FLAGS", &frmMain::FlagButton_Click},
        {"OUTPUTS", &frmMain::OutputButton_Click},     {"ANALOG OUTS", &frmMain::AoutButton_Click},
        {"SERVOS", &frmMain::ServoButton_Click},       {"CUSTOM 1", &frmMain::Cust1Button_Click},
        {"CUSTOM 2", &frmMain::Cust2Button_Click},     {"PROGRAM STATUS", &frmMain::StatButton_Click},
        {"DATA TABLE", &frmMain::TableButton_Click},   {"NVRAM MODULE", &frmMain::NVRamButton_Click},
        {"START", &frmMain::StartButton_Click},        {"STOP", &frmMain::StopButton_Click},
        {"RESET", &frmMain::ResetButton_Click}};
    const QString upper = command.toUpper();
    try {
        for (const auto &[name, click] : commands) {
            if (upper != QLatin1String(name)) continue;
            const bool run = click == &frmMain::StartButton_Click || click == &frmMain::StopButton_Click ||
                             click == &frmMain::ResetButton_Click;
            if (!run) {
                (this->*click)();
                return;
            }
            // A client waits for the answer: a command that cannot run now
            // asks no question, and one that ends unwritten says why.
            if (const QString why = runCommandBlocked(upper); !why.isEmpty()) {
                refuseLink(cancel, why);
                return;
            }
            (this->*click)();
            if (!runEnded_.isEmpty()) refuseLink(cancel, runEnded_);
            return;
        }
        // DDE clients have always reached the firmware update window this way.
        if (upper == QStringLiteral("DDESETUP")) {
            configmenu_Click(4);
            return;
        }
        cancel = BoolTrue;
    } catch (const std::exception &) {
        cancel = BoolTrue;
    }
}
