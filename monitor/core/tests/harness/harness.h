// The monitor's test harness: a temporary settings file and data folder, the
// message-box responder, a modal runner and an in-process emulator.
#pragma once

#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>

#include "core/forms.h"
#include "core/msgbox.h"
#include "core/shell.h"

namespace orvemu {
class Controller;
class Server;
}  // namespace orvemu

// Answers message boxes and file dialogs from a script and records them.
// A box or dialog that the script does not expect fails the running test.
class ScriptedResponder : public DialogResponder {
public:
    ScriptedResponder();
    ~ScriptedResponder() override;

    // The next box must show this prompt (exactly) and is answered so.
    void expectBox(const QString &prompt, int answer = mbOK);
    // Any box is answered so from now on (no failure for unexpected ones).
    void answerEveryBox(int answer) { every_ = answer; }
    // The next file dialog is answered with this name (nullopt = Cancel).
    void expectFile(FileDialogAnswer answer);

    const QList<MsgBoxCall> &boxes() const { return boxes_; }
    const QList<FileDialogCall> &files() const { return files_; }
    QStringList prompts() const;
    // True when every expectation was used up.
    bool done() const { return expectedBoxes_.isEmpty() && expectedFiles_.isEmpty(); }
    void clear();

    int answerBox(const MsgBoxCall &call) override;
    FileDialogAnswer answerFile(const FileDialogCall &call) override;

private:
    QList<QPair<QString, int>> expectedBoxes_;
    QList<FileDialogAnswer> expectedFiles_;
    QList<MsgBoxCall> boxes_;
    QList<FileDialogCall> files_;
    std::optional<int> every_;
};

// Runs a modal window by calling the test's function instead of waiting.
class ScriptedModalRunner : public ModalRunner {
public:
    ScriptedModalRunner();
    ~ScriptedModalRunner() override;
    void next(std::function<void(Form &)> action) { actions_.append(std::move(action)); }
    int runs() const { return runs_; }
    void run(Form &form) override;

private:
    QList<std::function<void(Form &)>> actions_;
    int runs_ = 0;
};

// Records shell requests instead of starting anything.
class RecordingShell : public ShellHandler {
public:
    RecordingShell();
    ~RecordingShell() override;
    bool openDocument(const QString &path) override;
    bool openTextFile(const QString &path) override;
    bool startProgram(const QString &program, const QStringList &arguments) override;
    QStringList requests;
    bool result = true;
};

// One test's surroundings: its own settings file and data folder, the
// responder installed, every window destroyed at the end.
class MonitorTestEnv {
public:
    MonitorTestEnv();
    ~MonitorTestEnv();
    QString dir() const { return dir_.path(); }
    QString settingsFile() const { return dir_.path() + QStringLiteral("/settings.txt"); }
    // Writes the settings file: the text, then every other section of the
    // program, empty (unless onlyThese).
    void writeSettings(const QString &text, bool onlyThese = false) const;
    ScriptedResponder responder;

private:
    QTemporaryDir dir_;
};

class frmMain;
class EmulatorPeer;
// The main window loaded from these settings (written with every other
// section empty), its first connection attempt ended, its timers stopped so
// that nothing polls behind the test's back.
frmMain &quietMain(MonitorTestEnv &env, const QString &settings = QString());
// The reply time-out of a monitor connected to the in-process emulator. An
// answered request never waits for it: it only bounds how late a loaded
// machine may answer. A test that lets a request go unanswered sets a short
// one of its own (ZqSetConnectionTimeout).
inline constexpr int PeerReplyTimeoutMs = 2000;
// The same, its settings pointing at a UDP or TCP peer, so that the main
// window connects as it loads (reply time-out timeoutMs).
frmMain &quietMainConnectedTo(MonitorTestEnv &env, const EmulatorPeer &peer, int timeoutMs = PeerReplyTimeoutMs);
// The same on COM1 at the given rate (a serial peer that hears any rate):
// attempts are made until the link is up and the controller identified (a
// loaded machine may answer one too late). Null when that never happens.
frmMain *quietMainOnSerial(MonitorTestEnv &env, int baud, int timeoutMs);

// Closes the monitor's connection: ConnectionHandle 0, NoComm True.
void disconnectMonitor();
// The link as the program starts it: no connection, down, not suspended,
// no controller identified (a connection left open is forgotten).
void restartLink();
// The user leaves a field for another control of the same window.
void leaveField(QWidget *w);
// Types the text (if any), then Enter, into a control.
void typeEnter(QWidget *w, const QString &text = QString());

// The requests a controller received, one line each: "get 13008" (a
// register read), "put 120=12" (a register write), else "code 0D".
QStringList requestSummary(const orvemu::Controller &c);

// The emulator in this process: on its own loopback address (UDP port 3000,
// or TCP port 6000), or on a pseudo-terminal that serves as a COM port.
enum class PeerLink { Udp, Tcp, Serial };

class EmulatorPeer {
public:
    explicit EmulatorPeer(int model = 5);
    // A serial peer answers only at baud (0: at any rate) and is reached as
    // COM port comPort (ORVCOMM_COM<comPort> names its device).
    EmulatorPeer(int model, PeerLink link, uint32_t baud = 0, int comPort = 1);
    ~EmulatorPeer();
    // False while the emulator cannot serve UDP.
    bool available() const { return server_ != nullptr; }
    QString address() const { return address_; }
    PeerLink link() const { return link_; }
    // The device of a serial peer.
    QString device() const;
    // The address as the library's open call takes it (network byte order).
    int32_t networkAddress() const;
    orvemu::Controller &controller() { return *controller_; }
    const orvemu::Server *server() const { return server_.get(); }
    // Opens the monitor's connection (ConnectionHandle) to a UDP or TCP peer:
    // the link up. The time-out only bounds a loaded machine's answer: a
    // test that lets requests go unanswered sets its own short one. False
    // when the peer cannot be reached here.
    bool connectMonitor(int timeoutMs = 2000);
    // The controller goes away: a network peer stops serving (TCP then
    // refuses, UDP stays silent), a serial peer's pseudo-terminal goes (as a
    // line that is unplugged), until startServing on the same address (a
    // serial peer: on a new pseudo-terminal, which its COM port then names).
    void stopServing();
    bool startServing();
    // The controller hangs: TCP connections are still accepted by the
    // kernel until the backlog is full, and nothing is ever answered; UDP
    // and serial requests get no answer. startServing ends it.
    void hang();

private:
    std::unique_ptr<orvemu::Controller> controller_;
    std::unique_ptr<orvemu::Server> server_;
    PeerLink link_;
    QString address_;
    uint32_t baud_ = 0;
    int comPort_ = 1;
    int hungListener_ = -1;  // a TCP listener that never accepts
};
