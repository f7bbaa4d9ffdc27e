// The monitor while its controller is gone (silent, refusing, hung, its line
// unplugged): the window waits for one exchange at the most, reconnect
// attempts go on from the event loop or off the window thread and back off
// to 5 s, the link comes back with the controller, and the status line says
// what happened, and where.
// Counts of library calls and requests, never the clock: how long the
// window is free is the stall benchmark's figure.
#include <QFile>
#include <QtTest/QTest>

#include "controller.h"
#include "core/frmSetup.h"
#include "core/globals.h"
#include "harness/absence.h"
#include "harness/harness.h"
#include "main/frmMain.h"
#include "main/registercommands.h"
#include "windows/frames.h"

Q_DECLARE_METATYPE(Absence)

namespace {
// While the controller is there every exchange is answered at once; the
// long time-out only guards against a loaded machine.
constexpr int PresentTimeoutMs = 2000;
// While it is gone, each failure waits this long.
constexpr int GoneTimeoutMs = 50;

// Makes the link, attempt after attempt (a loaded machine may miss one).
bool linkUp(frmMain &m) {
    for (int i = 0; i < 10 && NoComm; ++i) {
        m.CheckComm();
        m.waitForAttempt();
    }
    return !NoComm;
}

int libraryOpens() {
    return OrvComm::ZqOpenConnection.calls() + OrvComm::ZqOpenNetConnection.calls();
}
int libraryExchanges() {
    return OrvComm::ZqGetRegister.calls() + OrvComm::ZqGetModel.calls() + OrvComm::ZqGetIoCount.calls();
}
// The same made on the window thread.
int windowExchanges() {
    return OrvComm::ZqGetRegister.windowCalls() + OrvComm::ZqGetModel.windowCalls() +
           OrvComm::ZqGetIoCount.windowCalls();
}

void writeRegisterFile(const QString &path, int entries) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("Reg#    Value\r\n\r\n");
    for (int r = 1; r <= entries; ++r) f.write(QByteArray::number(r) + "      7\r\n");
}
}  // namespace

