// The data table editor: its controls and menus, what a load starts from,
// its geometry settings, and the grid's rows read from the table.
#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
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
#include "core/settings.h"
#include "datatable/fontdialog.h"
#include "datatable/frmTable.h"
#include "harness/harness.h"
#include "tabletests.h"
#include "main/frmMain.h"

namespace {
// Top, Left, Height and Width of the window, and as stored in its section
// (-1 for a value that is not there).
QList<int32_t> geometry(Form &f) { return {f.Top(), f.Left(), f.Height(), f.Width()}; }
QList<int32_t> stored() {
    QList<int32_t> out;
    readSettingsSection(QStringLiteral("Dtable"), QStringLiteral("Dtable"), [&](int32_t key) {
        for (const char *name : {"Top", "Left", "Height", "Width"}) {
            int32_t v = -1;
            QueryLongValue(key, QLatin1String(name), v);
            out << v;
        }
    });
    return out;
}
const QList<int32_t> Defaults{1140, 900, 5760, 8088};
QString menuText(frmTable &t, const QString &name) {
    if (auto *m = t.control<QMenu>(name)) return m->title();
    auto *a = t.control<QAction>(name);
    return a ? (a->isSeparator() ? QStringLiteral("-") : a->text()) : QStringLiteral("<missing>");
}
QVariant cell(frmTable &t, int row, int column) {
    return t.tgDTableRows->data(t.tgDTableRows->index(row, column));
}
QString header(frmTable &t, int column) { return t.tgDTableRows->headerData(column, Qt::Horizontal).toString(); }
// Opens the cell editor on a grid cell.
QLineEdit *editCell(frmTable &t, int row, int column) {
    t.tgDTable->setCurrentIndex(t.tgDTableRows->index(row, column));
    QTest::keyClick(t.tgDTable, Qt::Key_E, Qt::ControlModifier);
    return t.cellEditor()->editor();
}
// Ends the editing with Enter; the grid takes the entry once the key has
// been handled.
void commitCell(QLineEdit *e) {
    QTest::keyClick(e, Qt::Key_Return);
    QCoreApplication::processEvents();
}
// Shows the window and makes it the active one.
bool activate(frmTable &t) {
    t.show();
    t.activateWindow();
    return QTest::qWaitForWindowActive(&t);
}
}  // namespace

class TestFrmTable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        // COM1 names no device here, so the main window's connect fails at once.
        qputenv("ORVCOMM_COM1", "/nonexistent/orvmon-test-line");
    }
    void init() {
        // No connection: the editor's load reads nothing.
        restartLink();
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
    void timer2RereadsTwiceAfterLoad();
    void cellEditing();
    void rowsAndColsBoxes();
    void clipboard();
    void fontAndHelp();
};

