// Reading a symbol file into the symbol database, at start-up and from the
// main window's import.
#include <QFile>
#include <QtTest/QTest>

#include "core/codeDBase.h"
#include "core/globals.h"
#include "core/runtime_error.h"
#include "harness/harness.h"
#include "main/frmMain.h"
#include "main/symbolimport.h"

namespace {
QString writeFile(const QString &path, const QByteArray &text) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qPrintable(path));
    f.write(text);
    return path;
}

const QByteArray Plant = "1024 12 0 Tank_Level\n"
                         "128,5,1,PumpRunning\n"
                         "128\t5\t0\tPumpStopped\n"
                         "  8 ,, 3  0 Old_Name extra fields\n"
                         "8 3 0 New_Name\n"
                         "2 &H10 0 A_name_that_is_longer_than_forty_characters_in_all\n"
                         "\n";
}  // namespace

class TestSymbolImport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        SymbolFilePath.clear();
        restartLink();
    }

    void fieldsSplitAtBlanksCommasAndTabs() {
        const QStringList want{QStringLiteral("128"), QStringLiteral("5"), QStringLiteral("1"),
                               QStringLiteral("PumpRunning")};
        QCOMPARE(SymbolFileParser::split(QStringLiteral("128,5,1,PumpRunning")), want);
        QCOMPARE(SymbolFileParser::split(QStringLiteral("128 5 1 PumpRunning\r\n")), want);
        QCOMPARE(SymbolFileParser::split(QStringLiteral("\t128\t5 ,1  PumpRunning ")), want);
        QVERIFY(SymbolFileParser::split(QStringLiteral(" ,\t")).isEmpty());
    }

    void parseBuildsOneRowPerCodeNumberAndValue() {
        MonitorTestEnv env;
        const QString file = writeFile(env.dir() + QStringLiteral("/PLANT.SYM"), Plant);
        QVERIFY(CreateSymbolDatabase());
        ParseSymbolFile(file);
        QVERIFY(!formLoaded<frmSymbol>());
        QCOMPARE(SymbolsRecordset.RecordCount(), 5);
        OpenSymbolSnapshots();
        QVERIFY(SymDigitalInputs.findFirst(5, 1));
        QCOMPARE(SymDigitalInputs.Name(), QStringLiteral("PumpRunning"));
        QVERIFY(SymDigitalInputs.findFirst(5, 0));
        QCOMPARE(SymDigitalInputs.Name(), QStringLiteral("PumpStopped"));
        QVERIFY(SymRegisters2.findFirst(3));
        QCOMPARE(SymRegisters2.Name(), QStringLiteral("New_Name"));  // the later line wins
        QVERIFY(SymAnalogInputs.findFirst(16));
        QCOMPARE(SymAnalogInputs.Name(), QStringLiteral("A_name_that_is_longer_than_forty_charact"));
        QVERIFY(SymRegisters.findFirst(12));
        QVERIFY(CloseSymbolDatabase());
    }

    // A file that cannot be read, or a number that fits no register, leaves
    // nothing of the parse behind.
    void failedParseLeavesNothing() {
        MonitorTestEnv env;
        QVERIFY(CreateSymbolDatabase());
        QVERIFY_THROWS_EXCEPTION(RuntimeError, ParseSymbolFile(env.dir() + QStringLiteral("/MISSING.SYM")));
        const QString file = writeFile(env.dir() + QStringLiteral("/BAD.SYM"), "1024 1 0 Fine\n1024 99999999999 0 Huge\n");
        QVERIFY_THROWS_EXCEPTION(RuntimeError, ParseSymbolFile(file));
        QCOMPARE(SymbolsRecordset.RecordCount(), 0);
        QVERIFY(!formLoaded<frmSymbol>());
        QVERIFY(CloseSymbolDatabase());
    }

    void startUpReadsTheSymbolFile() {
        MonitorTestEnv env;
        env.writeSettings(QString());
        SymbolFilePath = writeFile(env.dir() + QStringLiteral("/PLANT.SYM"), Plant);
        ScriptedModalRunner modal;
        modal.next([](Form &files) { files.Hide(); });  // keep the remembered files
        form<frmMain>();
        QVERIFY(SymRegisters.isOpen());
        QVERIFY(SymRegisters.findFirst(12));
        QCOMPARE(SymRegisters.Name(), QStringLiteral("Tank_Level"));
        QCOMPARE(InputSymbolName(5, 0).name, QStringLiteral("PumpRunning"));  // inputs name the other state
        env.responder.answerEveryBox(mbOK);
        QVERIFY(form<frmMain>().close());
        QVERIFY(!QFile::exists(SymbolDatabasePath()));
    }

    void importFromTheMainWindow() {
        MonitorTestEnv env;
        env.writeSettings(QString());
        frmMain &m = form<frmMain>();
        const QString file = writeFile(env.dir() + QStringLiteral("/PLANT.SYM"), Plant);
        env.responder.expectFile(file);
        m.ImportSymbolFile();
        QCOMPARE(m.Message->text(), QStringLiteral("New Symbol Database created."));
        QCOMPARE(SymbolFilePath, file);
        QCOMPARE(env.responder.files().back().filter, QStringLiteral("Symbol Files(*.SYM)|*.SYM|All Files(*.*)|*.*"));
        QVERIFY(SymRegisters.findFirst(12));

        // Cancel, with another command's file still in the shared dialog:
        // the database, the symbol file and the status line stay.
        const QString other = writeFile(env.dir() + QStringLiteral("/REGS.TXT"), "Reg#          Value\r\n\r\n");
        m.CMDialog1.FileName = other;
        m.Message->setText(QStringLiteral("before"));
        env.responder.expectFile(std::nullopt);
        m.ImportSymbolFile();
        QVERIFY(env.responder.done());
        QCOMPARE(SymbolFilePath, file);
        QCOMPARE(m.Message->text(), QStringLiteral("before"));
        QVERIFY(SymRegisters.findFirst(12));
        QCOMPARE(SymRegisters.Name(), QStringLiteral("Tank_Level"));

        // A file that has gone: the import fails and no symbol file is in use.
        QFile::remove(file);
        env.responder.expectFile(file);
        m.ImportSymbolFile();
        QCOMPARE(m.Message->text(), QStringLiteral("Failed to create symbol database!"));
        QCOMPARE(SymbolFilePath, QString());
        QVERIFY(!SymRegisters.findFirst(12));
        QVERIFY(CloseSymbolDatabase());
    }
};

QTEST_MAIN(TestSymbolImport)
#include "test_symbolimport.moc"
