// The symbol database: creation and removal, the table's rules, the
// snapshots and the digital input and output names.
#include <QDir>
#include <QFile>
#include <QtTest/QTest>

#include "core/codeDBase.h"
#include "core/globals.h"
#include "core/runtime_error.h"
#include "harness/harness.h"

namespace {
void touch(const QString &path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
}

// A database holding the given rows, with its snapshots open.
void build(const std::vector<SymbolRow> &rows) {
    QVERIFY(CreateSymbolDatabase());
    for (const auto &r : rows) SymbolsRecordset.AddNew(r.code, r.number, r.value, r.name);
    OpenSymbolSnapshots();
}
}  // namespace

class TestSymbols : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { SymbolFilePath.clear(); }
    void cleanup() { CloseSymbolDatabase(); }
    void defaultNamesForEveryState();
    void namesFromTheSnapshots();
    void duplicatesAreRefused();
    void fieldSizesAreEnforced();
    void snapshotsSortedWithFixedTieOrder();
    void creationReplacesALeftoverDatabase();
    void closingRemovesOnlyTheDatabaseFiles();
    void unopenedSnapshotGivesDefaults();
    void creationFailureShowsTwoMessages();
};

void TestSymbols::defaultNamesForEveryState() {
    MonitorTestEnv env;
    auto in1 = InputSymbolName(5, 1);
    QCOMPARE(in1.name, QStringLiteral("in_5A"));
    QCOMPARE(in1.stateText, QStringLiteral("On"));
    QCOMPARE(in1.colour, 32768);
    auto in0 = InputSymbolName(5, 0);
    QCOMPARE(in0.name, QStringLiteral("in_5B"));
    QCOMPARE(in0.stateText, QStringLiteral("Off"));
    QCOMPARE(in0.colour, 255);
    auto in2 = InputSymbolName(5, 2);
    QCOMPARE(in2.name, QString());
    QCOMPARE(in2.stateText, QString());
    QCOMPARE(in2.colour, 0);
    auto out1 = OutputSymbolName(12, 1);
    QCOMPARE(out1.name, QStringLiteral("OUT_12_ON"));
    QCOMPARE(out1.stateText, QStringLiteral("On"));
    QCOMPARE(out1.colour, 32768);
    for (int state : {0, 2, -1}) {
        auto out = OutputSymbolName(12, state);
        QCOMPARE(out.name, QStringLiteral("OUT_12_OFF"));
        QCOMPARE(out.stateText, QStringLiteral("Off"));
        QCOMPARE(out.colour, 255);
    }
}

void TestSymbols::namesFromTheSnapshots() {
    MonitorTestEnv env;
    build({{QStringLiteral("128"), 7, 1, QStringLiteral("DoorOpen")},  // only the Value 1 row
           {QStringLiteral("131072"), 3, 1, QStringLiteral("PumpRunning")},
           {QStringLiteral("131072"), 3, 0, QStringLiteral("PumpStopped")},
           {QStringLiteral("1024"), 3, 0, QStringLiteral("NotAnOutput")}});
    // Names are used only while a symbol file is set.
    QCOMPARE(InputSymbolName(7, 0).name, QStringLiteral("in_7B"));
    SymbolFilePath = QStringLiteral("plant.SYM");
    // The inverted mapping: an input that is off shows the Value 1 name.
    QCOMPARE(InputSymbolName(7, 0).name, QStringLiteral("DoorOpen"));
    QCOMPARE(SymbolNameField, QStringLiteral("DoorOpen"));
    QCOMPARE(SymbolCriteria, QStringLiteral("Number = 7 AND Value = 1"));
    QCOMPARE(InputSymbolName(7, 1).name, QStringLiteral("in_7A"));
    QCOMPARE(OutputSymbolName(3, 1).name, QStringLiteral("PumpRunning"));
    QCOMPARE(OutputSymbolName(3, 0).name, QStringLiteral("PumpStopped"));
    QCOMPARE(OutputSymbolName(4, 1).name, QStringLiteral("OUT_4_ON"));
    // The windows' own searches through criteria.
    QVERIFY(SymRegisters.FindFirst(QStringLiteral("Number = 3")));
    QCOMPARE(SymRegisters.Name(), QStringLiteral("NotAnOutput"));
    QVERIFY(!SymRegisters.FindFirst(QStringLiteral("Number = 4")));
    QVERIFY(SymRegisters.NoMatch());
    QVERIFY(SymDigitalOutputs.FindFirst(QStringLiteral("[Number] = 3 and Value = 0")));
    QCOMPARE(SymDigitalOutputs.Name(), QStringLiteral("PumpStopped"));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, SymFlags.FindFirst(QStringLiteral("Nonsense > 3")));
}

