// The main window: start-up defaults, the connection manager against the
// emulator (requests, baud search, failure messages, titles), the timers,
// the version rule and shut-down.
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QtTest/QTest>

#include "controller.h"
#include "core/frmSetup.h"
#include "core/globals.h"
#include "core/settings.h"
#include "datatable/frmTable.h"
#include "harness/harness.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"
#include "servers.h"
#include "transfer/frmFile.h"
#include "transfer/frmLoadMain.h"
#include "transfer/frmProgFlash.h"
#include "windows/frames.h"

namespace {
void resetLink() {
    restartLink();
    SetupOpen = false;
    ReconnectPending = false;
    SymbolFilePath.clear();
    ControllerIP.clear();
    ControllerIPText.clear();
    Custom1Loaded = Custom2Loaded = false;
}

QString netSettings(int kind, const QString &address, int timeout = 200) {
    return QStringLiteral("[Communications]\ndword \"COMM Port\" %1\nsz \"IP Address\" \"%2\"\ndword \"Timeout\" %3\n")
        .arg(kind)
        .arg(address)
        .arg(timeout);
}

QString serialSettings(int baud, int timeout) {
    return QStringLiteral("[Communications]\ndword \"COMM Port\" 3\ndword \"BAUD Rate\" %1\ndword \"Timeout\" %2\n")
        .arg(baud)
        .arg(timeout);
}

const QStringList EaProbe = {QStringLiteral("get 13008"), QStringLiteral("code 0D"), QStringLiteral("code 45"),
                             QStringLiteral("code 3D"), QStringLiteral("code 41")};
// Before the library opens a network link, the controller is asked for register 1.
const QStringList NetProbe = {QStringLiteral("get 1")};

// A connection attempt to its end (a network one goes on from the event loop).
bool attemptNow(frmMain &m) {
    m.CheckComm();
    m.waitForAttempt();
    return NoComm;
}
}  // namespace