void TestFrmTable::controlsMenusAndToolbar() {
    MonitorTestEnv env;
    frmTable &t = form<frmTable>();
    QCOMPARE(t.control<QLabel>(QStringLiteral("labRows"))->text(), QStringLiteral("Rows:"));
    QCOMPARE(t.control<QLabel>(QStringLiteral("labCols"))->text(), QStringLiteral("Cols:"));
    QCOMPARE(t.control<QPushButton>(QStringLiteral("Command1"))->text(), QStringLiteral("Refresh"));
    for (const char *name : {"txtRows", "txtCols", "tgDTable", "Timer1", "Timer2"})
        QVERIFY2(t.control<QObject>(QLatin1String(name)), name);

    const QStringList captions{
        QStringLiteral("mnuFile=&File"), QStringLiteral("Filemenu(1)=&New"), QStringLiteral("Filemenu(2)=&Open"),
        QStringLiteral("Filemenu(3)=-"), QStringLiteral("Filemenu(4)=&Save"), QStringLiteral("Filemenu(5)=Save &As..."),
        QStringLiteral("Filemenu(6)=-"), QStringLiteral("Filemenu(7)=&Upload"), QStringLiteral("Filemenu(8)=&Download"),
        QStringLiteral("Filemenu(9)=-"), QStringLiteral("Filemenu(10)=E&xit"), QStringLiteral("mnuEdit=&Edit"),
        QStringLiteral("mnuEditCut=C&ut"), QStringLiteral("mnuEditCopy=&Copy"), QStringLiteral("mnuEditPaste=&Paste"),
        QStringLiteral("mnuOptions=&Options"), QStringLiteral("Optionmenu(1)=&Font..."), QStringLiteral("Optionmenu(2)=-"),
        QStringLiteral("Optionmenu(3)=&Begin Monitoring ..."), QStringLiteral("Optionmenu(4)=&End Monitoring ..."),
        QStringLiteral("Optionmenu(5)=&Monitor Setup"), QStringLiteral("mnuHelp=&Help"),
        QStringLiteral("HelpMenu(1)=&Contents"), QStringLiteral("HelpMenu(2)=&Help on Help ...")};
    for (const QString &c : captions) {
        const QString name = c.section(u'=', 0, 0);
        QCOMPARE(name + u'=' + menuText(t, name), c);
    }
    QCOMPARE(t.mnuEditCut->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));
    QCOMPARE(t.mnuEditCopy->shortcut(), QKeySequence(QStringLiteral("Ctrl+C")));
    QCOMPARE(t.mnuEditPaste->shortcut(), QKeySequence(QStringLiteral("Ctrl+V")));

    QStringList tools;
    for (QAction *a : t.control<QToolBar>(QStringLiteral("Toolbar1"))->actions())
        tools << a->property("Key").toString() + u'=' + a->toolTip();
    QCOMPARE(tools, (QStringList{QStringLiteral("Open=Open datatable file"), QStringLiteral("Save=Save datatable to file"),
                                 QStringLiteral("Cut=Cut data from datatable"),
                                 QStringLiteral("Copy=Copy data in datatable"),
                                 QStringLiteral("Paste=Paste data into datatable")}));

    // File Exit unloads the window, which writes its settings.
    form<frmMain>();
    t.Filemenu[10]->trigger();
    QVERIFY(!formLoaded<frmTable>());
    QCOMPARE(form<frmMain>().Message->text(), QStringLiteral("Data Table Form unloaded."));
}

void TestFrmTable::loadStartsWithoutTable() {
    MonitorTestEnv env;
    form<frmMain>();
    controllerLink().markLost(QString());
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
    QVERIFY(TableValues.contains(1, 1) && !TableValues.contains(0, 0) && !TableValues.contains(2, 1));
    QCOMPARE(TableMonStartRow, int16_t(0));
    QCOMPARE(TableMonEndRow, int16_t(0));
    QVERIFY(!TableMonitorOn);
    QCOMPARE(TableMonIntervalMs, int16_t(2000));
    QVERIFY(!t.Timer1->Enabled());
    QCOMPARE(t.Timer1->Interval(), 2000);
    QVERIFY(t.Timer2->Enabled());
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
    writeFile(env.settingsFile(), "[Main]\n");
    form<frmMain>();
    QCOMPARE(geometry(form<frmTable>()), Defaults);
    QVERIFY(env.responder.boxes().isEmpty());

    env.responder.expectBox(QStringLiteral("Cannot WRITE Dtable settings to Registry !"));
    QVERIFY(unloadForm<frmTable>());
    QVERIFY(env.responder.done());
    QCOMPARE(env.responder.boxes().front().buttons, int(mbOKOnly));
    QVERIFY(stored().isEmpty());
    // The status line is written all the same.
    QCOMPARE(form<frmMain>().Message->text(), QStringLiteral("Data Table Form unloaded."));
}

