// The communication setup window: its load, the field rules, Exit and
// closing, the address resolution, the controller's network addresses and
// the input toggles against the emulator.
#include <QFile>
#include <QFocusEvent>
#include <QtTest/QTest>

#include "controller.h"
#include "core/frmSetup.h"
#include "core/globals.h"
#include "harness/harness.h"
#include "main/frmDDE.h"
#include "core/settings.h"
#include "main/frmMain.h"
#include <memory>

namespace {

// The main window loaded on a serial line that does not exist: its first
// connection fails at once and leaves the link globals in a known state.
frmMain &loadMain(MonitorTestEnv &env) {
    QFile f(env.settingsFile());
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write("[Registers]\n");
    f.close();
    frmMain &m = form<frmMain>();
    SetupOpen = false;
    ReconnectPending = false;
    controllerLink().markUp();
    m.Timer1->setEnabled(false);
    m.Timer2->setEnabled(false);
    return m;
}

int32_t emulatorRegister(EmulatorPeer &peer, int n) {
    return peer.controller().withMemory([n](orvemu::Memory &m) { return m.readRegister(n).value_or(-999); });
}

void resetGlobals() {
    restartLink();
    SetupOpen = ReconnectPending = false;
    SymbolFilePath.clear();
    ControllerModel = -1;
    EaType = 0;
}

}  // namespace