class TestAbsentController : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        restartLink();
        SetupOpen = ReconnectPending = false;
        RegWindowOpen = false;
        ControllerIP.clear();
        ControllerIPText.clear();
    }

    void reconnectNeverWaitsOnTheController_data() {
        QTest::addColumn<Absence>("kind");
        for (const Absence kind : EveryAbsence) QTest::newRow(nameOf(kind)) << kind;
    }
    void reconnectNeverWaitsOnTheController() {
        QFETCH(Absence, kind);
        MonitorTestEnv env;
        const auto peer = peerFor(kind);
        QVERIFY(peer->available());
        frmMain &m = quietMain(env, settingsFor(*peer, PresentTimeoutMs));
        QVERIFY(linkUp(m));
        m.RegisterButton_Click();
        frmReg &reg = form<frmReg>();
        m.messageHoldMs = 0;  // news of the link is not held back by "Register Form loaded."

        // The reason the status line gives once attempts fail: where the
        // controller was looked for, and what happened there.
        const QString noAnswer = QStringLiteral("No answer from the controller at ") + peer->address();
        const QString gone = QStringLiteral("Windows file error (%1: No such file or directory)").arg(peer->device());
        const QString silentLine =
            QStringLiteral("Timed out waiting for response from controller on COM1 (%1)").arg(peer->device());
        const QString reason = kind == Absence::SilentUdp
                                   ? noAnswer + QStringLiteral(":3000 within 3 x %1 ms").arg(GoneTimeoutMs)
                               : kind == Absence::HungTcp ? noAnswer + QStringLiteral(":6000 within %1 ms").arg(3 * GoneTimeoutMs)
                               : kind == Absence::RefusedTcp
                                   ? peer->address() + QStringLiteral(":6000: Connection refused")
                               : kind == Absence::SilentSerial ? silentLine
                                                               : gone;

        // The controller goes: the tick that finds out sends nothing more,
        // and every value it showed is marked as not current.
        goAway(*peer, kind);
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, GoneTimeoutMs);
        TimeoutMs = GoneTimeoutMs;
        int exchanges = libraryExchanges();
        m.Timer1_Timer();
        QVERIFY(NoComm);
        QCOMPARE(libraryExchanges() - exchanges, 1);
        for (QLineEdit *box : reg.Text1) QCOMPARE(box->text(), QStringLiteral("*"));
        QVERIFY2(m.Message->text().startsWith(QStringLiteral("Connection lost - ")), qPrintable(m.Message->text()));

        // Nothing that waits on the controller runs on the window thread:
        // a network attempt asks it without the library, from the event
        // loop; a serial one, once its port is open, on a thread of its own.
        // Such an attempt is still under way when it has been started, and
        // the back-off grows to 5 s.
        const int opens = libraryOpens();
        exchanges = libraryExchanges();
        const int onWindow = windowExchanges();
        const bool network = peer->link() != PeerLink::Serial;
        for (int attempt = 0; attempt < 8; ++attempt) {
            QVERIFY(m.CheckComm());
            // (A port that is gone ends the attempt at once.)
            QCOMPARE(m.attemptPending(), kind != Absence::LostSerial);
            m.waitForAttempt();
            QVERIFY(NoComm);
        }
        // A serial attempt opens the port; a silent controller is then asked
        // at the configured rate and at each of the five of the search. A
        // network attempt opens nothing.
        QCOMPARE(windowExchanges(), onWindow);
        QCOMPARE(libraryExchanges() - exchanges, kind == Absence::SilentSerial ? 8 * 6 : 0);
        QCOMPARE(libraryOpens() - opens, network ? 0 : 8);
        QCOMPARE(m.reconnectDelayMs(), 5000);
        QVERIFY2(
            m.Message->text().contains(QStringLiteral(" ) Failed to make connection, please configure -  ") + reason),
            qPrintable(m.Message->text()));

        // The controller is back: the next attempt makes the link, and the
        // next tick shows current values.
        TimeoutMs = PresentTimeoutMs;
        QVERIFY(peer->startServing());
        QVERIFY(linkUp(m));
        m.Timer1_Timer();
        for (QLineEdit *box : reg.Text1) QVERIFY(box->text() != QStringLiteral("*"));
    }

    // A register-file command while the controller is gone: one exchange
    // finds it out, and the command says why it stopped; once the link is
    // known to be down, a command sends nothing at all.
    void registerFileCommandWhileTheControllerIsGone() {
        MonitorTestEnv env;
        EmulatorPeer peer(5, PeerLink::Udp);
        frmMain &m = quietMain(env, settingsFor(peer, PresentTimeoutMs));
        QVERIFY(linkUp(m));
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, GoneTimeoutMs);
        const QString path = env.dir() + QStringLiteral("/REGS.TXT");
        writeRegisterFile(path, 10);
        peer.controller().setFault({orvemu::FaultKind::Drop, -1});
        peer.controller().clearLog();
        env.responder.expectFile(path);
        env.responder.expectBox(QStringLiteral("Are you sure you want to Download to registers from file: ") + path +
                                    QStringLiteral(" to the controller?"),
                                mbYes);
        WriteRegistersFromFile();
        QVERIFY(env.responder.done());
        QVERIFY(peer.controller().requestCount() <= 3);  // one exchange: the library's three tries
        QVERIFY(NoComm);
        // The reason names the controller's address; the file, how far the download went.
        QCOMPARE(m.Message->text(),
                 QStringLiteral("Failed to write registers!\nNo communication with the controller (Windows socket "
                                "error: no reply within 3 x %1 ms from %2:3000).\nThe download stopped at line 3 of ")
                         .arg(GoneTimeoutMs)
                         .arg(peer.address()) +
                     path + QStringLiteral(".\n0 lines written, 0 refused."));

        peer.controller().clearLog();
        for (void (*command)() : {&ReadRegistersToFile, &WriteRegistersFromFile}) {
            command();
            QCOMPARE(env.responder.files().size(), 1);  // no dialog: the command does not start
        }
        QCOMPARE(peer.controller().requestCount(), 0u);
    }

    // Leaving the setup window while the controller is gone (hung, or after
    // a switch to a silent UDP one): the reconnect does not hold the window,
    // and the status line then says how it went.
    void leavingSetupWhileTheControllerIsGone_data() {
        QTest::addColumn<int>("newKind");
        QTest::newRow("hung TCP controller, setup left as it was") << 2;
        QTest::newRow("switched from TCP to a silent UDP controller") << 1;
    }
    void leavingSetupWhileTheControllerIsGone() {
        QFETCH(int, newKind);
        MonitorTestEnv env;
        EmulatorPeer peer(5, PeerLink::Tcp);
        EmulatorPeer silent(5, PeerLink::Udp);
        silent.hang();
        frmMain &m = quietMain(env, settingsFor(peer, PresentTimeoutMs));
        QVERIFY(linkUp(m));
        peer.hang();
        TimeoutMs = GoneTimeoutMs;
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, GoneTimeoutMs);
        m.Timer1_Timer();
        QVERIFY(NoComm);

        m.configmenu_Click(1);
        frmSetup &s = form<frmSetup>();
        if (newKind == 1) {
            s.Combo1->setCurrentIndex(1);
            s.Combo1_Click();
            s.Text3->setText(silent.address());
            s.ResolveAddress();
        }
        s.ExitButton_Click();
        const int opens = libraryOpens(), exchanges = libraryExchanges();
        m.Timer2_Timer();
        QVERIFY(m.attemptPending());
        m.waitForAttempt();
        QCOMPARE(libraryOpens(), opens);
        QCOMPARE(libraryExchanges(), exchanges);
        QVERIFY(NoComm);
        QVERIFY2(m.Message->text().contains(QStringLiteral(" ) Failed to make connection, please configure -  ")),
                 qPrintable(m.Message->text()));
        peer.startServing();
    }

    // A message that answers the user's own action stays while the link
    // keeps failing; the failure shows once it has been read.
    void userMessageOutlivesTheReconnectMessage() {
        MonitorTestEnv env;
        frmMain &m = quietMain(env, QStringLiteral("[Communications]\ndword \"COMM Port\" 1\n"));
        QVERIFY(NoComm && ConnectFailedBefore);
        m.Message->setText(QStringLiteral("Failed to update register value!"));
        m.RefreshMessage();
        QVERIFY(m.CheckComm());
        QCOMPARE(m.Message->text(), QStringLiteral("Failed to update register value!"));
        // Once it has been read, the failure shows.
        m.messageHoldMs = 0;
        QTRY_VERIFY_WITH_TIMEOUT(m.Message->text() != QStringLiteral("Failed to update register value!"), 10000);
        QVERIFY(m.CheckComm());
        QVERIFY2(m.Message->text().endsWith(QStringLiteral(" ) Failed to make connection, please configure -  "
                                                           "No usable controller IP address")),
                 qPrintable(m.Message->text()));
    }

    // Start, Stop and Reset look disabled while monitoring is suspended.
    void disabledRunButtonsLookDisabled() {
        MonitorTestEnv env;
        frmMain &m = quietMain(env);
        m.SuspendButton_Click();
        QVERIFY(!m.StartButton->isEnabled());
        const QPalette p = m.StartButton->palette();
        QVERIFY(p.color(QPalette::Disabled, QPalette::ButtonText) != p.color(QPalette::Active, QPalette::ButtonText));
        QCOMPARE(p.color(QPalette::Disabled, QPalette::ButtonText),
                 QApplication::palette(m.StartButton).color(QPalette::Disabled, QPalette::ButtonText));
        m.SuspendButton_Click();
        QVERIFY(m.StartButton->isEnabled());
    }
};

QTEST_MAIN(TestAbsentController)
#include "test_absentcontroller.moc"
