// The main window: start-up defaults, the connection manager against the
// emulator, the failure messages, the version rule and shut-down.
#include <QFile>
#include <QtTest/QTest>

#include "core/frmSetup.h"
#include "core/globals.h"
#include "core/settings.h"
#include "harness/harness.h"
#include "main/frmMain.h"
#include "windows/frames.h"

namespace {
void writeSettings(const QString &path, const QString &text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
}
// Every other section of the program, empty.
QString allSections() {
    QString t;
    for (const QString &s : SettingsStore::programSections())
        if (s != QStringLiteral("Communications") && s != QStringLiteral("DDE Setup")) t += QStringLiteral("[") + s + QStringLiteral("]\n");
    return t;
}
void resetLink() {
    ConnectionHandle = 0;
    SetupOpen = false;
    ReconnectPending = false;
    MonitoringSuspended = false;
    SymbolFilePath.clear();
}
}  // namespace

class TestFrmMain : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        // COM1 names no device here, so a serial open fails at once.
        qputenv("ORVCOMM_COM1", "/nonexistent/orvmon-test-line");
    }
    void init() { resetLink(); }

    void startUpWithoutSections() {
        MonitorTestEnv env;
        writeSettings(env.settingsFile(), QStringLiteral("[Registers]\n"));
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
        QCOMPARE(m.Timer1->Interval(), 100);
        QVERIFY(m.Timer3->Enabled());
        QCOMPARE(RegisterLimit, 40000);
        QCOMPARE(BitWeights[31], -2147483648.0f);
        QCOMPARE(Custom1Rows[15].name, QStringLiteral("Not Selected"));
    }

    void startUpWithValuesMissing() {
        MonitorTestEnv env;
        writeSettings(env.settingsFile(),
                      QStringLiteral("[Communications]\ndword \"Timeout\" 0\n[DDE Setup]\ndword \"Update\" 3\n"
                                     "[Main]\ndword \"Q600 Support\" 2\n"));
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
        QVERIFY(m.close());
        QVERIFY(env.responder.done());
        // The stored 2 stays; the geometry is written back.
        SettingsStore store(env.settingsFile());
        int32_t key = 0, q = 0, top = 0;
        QVERIFY(store.openKey(HKEY_CURRENT_USER, SettingsRoot + QStringLiteral("Main"), key));
        QVERIFY(store.queryLong(key, QStringLiteral("Q600 Support"), q));
        QCOMPARE(q, 2);
        QVERIFY(store.queryLong(key, QStringLiteral("Top"), top));
        QCOMPARE(top, 1008);
    }

    void secondFailureShowsCurrentError() {
        MonitorTestEnv env;
        writeSettings(env.settingsFile(), QStringLiteral("[Registers]\n"));
        frmMain &m = form<frmMain>();
        // An empty address opens nothing; the earlier error text is not reused.
        CommPort = 1;
        ControllerIP.clear();
        qstrcpy(ErrorInfo.text, "left over");
        QVERIFY(m.CheckComm());
        QVERIFY(m.Message->text().startsWith(QStringLiteral("( 1 ) Failed to make connection, please configure -  ")));
        QVERIFY(!m.Message->text().contains(QStringLiteral("left over")));
        QCOMPARE(ConnectionHandle, 0);
        // While a reconnect is pending a failure is silent.
        ReconnectPending = true;
        m.Message->setText(QString());
        QVERIFY(m.CheckComm());
        QCOMPARE(m.Message->text(), QString());
    }

    void connectsOverUdp() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        if (!peer.available()) QSKIP("needs the UDP transport");
        writeSettings(env.settingsFile(),
                      QStringLiteral("[Communications]\ndword \"COMM Port\" 1\nsz \"IP Address\" \"%1\"\n"
                                     "dword \"Timeout\" 200\n[DDE Setup]\ndword \"Update\" 40000\n")
                              .arg(peer.address()) +
                          allSections());
        frmMain &m = form<frmMain>();
        if (ConnectionHandle == 0) QSKIP("needs the UDP transport");
        QVERIFY(!NoComm);
        QVERIFY(ControllerIdentified);
        QCOMPARE(ControllerModel, 5);
        QCOMPARE(m.Message->text(), QStringLiteral("Connected to UDP ") + peer.address());
        QCOMPARE(ConnectionTitle, QStringLiteral(" - UDP ") + peer.address());
        QCOMPARE(m.Caption(), QStringLiteral("ORV Monitor V3.6 - UDP ") + peer.address());
        QCOMPARE(form<frmReg>().Caption(), QStringLiteral("Registers - UDP ") + peer.address());
        QCOMPARE(m.Timer1->Interval(), 32000);
        QVERIFY(m.close());
        QCOMPARE(ConnectionHandle, 0);
    }

    void versionRule() {
        QCOMPARE(frmMain::VersionAbove3030(QStringLiteral("/x/liborvcomm.so.3.0.3")), int16_t(0));
        QCOMPARE(frmMain::VersionAbove3030(QStringLiteral("liborvcomm.so.3.0.3.1")), int16_t(1));
        QCOMPARE(frmMain::VersionAbove3030(QStringLiteral("liborvcomm.so.3.0.4")), int16_t(1));
        QCOMPARE(frmMain::VersionAbove3030(QStringLiteral("liborvcomm.so.3.1.0")), int16_t(1));
        QCOMPARE(frmMain::VersionAbove3030(QStringLiteral("liborvcomm.so.2.9.9")), int16_t(0));
        QCOMPARE(frmMain::VersionAbove3030(QStringLiteral("liborvcomm.so")), int16_t(0));
        // The copy this program loads is the project's own build.
        QCOMPARE(FormRegistry::object<frmMain>().SelectCommFunction(), int16_t(1));
    }
};

QTEST_MAIN(TestFrmMain)
#include "test_frmmain.moc"