void TestFrmTable::geometryWithValuesMissing() {
    MonitorTestEnv env;
    writeFile(env.settingsFile(), "[Main]\n[Dtable]\ndword \"Left\" 3000\nsz \"Top\" \"12\"\n");
    form<frmMain>();
    frmTable &t = form<frmTable>();
    QCOMPARE(geometry(t), (QList<int32_t>{1140, 3000, 5760, 8088}));  // a text is no number

    t.Move(1500, 1200, 9000, 6000);
    QVERIFY(unloadForm<frmTable>());
    QVERIFY(env.responder.boxes().isEmpty());
    const QList<int32_t> moved{1200, 1500, 6000, 9000};
    QCOMPARE(stored(), moved);
    form<frmTable>();
    QCOMPARE(geometry(t), moved);
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
        QCOMPARE(stored(), Defaults);
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
    QCOMPARE((QStringList{header(t, 0), header(t, 1), header(t, 3), header(t, 4)}),
             (QStringList{QStringLiteral("Row #"), QStringLiteral(" 1"), QStringLiteral(" 3"), QStringLiteral("Message")}));
    QCOMPARE(cell(t, 1, 0).toInt(), 2);
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

    // No data column: the text column alone, captioned "1"; no column at all:
    // the row numbers alone.
    TableCols = 1;
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

void TestFrmTable::cellEditing() {
    MonitorTestEnv env;
    frmTable &t = form<frmTable>();
    QVERIFY(activate(t));
    setTable(t, {{65, 0, 300, 7}, {1, 2, 3, 4}});
    QVERIFY(!(t.tgDTableRows->flags(t.tgDTableRows->index(0, 0)) & Qt::ItemIsEditable));

    // The text column: the characters typed change their cells, a middle dot
    // or a missing character leaves its cell.
    QLineEdit *e = editCell(t, 0, 5);
    QVERIFY(e);
    QCOMPARE(e->text(), QStringLiteral("A\u00B7\u00B7\u00B7 "));
    e->setText(QStringLiteral("AB"));
    commitCell(e);
    QCOMPARE(tableRow(1), (QList<int32_t>{65, 66, 300, 7}));
    QCOMPARE(cell(t, 0, 5).toString(), QStringLiteral("AB\u00B7\u00B7 "));

    // A data cell takes a number from 0 to 65535, rounded; anything else
    // leaves it.
    for (const auto &[typed, stored] : std::initializer_list<std::pair<const char *, int32_t>>{
             {"12.5", 12}, {"70000", 12}, {"abc", 12}, {"-1", 12}, {"3x", 12}, {" 65535 ", 65535}, {"5.", 5},
             {".5", 0}, {"+7", 7}, {"1e3", 7}, {".", 7}, {"-", 7}, {"99999999999999999999", 7}, {"\t8 ", 8},
             {"-0", 0}, {"65535.4999", 65535}, {"13.5", 14}}) {
        e = editCell(t, 1, 2);
        QVERIFY(e);
        e->setText(QLatin1String(typed));
        commitCell(e);
        QCOMPARE(TableValues(2, 2), stored);
    }
    QCOMPARE(tableRow(2), (QList<int32_t>{1, 14, 3, 4}));
}

void TestFrmTable::rowsAndColsBoxes() {
    MonitorTestEnv env;
    frmTable &t = form<frmTable>();
    setTable(t, {{1, 2, 3}, {4, 5, 6}});
    t.txtRows->setText(QStringLiteral("2"));
    t.txtCols->setText(QStringLiteral("3"));

    // 0, or Enter alone (which empties the box first), puts the count back.
    typeEnter(t.txtCols, QStringLiteral("0"));
    QCOMPARE(t.txtCols->text(), QStringLiteral("3"));
    typeEnter(t.txtCols);
    QCOMPARE(t.txtCols->text(), QStringLiteral("3"));
    QVERIFY(!t.RowsColsTyping);
    QCOMPARE(TableCols, 4);

    // A new size keeps the cells that both sizes have.
    typeEnter(t.txtRows, QStringLiteral("3"));
    QCOMPARE(TableRows, 3);
    QCOMPARE(tableRow(2), (QList<int32_t>{4, 5, 6}));
    QCOMPARE(tableRow(3), (QList<int32_t>{0, 0, 0}));
    typeEnter(t.txtCols, QStringLiteral("2"));
    QCOMPARE(TableCols, 3);
    QCOMPARE(tableRow(1), (QList<int32_t>{1, 2}));

    // Leaving a box commits it but keeps the typing going: the next key is
    // not the first.
    QTest::keyClicks(t.txtRows, QStringLiteral("5"));
    leaveField(t.txtRows);
    QCOMPARE(TableRows, 5);
    QVERIFY(t.RowsColsTyping);
    QTest::keyClicks(t.txtCols, QStringLiteral("1"));
    QCOMPARE(t.txtCols->text(), QStringLiteral("21"));
    typeEnter(t.txtCols);
    QCOMPARE(TableCols, 22);
    QCOMPARE(tableRow(5).size(), 21);

    // Beyond what a table can hold (16-bit rows, 255 columns) or below one:
    // nothing changes, the status line names the box and its range, and the
    // box shows the size again. A size typed as 1e3 is 1000.
    const struct {
        QLineEdit *box;
        const char *typed;
        int32_t rows, cols;  // the table afterwards
        QString status;      // empty: no message
    } sizes[] = {
        {t.txtRows, "99999999999", 5, 22, QStringLiteral("Rows takes whole numbers from 1 to 32767, not 99999999999.")},
        {t.txtRows, "-99999999999", 5, 22, QStringLiteral("Rows takes whole numbers from 1 to 32767, not -99999999999.")},
        {t.txtRows, "40000", 5, 22, QStringLiteral("Rows takes whole numbers from 1 to 32767, not 40000.")},
        {t.txtCols, "256", 5, 22, QStringLiteral("Cols takes whole numbers from 1 to 255, not 256.")},
        {t.txtCols, "99999999999", 5, 22, QStringLiteral("Cols takes whole numbers from 1 to 255, not 99999999999.")},
        {t.txtCols, "-99999999999", 5, 22, QStringLiteral("Cols takes whole numbers from 1 to 255, not -99999999999.")},
        {t.txtRows, "1e3", 1000, 22, QString()},
        {t.txtCols, "1e2", 1000, 101, QString()},
    };
    for (const auto &z : sizes) {
        form<frmMain>().Message->clear();
        typeEnter(z.box, QLatin1String(z.typed));
        QCOMPARE(TableRows, z.rows);
        QCOMPARE(TableCols, z.cols);
        QCOMPARE(z.box->text(), QString::number(z.box == t.txtRows ? z.rows : z.cols - 1));
        QCOMPARE(form<frmMain>().Message->text(), z.status.isEmpty() ? QString() : QStringLiteral("Nothing changed: ") + z.status);
    }
}

void TestFrmTable::clipboard() {
    MonitorTestEnv env;
    frmTable &t = form<frmTable>();
    QVERIFY(activate(t));
    setTable(t, {{1234, 2}});
    QClipboard *clip = QGuiApplication::clipboard();
    clip->setText(QStringLiteral("x"));
    t.tgDTable->setFocus();
    t.mnuEditCopy->trigger();  // no cell editor open
    QCOMPARE(clip->text(), QStringLiteral("x"));

    QLineEdit *e = editCell(t, 0, 1);
    QVERIFY(e);
    QVERIFY(t.GridHadFocus);
    e->setSelection(1, 2);
    t.mnuEditCopy->trigger();
    QCOMPARE(clip->text(), QStringLiteral("23"));
    t.Toolbar1_ButtonClick(QStringLiteral("Cut"));
    QCOMPARE(e->text(), QStringLiteral("14"));
    clip->setText(QStringLiteral("99"));
    e->deselect();
    t.mnuEditPaste->trigger();  // nothing selected
    QCOMPARE(e->text(), QStringLiteral("14"));
    e->setSelection(0, 1);
    t.Toolbar1_ButtonClick(QStringLiteral("Paste"));
    QCOMPARE(e->text(), QStringLiteral("994"));
    commitCell(e);
    QCOMPARE(TableValues(1, 1), 994);
}

void TestFrmTable::fontAndHelp() {
    MonitorTestEnv env;
    RecordingShell shell;
    frmTable &t = form<frmTable>();
    QList<FontDialogCall> calls;
    FontDialogAnswer answer;
    installFontChooser([&](const FontDialogCall &c) {
        calls << c;
        return answer;
    });
    t.Optionmenu[1]->trigger();  // cancelled
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].title, QStringLiteral("Data Table Font"));
    QCOMPARE(calls[0].flags, 17665);
    QCOMPARE(calls[0].font.family(), QStringLiteral("Arial"));
    QCOMPARE(t.tgDTable->font().family(), QStringLiteral("Arial"));

    answer = FontChoice{QFont(QStringLiteral("DejaVu Sans Mono"), 14), QColor(Qt::red)};
    t.Optionmenu[1]->trigger();
    QCOMPARE(t.txtCols->font().pointSize(), 14);
    QCOMPARE(t.tgDTable->palette().color(QPalette::Text), QColor(Qt::red));
    installFontChooser({});

    // Help through the main window's common dialog.
    frmMain &m = form<frmMain>();
    const QString help = QStringLiteral("open ") + QCoreApplication::applicationDirPath() + QStringLiteral("/orvmon34.pdf");
    t.HelpMenu[1]->trigger();
    QCOMPARE(m.CMDialog1.HelpCommand, 1);
    QCOMPARE(m.CMDialog1.HelpContext, 200);
    t.HelpMenu[2]->trigger();
    QCOMPARE(m.CMDialog1.HelpCommand, 4);
    QCOMPARE(shell.requests, (QStringList{help, help}));
}

QTEST_MAIN(TestFrmTable)
#include "test_frmtable.moc"
