// Start-up and the shared procedures: Main with and without a symbol file,
// the splash and about windows, checksums, the pause and the addresses.
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QtTest/QTest>
#include <sys/resource.h>

#include "core/codeORVmain.h"
#include "core/eventpump.h"
#include "core/runtime_error.h"
#include "core/frmAbout.h"
#include "core/frmSplash.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/shell.h"
#include "harness/harness.h"
#include "main/frmMain.h"

namespace {
QByteArray bytes(std::initializer_list<int> b) {
    QByteArray out;
    for (int x : b) out.append(static_cast<char>(x));
    return out;
}
}  // namespace

class TestStartup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { SymbolFilePath.clear(); }
    void mainWithoutSymbolFile();
    void mainWithMissingSymbolFile();
    void mainKeepsTheWholeArgumentText();
    void runtimeErrorEndsStartUp();
    void splashTexts();
    void aboutWindow();
    void checksums();
    void pauseLetsTimersRun();
    void addresses();
};

void TestStartup::mainWithoutSymbolFile() {
    MonitorTestEnv env;
    QVERIFY(Main(QString()));
    QVERIFY(env.responder.boxes().isEmpty());
    QCOMPARE(SymbolFilePath, QString());
    QVERIFY(formLoaded<frmMain>());
    QVERIFY(form<frmMain>().isVisible());
    QVERIFY(!formLoaded<frmSplash>());
    QVERIFY(!FormRegistry::existing<frmSplash>()->isVisible());
}

void TestStartup::mainWithMissingSymbolFile() {
    MonitorTestEnv env;
    const QString path = env.dir() + QStringLiteral("/gone/PLANT.SYM");
    env.responder.expectBox(QStringLiteral("Cannot find ") + path);
    QVERIFY(Main(path));
    QVERIFY(env.responder.done());
    QCOMPARE(env.responder.boxes().front().icon, int(mbExclamation));
    QCOMPARE(SymbolFilePath, QString());
    QVERIFY(form<frmMain>().isVisible());  // start-up went on
}

void TestStartup::mainKeepsTheWholeArgumentText() {
    MonitorTestEnv env;
    const QString path = env.dir() + QStringLiteral("/my plant .SYM");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    // The main window offers the remembered files; leave them as they are.
    ScriptedModalRunner modal;
    modal.next([](Form &files) { files.Hide(); });
    QVERIFY(Main(path));
    QVERIFY(env.responder.boxes().isEmpty());
    QCOMPARE(SymbolFilePath, path);
}

void TestStartup::runtimeErrorEndsStartUp() {
    MonitorTestEnv env;
    ScriptedPump pump;
    installEventPump(&pump);
    // A run-time error raised by whatever runs in the first yield.
    pump.at(1, [] { throw RuntimeError(5, QStringLiteral("Invalid procedure call or argument")); });
    env.responder.expectBox(QStringLiteral("Cannot Start ORV Monitor !!!Invalid procedure call or argument"));
    QVERIFY(!Main(QString()));
    QVERIFY(env.responder.done());
    QCOMPARE(env.responder.boxes().front().title, QStringLiteral("ORV Monitor"));
    QCOMPARE(env.responder.boxes().front().buttons, int(mbOKOnly));
    QVERIFY(!formLoaded<frmMain>());
    installEventPump(nullptr);
}

void TestStartup::splashTexts() {
    MonitorTestEnv env;
    frmSplash &s = form<frmSplash>();
    QCOMPARE(s.control<QLabel>(QStringLiteral("lblProductName"))->text(), QStringLiteral("ORV Monitor"));
    QCOMPARE(s.control<QLabel>(QStringLiteral("lblPlatform"))->text(), QStringLiteral("for XP, Windows 7,8,10 and 11"));
    QCOMPARE(s.control<QLabel>(QStringLiteral("lblVersion"))->text(), QStringLiteral("Version 3.6 Build 03/20/2024"));
    QCOMPARE(s.control<QLabel>(QStringLiteral("lblCompany"))->text(), QStringLiteral("Veltrane"));
    QVERIFY(s.windowFlags() & Qt::FramelessWindowHint);
}

