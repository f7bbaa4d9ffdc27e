// The data table editor: its controls and menus, what a load starts from,
// its geometry settings, and the grid's rows read from the table.
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QToolBar>
#include <QtTest/QTest>

#include "core/globals.h"
#include "datatable/frmTable.h"
#include "harness/harness.h"
#include "main/frmMain.h"

namespace {
void writeSettings(const QString &path, const QByteArray &text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}
QByteArray readSettings(const QString &path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
QString menuText(frmTable &t, const QString &name) {
    auto *a = t.control<QAction>(name);
    return a ? (a->isSeparator() ? QStringLiteral("-") : a->text()) : QStringLiteral("<missing %1>").arg(name);
}
QVariant cell(frmTable &t, int row, int column) {
    return t.tgDTableRows->data(t.tgDTableRows->index(row, column));
}
QString header(frmTable &t, int column) { return t.tgDTableRows->headerData(column, Qt::Horizontal).toString(); }
}  // namespace

class TestFrmTable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        // COM1 names no device here, so the main window's connect fails at once.
        qputenv("ORVCOMM_COM1", "/nonexistent/orvmon-test-line");
    }
    void init() {
        ConnectionHandle = 0;
        DataTablePath.clear();
        SymbolFilePath.clear();
        CustomScreen1Path.clear();
        CustomScreen2Path.clear();
    }

    void controlsMenusAndToolbar();
    void loadStartsWithoutTable();
    void geometryWithSectionMissing();
    void geometryWithValuesMissing();
    void minimizedOrMaximizedStoresDefaults();
    void gridReadsRowsFromTable();
    void gridOfSmallTables();
    void timer2RereadsTwiceAfterLoad();
};