void TestSymbols::duplicatesAreRefused() {
    MonitorTestEnv env;
    QVERIFY(CreateSymbolDatabase());
    SymbolsRecordset.AddNew(QStringLiteral("64"), 1, 0, QStringLiteral("Ready"));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, SymbolsRecordset.AddNew(QStringLiteral("64"), 1, 0, QStringLiteral("Ready")));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, SymbolsRecordset.AddNew(QStringLiteral("64"), 1, 0, QStringLiteral("READY")));
    // Another state or number of the same name is another row.
    SymbolsRecordset.AddNew(QStringLiteral("64"), 1, 1, QStringLiteral("Ready"));
    SymbolsRecordset.AddNew(QStringLiteral("64"), 2, 0, QStringLiteral("Ready"));
    QCOMPARE(SymbolsRecordset.RecordCount(), 3);
    try {
        SymbolsRecordset.AddNew(QStringLiteral("64"), 2, 0, QStringLiteral("ready"));
        QFAIL("accepted");
    } catch (const RuntimeError &e) {
        QVERIFY2(e.description().contains(QStringLiteral("UNIQUE")), qPrintable(e.description()));
    }
}

void TestSymbols::fieldSizesAreEnforced() {
    MonitorTestEnv env;
    QVERIFY(CreateSymbolDatabase());
    SymbolsRecordset.AddNew(QString(20, u'9'), 1, 0, QString(40, u'n'));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, SymbolsRecordset.AddNew(QString(21, u'9'), 1, 0, QStringLiteral("a")));
    QVERIFY_THROWS_EXCEPTION(RuntimeError, SymbolsRecordset.AddNew(QStringLiteral("2"), 1, 0, QString(41, u'n')));
    QCOMPARE(SymbolsRecordset.RecordCount(), 1);
}

void TestSymbols::snapshotsSortedWithFixedTieOrder() {
    MonitorTestEnv env;
    build({{QStringLiteral("8192"), 30, 0, QStringLiteral("c")},
           {QStringLiteral("8192"), 10, 0, QStringLiteral("second")},
           {QStringLiteral("8192"), 10, 0, QStringLiteral("first")},
           {QStringLiteral("8192"), 20, 0, QStringLiteral("b")},
           {QStringLiteral("2"), 1, 0, QStringLiteral("analog")}});
    QCOMPARE(SymSteps.rows().size(), size_t(4));
    QStringList names;
    for (const auto &r : SymSteps.rows()) names << r.name;
    // By number; rows of one number in the order they were stored.
    QCOMPARE(names, (QStringList{QStringLiteral("second"), QStringLiteral("first"), QStringLiteral("b"),
                                 QStringLiteral("c")}));
    QVERIFY(SymSteps.findFirst(10));
    QCOMPARE(SymSteps.Name(), QStringLiteral("second"));
    QCOMPARE(SymAnalogInputs.rows().size(), size_t(1));
    QVERIFY(SymServos.isOpen());
    QVERIFY(SymServos.rows().empty());
    QCOMPARE(SymbolCriteria, QStringLiteral("SELECT * FROM Symbols WHERE [Code] = '131072' ORDER BY Number"));
}

