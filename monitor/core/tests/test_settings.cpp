// The settings store: typed values, sections opened and never created, the
// calling pattern's messages, and files shared by two stores.
#include <QFile>
#include <QtTest/QTest>

#include "core/settings.h"
#include "harness/harness.h"
#include "main/frmMain.h"

namespace {
QString key(const QString &section) { return SettingsRoot + section; }

QByteArray readFile(const QString &path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}
}  // namespace

class TestSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstStartCreatesEverySectionEmpty();
    void typesAreKeptApart();
    void namesIgnoreCase();
    void textReadsUpToNul();
    void missingSectionTakesKeyMissingPath();
    void emptySectionsSurviveRewrite();
    void secondStoreSeesWrites();
    void badLinesAreSkippedNamedOnceAndKept();
    void startAndExitWithABadLine();
    void closeOfUnknownHandleFails();
};

void TestSettings::firstStartCreatesEverySectionEmpty() {
    MonitorTestEnv env;
    QVERIFY(!QFile::exists(env.settingsFile()));
    int32_t h = 0;
    QVERIFY(OpenKey(HKEY_CURRENT_USER, key(QStringLiteral("Communications")), h));
    int32_t baud = 1234;
    QVERIFY(!QueryLongValue(h, QStringLiteral("BAUD Rate"), baud));  // the value-missing path
    QCOMPARE(baud, 1234);
    QVERIFY(CloseKey(h));
    QVERIFY(QFile::exists(env.settingsFile()));
    for (const QString &s : SettingsStore::programSections()) {
        QVERIFY2(OpenKey(HKEY_CURRENT_USER, key(s), h), qPrintable(s));
        QVERIFY(CloseKey(h));
    }
    // Only the program's own sections under its own root.
    QVERIFY(!OpenKey(HKEY_CURRENT_USER, key(QStringLiteral("Nonsense")), h));
    QVERIFY(!OpenKey(HKEY_LOCAL_MACHINE, key(QStringLiteral("Main")), h));
    QVERIFY(!OpenKey(HKEY_CURRENT_USER, QStringLiteral("Software\\Other\\Main"), h));
}

void TestSettings::typesAreKeptApart() {
    MonitorTestEnv env;
    int32_t h = 0;
    QVERIFY(OpenKey(HKEY_CURRENT_USER, key(QStringLiteral("Main")), h));
    QVERIFY(SetLongValue(h, QStringLiteral("Top"), -1008));
    QVERIFY(SetStringValue(h, QStringLiteral("Name"), QStringLiteral("12")));
    int32_t n = 7;
    QVERIFY(!QueryLongValue(h, QStringLiteral("Name"), n));
    QCOMPARE(n, 7);
    QString t = QStringLiteral("keep");
    QVERIFY(!QueryStringValue(h, QStringLiteral("Top"), t));
    QCOMPARE(t, QStringLiteral("keep"));
    QVERIFY(QueryLongValue(h, QStringLiteral("Top"), n));
    QCOMPARE(n, -1008);
    // A write of the other type replaces the value and its type.
    QVERIFY(SetStringValue(h, QStringLiteral("Top"), QString()));
    QVERIFY(!QueryLongValue(h, QStringLiteral("Top"), n));
    QVERIFY(QueryStringValue(h, QStringLiteral("Top"), t));
    QCOMPARE(t, QString());
    QVERIFY(!SetStringValue(0, QStringLiteral("Top"), QStringLiteral("x")));
    QVERIFY(CloseKey(h));
}

void TestSettings::namesIgnoreCase() {
    MonitorTestEnv env;
    int32_t h = 0;
    QVERIFY(OpenKey(HKEY_CURRENT_USER, QStringLiteral("software\\veltrane\\orv monitor\\dde setup"), h));
    QVERIFY(SetLongValue(h, QStringLiteral("Update"), 25));
    QVERIFY(SetLongValue(h, QStringLiteral("UPDATE"), 30));
    int32_t v = 0;
    QVERIFY(QueryLongValue(h, QStringLiteral("update"), v));
    QCOMPARE(v, 30);
    QVERIFY(CloseKey(h));
    // One value, under its first spelling.
    QCOMPARE(readFile(env.settingsFile()).count("pdate"), 1);
    QVERIFY(readFile(env.settingsFile()).contains("dword \"Update\" 30"));
}

