// The data table file: what a save writes, what a load takes and what it
// refuses, and the file dialogs around both.
#include <QSignalSpy>
#include <functional>
#include <QtTest/QTest>

#include "core/eventpump.h"
#include "core/globals.h"
#include "datatable/frmTable.h"
#include "harness/harness.h"
#include "main/frmMain.h"
#include "tabletests.h"

namespace {
const QString MvFilter = QStringLiteral("MV Data Tables (*.tab)|*.tab");
}  // namespace

class TestTableFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        restartLink();
        DataTablePath.clear();
    }

    void savesAndReadsBack() {
        MonitorTestEnv env;
        frmTable &t = form<frmTable>();
        setTable(t, {{5, 65535, 0}, {12, 7, 300}});
        DataTablePath = env.dir() + QStringLiteral("/a.tab");
        t.Filemenu_Click(4);
        QCOMPARE(readFile(DataTablePath), QByteArray("data_table[2][3] =\r\n{\r\n"
                                                     "       5   65535        0\r\n"
                                                     "      12       7      300\r\n}\r\n"));

        QVERIFY(env.responder.boxes().isEmpty());

        // Values too wide for their field are written whole and apart from
        // their neighbours; no cell holds them, so the reader refuses them.
        setTable(t, {{123456789, -10000000, -5}, {-1000000, -1000000, 70000}});
        t.Toolbar1_ButtonClick(QStringLiteral("Save"));
        QCOMPARE(readFile(DataTablePath).split('\n').mid(2, 2),
                 (QList<QByteArray>{" 123456789 -10000000      -5\r", "-1000000 -1000000   70000\r"}));
        setTable(t, {{0}});
        env.responder.expectBox(DataTablePath + QStringLiteral(" is not a data table file; the table is unchanged.\n"
                                                               "Line 3: row 1, column 1: 123456789 is out of range "
                                                               "(0 to 65535)"));
        QVERIFY(!t.ReadDataTableFile(DataTablePath));
        QCOMPARE(tableRow(1), (QList<int32_t>{0}));
    }

    void loadsAListedTable() {
        MonitorTestEnv env;
        frmTable &t = form<frmTable>();
        TableMonStartRow = 2;
        TableMonEndRow = 2;
        // Line feeds alone, indented rows, runs of blanks, a fraction
        // rounded to even.
        const QString path = env.dir() + QStringLiteral("/listed.tab");
        writeFile(path, "data_table[3][2] =\n{\n         1     2 \n     65535\t 5\n  7000 12.5\n}\n");
        env.responder.expectFile(path);
        QSignalSpy laidOut(t.tgDTableRows, &QAbstractItemModel::modelReset);
        t.Filemenu_Click(2);
        const FileDialogCall &dialog = env.responder.files().front();
        QCOMPARE(dialog.kind, FileDialogKind::Open);
        QCOMPARE(dialog.title, QStringLiteral("Load Data Table"));
        QCOMPARE(dialog.filter, MvFilter);
        QCOMPARE(dialog.defaultExt, QStringLiteral("tab"));
        QCOMPARE(DataTablePath, path);
        QCOMPARE(TableRows, 3);
        QCOMPARE(TableCols, 3);
        QCOMPARE(tableRow(2), (QList<int32_t>{65535, 5}));
        QCOMPARE(tableRow(3), (QList<int32_t>{7000, 12}));
        QCOMPARE((QStringList{t.txtRows->text(), t.txtCols->text()}), (QStringList{QStringLiteral("3"), QStringLiteral("2")}));
        QCOMPARE(t.tgDTableRows->rowCount(), 3);
        QCOMPARE(laidOut.count(), 1);
        QCOMPARE(TableMonStartRow, int16_t(2));

        // A file that is gone reads nothing; the grid is laid out again.
        env.responder.expectFile(env.dir() + QStringLiteral("/gone.tab"));
        t.Toolbar1_ButtonClick(QStringLiteral("Open"));
        QCOMPARE(TableRows, 3);
        QCOMPARE(laidOut.count(), 2);
        // Cancel does nothing at all.
        env.responder.expectFile(std::nullopt);
        t.Filemenu_Click(2);
        QCOMPARE(DataTablePath, env.dir() + QStringLiteral("/gone.tab"));
        QCOMPARE(laidOut.count(), 2);
        QVERIFY(env.responder.boxes().isEmpty());
    }

    void refusesCorruptFiles() {
        MonitorTestEnv env;
        frmTable &t = form<frmTable>();
        setTable(t, {{1, 2}, {3, 4}});
        DataTablePath = QStringLiteral("kept.tab");
        const QString path = env.dir() + QStringLiteral("/bad.tab");
        const QList<QPair<QByteArray, QString>> files{
            {"data_table[2][2] =\r\n{\r\n 1 2\r\n 3 x\r\n}\r\n", QStringLiteral("Line 4: \"x\" is not a number")},
            {"data_table[2][2] =\r\n{\r\n 1 2 9\r\n 3 4\r\n}\r\n", QStringLiteral("Line 3: 2 values expected, 3 found")},
            {"data_table[2][2] =\r\n{\r\n 1 2\r\n 3\r\n}\r\n", QStringLiteral("Line 4: 2 values expected, 1 found")},
            {"data_table[2][2] =\r\n{\r\n 1 2\r\n 3 4\r\n 5 6\r\n}\r\n",
             QStringLiteral("Line 5: \"}\" expected after row 2")},
            {"data_table[2][2] =\r\n 1 2\r\n 3 4\r\n}\r\n", QStringLiteral("Line 2: \"{\" expected")},
            // What no cell holds, the grid editor's range, with its place.
            {"data_table[1][2] =\r\n{\r\n 1 9999999999\r\n}\r\n",
             QStringLiteral("Line 3: row 1, column 2: 9999999999 is out of range (0 to 65535)")},
            {"data_table[2][2] =\r\n{\r\n 1 2\r\n 70000 4\r\n}\r\n",
             QStringLiteral("Line 4: row 2, column 1: 70000 is out of range (0 to 65535)")},
            {"data_table[2][2] =\r\n{\r\n 1 -40000\r\n 3 4\r\n}\r\n",
             QStringLiteral("Line 3: row 1, column 2: -40000 is out of range (0 to 65535)")},
            {"data_table[2][2] =\r\n{\r\n 1 2\r\n 3 2147483647\r\n}\r\n",
             QStringLiteral("Line 4: row 2, column 2: 2147483647 is out of range (0 to 65535)")},
            {"data_table[2][2] =\r\n{\r\n -5 2\r\n 3 65535.5\r\n}\r\n",
             QStringLiteral("Line 3: row 1, column 1: -5 is out of range (0 to 65535)")},
            {"data_table[2][2] =\r\n{\r\n 1 2\r\n 3 65535.5\r\n}\r\n",
             QStringLiteral("Line 4: row 2, column 2: 65535.5 is out of range (0 to 65535)")},
            {"data_table[1][2] =\r\n{\r\n 1 2\r\n}\r\n 7\r\n", QStringLiteral("Line 5: text after \"}\"")},
            // Blank lines after the table are counted, though not looked at each.
            {"data_table[1][2] =\r\n{\r\n 1 2\r\n}\r\n" + QByteArray(" \t\r\n\n").repeated(60000) + "7",
             QStringLiteral("Line 120005: text after \"}\"")},
            {"data_table[40000][2] =\r\n{\r\n", QStringLiteral("Line 1: the header does not give the table's rows and columns")},
            {"data_table[2] =\r\n{\r\n", QStringLiteral("Line 1: the header does not give the table's rows and columns")},
            {"data_table[2][2] =\r\n{\r\n 1 2\r\n", QStringLiteral("the file ends before the table does")},
            // Only the start of a longer line is kept: it is not read.
            {"data_table[1][2] =\r\n{\r\n 1" + QByteArray(70000, ' ') + "2\r\n}\r\n",
             QStringLiteral("Line 3: the line is longer than 65536 characters")},
            {"data_table[1][2] =\r\n{\r\n 1 2\r\n}" + QByteArray(70000, ' ') + "\r\n",
             QStringLiteral("Line 4: the line is longer than 65536 characters")},
        };
        env.responder.answerEveryBox(mbOK);
        for (const auto &[bytes, why] : files) {
            writeFile(path, bytes);
            env.responder.expectFile(path);
            t.Filemenu_Click(2);
            QCOMPARE(env.responder.prompts().last(),
                     path + QStringLiteral(" is not a data table file; the table is unchanged.\n") + why);
            QCOMPARE(env.responder.boxes().last().icon, int(mbExclamation));
            QCOMPARE(TableRows, 2);
            QCOMPARE(TableCols, 3);
            QCOMPARE(tableRow(2), (QList<int32_t>{3, 4}));
            QCOMPARE(DataTablePath, QStringLiteral("kept.tab"));
        }

        // A row line of ten million fields is refused on their count, and
        // no more of them are kept than the table has columns.
        writeFile(path, "data_table[2][2] =\r\n{\r\n" + QByteArray("1 ").repeated(10'000'000) + "\r\n");
        env.responder.expectFile(path);
        t.Filemenu_Click(2);
        QCOMPARE(env.responder.prompts().last(), path + QStringLiteral(" is not a data table file; the table is "
                                                                       "unchanged.\nLine 3: 2 values expected, "
                                                                       "10000000 found"));
        QCOMPARE(t.awkDTable.NumFields(), 10'000'000);
        QCOMPARE(t.awkDTable.KeptFields(), 2);
    }

    // A file is read a line per turn of the window, the blank lines after
    // the table a piece of the file per turn; closing the editor or another
    // table meanwhile ends the reading and the file is not loaded (a box
    // says so); another Open waits for the file being read, and a Save
    // writes the table shown to the file it came from.
    void aFileIsReadBetweenTheWindowsTurns() {
        struct Case {
            const char *what;
            std::function<void(frmTable &)> act;
            QString box;        // with the path in front; none when loaded
            QList<int32_t> row1;  // the table's afterwards
            int turn = 3;       // of the action: the third comes after row 1
        };
        const QList<Case> cases{
            {"nothing", [](frmTable &) {}, QString(), {7, 8}},
            {"closing the editor", [](frmTable &t) { t.Unload(); },
             QStringLiteral(" was not loaded: the editor was closed."), {1, 2}},
            {"a new size", [](frmTable &t) { t.SetTableSize(2, 1); },
             QStringLiteral(" was not loaded: the table was changed while the file was read."), {1}},
            {"another Open", [](frmTable &t) { t.Filemenu_Click(2); }, QString(), {7, 8}},
            {"a Save", [](frmTable &t) { t.Filemenu_Click(4); }, QString(), {7, 8}},
            {"closing the editor among the blank lines", [](frmTable &t) { t.Unload(); },
             QStringLiteral(" was not loaded: the editor was closed."), {1, 2}, 9},
        };
        // Blank lines after the table, over a few pieces of the file.
        constexpr int BlankLines = 200000;
        const QByteArray file =
            "data_table[3][2] =\r\n{\r\n 7 8\r\n 9 10\r\n 11 12\r\n}\r\n" + QByteArray("\r\n").repeated(BlankLines);
        const qsizetype pieces = (file.size() + LineScanner::PieceBytes - 1) / LineScanner::PieceBytes;
        for (const Case &c : cases) {
            MonitorTestEnv env;
            ScriptedPump pump;
            installEventPump(&pump);
            form<frmMain>();  // which reads the remembered files as it loads
            frmTable &t = form<frmTable>();
            setTable(t, {{1, 2}, {3, 4}});
            const QString kept = env.dir() + QStringLiteral("/kept.tab");
            DataTablePath = kept;
            const QString path = env.dir() + QStringLiteral("/new.tab");
            writeFile(path, file);
            env.responder.expectFile(path);
            env.responder.answerEveryBox(mbOK);
            QStringList rowsAtTurn;
            pump.every([&](long) { rowsAtTurn << QString::number(TableRows); });
            pump.at(pump.yields() + c.turn, [&] { c.act(t); });
            t.Filemenu_Click(2);
            QVERIFY2(env.responder.files().size() == 1, c.what);
            if (c.box.isEmpty()) {
                // A turn after each of the six lines and one for each piece
                // of the blank lines, the table as it was until the file
                // was read whole.
                QCOMPARE(rowsAtTurn, QStringList(6 + pieces, QStringLiteral("2")));
                QVERIFY2(env.responder.boxes().isEmpty(), c.what);
                QCOMPARE(TableRows, 3);
                QCOMPARE(DataTablePath, path);
            } else {
                QVERIFY2(env.responder.prompts() == QStringList{path + c.box}, c.what);
                QCOMPARE(DataTablePath, kept);
            }
            QVERIFY2(tableRow(1) == c.row1, c.what);
            QVERIFY2(readFile(path) == file, c.what);
            if (QLatin1String(c.what) == QLatin1String("a Save"))
                QCOMPARE(readFile(kept), QByteArray("data_table[2][2] =\r\n{\r\n       1       2\r\n"
                                                    "       3       4\r\n}\r\n"));
            if (QLatin1String(c.what) == QLatin1String("another Open"))
                QCOMPARE(form<frmMain>().Message->text(),
                         QStringLiteral("The data table file %1 is still being read.").arg(path));
        }
    }

    // Blank lines passed over reach the event once a piece of the file, as
    // the last of them so far, with their numbers counted; a line that a
    // piece ends inside comes whole.
    void blankLinesPassedOver() {
        MonitorTestEnv env;
        const QString path = env.dir() + QStringLiteral("/blank.tab");
        constexpr qint64 Piece = LineScanner::PieceBytes;
        // Line feeds up to 3 bytes before the first piece ends, a line
        // across the end, a piece's worth of blank lines of blanks, tabs
        // and carriage returns, and a last line without an end.
        const qint64 feeds = Piece - 3;
        writeFile(path, QByteArray("\n").repeated(feeds) + "  x y\n" + QByteArray(" \t\r\n").repeated(Piece / 4) + "z");
        LineScanner s;
        s.FileName = path;
        s.PassBlankLines = true;
        QStringList events;
        QVERIFY(s.Scan([&] {
            events << QStringLiteral("%1:%2:%3").arg(s.LineNumber()).arg(s.Line()).arg(s.NumFields());
            return true;
        }));
        // The last blank line that ends in the second piece.
        const qint64 lastInSecond = feeds + 1 + (Piece - 7) / 4;
        QCOMPARE(events, (QStringList{QStringLiteral("%1::0").arg(feeds - 1), QStringLiteral("%1:  x y:2").arg(feeds),
                                      QStringLiteral("%1: \t:0").arg(lastInSecond),
                                      QStringLiteral("%1: \t:0").arg(feeds + Piece / 4),
                                      QStringLiteral("%1:z:1").arg(feeds + 1 + Piece / 4)}));
    }

    void saveDialogsAndFailures() {
        MonitorTestEnv env;
        frmTable &t = form<frmTable>();
        setTable(t, {{1}});
        const QString path = env.dir() + QStringLiteral("/b.tab");

        // No remembered file: File Save asks; Cancel or an empty name writes nothing.
        env.responder.expectFile(std::nullopt);
        t.Filemenu_Click(4);
        env.responder.expectFile(QString());
        t.Filemenu_Click(4);
        QCOMPARE(env.responder.files().front().kind, FileDialogKind::Save);
        QCOMPARE(env.responder.files().front().title, QStringLiteral("Save Data Table"));
        QCOMPARE(env.responder.files().front().filter, MvFilter);
        QVERIFY(DataTablePath.isEmpty());

        // A file chosen in a dialog is overwritten only when the user agrees.
        writeFile(path, "old");
        const QString question = path + QStringLiteral(" already exists. Do you want to overwrite ?");
        env.responder.expectFile(path);
        env.responder.expectBox(question, mbCancel);
        t.Filemenu_Click(4);
        QCOMPARE(readFile(path), QByteArray("old"));
        QVERIFY(DataTablePath.isEmpty());
        env.responder.expectFile(path);
        env.responder.expectBox(question, mbOK);
        t.Filemenu_Click(5);  // Save As
        QCOMPARE(env.responder.files().last().filter, QStringLiteral("Data Tables (*.tab)|*.tab"));
        QCOMPARE(DataTablePath, path);
        QCOMPARE(readFile(path), QByteArray("data_table[1][1] =\r\n{\r\n       1\r\n}\r\n"));
        QVERIFY(env.responder.done());

        // The remembered file is saved to without a question; Save As
        // cancelled keeps it.
        TableValues(1, 1) = 2;
        env.responder.expectFile(std::nullopt);
        t.Filemenu_Click(5);
        t.Filemenu_Click(4);
        QCOMPARE(readFile(path).split('\n').at(2), QByteArray("       2\r"));

        // A file that cannot be written is reported, not taken as saved.
        const QString unwritable = env.dir() + QStringLiteral("/no such folder/c.tab");
        env.responder.expectFile(unwritable);
        env.responder.answerEveryBox(mbOK);
        t.Filemenu_Click(5);
        QVERIFY(env.responder.prompts().last().startsWith(
            QStringLiteral("Failed to save the data table to ") + unwritable + QStringLiteral(".\n")));
        QVERIFY(!QFile::exists(unwritable));
        QVERIFY(env.responder.done());
    }
};

QTEST_MAIN(TestTableFile)
#include "test_tablefile.moc"