void TestSymbols::creationReplacesALeftoverDatabase() {
    MonitorTestEnv env;
    touch(SymbolDatabasePath());  // a leftover of a crashed run, not even a database
    touch(SymbolDatabasePath() + QStringLiteral("-journal"));
    QVERIFY(CreateSymbolDatabase());
    SymbolsRecordset.AddNew(QStringLiteral("2"), 1, 0, QStringLiteral("a"));
    QCOMPARE(SymbolsRecordset.RecordCount(), 1);
    QVERIFY(env.responder.boxes().isEmpty());
    // A second creation starts empty again.
    QVERIFY(CreateSymbolDatabase());
    QCOMPARE(SymbolsRecordset.RecordCount(), 0);
}

void TestSymbols::closingRemovesOnlyTheDatabaseFiles() {
    MonitorTestEnv env;
    const QString folder = SymbolDataFolder();
    QCOMPARE(folder, env.dir());
    touch(folder + QStringLiteral("/SYMBOL.SYM"));
    touch(folder + QStringLiteral("/SYMBOL.txt"));
    build({{QStringLiteral("2"), 1, 0, QStringLiteral("a")}});
    QVERIFY(QFile::exists(SymbolDatabasePath()));
    QVERIFY(CloseSymbolDatabase());
    QVERIFY(!QFile::exists(SymbolDatabasePath()));
    QVERIFY(QFile::exists(folder + QStringLiteral("/SYMBOL.SYM")));
    QVERIFY(QFile::exists(folder + QStringLiteral("/SYMBOL.txt")));
    QVERIFY(!SymAnalogInputs.isOpen());
    QVERIFY(!SymbolsRecordset.isOpen());
    QVERIFY(CreateSymbolDatabase());  // and the user's files survive creation too
    QVERIFY(QFile::exists(folder + QStringLiteral("/SYMBOL.SYM")));
    QVERIFY(CloseSymbolDatabase());
    QVERIFY(CloseSymbolDatabase());  // nothing left to close
}

void TestSymbols::unopenedSnapshotGivesDefaults() {
    MonitorTestEnv env;
    SymbolFilePath = QStringLiteral("plant.SYM");
    QVERIFY(!SymDigitalInputs.isOpen());
    QCOMPARE(InputSymbolName(9, 1).name, QStringLiteral("in_9A"));
    QCOMPARE(OutputSymbolName(9, 0).name, QStringLiteral("OUT_9_OFF"));
    QVERIFY(!SymRegisters.FindFirst(QStringLiteral("Number = 1")));
    QVERIFY(SymRegisters.NoMatch());
    // Snapshots that cannot be read: one message, and the lookups still work.
    env.responder.expectBox(QStringLiteral("Failed to create Symbol Snapshots!"));
    OpenSymbolSnapshots();  // no database at all
    QVERIFY(env.responder.done());
    QCOMPARE(InputSymbolName(9, 0).name, QStringLiteral("in_9B"));
}

void TestSymbols::creationFailureShowsTwoMessages() {
    MonitorTestEnv env;
    // The data folder cannot be made: a file stands where it should be.
    const QString blocker = env.dir() + QStringLiteral("/blocked");
    touch(blocker);
    qputenv("ORVMON_DATA_DIR", (blocker + QStringLiteral("/sub")).toLocal8Bit());
    env.responder.expectBox(QStringLiteral("Failed to create Symbol Database file!"));
    env.responder.answerEveryBox(mbOK);
    QVERIFY(!CreateSymbolDatabase());
    QCOMPARE(env.responder.boxes().size(), 2);
    QCOMPARE(env.responder.boxes().at(1).icon, int(mbExclamation));
    QVERIFY(env.responder.boxes().at(1).prompt.contains(QStringLiteral("blocked")));
    QVERIFY(!SymbolsRecordset.isOpen());
    QVERIFY_THROWS_EXCEPTION(RuntimeError, SymbolsRecordset.AddNew(QStringLiteral("2"), 1, 0, QStringLiteral("a")));
}

QTEST_MAIN(TestSymbols)
#include "test_symbols.moc"
