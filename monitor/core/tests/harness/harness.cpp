#include "harness.h"

#include <QFile>
#include <QtTest/QTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "controller.h"
#include "core/dde.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "core/settings.h"
#include "main/frmMain.h"
#include "servers.h"
#include "wire.h"

#if defined(__SANITIZE_ADDRESS__)
namespace {
// Read without Qt, which is being torn down when this runs.
int threadsOfThisProcess() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
    return 1;
}
// Qt's painting thread pool lets its threads go at exit, and a thread frees
// its Qt thread data only as it ends. The leak check at exit, run while such
// a thread was still ending, now and then reported that data (152 bytes
// from inside Qt): let every other thread end first (a bound that only a
// stuck thread reaches).
struct OtherThreadsEndBeforeTheLeakCheck {
    ~OtherThreadsEndBeforeTheLeakCheck() {
        for (int i = 0; i < 5000 && threadsOfThisProcess() > 1; ++i) usleep(1000);
    }
} otherThreadsEndBeforeTheLeakCheck;
}  // namespace
#endif

ScriptedResponder::ScriptedResponder() { installDialogResponder(this); }
ScriptedResponder::~ScriptedResponder() {
    if (dialogResponder() == this) installDialogResponder(nullptr);
}

void ScriptedResponder::expectBox(const QString &prompt, int answer) { expectedBoxes_.append({prompt, answer}); }
void ScriptedResponder::expectFile(FileDialogAnswer answer) { expectedFiles_.append(std::move(answer)); }

QStringList ScriptedResponder::prompts() const {
    QStringList out;
    for (const auto &b : boxes_) out << b.prompt;
    return out;
}

void ScriptedResponder::clear() {
    expectedBoxes_.clear();
    expectedFiles_.clear();
    boxes_.clear();
    files_.clear();
    every_.reset();
}

int ScriptedResponder::answerBox(const MsgBoxCall &call) {
    boxes_.append(call);
    if (!expectedBoxes_.isEmpty()) {
        const auto [prompt, answer] = expectedBoxes_.takeFirst();
        if (prompt != call.prompt) {
            QTest::qFail(qPrintable(QStringLiteral("message box \"%1\" where \"%2\" was expected")
                                        .arg(call.prompt, prompt)),
                         __FILE__, __LINE__);
        }
        return answer;
    }
    if (every_) return *every_;
    QTest::qFail(qPrintable(QStringLiteral("unexpected message box \"%1\"").arg(call.prompt)), __FILE__, __LINE__);
    return call.buttons == mbYesNo || call.buttons == mbYesNoCancel ? mbNo : mbCancel;
}

FileDialogAnswer ScriptedResponder::answerFile(const FileDialogCall &call) {
    files_.append(call);
    if (expectedFiles_.isEmpty()) {
        QTest::qFail("unexpected file dialog", __FILE__, __LINE__);
        return std::nullopt;
    }
    return expectedFiles_.takeFirst();
}

ScriptedModalRunner::ScriptedModalRunner() { installModalRunner(this); }
ScriptedModalRunner::~ScriptedModalRunner() { installModalRunner(nullptr); }

void ScriptedModalRunner::run(Form &form) {
    ++runs_;
    if (actions_.isEmpty()) {
        QTest::qFail(qPrintable(QStringLiteral("unexpected modal window %1").arg(form.objectName())), __FILE__,
                     __LINE__);
        form.Unload();
        return;
    }
    auto action = actions_.takeFirst();
    action(form);
}

RecordingShell::RecordingShell() { installShellHandler(this); }
RecordingShell::~RecordingShell() { installShellHandler(nullptr); }
bool RecordingShell::openDocument(const QString &path) {
    requests << QStringLiteral("open ") + path;
    return result;
}
bool RecordingShell::openTextFile(const QString &path) {
    requests << QStringLiteral("edit ") + path;
    return result;
}
bool RecordingShell::startProgram(const QString &program, const QStringList &arguments) {
    requests << (QStringList{QStringLiteral("start"), program} + arguments).join(u' ');
    return result;
}