void TestSettings::textReadsUpToNul() {
    MonitorTestEnv env;
    int32_t h = 0;
    QVERIFY(OpenKey(HKEY_CURRENT_USER, key(QStringLiteral("Files")), h));
    const QString odd = QStringLiteral("abc") + QChar(0) + QStringLiteral("def");
    QVERIFY(SetStringValue(h, QStringLiteral("Data Table"), odd));
    const QString tricky = QStringLiteral("C:\\a \"b\"\n\ttab \x01 \u00e9");
    QVERIFY(SetStringValue(h, QStringLiteral("Symbol Table"), tricky));
    QString t;
    QVERIFY(QueryStringValue(h, QStringLiteral("Data Table"), t));
    QCOMPARE(t, QStringLiteral("abc"));
    QVERIFY(QueryStringValue(h, QStringLiteral("Symbol Table"), t));
    QCOMPARE(t, tricky);
    QVERIFY(CloseKey(h));
}

void TestSettings::missingSectionTakesKeyMissingPath() {
    MonitorTestEnv env;
    writeFile(env.settingsFile(), "[Main]\ndword \"Top\" 5\n");
    bool ran = false;
    QVERIFY(!readSettingsSection(QStringLiteral("Registers"), QStringLiteral("Registers"),
                                 [&](int32_t) { ran = true; }));
    QVERIFY(!ran);
    QVERIFY(env.responder.boxes().isEmpty());  // silently

    env.responder.expectBox(QStringLiteral("Cannot WRITE Registers settings to Registry !"));
    QVERIFY(!writeSettingsSection(QStringLiteral("Registers"), QStringLiteral("Registers"),
                                  QStringLiteral("Registers"), [&](int32_t) { ran = true; }));
    QVERIFY(!ran);
    QVERIFY(env.responder.done());
    QCOMPARE(env.responder.boxes().front().buttons, int(mbOKOnly));
    QCOMPARE(readFile(env.settingsFile()), QByteArray("[Main]\ndword \"Top\" 5\n"));

    // The section that exists reads and writes without a message.
    int32_t top = 0;
    QVERIFY(readSettingsSection(QStringLiteral("Main"), QStringLiteral("Main"), [&](int32_t k) {
        QVERIFY(QueryLongValue(k, QStringLiteral("Top"), top));
    }));
    QCOMPARE(top, 5);
    QVERIFY(writeSettingsSection(QStringLiteral("Main"), QStringLiteral("Main"), QStringLiteral("Main"),
                                 [&](int32_t k) { SetLongValue(k, QStringLiteral("Top"), 6); }));
    QCOMPARE(env.responder.boxes().size(), 1);
}

void TestSettings::emptySectionsSurviveRewrite() {
    MonitorTestEnv env;
    int32_t h = 0;
    QVERIFY(OpenKey(HKEY_CURRENT_USER, key(QStringLiteral("Flags")), h));
    QVERIFY(SetLongValue(h, QStringLiteral("Top"), 1));
    QVERIFY(CloseKey(h));
    SettingsStore other(env.settingsFile());
    const auto sections = other.read();
    QVERIFY(sections);
    QCOMPARE(sections->size(), SettingsStore::programSections().size());
    int withValues = 0;
    for (const auto &s : *sections) withValues += s.values.isEmpty() ? 0 : 1;
    QCOMPARE(withValues, 1);
}

void TestSettings::secondStoreSeesWrites() {
    MonitorTestEnv env;
    SettingsStore a(env.settingsFile());
    SettingsStore b(env.settingsFile());
    int32_t ha = 0, hb = 0;
    QVERIFY(a.openKey(HKEY_CURRENT_USER, key(QStringLiteral("Status")), ha));
    QVERIFY(b.openKey(HKEY_CURRENT_USER, key(QStringLiteral("Status")), hb));
    QVERIFY(a.setLong(ha, QStringLiteral("Left"), 42));
    int32_t v = 0;
    QVERIFY(b.queryLong(hb, QStringLiteral("Left"), v));
    QCOMPARE(v, 42);
    QVERIFY(b.setString(hb, QStringLiteral("Note"), QStringLiteral("from b")));
    QVERIFY(a.setLong(ha, QStringLiteral("Top"), 1));  // a's write keeps b's value
    QString t;
    QVERIFY(a.queryString(ha, QStringLiteral("Note"), t));
    QCOMPARE(t, QStringLiteral("from b"));
}