class TestFrmMain : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { resetLink(); }

    void startUpWithoutSections() {
        MonitorTestEnv env;
        env.writeSettings(QStringLiteral("[Registers]\n"), true);
        frmMain &m = form<frmMain>();
        QCOMPARE(BaudRate, 9600);
        QCOMPARE(CommPort, 3);
        QCOMPARE(HostNode, 999);
        QCOMPARE(TargetNode, 0);
        QCOMPARE(TimeoutMs, 250);
        QCOMPARE(DdeUpdateMs, 1000);
        QCOMPARE(m.Top(), 1008);
        QCOMPARE(m.Left(), 2036);
        QCOMPARE(m.Width(), 11000);
        QCOMPARE(m.Caption(), QStringLiteral("ORV Monitor V3.6 - COMM 1 Baud 9600"));
        // No serial line: the first failure is silent and leaves NoComm set.
        QVERIFY(NoComm);
        QVERIFY(ConnectFailedBefore);
        QCOMPARE(m.Message->text(), QString());
        QCOMPARE(m.Timer1->Interval(), 1000);  // the next attempt after the update interval
        QVERIFY(m.Timer3->Enabled());
        QVERIFY(m.PollStartPending);
        QCOMPARE(RegisterLimit, 40000);
        QCOMPARE(BitWeights[31], -2147483648.0f);
        QCOMPARE(BitWeights[30], 1073741824.0f);
        QCOMPARE(Custom1Rows[15].name, QStringLiteral("Not Selected"));
        QCOMPARE(Custom2Rows[0].number, 1);
    }

    void startUpWithValuesMissing() {
        MonitorTestEnv env;
        env.writeSettings(QStringLiteral("[Communications]\ndword \"Timeout\" 0\n[DDE Setup]\ndword \"Update\" 3\n"
                                         "[Main]\ndword \"Q600 Support\" 2\n"),
                          true);
        frmMain &m = form<frmMain>();
        QCOMPARE(BaudRate, 19200);
        QCOMPARE(HostNode, 32767);
        QCOMPARE(TargetNode, 1);
        QCOMPARE(TimeoutMs, 350);
        QCOMPARE(DdeUpdateMs, 10);
        QCOMPARE(m.Left(), 1236);
        QVERIFY(!Q600Support);
        // The Files section is absent: its write is refused, the rest goes on.
        env.responder.expectBox(QStringLiteral("Cannot WRITE File settings to Registry !"));
        env.responder.answerEveryBox(mbOK);
        QVERIFY(m.close());
        QVERIFY(env.responder.prompts().contains(QStringLiteral("Cannot WRITE File settings to Registry !")));
        // The stored 2 stays; the geometry is written back.
        SettingsStore store(env.settingsFile());
        int32_t key = 0, q = 0, top = 0;
        QVERIFY(store.openKey(HKEY_CURRENT_USER, SettingsRoot + QStringLiteral("Main"), key));
        QVERIFY(store.queryLong(key, QStringLiteral("Q600 Support"), q));
        QCOMPARE(q, 2);
        QVERIFY(store.queryLong(key, QStringLiteral("Top"), top));
        QCOMPARE(top, 1008);
    }

    // The probe of an EA controller reads model, counts, the further counts,
    // status and configuration; any other model stops after the counts.
    void connectsOverUdpAndProbes_data() {
        QTest::addColumn<int>("model");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<int>("tasks");
        QTest::newRow("EA model 5") << 5 << NetProbe + EaProbe << 32;
        QTest::newRow("model 12") << 12 << NetProbe + EaProbe << 128;
        QTest::newRow("model 2") << 2 << NetProbe + QStringList{QStringLiteral("get 13008"), QStringLiteral("code 0D")}
                                 << 16;
    }
    void connectsOverUdpAndProbes() {
        QFETCH(int, model);
        QFETCH(QStringList, requests);
        QFETCH(int, tasks);
        MonitorTestEnv env;
        EmulatorPeer peer(model);
        QVERIFY(peer.available());
        env.writeSettings(netSettings(1, peer.address()) + QStringLiteral("[DDE Setup]\ndword \"Update\" 40000\n"));
        frmMain &m = form<frmMain>();
        m.waitForAttempt();
        QCOMPARE(requestSummary(peer.controller()), requests);
        MiscIoCount = {7, 7, 7, 7};
        QVERIFY(!attemptNow(m));
        QVERIFY(!NoComm);
        QVERIFY(Connected);
        QVERIFY(ControllerIdentified);
        QCOMPARE(ControllerModel, model);
        QCOMPARE(TaskLayout[1], tasks);
        QCOMPARE(NumFlags, int16_t(peer.controller().memory().counts.flags));
        QCOMPARE(NumServos, int16_t(peer.controller().memory().counts.servos));
        if (model == 2) QCOMPARE(MiscIoCount[0], int16_t(7));  // not read: kept
        else QCOMPARE(MiscIoCount[0], int16_t(peer.controller().memory().counts.prototype));

        const QString title = QStringLiteral(" - UDP ") + peer.address();
        QCOMPARE(m.Message->text(), QStringLiteral("Connected to UDP ") + peer.address());
        QCOMPARE(ConnectionTitle, title);
        QCOMPARE(m.Caption(), QStringLiteral("ORV Monitor V3.6") + title);
        QCOMPARE(form<frmReg>().Caption(), QStringLiteral("Registers") + title);
        QCOMPARE(form<frmAnalIn>().Caption(), QStringLiteral("Analog Inputs") + title);
        QCOMPARE(form<frmServo>().Caption(), QStringLiteral("Motors/Servos") + title);
        QCOMPARE(form<frmStatus>().Caption(), QStringLiteral("Step Status") + title);
        QCOMPARE(form<frmDDE>().Caption(), QStringLiteral("DDE Screen") + title);
        QCOMPARE(form<frmDDE>().control<QLabel>(QStringLiteral("Message"))->text(), m.Message->text());
        // Captioning loads a window hidden; it does not open it for polling.
        QVERIFY(!form<frmReg>().isVisible());
        QVERIFY(!RegWindowOpen && !FlagWindowOpen && !AnalInWindowOpen);
        // The custom windows are not loaded that way.
        QVERIFY(!formLoaded<frmCustom1>() && !formLoaded<frmCustom2>());
        QCOMPARE(m.Timer1->Interval(), 32000);
        QVERIFY(m.Timer3->Enabled() && m.PollStartPending);
        QVERIFY(!m.Timer1->Enabled());
        m.Timer3_Timer();
        QVERIFY(m.Timer1->Enabled() && !m.Timer3->Enabled() && !m.PollStartPending);
        QVERIFY(m.close());
        QCOMPARE(ConnectionHandle, 0);
    }

    void connectsOverTcpAndClampsTheInterval() {
        MonitorTestEnv env;
        EmulatorPeer peer(5, PeerLink::Tcp);
        QVERIFY(peer.available());
        env.writeSettings(netSettings(2, QStringLiteral("  ") + peer.address() + QStringLiteral(" ")));
        frmMain &m = form<frmMain>();
        m.waitForAttempt();
        QVERIFY(!NoComm);
        QCOMPARE(m.Message->text(), QStringLiteral("Connected to TCP/IP ") + peer.address());
        QCOMPARE(m.Timer1->Interval(), 25);  // the value-missing "Update"
        DdeUpdateMs = 5;
        QVERIFY(!attemptNow(m));
        QCOMPARE(DdeUpdateMs, 10);
        QCOMPARE(m.Timer1->Interval(), 10);
        // Each attempt closes the connection it replaces.
        QCOMPARE(requestSummary(peer.controller()), NetProbe + EaProbe + NetProbe + EaProbe);
        // A failed attempt tries again after the update interval, and each
        // further failure waits twice as long, up to 5 s.
        CommPort = 1;
        ControllerIP.clear();
        QVERIFY(m.CheckComm());
        QCOMPARE(m.Timer1->Interval(), 10);
        QVERIFY(m.CheckComm());
        QCOMPARE(m.Timer1->Interval(), 20);
        for (int i = 0; i < 10; ++i) m.CheckComm();
        QCOMPARE(m.Timer1->Interval(), 5000);
        // A refused TCP controller is found out without the library's
        // half-second waits (the library is not asked to open), and the
        // reason is said.
        CommPort = 2;
        ControllerIP = peer.address();
        peer.stopServing();
        const int opens = OrvComm::ZqOpenNetConnection.calls();
        QVERIFY(attemptNow(m));
        QCOMPARE(OrvComm::ZqOpenNetConnection.calls(), opens);
        QVERIFY2(m.Message->text().endsWith(QStringLiteral("please configure -  %1:6000: Connection refused")
                                                .arg(peer.address())),
                 qPrintable(m.Message->text()));
        // A user action starts the back-off over.
        m.resetReconnectBackOff();
        QVERIFY(attemptNow(m));
        QCOMPARE(m.Timer1->Interval(), 10);
    }

    void serialBaudSearchFindsTheControllersRate() {
        MonitorTestEnv env;
        EmulatorPeer peer(5, PeerLink::Serial, 38400, 1);
        QVERIFY(peer.available());
        env.writeSettings(serialSettings(19200, 100));
        frmMain &m = form<frmMain>();
        m.waitForAttempt();
        // A loaded machine may answer too late at the right rate: the next
        // attempt searches again.
        for (int i = 0; i < 20 && NoComm; ++i) attemptNow(m);
        QVERIFY(!NoComm);
        QCOMPARE(BaudRate, 38400);
        QCOMPARE(m.Message->text(), QStringLiteral("Connected to COMM1 Baud 38400"));
        QCOMPARE(ConnectionTitle, QStringLiteral(" - COMM1 Baud 38400"));
        QCOMPARE(orvemu::ptyLine(*peer.server())->baud, 38400u);
        // Only what was sent at 38400 reached the controller, and the search
        // tried one rate after the other, each on its own turn of the event
        // loop. (The status and configuration reads are the serial line's
        // checks too, which the peer leaves out of its log.)
        QStringList probe = EaProbe;
        probe.removeAll(QStringLiteral("code 3D"));
        probe.removeAll(QStringLiteral("code 41"));
        const QStringList requests = requestSummary(peer.controller());
        QCOMPARE(requests.mid(requests.size() - probe.size()), probe);
        for (const QString &r : requests) QVERIFY2(probe.contains(r), qPrintable(r));
    }

    // A serial link that cannot be made: the status line names the port,
    // its device and the reason.
    void serialLinkThatCannotBeMade_data() {
        QTest::addColumn<QString>("device");  // empty: a controller that never answers
        QTest::addColumn<QString>("reason");
        QTest::newRow("silent controller") << QString() << QStringLiteral("Timed out waiting for response from "
                                                                          "controller on COM1 (%1)");
        QTest::newRow("no serial line") << QStringLiteral("/dev/null")
                                        << QStringLiteral("SetCommState error on COM1 (%1: ") +
                                               qt_error_string(ENOTTY) + QStringLiteral(")");
        QTest::newRow("no device") << QStringLiteral("/dev/orvmon-test-none")
                                   << QStringLiteral("Windows file error (%1: ") + qt_error_string(ENOENT) +
                                          QStringLiteral(")");
    }
    void serialLinkThatCannotBeMade() {
        QFETCH(QString, device);
        QFETCH(QString, reason);
        MonitorTestEnv env;
        EmulatorPeer peer(5, PeerLink::Serial, 1200, 1);
        QVERIFY(peer.available());
        if (device.isEmpty()) device = peer.device();
        qputenv("ORVCOMM_COM1", device.toLocal8Bit());
        const auto back = qScopeGuard([&peer] { qputenv("ORVCOMM_COM1", peer.device().toLocal8Bit()); });
        env.writeSettings(serialSettings(9600, 30));
        frmMain &m = form<frmMain>();
        m.waitForAttempt();
        QVERIFY(NoComm);
        QCOMPARE(ConnectionHandle, 0);
        QCOMPARE(m.Message->text(), QString());  // the first failure is silent
        // No polling tick runs in between.
        m.Timer3->setEnabled(false);
        QVERIFY(attemptNow(m));
        QCOMPARE(m.Message->text(),
                 QStringLiteral("( 1 ) Failed to make connection, please configure -  ") + reason.arg(device));
        QVERIFY(attemptNow(m));
        QCOMPARE(m.Message->text().left(12), QStringLiteral("( 2 ) Failed"));
        QCOMPARE(BaudRate, 9600);  // no rate answered: the stored one stays
        QCOMPARE(peer.controller().requestCount(), 0u);
        if (device != peer.device()) return;

        // A Suspend while the attempt is under way ends it: nothing more is
        // asked, the port is free again, and monitoring stays suspended.
        QVERIFY(m.CheckComm());
        QVERIFY(m.attemptPending());
        m.SuspendButton_Click();
        QVERIFY(!m.attemptPending());
        QVERIFY(MonitoringSuspended);
        QCOMPARE(ConnectionHandle, 0);
        const int32_t again = OrvComm::ZqOpenConnection(ZQ_TYPE_SERIAL, 1, 0);
        QVERIFY(again != 0);
        OrvComm::ZqCloseConnection(again);
    }

    void secondFailureShowsCurrentError() {
        MonitorTestEnv env;
        env.writeSettings(QStringLiteral("[Registers]\n"), true);
        frmMain &m = form<frmMain>();
        // An empty address opens nothing; the earlier error text is not reused.
        CommPort = 1;
        ControllerIP.clear();
        qstrcpy(ErrorInfo.text, "left over");
        QVERIFY(m.CheckComm());
        QVERIFY(m.Message->text().startsWith(QStringLiteral("( 1 ) Failed to make connection, please configure -  ")));
        QVERIFY(!m.Message->text().contains(QStringLiteral("left over")));
        QCOMPARE(ConnectionHandle, 0);
        // Right after the user set up the connection a failure shows too.
        ReconnectPending = true;
        m.Message->setText(QString());
        QVERIFY(m.CheckComm());
        QVERIFY(m.Message->text().startsWith(QStringLiteral("( 2 ) Failed to make connection, please configure -  ")));
    }

    void suspendedAndSetupOpen() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        env.writeSettings(netSettings(1, peer.address()));
        frmMain &m = form<frmMain>();
        m.waitForAttempt();
        QVERIFY(ConnectionHandle != 0);
        peer.controller().clearLog();
        // Suspended: the connection is closed and nothing is opened.
        controllerLink().markSuspended();
        QVERIFY(!m.CheckComm());
        QCOMPARE(ConnectionHandle, 0);
        QCOMPARE(peer.controller().requestCount(), 0u);
        controllerLink().markResumed();
        // With the setup window open the poll start is not armed.
        m.Timer3->setEnabled(false);
        m.PollStartPending = false;
        SetupOpen = true;
        QVERIFY(!attemptNow(m));
        QVERIFY(!m.Timer3->Enabled() && !m.PollStartPending);
        SetupOpen = false;
    }

    void reconnectTimer() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        EmulatorPeer nobody(5);
        nobody.stopServing();
        env.writeSettings(netSettings(1, nobody.address(), 50));
        frmMain &m = form<frmMain>();
        m.waitForAttempt();
        QVERIFY(NoComm);
        // Nothing pending: nothing happens and the timer stays on.
        m.Timer2->setEnabled(true);
        m.Message->setText(QStringLiteral("kept"));
        m.Timer2_Timer();
        QVERIFY(m.Timer2->Enabled());
        QCOMPARE(m.Message->text(), QStringLiteral("kept"));
        // The user typed another address in the setup window and closed it.
        form<frmSetup>().Text3->setText(peer.address());
        ReconnectPending = true;
        const QString before = form<frmSetup>().txtResolveIP->text();
        m.Timer2_Timer();
        QVERIFY(form<frmSetup>().txtResolveIP->text().toInt() > before.toInt());
        QCOMPARE(ControllerIP, peer.address());
        m.waitForAttempt();
        QVERIFY(!NoComm);
        QCOMPARE(m.Message->text(), QStringLiteral("Connected to UDP ") + peer.address());
        QVERIFY(!ReconnectPending && !m.Timer2->Enabled());
    }

    void suspendAndResume() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        env.writeSettings(netSettings(1, peer.address()));
        frmMain &m = form<frmMain>();
        m.waitForAttempt();
        QVERIFY(ConnectionHandle != 0);
        m.Timer1->setEnabled(true);
        m.SuspendButton_Click();
        QCOMPARE(m.SuspendButton->Caption(), QStringLiteral("Resume Monitoring"));
        QCOMPARE(m.SuspendButton->ForeColor(), 32768);
        QCOMPARE(m.Message->text(), QStringLiteral("Controller Monitoring Suspended"));
        QCOMPARE(form<frmDDE>().control<QLabel>(QStringLiteral("Message"))->text(), m.Message->text());
        QVERIFY(!m.Timer1->Enabled() && NoComm && MonitoringSuspended);
        QVERIFY(!m.StartButton->isEnabled());
        QCOMPARE(ConnectionHandle, 0);
        // Resume reconnects at once through one tick.
        peer.controller().clearLog();
        m.SuspendButton_Click();
        QCOMPARE(m.SuspendButton->Caption(), QStringLiteral("Suspend Monitoring"));
        QVERIFY(m.Timer1->Enabled() && !MonitoringSuspended && m.StartButton->isEnabled());
        m.waitForAttempt();
        QVERIFY(!NoComm);
        QCOMPARE(requestSummary(peer.controller()), NetProbe + EaProbe);
        QCOMPARE(m.ConnectFailCount, -1);
    }

    void shutDownUnloadsEveryWindowInOrder() {
        MonitorTestEnv env;
        env.responder.answerEveryBox(mbOK);
        env.writeSettings(QString());
        frmMain &m = form<frmMain>();
        QStringList order;
        Form *windows[] = {&form<frmFile>(),   &form<frmLoadMain>(), &form<frmProgFlash>(), &form<frmDDE>(),
                           &form<frmSetup>(),  &form<frmTable>(),    &form<frmStatus>(),    &form<frmCustom2>(),
                           &form<frmCustom1>(), &form<frmServo2>(),  &form<frmServo>(),     &form<frmAnalOut>(),
                           &form<frmDigOut>(), &form<frmFlag>(),     &form<frmAnalIn>(),    &form<frmDigIn>(),
                           &form<frmRam>(),    &form<frmReg>()};
        for (Form *w : windows)
            QObject::connect(w, &Form::unloaded, w, [&order, w] { order << w->objectName(); });
        // A connection the library does not know cannot be closed.
        controllerLink().markOpened(4242);
        QVERIFY(m.close());
        QCOMPARE(order, (QStringList{QStringLiteral("frmReg"), QStringLiteral("frmRam"), QStringLiteral("frmDigIn"),
                                     QStringLiteral("frmAnalIn"), QStringLiteral("frmFlag"), QStringLiteral("frmDigOut"),
                                     QStringLiteral("frmAnalOut"), QStringLiteral("frmServo"), QStringLiteral("frmServo2"),
                                     QStringLiteral("frmCustom1"), QStringLiteral("frmCustom2"), QStringLiteral("frmStatus"),
                                     QStringLiteral("frmTable"), QStringLiteral("frmSetup"), QStringLiteral("frmDDE"),
                                     QStringLiteral("frmProgFlash"), QStringLiteral("frmLoadMain"),
                                     QStringLiteral("frmFile")}));
        QVERIFY(env.responder.prompts().contains(QStringLiteral("Failed to CLOSE network!")));
        QCOMPARE(ConnectionHandle, 0);
        // The windows saved their geometry in their own sections.
        SettingsStore store(env.settingsFile());
        for (const char *section : {"Registers", "NVram", "Digin", "Analin", "Flags", "Digout", "Analout", "Servo"}) {
            int32_t key = 0, top = 0;
            QVERIFY(store.openKey(HKEY_CURRENT_USER, SettingsRoot + QString::fromLatin1(section), key));
            QVERIFY2(store.queryLong(key, QStringLiteral("Top"), top), section);
        }
    }

    // A custom window whose changes cannot be saved keeps the program open;
    // nothing is closed or saved behind it.
    void shutDownStopsAtAnUnsavedCustomWindow() {
        MonitorTestEnv env;
        env.writeSettings(QString());
        frmMain &m = form<frmMain>();
        frmCustom1 &c = form<frmCustom1>();
        c.ConfigSaved = false;
        CustomScreen1Path = env.dir() + QStringLiteral("/no/such/folder/screen.CFG");
        env.responder.expectBox(QStringLiteral("Save Changes to ") + CustomScreen1Path, mbYes);
        env.responder.expectBox(QStringLiteral("Error Saving File"));
        controllerLink().markOpened(4242);
        QVERIFY(!m.close());
        QVERIFY(env.responder.done());
        QVERIFY(m.loaded() && c.loaded());
        QCOMPARE(ConnectionHandle, 4242);  // not closed
        env.responder.expectBox(QStringLiteral("Save Changes to ") + CustomScreen1Path, mbNo);
        env.responder.answerEveryBox(mbOK);
        controllerLink().markDropped();
        QVERIFY(m.close());
        CustomScreen1Path.clear();
    }

    void versionRule() {
        QCOMPARE(frmMain::VersionAbove3030(QStringLiteral("/x/liborvcomm.so.3.0.3")), int16_t(0));
        QCOMPARE(frmMain::VersionAbove3030(QStringLiteral("liborvcomm.so.3.0.3.1")), int16_t(1));
        QCOMPARE(frmMain::VersionAbove3030(QStringLiteral("liborvcomm.so.3.0.4")), int16_t(1));
        QCOMPARE(frmMain::VersionAbove3030(QStringLiteral("liborvcomm.so.3.1.0")), int16_t(1));
        QCOMPARE(frmMain::VersionAbove3030(QStringLiteral("liborvcomm.so.4.0.0")), int16_t(1));
        QCOMPARE(frmMain::VersionAbove3030(QStringLiteral("liborvcomm.so.2.9.9")), int16_t(0));
        QCOMPARE(frmMain::VersionAbove3030(QStringLiteral("liborvcomm.so")), int16_t(0));
        // The copy this program loads is the project's own build.
        QCOMPARE(FormRegistry::object<frmMain>().SelectCommFunction(), int16_t(1));
    }
};

QTEST_MAIN(TestFrmMain)
#include "test_frmmain.moc"
