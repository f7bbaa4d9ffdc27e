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

    // Carriage returns alone end lines; a last line without its line end
    // is taken when its four fields are there.
    void lineEnds() {
        MonitorTestEnv env;
        const QString file =
            writeFile(env.dir() + QStringLiteral("/CR.SYM"), "1024 12 0 A\r1024 13 0 B\r\r1024 14 0 C\r\n1024 15 0 D");
        QVERIFY(CreateSymbolDatabase());
        ParseSymbolFile(file);
        QCOMPARE(SymbolsRecordset.RecordCount(), 4);
        OpenSymbolSnapshots();
        QVERIFY(SymRegisters.findFirst(14));
        QCOMPARE(SymRegisters.Name(), QStringLiteral("C"));
        QVERIFY(SymRegisters.findFirst(15));
        QCOMPARE(SymRegisters.Name(), QStringLiteral("D"));
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

        // A file that has gone: the import fails, saying why, and the
        // symbols and the symbol file in use stay.
        const QString gone = env.dir() + QStringLiteral("/GONE.SYM");
        env.responder.expectFile(gone);
        m.ImportSymbolFile();
        QCOMPARE(m.Message->text(), QStringLiteral("Failed to create symbol database!\nFile not found: ") + gone);
        QCOMPARE(SymbolFilePath, file);
        QVERIFY(SymRegisters.findFirst(12));
        QVERIFY(CloseSymbolDatabase());
    }

    // A file the import cannot take whole is refused with its line and the
    // reason, and changes nothing: the symbols and the symbol file in use
    // stay as they were.
    void refusedFileChangesNothing() {
        MonitorTestEnv env;
        env.writeSettings(QString());
        frmMain &m = form<frmMain>();
        const QString file = writeFile(env.dir() + QStringLiteral("/PLANT.SYM"), Plant);
        env.responder.expectFile(file);
        m.ImportSymbolFile();
        QCOMPARE(m.Message->text(), QStringLiteral("New Symbol Database created."));
        const struct {
            const char *what;
            QByteArray bytes;
            QString where;
        } cases[] = {
            {"NUL bytes", QByteArray(100000, '\0'),
             QStringLiteral("line 1: a NUL byte: ") + QStringLiteral("\\x00").repeated(9) + QStringLiteral("...")},
            {"a NUL in a name", QByteArray("1024 5 0 Fine\n1024 6 0 Na\0me\n", 29),
             QStringLiteral("line 2: a NUL byte: 1024 6 0 Na\\x00me")},
            {"a cut last line", "1024 5 0 Fine\r\n128 5",
             QStringLiteral("line 2: the last line is cut off (no line end, 2 of the 4 fields): 128 5")},
            {"a number beyond 64 bits", "1024 123456789012345678901234567890 0 Big\n",
             QStringLiteral("line 1: the number 123456789012345678901234567890 does not fit in 32 bits")},
            {"a value beyond 32 bits", "1024 1 0 A\r1024 1 4294967296 Big\r",
             QStringLiteral("line 2: the value 4294967296 does not fit in 32 bits")},
            {"a code beyond its field", "-1.23456789012345E300 1 0 X\n",
             QStringLiteral("line 1: the code -1.23456789012345E300 (-1.23456789012345E+300) is longer than the 20 "
                            "characters of its field")},
            {"a line too long", "1024 1 0 " + QByteArray(70000, 'n') + "\n",
             QStringLiteral("line 1: longer than 65536 characters: 1024 1 0 ") + QString(28, u'n') +
                 QStringLiteral("...")},
        };
        for (const auto &c : cases) {
            const QString bad = writeFile(env.dir() + QStringLiteral("/BAD.SYM"), c.bytes);
            env.responder.expectFile(bad);
            m.ImportSymbolFile();
            QCOMPARE(m.Message->text(), QStringLiteral("Failed to create symbol database!\n") + bad + QStringLiteral(", ") + c.where);
            QCOMPARE(SymbolFilePath, file);
            QVERIFY2(SymRegisters.findFirst(12), c.what);
            QCOMPARE(SymRegisters.Name(), QStringLiteral("Tank_Level"));
            QCOMPARE(SymbolsRecordset.RecordCount(), 5);
        }
        QVERIFY(CloseSymbolDatabase());
    }
};

QTEST_MAIN(TestSymbolImport)
#include "test_symbolimport.moc"