void TestSettings::badLinesAreSkippedNamedOnceAndKept() {
    MonitorTestEnv env;
    const QByteArray text = "# my own note\n"
                            "[Communications]\n"
                            "dword \"Timeout\" 3x00\n"
                            "dword \"BAUD Rate\" 9600\n"
                            "sz \"IP Address\" \"unclosed\n"
                            "binary \"Blob\" 0a0b\n"
                            "[Main\n"
                            "dword \"Top\" 99\n"
                            "[Files]\n"
                            "sz \"Symbol Table\" \"caf\xe9.SYM\"\n"
                            "sz \"Data Table\" \"plant.tab\"\n";
    writeFile(env.settingsFile(), text);
    env.responder.answerEveryBox(mbOK);
    // Every good line keeps its value; the bad ones read as missing.
    int32_t baud = 0, timeout = 7;
    QString path;
    QVERIFY(readSettingsSection(QStringLiteral("Communications"), QStringLiteral("Communications"), [&](int32_t k) {
        QVERIFY(QueryLongValue(k, QStringLiteral("BAUD Rate"), baud));
        QVERIFY(!QueryLongValue(k, QStringLiteral("Timeout"), timeout));
        QVERIFY(!QueryStringValue(k, QStringLiteral("IP Address"), path));
    }));
    QCOMPARE(baud, 9600);
    QCOMPARE(timeout, 7);
    // Named once, in one box, at the first read.
    QCOMPARE(env.responder.boxes().size(), 1);
    const QString box = env.responder.boxes().front().prompt;
    for (const char *named : {"line 3 (bad number): dword \"Timeout\" 3x00", "line 5 (bad text)", "line 7 (bad section",
                              "line 10 (not UTF-8 text)"})
        QVERIFY2(box.contains(QLatin1String(named)), qPrintable(box));
    QVERIFY(!box.contains(QStringLiteral("Blob")));
    QVERIFY(readSettingsSection(QStringLiteral("Files"), QStringLiteral("Files"), [&](int32_t k) {
        QVERIFY(QueryStringValue(k, QStringLiteral("Data Table"), path));
    }));
    QCOMPARE(path, QStringLiteral("plant.tab"));
    QCOMPARE(env.responder.boxes().size(), 1);
    // The section under the broken line is no section.
    QVERIFY(!readSettingsSection(QStringLiteral("Main"), QStringLiteral("Main"), {}));

    // Writing the sections that exist asks nothing, and keeps every line
    // the user wrote.
    QVERIFY(writeSettingsSection(QStringLiteral("Communications"), QStringLiteral("Communications"),
                                 QStringLiteral("Communications"),
                                 [](int32_t k) { SetLongValue(k, QStringLiteral("Timeout"), 300); }));
    QCOMPARE(env.responder.boxes().size(), 1);
    const QByteArray after = readFile(env.settingsFile());
    for (const QByteArray &kept : text.split('\n'))
        QVERIFY2(after.contains(kept), kept.constData());
    int32_t h = 0;
    QVERIFY(OpenKey(HKEY_CURRENT_USER, key(QStringLiteral("Communications")), h));
    QVERIFY(QueryLongValue(h, QStringLiteral("Timeout"), timeout));
    QCOMPARE(timeout, 300);
    QVERIFY(CloseKey(h));
}

// The program's start and exit with a bad line: one box, at start; the
// geometry and the remembered files of the good lines are used.
void TestSettings::startAndExitWithABadLine() {
    qputenv("ORVCOMM_COM1", "/nonexistent/orvmon-test-line");  // the connection fails at once
    MonitorTestEnv env;
    env.responder.answerEveryBox(mbOK);
    frmMain &m = quietMain(env, QStringLiteral("[Communications]\ndword \"Timeout\" 3x00\n"
                                               "[Main]\ndword \"Top\" 1500\ndword \"Left\" 1650\n"));
    QCOMPARE(env.responder.boxes().size(), 1);
    QVERIFY(env.responder.boxes().front().prompt.contains(QStringLiteral("dword \"Timeout\" 3x00")));
    QCOMPARE(m.Top(), 1500);
    QCOMPARE(m.Left(), 1650);
    QVERIFY(m.close());
    for (const MsgBoxCall &b : env.responder.boxes())
        QVERIFY2(!b.prompt.startsWith(QStringLiteral("Cannot WRITE")), qPrintable(b.prompt));
    QVERIFY(readFile(env.settingsFile()).contains("dword \"Timeout\" 3x00"));
}

void TestSettings::closeOfUnknownHandleFails() {
    MonitorTestEnv env;
    int32_t h = 0;
    QVERIFY(OpenKey(HKEY_CURRENT_USER, key(QStringLiteral("Main")), h));
    QVERIFY(CloseKey(h));
    QVERIFY(!CloseKey(h));
    int32_t v = 0;
    QVERIFY(!QueryLongValue(h, QStringLiteral("Top"), v));
    QVERIFY(!SetLongValue(h, QStringLiteral("Top"), 1));
}

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