void TestFrmTable::controlsMenusAndToolbar() {
    MonitorTestEnv env;
    frmTable &t = form<frmTable>();
    QCOMPARE(t.control<QLabel>(QStringLiteral("labRows"))->text(), QStringLiteral("Rows:"));
    QCOMPARE(t.control<QLabel>(QStringLiteral("labCols"))->text(), QStringLiteral("Cols:"));
    QVERIFY(t.control<QLineEdit>(QStringLiteral("txtRows")));
    QVERIFY(t.control<QLineEdit>(QStringLiteral("txtCols")));
    QCOMPARE(t.control<QPushButton>(QStringLiteral("Command1"))->text(), QStringLiteral("Refresh"));
    QVERIFY(t.control<QTableView>(QStringLiteral("tgDTable")));
    QCOMPARE(t.tgDTable->font().family(), QStringLiteral("Arial"));
    QVERIFY(t.control(QStringLiteral("VideoSoftElastic1")));
    QVERIFY(t.control<FormTimer>(QStringLiteral("Timer1")));
    QVERIFY(t.control<FormTimer>(QStringLiteral("Timer2")));

    const QStringList file{QStringLiteral("&New"),    QStringLiteral("&Open"),     QStringLiteral("-"),
                           QStringLiteral("&Save"),   QStringLiteral("Save &As..."), QStringLiteral("-"),
                           QStringLiteral("&Upload"), QStringLiteral("&Download"), QStringLiteral("-"),
                           QStringLiteral("E&xit")};
    for (int i = 1; i <= 10; ++i) QCOMPARE(menuText(t, QStringLiteral("Filemenu(%1)").arg(i)), file[i - 1]);
    const QStringList options{QStringLiteral("&Font..."), QStringLiteral("-"), QStringLiteral("&Begin Monitoring ..."),
                              QStringLiteral("&End Monitoring ..."), QStringLiteral("&Monitor Setup")};
    for (int i = 1; i <= 5; ++i) QCOMPARE(menuText(t, QStringLiteral("Optionmenu(%1)").arg(i)), options[i - 1]);
    QCOMPARE(menuText(t, QStringLiteral("HelpMenu(1)")), QStringLiteral("&Contents"));
    QCOMPARE(menuText(t, QStringLiteral("HelpMenu(2)")), QStringLiteral("&Help on Help ..."));
    QCOMPARE(menuText(t, QStringLiteral("mnuEditCut")), QStringLiteral("C&ut"));
    QCOMPARE(menuText(t, QStringLiteral("mnuEditCopy")), QStringLiteral("&Copy"));
    QCOMPARE(menuText(t, QStringLiteral("mnuEditPaste")), QStringLiteral("&Paste"));
    QCOMPARE(t.mnuEditCut->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));
    QCOMPARE(t.mnuEditCopy->shortcut(), QKeySequence(QStringLiteral("Ctrl+C")));
    QCOMPARE(t.mnuEditPaste->shortcut(), QKeySequence(QStringLiteral("Ctrl+V")));
    QCOMPARE(t.control<QMenu>(QStringLiteral("mnuFile"))->title(), QStringLiteral("&File"));
    QCOMPARE(t.control<QMenu>(QStringLiteral("mnuEdit"))->title(), QStringLiteral("&Edit"));
    QCOMPARE(t.control<QMenu>(QStringLiteral("mnuOptions"))->title(), QStringLiteral("&Options"));
    QCOMPARE(t.control<QMenu>(QStringLiteral("mnuHelp"))->title(), QStringLiteral("&Help"));

    const QList<QAction *> tools = t.control<QToolBar>(QStringLiteral("Toolbar1"))->actions();
    QStringList keys, tips;
    for (QAction *a : tools) {
        keys << a->property("Key").toString();
        tips << a->toolTip();
    }
    QCOMPARE(keys, (QStringList{QStringLiteral("Open"), QStringLiteral("Save"), QStringLiteral("Cut"),
                                QStringLiteral("Copy"), QStringLiteral("Paste")}));
    QCOMPARE(tips, (QStringList{QStringLiteral("Open datatable file"), QStringLiteral("Save datatable to file"),
                                QStringLiteral("Cut data from datatable"), QStringLiteral("Copy data in datatable"),
                                QStringLiteral("Paste data into datatable")}));

    // File Exit unloads the window, which writes its settings.
    form<frmMain>();
    t.Filemenu[10]->trigger();
    QVERIFY(!formLoaded<frmTable>());
    QCOMPARE(form<frmMain>().Message->text(), QStringLiteral("Data Table Form unloaded."));
}

void TestFrmTable::loadStartsWithoutTable() {
    MonitorTestEnv env;
    form<frmMain>();
    NoComm = true;
    // Left behind by an earlier editor.
    TableRows = 7;
    TableCols = 4;
    TableValues.redim(0, 7, 0, 4);
    TableMonStartRow = 2;
    TableMonEndRow = 5;
    TableMonitorOn = true;
    TableMonIntervalMs = 500;

    frmTable &t = form<frmTable>();
    QCOMPARE(TableRows, 0);
    QCOMPARE(TableCols, 0);
    QCOMPARE(TableValues.rowLow(), 1);
    QCOMPARE(TableValues.rowHigh(), 1);
    QCOMPARE(TableValues.colLow(), 1);
    QCOMPARE(TableValues.colHigh(), 1);
    QCOMPARE(TableMonStartRow, int16_t(0));
    QCOMPARE(TableMonEndRow, int16_t(0));
    QVERIFY(!TableMonitorOn);
    QCOMPARE(TableMonIntervalMs, int16_t(2000));
    QVERIFY(!t.Timer1->Enabled());
    QCOMPARE(t.Timer1->Interval(), 2000);
    QVERIFY(t.Timer2->Enabled());
    QCOMPARE(t.Timer2->Interval(), 1000);
    // Without a connection the grid shows no rows, only the row numbers' column.
    QCOMPARE(t.tgDTableRows->rowCount(), 0);
    QCOMPARE(t.tgDTableRows->columnCount(), 1);
    QCOMPARE(header(t, 0), QStringLiteral("Row #"));
    QVERIFY(env.responder.boxes().isEmpty());

    // What the editor changed while open does not outlive it.
    t.Optionmenu[3]->setChecked(true);
    t.txtRows->setText(QStringLiteral("12"));
    t.txtCols->setFont(QFont(QStringLiteral("Courier"), 20));
    t.RowsColsTyping = true;
    t.GridHadFocus = true;
    t.Timer1->setEnabled(true);
    QVERIFY(unloadForm<frmTable>());
    QVERIFY(!t.Timer1->Enabled());
    QVERIFY(!t.Timer2->Enabled());
    QVERIFY(TableMonitorOn == false);
    form<frmTable>();
    QVERIFY(!t.Optionmenu[3]->isChecked());
    QVERIFY(!t.Optionmenu[4]->isChecked());
    QCOMPARE(t.txtRows->text(), QString());
    QCOMPARE(t.txtCols->font(), QFont());
    QVERIFY(!t.RowsColsTyping);
    QVERIFY(!t.GridHadFocus);
    QCOMPARE(t.Timer2Ticks, 0);
}