MonitorTestEnv::MonitorTestEnv() {
    // No test talks to a real serial port: every COM port names nothing
    // until a serial peer takes one.
    for (int n = 1; n <= 16; ++n)
        qputenv(QStringLiteral("ORVCOMM_COM%1").arg(n).toLatin1().constData(), "/nonexistent/orvmon-test-line");
    qputenv("ORVMON_SETTINGS", settingsFile().toLocal8Bit());
    qputenv("ORVMON_DATA_DIR", dir_.path().toLocal8Bit());
    qputenv("ORVMON_DDE", (dir_.path() + QStringLiteral("/orvmon-dde")).toLocal8Bit());
    SettingsStore::setFileForProgram(settingsFile());
}

MonitorTestEnv::~MonitorTestEnv() {
    DdeServer::instance().stop();
    FormRegistry::destroyAll();
    installEventPump(nullptr);
}

void MonitorTestEnv::writeSettings(const QString &text, bool onlyThese) const {
    QString all = text;
    if (!onlyThese) {
        for (const QString &section : SettingsStore::programSections()) {
            const QString head = QStringLiteral("[") + section + QStringLiteral("]");
            if (!text.contains(head, Qt::CaseInsensitive)) all += QStringLiteral("\n") + head;
        }
    }
    QFile f(settingsFile());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write the test settings");
    f.write((all + QStringLiteral("\n")).toUtf8());
}

QStringList requestSummary(const orvemu::Controller &c) {
    QStringList out;
    for (const auto &f : c.requests()) {
        if (f.size() < 4) {
            out << QStringLiteral("short");
            continue;
        }
        const uint8_t code = f[2];
        if (code == 0x09 && f.size() >= 5) {
            out << QStringLiteral("get %1").arg(orvemu::u16(&f[3]));
        } else if (code == 0x0B && f.size() >= 9) {
            out << QStringLiteral("put %1=%2").arg(orvemu::u16(&f[3])).arg(static_cast<int32_t>(orvemu::u32(&f[5])));
        } else {
            out << QStringLiteral("code ") + QString::number(code, 16).rightJustified(2, QLatin1Char('0')).toUpper();
        }
    }
    return out;
}

namespace {
// A loopback address of this process's own: 127.<pid bits>.<counter>.
QString nextLoopback() {
    static std::atomic<int> counter{1};
    const int n = counter++;
    const unsigned pid = static_cast<unsigned>(getpid());
    return QStringLiteral("127.%1.%2.%3").arg((pid >> 8) & 0xFF).arg(pid & 0xFF).arg(1 + n % 250);
}
}  // namespace

EmulatorPeer::EmulatorPeer(int model) : EmulatorPeer(model, PeerLink::Udp) {}

EmulatorPeer::EmulatorPeer(int model, PeerLink link, uint32_t baud, int comPort)
    : controller_(std::make_unique<orvemu::Controller>(model)), link_(link), baud_(baud), comPort_(comPort) {
    switch (link) {
    case PeerLink::Udp:
        address_ = nextLoopback();
        server_ = orvemu::startUdp(*controller_, address_.toStdString());
        break;
    case PeerLink::Tcp:
        address_ = nextLoopback();
        server_ = orvemu::startTcp(*controller_, address_.toStdString());
        break;
    case PeerLink::Serial:
        // As a real line: a pseudo-terminal that answers at once on an idle
        // machine and late on a busy one would have a prompt answer refused
        // as too soon once the late ones made it look like a real line.
        controller_->setLineTiming(true);
        // A test's faults are meant for the monitor's requests, not for the
        // library's checks of the line between them.
        controller_->passOver(orvemu::Controller::statusAndConfigReads());
        server_ = orvemu::startPty(*controller_, baud);
        if (server_) qputenv(QStringLiteral("ORVCOMM_COM%1").arg(comPort).toLatin1().constData(), device().toLocal8Bit());
        break;
    }
}

void EmulatorPeer::stopServing() { server_.reset(); }

bool EmulatorPeer::startServing() {
    if (hungListener_ >= 0) ::close(hungListener_);
    hungListener_ = -1;
    controller_->clearFault();
    if (server_) return true;
    switch (link_) {
    case PeerLink::Udp: server_ = orvemu::startUdp(*controller_, address_.toStdString()); break;
    case PeerLink::Tcp: server_ = orvemu::startTcp(*controller_, address_.toStdString()); break;
    case PeerLink::Serial:
        server_ = orvemu::startPty(*controller_, baud_);
        if (server_) qputenv(QStringLiteral("ORVCOMM_COM%1").arg(comPort_).toLatin1().constData(), device().toLocal8Bit());
        break;
    }
    return server_ != nullptr;
}