class TestFrmSetup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qputenv("ORVCOMM_COM1", "/nonexistent/orvmon-test-line"); }
    void init() { resetGlobals(); }
    void cleanup() {
        if (ConnectionHandle != 0) OrvComm::ZqCloseConnection(ConnectionHandle);
        controllerLink().markDropped();
    }

    void loadFillsTheWindow() {
        MonitorTestEnv env;
        frmMain &m = loadMain(env);
        m.Timer1->setEnabled(true);
        CommPort = 0;
        BaudRate = 9600;
        HostNode = 12;
        TargetNode = 7;
        AdapterIndex = 2;
        TimeoutMs = 300;
        ControllerIPText = QStringLiteral("plc.example");
        CommError = false;
        ControllerModel = -1;

        frmSetup &s = form<frmSetup>();
        QCOMPARE(s.Caption(), QStringLiteral("Communication Setup"));
        for (const char *name : {"Combo1", "Combo2", "Text1", "Text2", "Text3", "Text4", "txtAdapter", "chkSearch",
                                 "ExitButton", "Frame1", "lblMacID", "cmdLoadIP", "txtResolveIP", "txtLoadCommand",
                                 "Label14(11)", "Label19(3)", "Command3d1(3)", "txtAddress(12)"})
            QVERIFY2(s.control(QString::fromLatin1(name)), name);
        QCOMPARE(s.Combo1->count(), 19);
        QCOMPARE(s.Combo1->itemText(0), QStringLiteral("OrvNET"));
        QCOMPARE(s.Combo1->itemText(2), QStringLiteral("OrvTCP"));
        QCOMPARE(s.Combo1->itemText(18), QStringLiteral("COMM 16"));
        QCOMPARE(s.Combo2->itemText(3), QStringLiteral("56800"));
        QCOMPARE(s.ExitButton->text(), QStringLiteral("E&xit"));

        // The list shows the rate in use; loading changes no setting.
        QCOMPARE(BaudRate, 9600);
        QCOMPARE(s.Combo2->currentText(), QStringLiteral("9600"));
        QCOMPARE(s.Combo1->currentIndex(), 0);
        QVERIFY(CommError);
        QVERIFY(!m.Timer1->Enabled());
        QVERIFY(s.chkSearch->isChecked());
        QCOMPARE(s.Text1->text(), QStringLiteral("12"));
        QCOMPARE(s.Text2->text(), QStringLiteral("7"));
        QCOMPARE(s.txtAdapter->text(), QStringLiteral("2"));
        QCOMPARE(s.Text3->text(), QStringLiteral("plc.example"));
        QCOMPARE(s.Text4->text(), QStringLiteral("300"));
        QVERIFY(s.Text1->isEnabled() && s.Text2->isEnabled() && s.txtAdapter->isEnabled());
        QVERIFY(!s.Text3->isEnabled() && !s.Combo2->isEnabled());
        for (int i = 0; i < 12; ++i) QCOMPARE(s.Label14[i]->text(), QStringLiteral("N/A"));
        QCOMPARE(s.Label19[0]->text(), QStringLiteral("Run State Unknown"));
        QCOMPARE(s.Label19[3]->text(), QStringLiteral("Reset State Unknown"));
        QCOMPARE(s.Command3d1[2]->Caption(), QStringLiteral("Unknown"));
        QVERIFY(s.InputFrame->isHidden());
        QCOMPARE(s.Frame1Height(), 255);
        QCOMPARE(s.Frame1->title(), QStringLiteral("+ Change Controller Network Addresses (Click to Open)"));

        // An EA controller: counts, run state and the input configuration.
        ControllerModel = 5;
        EaType = 1;
        NumFlags = 32;
        NumServos = 0;
        MiscIoCount = {8, 4, 0, 2};
        ControllerStatusBits = 5;
        InputStatusBits = 0x05;
        CommPort = 1;
        s.txtLoadCommand->setText(QStringLiteral("Load"));
        QCOMPARE(s.txtLoadCommand->text(), QString());
        QCOMPARE(s.Label14[0]->text(), QStringLiteral(" 32"));
        QCOMPARE(s.Label14[4]->text(), QStringLiteral(" 0"));
        QCOMPARE(s.Label14[7]->text(), QStringLiteral(" 8"));
        QCOMPARE(s.Label14[11]->text(), QStringLiteral("EA Type"));
        QCOMPARE(s.Label19[0]->text(), QStringLiteral("Controller STOPPED"));
        QCOMPARE(s.Label19[1]->text(), QStringLiteral("Normal Mode"));
        QCOMPARE(s.Label19[2]->text(), QStringLiteral("Controller Software Fault"));
        QCOMPARE(s.Label19[3]->text(), QStringLiteral("Controller mid-program"));
        QCOMPARE(s.Command3d1[0]->Caption(), QStringLiteral("Active"));
        QCOMPARE(s.Command3d1[1]->Caption(), QStringLiteral("Idle"));
        QVERIFY(!s.InputFrame->isHidden());
        QVERIFY(s.Text3->isEnabled() && !s.Text1->isEnabled() && !s.Combo2->isEnabled());

        // A non-EA controller hides the input group again.
        EaType = 0x10000;  // only the low 16 bits count
        s.txtLoadCommand->setText(QStringLiteral("Load"));
        QCOMPARE(s.Label14[11]->text(), QStringLiteral("Non-EA"));
        QCOMPARE(s.Label14[10]->text(), QStringLiteral("N/A"));
        QCOMPARE(s.Label19[1]->text(), QStringLiteral("Run Mode Unknown"));
        QVERIFY(s.InputFrame->isHidden());

        // A kind the list does not hold leaves it without a selection.
        CommPort = 40;
        s.txtLoadCommand->setText(QStringLiteral("Load"));
        QCOMPARE(s.Combo1->currentIndex(), -1);
        QCOMPARE(CommPort, 40);
    }

    // The window shows the baud rate in use, and loading it (as the start-up
    // of a network link does, hidden) changes no setting: a run that never
    // opened it stores the rate it read.
    void baudRateIsTheOneInUse_data() {
        QTest::addColumn<int>("commPort");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("controllerRate");  // a serial controller's; 0 for none
        QTest::newRow("UDP, 9600 stored") << 1 << 9600 << 0;
        QTest::newRow("serial, 19200 stored, controller at 38400") << 3 << 19200 << 38400;
        QTest::newRow("serial, 9600 stored and in use") << 3 << 9600 << 9600;
    }
    void baudRateIsTheOneInUse() {
        QFETCH(int, commPort);
        QFETCH(int, stored);
        QFETCH(int, controllerRate);
        MonitorTestEnv env;
        std::unique_ptr<EmulatorPeer> peer;
        if (controllerRate != 0) peer = std::make_unique<EmulatorPeer>(5, PeerLink::Serial, uint32_t(controllerRate), 1);
        env.writeSettings(QStringLiteral("[Communications]\ndword \"COMM Port\" %1\ndword \"BAUD Rate\" %2\n"
                                         "sz \"IP Address\" \"127.0.0.1\"\ndword \"Timeout\" 200\n")
                              .arg(commPort)
                              .arg(stored));
        frmMain &m = form<frmMain>();
        m.waitForAttempt();
        // A loaded machine may answer too late at the right rate: the next
        // attempt searches again.
        for (int i = 0; i < 10 && controllerRate != 0 && NoComm; ++i) {
            m.CheckComm();
            m.waitForAttempt();
        }
        const int inUse = controllerRate != 0 ? controllerRate : stored;
        QCOMPARE(BaudRate, inUse);
        m.configmenu_Click(1);
        frmSetup &s = form<frmSetup>();
        QCOMPARE(s.Combo2->currentText(), QString::number(inUse));
        QCOMPARE(BaudRate, inUse);
        QVERIFY(s.Unload());
        env.responder.answerEveryBox(mbOK);
        QVERIFY(m.close());
        SettingsStore store(env.settingsFile());
        int32_t key = 0, rate = 0;
        QVERIFY(store.openKey(HKEY_CURRENT_USER, SettingsRoot + QStringLiteral("Communications"), key));
        QVERIFY(store.queryLong(key, QStringLiteral("BAUD Rate"), rate));
        QCOMPARE(rate, inUse);
    }

    void closingHandsTheReconnectToTheMainWindow() {
        MonitorTestEnv env;
        frmMain &m = loadMain(env);
        CommPort = 3;
        BaudRate = 9600;

        // Opening from the menu, as the main window does it.
        SetupOpen = true;
        frmSetup &s = form<frmSetup>();
        s.Show();
        s.txtLoadCommand->setText(QStringLiteral("Load"));
        QCOMPARE(BaudRate, 9600);
        QVERIFY(s.Unload());
        QVERIFY(!SetupOpen);
        QVERIFY(ReconnectPending);
        QVERIFY(m.Timer2->Enabled());
        QVERIFY(AutoBaudSearch);
        // No change, no reconnect.
        QVERIFY(!NoComm);
        QCOMPARE(ConnectionTitle, QStringLiteral(" - COMM 1 Baud 9600"));
        QCOMPARE(m.Caption(), QStringLiteral("ORV Monitor V3.6 - COMM 1 Baud 9600"));
        QCOMPARE(m.Timer1->Interval(), 10);
        QVERIFY(m.Timer1->Enabled());
        QCOMPARE(m.Message->text(), QString());

        // UDP: the baud list is no link setting, the address is.
        CommPort = 1;
        ControllerIPText = QStringLiteral("10.1.2.3");
        ControllerIP = QStringLiteral("10.1.2.3");
        form<frmSetup>();
        s.Combo2->setCurrentIndex(0);
        s.Combo2_Click();
        QCOMPARE(BaudRate, 9600);
        s.chkSearch->setChecked(false);
        QVERIFY(s.Unload());
        QVERIFY(!NoComm);
        QVERIFY(!AutoBaudSearch);
        QCOMPARE(ConnectionTitle, QStringLiteral(" - UDP 10.1.2.3"));

        form<frmSetup>();
        s.Text3->setText(QStringLiteral("10.1.2.4"));
        leaveField(s.Text3);
        QCOMPARE(ControllerIP, QStringLiteral("10.1.2.4"));
        QVERIFY(s.Unload());
        QVERIFY(NoComm);
        QCOMPARE(m.Message->text(), QStringLiteral("Reestablishing Connection"));

        // While monitoring is suspended the polling timer stays off.
        controllerLink().markSuspended();
        m.Timer1->setEnabled(false);
        form<frmSetup>();
        QVERIFY(s.Unload());
        QVERIFY(!m.Timer1->Enabled());
        QVERIFY(m.Timer2->Enabled());
    }

    void exitTakesTheFieldsAsTyped() {
        MonitorTestEnv env;
        frmMain &m = loadMain(env);
        CommPort = 0;
        HostNode = 5;
        TargetNode = 3;
        AdapterIndex = 1;
        TimeoutMs = 250;
        SetupOpen = true;
        frmSetup &s = form<frmSetup>();
        s.Show();

        // The time-out field takes a whole number of milliseconds from 10 to
        // 30000, as typed; anything else changes nothing: a box names the
        // range, and the field shows the time-out again.
        const struct {
            const char *typed;
            int32_t taken;  // 0: refused
        } timeouts[] = {{"99999999999", 0}, {"-99999999999", 0}, {"5", 0}, {"ms", 0}, {"1e3", 1000}, {"30000", 30000}};
        for (const auto &t : timeouts) {
            const int32_t before = TimeoutMs;
            if (!t.taken)
                env.responder.expectBox(QStringLiteral("Timeout (ms) takes whole numbers from 10 to 30000, not \"%1\". "
                                                       "The time-out stays %2 ms.")
                                            .arg(QLatin1String(t.typed))
                                            .arg(before));
            s.Text4->clear();
            QTest::keyClicks(s.Text4, QLatin1String(t.typed));
            leaveField(s.Text4);
            QVERIFY(env.responder.done());
            QCOMPARE(TimeoutMs, t.taken ? t.taken : before);
            QCOMPARE(s.Text4->text(), t.taken ? QLatin1String(t.typed) : QString::number(before));
        }
        s.Text4->clear();
        QTest::keyClicks(s.Text4, QStringLiteral("20000"));
        s.txtAdapter->clear();  // no number: the adapter stays
        s.Text2->setText(QStringLiteral("9"));
        s.Text3->setText(QStringLiteral(" host "));
        s.ExitButton->click();
        QVERIFY(!s.loaded());
        QCOMPARE(TimeoutMs, 20000);
        QCOMPARE(AdapterIndex, 1);
        QCOMPARE(HostNode, 5);
        QCOMPARE(TargetNode, 9);
        QCOMPARE(ControllerIPText, QStringLiteral(" host "));
        QVERIFY(ReconnectPending && !SetupOpen && CommError);
        QVERIFY(NoComm);  // the target node changed
        QCOMPARE(ConnectionTitle, QStringLiteral(" - Node 9"));
        QCOMPARE(m.Message->text(), QStringLiteral("Reestablishing Connection"));
    }

    // A time-out that would make the link wait for ever (0 or below), or
    // longer than the window offers: typed, Exit refuses it and keeps the
    // window open, with nothing taken; stored, it is taken as the default.
    void unusableTimeouts() {
        for (const char *typed : {"0", "-250", "50000"}) {
            MonitorTestEnv env;
            loadMain(env);
            TimeoutMs = 250;
            SetupOpen = true;
            frmSetup &s = form<frmSetup>();
            s.Show();
            s.Text4->clear();
            QTest::keyClicks(s.Text4, QString::fromLatin1(typed));
            env.responder.expectBox(QStringLiteral("Timeout (ms) takes whole numbers from 10 to 30000, not \"%1\". "
                                                   "The time-out stays 250 ms.")
                                        .arg(QLatin1String(typed)));
            s.ExitButton->click();
            QVERIFY(env.responder.done());
            QCOMPARE(TimeoutMs, 250);
            QVERIFY(s.loaded() && SetupOpen);
            QCOMPARE(s.Text4->text(), QStringLiteral("250"));
        }
        {
            // A time-out the user did not type stands, whatever it is.
            MonitorTestEnv env;
            loadMain(env);
            TimeoutMs = 5;
            SetupOpen = true;
            frmSetup &s = form<frmSetup>();
            s.Show();
            leaveField(s.Text4);
            s.ExitButton->click();
            QVERIFY(!s.loaded());
            QCOMPARE(TimeoutMs, 5);
        }
        MonitorTestEnv env;
        env.writeSettings(QStringLiteral("[Communications]\ndword \"Timeout\" -20\n"));
        form<frmMain>();
        QCOMPARE(TimeoutMs, 300);
    }

    void fieldRules() {
        MonitorTestEnv env;
        loadMain(env);
        CommPort = 0;
        HostNode = 7;
        TargetNode = 2;
        AdapterIndex = 1;
        frmSetup &s = form<frmSetup>();

        // Enter as the first key: the field is emptied, then corrected to 1.
        typeEnter(s.Text1);
        QCOMPARE(s.Text1->text(), QStringLiteral("1"));
        QCOMPARE(HostNode, 1);
        // Each entry starts afresh after Enter or leaving.
        QTest::keyClicks(s.Text1, QStringLiteral("40000"));
        typeEnter(s.Text1);
        QCOMPARE(s.Text1->text(), QStringLiteral("32767"));
        QCOMPARE(HostNode, 32767);
        QTest::keyClicks(s.Text1, QStringLiteral("0"));
        QCOMPARE(s.Text1->text(), QStringLiteral("0"));
        leaveField(s.Text1);
        QCOMPARE(s.Text1->text(), QStringLiteral("32767"));
        QTest::keyClicks(s.Text1, QStringLiteral("12"));
        leaveField(s.Text1);
        QCOMPARE(HostNode, 12);

        // A new target node reaches the DDE window's node box, which asks
        // for a reconnect.
        controllerLink().markUp();
        QTest::keyClicks(s.Text2, QStringLiteral("45"));
        QCOMPARE(TargetNode, 2);
        typeEnter(s.Text2);
        QCOMPARE(TargetNode, 45);
        QCOMPARE(form<frmDDE>().DDENode->text(), QStringLiteral("45"));
        QVERIFY(NoComm);
        QTest::keyClicks(s.Text2, QStringLiteral("x"));
        leaveField(s.Text2);
        QCOMPARE(s.Text2->text(), QStringLiteral("1"));
        QCOMPARE(TargetNode, 1);

        QTest::keyClicks(s.txtAdapter, QStringLiteral("12"));
        typeEnter(s.txtAdapter);
        QCOMPARE(s.txtAdapter->text(), QStringLiteral("10"));
        QCOMPARE(AdapterIndex, 10);
        // Leaving the adapter field neither applies nor ends the entry.
        QTest::keyClicks(s.txtAdapter, QStringLiteral("4"));
        leaveField(s.txtAdapter);
        QCOMPARE(AdapterIndex, 10);
        QTest::keyClicks(s.txtAdapter, QStringLiteral("5"));
        QCOMPARE(s.txtAdapter->text(), QStringLiteral("45"));

        // Choosing the controller network puts a host node in an empty field.
        s.Text1->clear();
        CommError = false;
        s.Combo1->setCurrentIndex(0);
        s.Combo1_Click();
        QCOMPARE(s.Text1->text(), QStringLiteral("32001"));
        QCOMPARE(HostNode, 32001);
        QVERIFY(CommError);
        s.Text1->setText(QStringLiteral("5"));
        s.Combo1_Click();
        QCOMPARE(s.Text1->text(), QStringLiteral("5"));
        s.Combo1->setCurrentIndex(2);
        s.Combo1_Click();
        QCOMPARE(CommPort, 2);
        QVERIFY(s.Text3->isEnabled() && !s.Text1->isEnabled());
        s.Combo1->setCurrentIndex(5);
        s.Combo1_Click();
        QVERIFY(s.Combo2->isEnabled() && !s.Text3->isEnabled());
        s.Combo2->setCurrentIndex(3);
        s.Combo2_Click();
        QCOMPARE(BaudRate, 56800);
    }

    void isIP() {
        QVERIFY(frmSetup::IsIP(QStringLiteral("192.168.1.10")));
        QVERIFY(frmSetup::IsIP(QStringLiteral("1..2.3")));
        QVERIFY(!frmSetup::IsIP(QStringLiteral("192.168.1")));
        QVERIFY(!frmSetup::IsIP(QStringLiteral(".1.2.3")));
        QVERIFY(!frmSetup::IsIP(QStringLiteral("1.2.3.")));
        QVERIFY(!frmSetup::IsIP(QStringLiteral("1.2.3.256")));
        QVERIFY(!frmSetup::IsIP(QStringLiteral("1.2.3.4.5")));
        QVERIFY(!frmSetup::IsIP(QStringLiteral("1.2.3.a")));
        QVERIFY(!frmSetup::IsIP(QStringLiteral("1.2. 3.4")));
        QVERIFY(!frmSetup::IsIP(QStringLiteral("1.2.3.99999999999999999999")));
    }

    void resolvingTheAddress() {
        MonitorTestEnv env;
        loadMain(env);
        CommPort = 1;
        frmSetup &s = form<frmSetup>();
        auto resolve = [&s](const QString &typed) {
            s.Text3->setText(typed);
            s.txtResolveIP->setText(QString::number(s.txtResolveIP->text().toLongLong() + 1));
        };

        resolve(QStringLiteral(" 192.168.1.10 "));
        QCOMPARE(ControllerIPText, QStringLiteral("192.168.1.10"));
        QCOMPARE(ControllerIP, QStringLiteral("192.168.1.10"));
        QVERIFY(ResolvingHost);

        resolve(QStringLiteral("localhost"));
        QCOMPARE(ControllerIP, QStringLiteral("127.0.0.1"));
        QCOMPARE(ControllerIPText, QStringLiteral("localhost"));
        QVERIFY(!ResolvingHost);

        // Nothing usable: the address is left empty, so nothing is opened.
        for (const char *text : {"", "1..2.3", "1.2.3.256", "10", "0.0.0.0", "255.255.255.255"}) {
            resolve(QString::fromLatin1(text));
            QVERIFY2(ControllerIP.isEmpty(), text);
        }
        resolve(QStringLiteral("1..2.3"));
        QVERIFY(ResolvingHost);  // a dotted address as the window reads it

        // Leaving the address field raises the counter.
        const qlonglong before = s.txtResolveIP->text().toLongLong();
        s.Text3->setText(QStringLiteral("10.0.0.9"));
        leaveField(s.Text3);
        QCOMPARE(s.txtResolveIP->text().toLongLong(), before + 1);
        QCOMPARE(ControllerIP, QStringLiteral("10.0.0.9"));
    }

    void addressPanelAgainstTheEmulator() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        frmMain &main = loadMain(env);
        CommPort = 0;
        if (!peer.connectMonitor(200)) QSKIP("needs the UDP transport");
        peer.controller().withMemory([](orvemu::Memory &m) {
            const int32_t values[][2] = {{20000, 17},   {20048, 10},  {20049, 0},   {20050, 7},   {20051, 21},
                                         {20064, 255},  {20065, 255}, {20066, 255}, {20067, 0},   {20080, 10},
                                         {20081, 0},    {20082, 7},   {20083, 1},   {20005, 0x1A2B}, {20006, 0x3C}};
            for (const auto &v : values) m.writeRegister(v[0], v[1]);
            return 0;
        });
        frmSetup &s = form<frmSetup>();
        s.Show();

        s.Frame1_Click();
        QCOMPARE(s.Frame1Height(), 2500);
        QCOMPARE(s.Frame1->title(), QStringLiteral("- Change Controller Network Addresses (Click to Close)"));
        QCOMPARE(s.txtAddress[12]->text(), QStringLiteral("17"));
        QCOMPARE(s.Text2->text(), QStringLiteral("17"));
        QCOMPARE(s.txtAddress[3]->text(), QStringLiteral("21"));
        QCOMPARE(s.txtAddress[7]->text(), QStringLiteral("0"));
        QCOMPARE(s.txtAddress[11]->text(), QStringLiteral("1"));
        QCOMPARE(s.Text3->text(), QStringLiteral("10.0.7.21"));
        QCOMPARE(ControllerIP, QStringLiteral("10.0.7.21"));
        QCOMPARE(s.lblMacID->text(), QStringLiteral("001A2B00003C"));

        // Only the number stays in an octet box; a click empties it.
        s.txtAddress[0]->setText(QStringLiteral("007"));
        QCOMPARE(s.txtAddress[0]->text(), QStringLiteral("7"));
        s.txtAddress[0]->setText(QStringLiteral("12a"));
        QCOMPARE(s.txtAddress[0]->text(), QStringLiteral("12"));
        s.txtAddress[1]->setText(QStringLiteral("abc"));
        QCOMPARE(s.txtAddress[1]->text(), QStringLiteral("0"));
        QTest::mouseClick(s.txtAddress[2], Qt::LeftButton);
        QCOMPARE(s.txtAddress[2]->text(), QString());

        s.txtAddress[12]->setText(QStringLiteral("23"));
        env.responder.expectBox(
            QStringLiteral("Addresses loaded! Cycle power on your controller for these values to take effect."));
        s.cmdLoadIP->click();
        QVERIFY(env.responder.done());
        QCOMPARE(emulatorRegister(peer, 20000), 23);
        QCOMPARE(TargetNode, 23);
        QCOMPARE(emulatorRegister(peer, 20048), 12);
        QCOMPARE(emulatorRegister(peer, 20049), 0);
        QCOMPARE(emulatorRegister(peer, 20050), 0);  // the emptied box writes 0
        QCOMPARE(emulatorRegister(peer, 20083), 1);
        QCOMPARE(emulatorRegister(peer, 20096), 1);
        QCOMPARE(s.Text3->text(), QStringLiteral("12.0.0.21"));
        QCOMPARE(ControllerIP, QStringLiteral("12.0.0.21"));

        s.Frame1_Click();
        QCOMPARE(s.Frame1Height(), 255);

        // A TCP link keeps the address the user typed, whatever the
        // controller's registers hold, and Exit reconnects to it.
        CommPort = 2;
        s.Text3->setText(QStringLiteral("127.0.9.1"));
        s.ResolveAddress();
        peer.controller().withMemory([](orvemu::Memory &m) {
            for (int r = 20048; r <= 20051; ++r) m.writeRegister(r, 0);
            return 0;
        });
        s.Frame1_Click();
        QCOMPARE(s.txtAddress[0]->text(), QStringLiteral("0"));
        QCOMPARE(s.Text3->text(), QStringLiteral("127.0.9.1"));
        QCOMPARE(ControllerIP, QStringLiteral("127.0.9.1"));
        s.Frame1_Click();
        SetupOpen = true;
        s.ExitButton->click();
        QCOMPARE(ControllerIPText, QStringLiteral("127.0.9.1"));
        QCOMPARE(main.Caption(), QStringLiteral("ORV Monitor V3.6 - TCP/IP 127.0.9.1"));
        s.Show();
        // The link is made again (as the main window's reconnect would).
        controllerLink().markUp();

        // A controller without address registers.
        peer.controller().setHandler(0x09, [](orvemu::Controller &ctl, const orvemu::Request &r) {
            const uint16_t n = orvemu::u16(r.args.data());
            if (n >= 20048 && n <= 20051) return orvemu::shortReply(orvemu::kIllegalRegister);
            std::vector<uint8_t> data;
            orvemu::put32(data, uint32_t(ctl.memory().readRegister(n).value_or(0)));
            return orvemu::replyFrame(0x0A, data);
        });
        env.responder.expectBox(QStringLiteral("Failed to get IP addresses! They don't exist in the controller"));
        s.Frame1_Click();
        QVERIFY(env.responder.done());
        QCOMPARE(s.txtAddress[0]->text(), QString());
        QCOMPARE(s.txtAddress[4]->text(), QString());
        QCOMPARE(s.lblMacID->text(), QStringLiteral("001A2B00003C"));
        s.Frame1_Click();

        // Not connected: reading reads nothing, Apply writes nothing, and
        // each says why.
        controllerLink().markLost(QString());
        env.responder.expectBox(QStringLiteral("Failed to update register value!\nThe controller's network addresses "
                                               "were not read: no communication with the controller."));
        s.Frame1_Click();
        QCOMPARE(s.txtAddress[0]->text(), QString());
        env.responder.expectBox(QStringLiteral("Can't load network addresses. Not connected to controller.\n"
                                               "No communication with the controller."));
        s.cmdLoadIP->click();
        QVERIFY(env.responder.done());
    }

    void failedAddressWrite() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        loadMain(env);
        if (!peer.connectMonitor(200)) QSKIP("needs the UDP transport");
        frmSetup &s = form<frmSetup>();
        // Register 20064 refuses the write: the octets before it keep their new values.
        peer.controller().setHandler(0x0B, [](orvemu::Controller &ctl, const orvemu::Request &r) {
            const uint16_t n = orvemu::u16(r.args.data());
            if (n == 20064) return orvemu::shortReply(orvemu::kOutOfRange);
            ctl.memory().writeRegister(n, int32_t(orvemu::u32(r.args.data() + 2)));
            return orvemu::shortReply(orvemu::kAck);
        });
        for (int i = 0; i < 13; ++i) s.txtAddress[i]->setText(QString::number(i + 1));
        env.responder.expectBox(QStringLiteral("Failed to update IP Addresses!\nResource value out of range."));
        s.cmdLoadIP->click();
        QVERIFY(env.responder.done());
        QCOMPARE(emulatorRegister(peer, 20051), 4);
        QCOMPARE(emulatorRegister(peer, 20065), 0);
        QCOMPARE(emulatorRegister(peer, 20096), 0);
    }

    void inputToggles() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        frmMain &m = loadMain(env);
        if (!peer.connectMonitor(200)) QSKIP("needs the UDP transport");
        ControllerModel = 5;
        EaType = 1;
        frmSetup &s = form<frmSetup>();
        auto config = [&peer] { return peer.controller().withMemory([](orvemu::Memory &mem) { return int(mem.config); }); };

        InputStatusBits = 0x35;
        s.Command3d1[0]->click();
        QCOMPARE(InputStatusBits, 0x04);
        QCOMPARE(config(), 0x04);
        QCOMPARE(s.Command3d1[0]->Caption(), QStringLiteral("Idle"));

        InputStatusBits = 0x35;
        s.Command3d1[1]->click();
        QCOMPARE(InputStatusBits, 0x37);
        QCOMPARE(config(), 0x37);
        QCOMPARE(s.Command3d1[1]->Caption(), QStringLiteral("Active"));

        // A write the controller refuses leaves the word and the toggle as
        // the controller has them, and the status line says why.
        peer.controller().setFault({orvemu::FaultKind::ShortError, 1, 0, orvemu::kOutOfRange, {}});
        s.Command3d1[2]->click();
        QCOMPARE(InputStatusBits, 0x37);
        QCOMPARE(s.Command3d1[2]->Caption(), QStringLiteral("Active"));
        QCOMPARE(m.Message->text(), QStringLiteral("Failed to update configuration!\nResource value out of range."));

        // Without a link nothing is written: the toggles show that the
        // word is not known, and the status line says why.
        OrvComm::ZqCloseConnection(ConnectionHandle);
        controllerLink().markDropped();
        peer.controller().clearLog();
        s.Command3d1[3]->click();
        QCOMPARE(InputStatusBits, 0x37);
        QCOMPARE(s.Command3d1[3]->Caption(), QStringLiteral("*"));
        QCOMPARE(m.Message->text(), QStringLiteral("Failed to update configuration!\nNo communication with the controller."));
        QVERIFY(peer.controller().requests().empty());
    }
};

QTEST_MAIN(TestFrmSetup)
#include "test_frmsetup.moc"