void TestFrmTable::geometryWithSectionMissing() {
    MonitorTestEnv env;
    writeSettings(env.settingsFile(), "[Main]\n");
    form<frmMain>();
    frmTable &t = form<frmTable>();
    QCOMPARE(t.Top(), 1140);
    QCOMPARE(t.Left(), 900);
    QCOMPARE(t.Height(), 5760);
    QCOMPARE(t.Width(), 8088);
    QVERIFY(env.responder.boxes().isEmpty());

    env.responder.expectBox(QStringLiteral("Cannot WRITE Dtable settings to Registry !"));
    QVERIFY(unloadForm<frmTable>());
    QVERIFY(env.responder.done());
    QCOMPARE(env.responder.boxes().front().buttons, int(mbOKOnly));
    QVERIFY(!readSettings(env.settingsFile()).contains("Dtable"));
    // The status line is written all the same.
    QCOMPARE(form<frmMain>().Message->text(), QStringLiteral("Data Table Form unloaded."));
}

void TestFrmTable::geometryWithValuesMissing() {
    MonitorTestEnv env;
    writeSettings(env.settingsFile(), "[Main]\n[Dtable]\ndword \"Left\" 3000\nsz \"Top\" \"12\"\n");
    form<frmMain>();
    frmTable &t = form<frmTable>();
    QCOMPARE(t.Left(), 3000);
    QCOMPARE(t.Top(), 1140);  // a text is no number
    QCOMPARE(t.Height(), 5760);
    QCOMPARE(t.Width(), 8088);

    t.Move(1500, 1200, 9000, 6000);
    QVERIFY(unloadForm<frmTable>());
    QVERIFY(env.responder.boxes().isEmpty());
    const QByteArray stored = readSettings(env.settingsFile());
    QVERIFY(stored.contains("dword \"Top\" 1200"));
    QVERIFY(stored.contains("dword \"Left\" 1500"));
    QVERIFY(stored.contains("dword \"Height\" 6000"));
    QVERIFY(stored.contains("dword \"Width\" 9000"));

    form<frmTable>();
    QCOMPARE(t.Top(), 1200);
    QCOMPARE(t.Left(), 1500);
    QCOMPARE(t.Height(), 6000);
    QCOMPARE(t.Width(), 9000);
}

void TestFrmTable::minimizedOrMaximizedStoresDefaults() {
    MonitorTestEnv env;
    form<frmMain>();
    for (auto state : {Qt::WindowMaximized, Qt::WindowMinimized}) {
        frmTable &t = form<frmTable>();
        t.Move(15, 30, 3000, 3000);
        t.setWindowState(state);
        QVERIFY(unloadForm<frmTable>());
        t.setWindowState(Qt::WindowNoState);
        const QByteArray stored = readSettings(env.settingsFile());
        QVERIFY(stored.contains("dword \"Top\" 1140"));
        QVERIFY(stored.contains("dword \"Left\" 900"));
        QVERIFY(stored.contains("dword \"Height\" 5760"));
        QVERIFY(stored.contains("dword \"Width\" 8088"));
    }
}