void EmulatorPeer::hang() {
    if (link_ != PeerLink::Tcp) {
        controller_->setFault({orvemu::FaultKind::Drop, -1});
        return;
    }
    stopServing();
    // A listener that never accepts: the kernel completes a connection or
    // two for it (its backlog), then lets further ones wait unanswered.
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(6000);
    inet_pton(AF_INET, address_.toLatin1().constData(), &a.sin_addr);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && listen(fd, 0) == 0) {
        hungListener_ = fd;
    } else if (fd >= 0) {
        ::close(fd);
    }
}

bool EmulatorPeer::connectMonitor(int timeoutMs) {
    if (!server_ || link_ == PeerLink::Serial) return false;
    ControllerLink &link = controllerLink();
    link.markOpened(link_ == PeerLink::Tcp ? OrvComm::ZqOpenConnection(ZQ_TYPE_TCP, 0, networkAddress())
                                           : OrvComm::ZqOpenConnection(ZQ_TYPE_UDP, 0, networkAddress()));
    if (ConnectionHandle == 0) return false;
    // A failure names where the link goes, as after the connection manager's own connect.
    const bool tcp = link_ == PeerLink::Tcp;
    link.setPlace({(tcp ? QStringLiteral("at TCP ") : QStringLiteral("at UDP ")) + address_ +
                       (tcp ? QStringLiteral(":6000") : QStringLiteral(":3000")),
                   QString(), address_});
    OrvComm::ZqSetConnectionTimeout(ConnectionHandle, timeoutMs);
    // Connected on the user's word: a suspend or a close in force ends.
    link.markResumed();
    link.markUp();
    return true;
}

frmMain &quietMain(MonitorTestEnv &env, const QString &settings) {
    env.writeSettings(settings);
    frmMain &m = form<frmMain>();
    // A network link is made from the event loop: the load starts it.
    m.waitForAttempt();
    m.Timer1->setEnabled(false);
    m.Timer2->setEnabled(false);
    m.Timer3->setEnabled(false);
    return m;
}

frmMain &quietMainConnectedTo(MonitorTestEnv &env, const EmulatorPeer &peer, int timeoutMs) {
    return quietMain(env, QStringLiteral("[Communications]\ndword \"COMM Port\" %1\nsz \"IP Address\" \"%2\"\n"
                                         "dword \"Timeout\" %3\n")
                              .arg(peer.link() == PeerLink::Tcp ? 2 : 1)
                              .arg(peer.address())
                              .arg(timeoutMs));
}

frmMain *quietMainOnSerial(MonitorTestEnv &env, int baud, int timeoutMs) {
    frmMain &m = quietMain(env, QStringLiteral("[Communications]\ndword \"COMM Port\" 3\ndword \"BAUD Rate\" %1\n"
                                               "dword \"Timeout\" %2\n")
                                    .arg(baud)
                                    .arg(timeoutMs));
    for (int i = 0; i < 20 && !(controllerLink().up() && ControllerIdentified); ++i) {
        m.CheckComm();
        m.waitForAttempt();
    }
    m.Timer1->setEnabled(false);
    m.Timer2->setEnabled(false);
    m.Timer3->setEnabled(false);
    return controllerLink().up() && ControllerIdentified ? &m : nullptr;
}

void disconnectMonitor() {
    if (ConnectionHandle != 0) OrvComm::ZqCloseConnection(ConnectionHandle);
    controllerLink().markDropped();
    controllerLink().markLost(QString());
}

void restartLink() {
    ControllerLink &link = controllerLink();
    link.markDropped();
    link.markStart();
}

void leaveField(QWidget *w) {
    QFocusEvent e(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(w, &e);
}

void typeEnter(QWidget *w, const QString &text) {
    if (!text.isEmpty()) QTest::keyClicks(w, text);
    QTest::keyClick(w, Qt::Key_Return);
}

QString EmulatorPeer::device() const {
    return server_ ? QString::fromStdString(server_->endpoint()) : QString();
}

EmulatorPeer::~EmulatorPeer() {
    if (hungListener_ >= 0) ::close(hungListener_);
    server_.reset();
}

int32_t EmulatorPeer::networkAddress() const {
    in_addr a{};
    inet_pton(AF_INET, address_.toLatin1().constData(), &a);
    return static_cast<int32_t>(a.s_addr);
}