void TestStartup::aboutWindow() {
    MonitorTestEnv env;
    RecordingShell shell;
    frmAbout &a = form<frmAbout>();
    QCOMPARE(a.Caption(), QStringLiteral("About ORV Monitor"));
    QCOMPARE(a.control<QLabel>(QStringLiteral("lblVersion"))->text(), QStringLiteral("Version 3.6 Build 03/20/2024"));
    QCOMPARE(a.control<QLabel>(QStringLiteral("lblDescription"))->text(),
             QStringLiteral("Monitoring software for ORV Automation Controllers"));
    QCOMPARE(frmAbout::disclaimerText().count(QStringLiteral("\r\n")), 5);

    qunsetenv("ORVMON_SYSINFO");
    env.responder.expectBox(QStringLiteral("System Information Is Unavailable At This Time"));
    QTest::mouseClick(a.control<QPushButton>(QStringLiteral("cmdSysInfo")), Qt::LeftButton);
    QVERIFY(env.responder.done());
    QVERIFY(shell.requests.isEmpty());

    qputenv("ORVMON_SYSINFO", "/usr/bin/sysinfo-tool");
    QTest::mouseClick(a.control<QPushButton>(QStringLiteral("cmdSysInfo")), Qt::LeftButton);
    QCOMPARE(shell.requests, QStringList{QStringLiteral("start /usr/bin/sysinfo-tool")});
    shell.result = false;  // the tool does not start
    env.responder.expectBox(QStringLiteral("System Information Is Unavailable At This Time"));
    a.StartSysInfo();
    QVERIFY(env.responder.done());
    qunsetenv("ORVMON_SYSINFO");

    shell.result = true;
    CommonDialog help;
    help.HelpFile = QStringLiteral("/opt/orv/orvmon34.pdf");
    help.HelpCommand = 1;
    help.HelpContext = 200;
    QVERIFY(help.ShowHelp());
    QCOMPARE(shell.requests.last(), QStringLiteral("open /opt/orv/orvmon34.pdf"));

    QString value;
    QVERIFY(!a.GetKeyValue(HKEY_LOCAL_MACHINE, SettingsRoot + QStringLiteral("Main"), QStringLiteral("PATH"), value));
    int32_t key = 0;
    QVERIFY(OpenKey(HKEY_CURRENT_USER, SettingsRoot + QStringLiteral("Main"), key));
    QVERIFY(SetLongValue(key, QStringLiteral("Top"), 1008));
    QVERIFY(SetStringValue(key, QStringLiteral("Tool"), QStringLiteral("/bin/true")));
    QVERIFY(CloseKey(key));
    QVERIFY(a.GetKeyValue(HKEY_CURRENT_USER, SettingsRoot + QStringLiteral("Main"), QStringLiteral("Top"), value));
    QCOMPARE(value, QStringLiteral("1008"));
    QVERIFY(a.GetKeyValue(HKEY_CURRENT_USER, SettingsRoot + QStringLiteral("Main"), QStringLiteral("Tool"), value));
    QCOMPARE(value, QStringLiteral("/bin/true"));
    QVERIFY(!a.GetKeyValue(HKEY_CURRENT_USER, SettingsRoot + QStringLiteral("Main"), QStringLiteral("None"), value));
    QCOMPARE(value, QString());
    QTest::mouseClick(a.control<QPushButton>(QStringLiteral("cmdOK")), Qt::LeftButton);
    QVERIFY(!a.loaded());
}

void TestStartup::checksums() {
    QByteArray f = bytes({0x01, 0x04, 0x23});
    QCOMPARE(AppendChecksum(f), bytes({0x01, 0x04, 0x23, 0xDC, 0xFF}));
    QCOMPARE(f, bytes({0x01, 0x04, 0x23, 0xDC, 0xFF}));
    QByteArray a = bytes({0x01, 0x05, 0x69, 0x86, 0x03});
    QCOMPARE(AppendChecksum(a), bytes({0x01, 0x05, 0x69, 0x86, 0x03, 0x0D, 0xFF}));
    QByteArray b = bytes({0x01, 0x04, 0x69, 0x06});
    QCOMPARE(AppendChecksum(b), bytes({0x01, 0x04, 0x69, 0x06, 0x90, 0xFF}));
    QByteArray shortFrame = bytes({0x01});
    QCOMPARE(AppendChecksum(shortFrame), bytes({0x01, 0xFF, 0xFF}));
    // A long frame whose bytes add up past 16 bits.
    QByteArray big(2, '\x01');
    big.append(QByteArray(300, '\xFF'));
    AppendChecksum(big);
    QCOMPARE(static_cast<uint8_t>(big.at(big.size() - 2)), uint8_t(255 - (300 * 255) % 256));
}

void TestStartup::pauseLetsTimersRun() {
    MonitorTestEnv env;
    bool ran = false;
    QTimer::singleShot(10, [&] { ran = true; });
    QElapsedTimer t;
    t.start();
    Pause(0.1f);
    QVERIFY(ran);
    QVERIFY(t.elapsed() >= 100);
    Pause(0);  // returns after one round
}

void TestStartup::addresses() {
    QCOMPARE(IpFromBytes(bytes({192, 168, 0, 1})), QStringLiteral("192.168.0.1"));
    QCOMPARE(IpFromBytes(bytes({10, 0, 0, 5})), QStringLiteral("10.0.0.5"));
    QCOMPARE(IpFromHostName(QStringLiteral("127.0.0.9")), QStringLiteral("127.0.0.9"));
    QCOMPARE(IpFromHostName(QStringLiteral("localhost")), QStringLiteral("127.0.0.1"));
    QCOMPARE(IpFromHostName(QStringLiteral("no-such-host.invalid")), QString());
    QVERIFY(StartWinsock());
    // Without a descriptor to be had the sockets do not start: the look-up
    // says so and gives nothing.
    MonitorTestEnv env;
    env.responder.expectBox(QStringLiteral("Failed to open Socket."));
    rlimit limit{};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &limit), 0);
    rlimit none = limit;
    none.rlim_cur = 0;
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &none), 0);
    const bool started = StartWinsock();
    const QString address = IpFromHostName(QStringLiteral("localhost"));
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &limit), 0);
    QVERIFY(!started);
    QCOMPARE(address, QString());
    QCOMPARE(env.responder.prompts(), QStringList{QStringLiteral("Failed to open Socket.")});
    QVERIFY(!ShellOpen(QStringLiteral("/nonexistent/orvmon34.pdf")));  // nothing to open
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