void TestFrmTable::gridReadsRowsFromTable() {
    MonitorTestEnv env;
    frmTable &t = form<frmTable>();
    TableRows = 2;
    TableCols = 4;  // three data columns
    TableValues.redim(1, 2, 1, 4);
    const int cells[2][3] = {{65, 10, 200}, {5, 65535, 126}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) TableValues(r + 1, c + 1) = cells[r][c];
    QSignalSpy reread(t.tgDTableRows, &QAbstractItemModel::modelReset);
    QTest::mouseClick(t.Command1, Qt::LeftButton);
    QCOMPARE(reread.count(), 1);

    QCOMPARE(t.tgDTableRows->rowCount(), 2);
    QCOMPARE(t.tgDTableRows->columnCount(), 5);
    QCOMPARE(header(t, 0), QStringLiteral("Row #"));
    QCOMPARE(header(t, 1), QStringLiteral(" 1"));
    QCOMPARE(header(t, 3), QStringLiteral(" 3"));
    QCOMPARE(header(t, 4), QStringLiteral("Message"));
    QCOMPARE(cell(t, 0, 0).toInt(), 1);
    QCOMPARE(cell(t, 1, 0).toInt(), 2);
    QCOMPARE(cell(t, 0, 1).toInt(), 65);
    QCOMPARE(cell(t, 1, 2).toInt(), 65535);
    // The text column: printable codes as characters, others as middle dots,
    // and a space at the end.
    QCOMPARE(cell(t, 0, 4).toString(), QStringLiteral("A\u00B7\u00B7 "));
    QCOMPARE(cell(t, 1, 4).toString(), QStringLiteral("\u00B7\u00B7~ "));

    // Outside the table: 0; outside the cells' allocation: nothing.
    QCOMPARE(t.GetCellValue(2, 1).toInt(), 0);
    QCOMPARE(t.GetCellValue(0, 5).toInt(), 0);
    QCOMPARE(t.GetCellValue(-1, 0).toInt(), 0);
    TableRows = 3;
    QVERIFY(!t.GetCellValue(2, 1).isValid());
    QVERIFY(!t.GetCellValue(2, 4).isValid());
    QCOMPARE(t.GetCellValue(2, 0).toInt(), 3);
}

void TestFrmTable::gridOfSmallTables() {
    MonitorTestEnv env;
    frmTable &t = form<frmTable>();
    TableRows = 1;
    TableCols = 1;  // no data column: the text column alone, captioned "1"
    t.RefreshGrid();
    QCOMPARE(t.tgDTableRows->columnCount(), 2);
    QCOMPARE(header(t, 1), QStringLiteral("1"));
    QCOMPARE(cell(t, 0, 1).toString(), QStringLiteral(" "));
    TableCols = 0;
    t.RefreshGrid();
    QCOMPARE(t.tgDTableRows->columnCount(), 1);
}

void TestFrmTable::timer2RereadsTwiceAfterLoad() {
    MonitorTestEnv env;
    frmTable &t = form<frmTable>();
    QSignalSpy reread(t.tgDTableRows, &QAbstractItemModel::modelReset);
    Q_EMIT t.Timer2->Timer();
    QVERIFY(t.Timer2->Enabled());
    Q_EMIT t.Timer2->Timer();
    QVERIFY(!t.Timer2->Enabled());
    QCOMPARE(reread.count(), 2);
    QCOMPARE(t.Timer2Ticks, 2);
}

QTEST_MAIN(TestFrmTable)
#include "test_frmtable.moc"
