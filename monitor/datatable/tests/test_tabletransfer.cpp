// The data table editor against the emulator: upload and download with the
// requests they make, the hold on the link that keeps the polling loop off
// the controller meanwhile, the failures, the window's turn between two rows
// read, and the monitoring of a row range with its setup window.
#include <QLineEdit>
#include <QPointer>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTableView>
#include <QtTest/QTest>
#include <mutex>

#include "controller.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "datatable/frmTable.h"
#include "datatable/frmTableMon.h"
#include "harness/harness.h"
#include "main/frmMain.h"
#include "tabletests.h"
#include "wire.h"

namespace {

using orvemu::Controller;
using orvemu::Request;

// The controller's data table requests, one line each: "dim", "get row 2 from
// 1 x4" (four cells of row 2 from column 1), "put row 2 from 1: 5 6"; any
// other request as requestSummary gives it.
QStringList tableRequests(const Controller &c) {
    QStringList out;
    const QStringList others = requestSummary(c);
    const auto frames = c.requests();
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto &f = frames[i];
        const uint8_t *a = f.data() + 3;
        if (f[2] == 0x31) {
            out << QStringLiteral("dim");
        } else if (f[2] == 0x39) {
            out << QStringLiteral("get row %1 from %2 x%3").arg(orvemu::u16(a)).arg(a[2]).arg(a[3] + 1);
        } else if (f[2] == 0x3B) {
            QStringList values;
            for (int j = 0; j < a[3]; ++j) values << QString::number(orvemu::u16(a + 4 + 2 * j));
            out << QStringLiteral("put row %1 from %2: %3").arg(orvemu::u16(a)).arg(a[2]).arg(values.join(u' '));
        } else {
            out << others[qsizetype(i)];
        }
    }
    return out;
}

// The controller's table: rows x columns, cell (r, c) = 10 r + c.
void controllerTable(EmulatorPeer &peer, int rows, int columns) {
    peer.controller().withMemory([&](orvemu::Memory &m) {
        m.setTableDimensions(uint16_t(rows), uint8_t(columns));
        for (int r = 1; r <= rows; ++r)
            for (int c = 1; c <= columns; ++c) m.setCell(uint32_t(r), uint32_t(c), uint16_t(10 * r + c));
        return 0;
    });
}
uint16_t controllerCell(EmulatorPeer &peer, int r, int c) {
    return peer.controller().withMemory([&](orvemu::Memory &m) { return m.cell(uint32_t(r), uint32_t(c)); });
}

// A message box runs the event loop while it is open: here, one yield of
// the scripted pump.
class YieldingResponder : public ScriptedResponder {
public:
    int answerBox(const MsgBoxCall &call) override {
        DoEvents();
        return ScriptedResponder::answerBox(call);
    }
};

// The monitor connected to an emulator holding a 3 x 4 table, the main
// window's timers stopped and its yields scripted.
struct Session {
    Session() {
        main = &quietMain(env);
        controllerTable(peer, 3, 4);
        installEventPump(&pump);
    }
    QString status() const { return main->Message->text(); }

    MonitorTestEnv env;
    EmulatorPeer peer{5};
    ScriptedPump pump{false};
    frmMain *main = nullptr;
};

// The row requests answered as the emulator answers them, noting whether
// the link is held as each arrives (the monitor's thread meanwhile waits for the
// reply), and refusing the row reads and writes that the test names.
struct TableSpy {
    std::mutex lock;
    QStringList flags;  // per request: its code, the link held
    int refuseRead = 0;
    int refuseWrite = 0;

    void note(uint8_t code) {
        std::lock_guard g(lock);
        flags << QStringLiteral("%1 %2").arg(code, 2, 16).arg(int(controllerLink().busy()));
    }
    QStringList take() {
        std::lock_guard g(lock);
        return std::exchange(flags, {});
    }
    void install(Controller &c) {
        c.setHandler(0x39, [this](Controller &ctl, const Request &r) {
            note(0x39);
            const int row = orvemu::u16(r.args.data());
            if (row == refuseRead) return orvemu::shortReply(orvemu::kOutOfRange);
            std::vector<uint8_t> d{uint8_t(r.args[3] + 1)};
            for (int j = 0; j <= r.args[3]; ++j) orvemu::put16(d, ctl.memory().cell(row, r.args[2] + uint32_t(j)));
            return orvemu::replyFrame(0x3A, d);
        });
        c.setHandler(0x3B, [this](Controller &ctl, const Request &r) {
            note(0x3B);
            const int row = orvemu::u16(r.args.data());
            if (row == refuseWrite) return orvemu::shortReply(orvemu::kOutOfRange);
            for (int j = 0; j < r.args[3]; ++j)
                ctl.memory().setCell(row, r.args[2] + uint32_t(j), orvemu::u16(r.args.data() + 4 + 2 * j));
            return orvemu::shortReply(orvemu::kAck);
        });
    }
};

}  // namespace

class TestTableTransfer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        restartLink();
    }

    void uploadAndDownload() {
        Session s;
        if (!s.peer.connectMonitor()) QSKIP("needs the UDP transport");
        s.peer.controller().withMemory([](orvemu::Memory &m) {
            m.setCell(2, 3, 40000);
            return 0;
        });
        s.peer.controller().clearLog();
        frmTable &t = form<frmTable>();
        QCOMPARE(tableRequests(s.peer.controller()),
                 (QStringList{QStringLiteral("dim"), QStringLiteral("get row 1 from 1 x4"),
                              QStringLiteral("get row 2 from 1 x4"), QStringLiteral("get row 3 from 1 x4")}));
        QCOMPARE(TableRows, 3);
        QCOMPARE(TableCols, 5);
        QCOMPARE(tableRow(2), (QList<int32_t>{21, 22, 40000, 24}));
        QCOMPARE(s.status(), QStringLiteral("Upload complete."));
        QCOMPARE((QStringList{t.txtRows->text(), t.txtCols->text()}),
                 (QStringList{QStringLiteral("3"), QStringLiteral("4")}));
        QCOMPARE((QList<int>{TableMonStartRow, TableMonEndRow}), (QList<int>{1, 3}));

        // Every row goes back in one request for all its columns; 40000
        // travels as -25536 and arrives as 40000.
        t.CellEditEnded(1, 2, QStringLiteral("300"));
        s.peer.controller().clearLog();
        t.Filemenu_Click(8);
        QCOMPARE(tableRequests(s.peer.controller()),
                 (QStringList{QStringLiteral("dim"), QStringLiteral("put row 1 from 1: 11 300 13 14"),
                              QStringLiteral("put row 2 from 1: 21 22 40000 24"),
                              QStringLiteral("put row 3 from 1: 31 32 33 34")}));
        QCOMPARE(controllerCell(s.peer, 1, 2), uint16_t(300));
        QCOMPARE(controllerCell(s.peer, 2, 3), uint16_t(40000));
        QCOMPARE(s.status(), QStringLiteral("Download complete."));
        QCOMPARE(TableRows, 3);
        QCOMPARE(TableCols, 5);

        // A value from a file beyond a cell's range goes as its low 16 bits.
        TableValues(3, 1) = -5;
        TableValues(3, 2) = 70000;
        TableValues(3, 3) = 200000;
        t.Filemenu_Click(8);
        QCOMPARE((QList<uint16_t>{controllerCell(s.peer, 3, 1), controllerCell(s.peer, 3, 2), controllerCell(s.peer, 3, 3)}),
                 (QList<uint16_t>{65531, 4464, 3392}));
        QVERIFY(s.env.responder.boxes().isEmpty());
        disconnectMonitor();
    }

    void busyFlagsKeepThePollingOut() {
        Session s;
        YieldingResponder boxes;
        TableSpy spy;
        spy.install(s.peer.controller());
        if (!s.peer.connectMonitor()) QSKIP("needs the UDP transport");
        // The window's turn between two rows read, and a message box, let
        // the main window's polling tick run; it finds the link held and
        // reads nothing.
        RegWindowOpen = true;
        QList<QStringList> ticks;
        QList<bool> heldAtYield;
        s.pump.every([&](long) {
            heldAtYield << controllerLink().busy();
            s.peer.controller().clearLog();
            s.main->Timer1_Timer();
            ticks << requestSummary(s.peer.controller());
        });

        frmTable &t = form<frmTable>();
        QCOMPARE(spy.take(), QStringList(3, QStringLiteral("39 1")));
        t.Filemenu_Click(8);
        QCOMPARE(spy.take(), QStringList(3, QStringLiteral("3b 1")));
        QVERIFY(!controllerLink().busy());

        // The controller's table has another size: nothing is written.
        controllerTable(s.peer, 4, 4);
        boxes.expectBox(QStringLiteral("Cannot change data table dimensions."));
        t.Filemenu_Click(8);
        QCOMPARE(TableRows, 3);
        // A row that cannot be written ends the download there, and the
        // box names it, the controller's reason, and what was written.
        controllerTable(s.peer, 3, 4);
        spy.refuseWrite = 2;
        TableValues(1, 1) = 99;
        TableValues(3, 1) = 99;
        boxes.expectBox(QStringLiteral("Failed to set data table row 2.\nResource value out of range.\n"
                                       "Row 1 was written to the controller; row 2 may be written in part, "
                                       "and row 3 was not."));
        t.Filemenu_Click(8);
        QCOMPARE((QList<int>{controllerCell(s.peer, 1, 1), controllerCell(s.peer, 3, 1)}), (QList<int>{99, 31}));
        QCOMPARE(s.status(), QStringLiteral("Failed to set data table row 2.\nResource value out of range."));
        // Dimensions that cannot be read.
        s.peer.controller().setFault({orvemu::FaultKind::ShortError, 1, 0, orvemu::kOutOfRange, {}});
        boxes.expectBox(QStringLiteral("Failed to get data table dimensions."));
        t.Filemenu_Click(7);
        QVERIFY(boxes.done());
        // Two turns between the three rows of the first upload and two of
        // the first download, a box, one turn before the refused row and
        // its box, and the last box.
        QCOMPARE(heldAtYield, QList<bool>(8, true));
        QCOMPARE(ticks, QList<QStringList>(8, QStringList{}));
        QVERIFY(!controllerLink().busy());

        // A row that cannot be read: the rows before it are new, the status
        // line names it, the flag is down.
        controllerTable(s.peer, 3, 4);
        s.peer.controller().withMemory([](orvemu::Memory &m) {
            m.setCell(1, 1, 7);
            m.setCell(3, 1, 7);
            return 0;
        });
        spy.refuseRead = 2;
        spy.take();
        t.Filemenu_Click(7);
        QCOMPARE(spy.take(), QStringList(2, QStringLiteral("39 1")));
        QVERIFY(s.status().startsWith(QStringLiteral("Failed to get data table row 2.\n")));
        QVERIFY(s.status().size() > 33);
        QCOMPARE((QList<int32_t>{TableValues(1, 1), TableValues(3, 1)}), (QList<int32_t>{7, 0}));
        QVERIFY(!controllerLink().busy());

        // Without a connection neither transfer asks the controller anything.
        controllerLink().markLost(QString());
        t.Filemenu_Click(7);
        t.Filemenu_Click(8);
        QVERIFY(spy.take().isEmpty());
        RegWindowOpen = false;
        disconnectMonitor();
    }

    // A read lets the window's events run between two rows: the status line
    // counts the rows read, no tick starts meanwhile, and End Monitoring,
    // Suspend, closing the editor or a new size take effect after the row
    // in flight.
    void theWindowHasItsTurnBetweenRows() {
        struct Case {
            const char *what;
            std::function<void(Session &, frmTable &)> act;  // at the second turn
            int rowsRead;
            QString status;
            bool monitoringGoesOn;
        };
        const QList<Case> cases{
            {"nothing", [](Session &, frmTable &) {}, 6, QStringLiteral("Upload complete."), true},
            {"End Monitoring", [](Session &, frmTable &t) { t.Optionmenu[4]->trigger(); }, 2,
             QStringLiteral("Data table monitoring ended after row 2."), false},
            {"Suspend", [](Session &s, frmTable &) { s.main->SuspendButton_Click(); }, 2,
             QStringLiteral("Controller Monitoring Suspended"), true},
            {"closing the editor", [](Session &, frmTable &t) { t.Unload(); }, 2,
             QStringLiteral("Data Table Form unloaded."), false},
            {"a new size", [](Session &, frmTable &t) { t.SetTableSize(6, 3); }, 2,
             QStringLiteral("Data table upload stopped after row 2: the table was changed."), true},
        };
        for (const Case &c : cases) {
            Session s;
            if (!s.peer.connectMonitor()) QSKIP("needs the UDP transport");
            controllerTable(s.peer, 6, 2);
            frmTable &t = form<frmTable>();
            t.Optionmenu[3]->trigger();
            QString atFirstTurn;
            bool tickDueMeanwhile = true;
            s.pump.at(s.pump.yields() + 1, [&] {
                atFirstTurn = s.status();
                tickDueMeanwhile = t.Timer1->Enabled();
            });
            s.pump.at(s.pump.yields() + 2, [&] { c.act(s, t); });
            s.peer.controller().clearLog();
            Q_EMIT t.Timer1->Timer();
            QVERIFY2(tableRequests(s.peer.controller()).count() == c.rowsRead, c.what);
            QCOMPARE(s.status(), c.status);
            QCOMPARE(atFirstTurn, QStringLiteral("Uploading data table ... Please stand by.\nRows read: 1 of 6."));
            QVERIFY2(!tickDueMeanwhile, c.what);
            QVERIFY2(t.Timer1->Enabled() == c.monitoringGoesOn, c.what);
            QVERIFY2(!controllerLink().busy(), c.what);
        }
        // Suspend closes the connection once the read lets go of it, and
        // every monitored cell shows "*".
        Session s;
        if (!s.peer.connectMonitor()) QSKIP("needs the UDP transport");
        frmTable &t = form<frmTable>();
        t.Optionmenu[3]->trigger();
        s.pump.at(s.pump.yields() + 1, [&] { s.main->SuspendButton_Click(); });
        Q_EMIT t.Timer1->Timer();
        QCOMPARE(ConnectionHandle, 0);
        QCOMPARE(controllerLink().state(), ControllerLink::State::Suspended);
        QCOMPARE((QStringList{t.GetCellValue(0, 1).toString(), t.GetCellValue(2, 4).toString()}),
                 (QStringList{QStringLiteral("*"), QStringLiteral("*")}));
    }

    // A download lets the window have its turn between two rows too; what
    // the user does meanwhile ends it after the row written, and the box
    // says what the controller holds.
    void aDownloadStopsBetweenRowsAtTheUsersWord() {
        struct Case {
            const char *what;
            std::function<void(Session &, frmTable &)> act;  // at the second turn
            QString box;
        };
        const QString written = QStringLiteral("\nRows 1 to 2 were written to the controller, and rows 3 to 6 were not.");
        const QList<Case> cases{
            {"Suspend", [](Session &s, frmTable &) { s.main->SuspendButton_Click(); },
             QStringLiteral("Data table download stopped after row 2: monitoring is suspended.") + written},
            {"closing the editor", [](Session &, frmTable &t) { t.Unload(); },
             QStringLiteral("Data table download stopped after row 2: the editor was closed.") + written},
            {"a new size", [](Session &, frmTable &t) { t.SetTableSize(6, 3); },
             QStringLiteral("Data table download stopped after row 2: the table was changed.") + written},
        };
        for (const Case &c : cases) {
            Session s;
            YieldingResponder boxes;
            if (!s.peer.connectMonitor()) QSKIP("needs the UDP transport");
            controllerTable(s.peer, 6, 2);
            frmTable &t = form<frmTable>();
            QString atFirstTurn;
            s.pump.at(s.pump.yields() + 1, [&] { atFirstTurn = s.status(); });
            s.pump.at(s.pump.yields() + 2, [&] { c.act(s, t); });
            boxes.expectBox(c.box);
            s.peer.controller().clearLog();
            t.Filemenu_Click(8);
            QVERIFY2(boxes.done(), c.what);
            QCOMPARE(tableRequests(s.peer.controller()),
                     (QStringList{QStringLiteral("dim"), QStringLiteral("put row 1 from 1: 11 12"),
                                  QStringLiteral("put row 2 from 1: 21 22")}));
            QCOMPARE(atFirstTurn, QStringLiteral("Downloading data table ... Please stand by.\nRows written: 1 of 6."));
            QVERIFY2(!controllerLink().busy(), c.what);
        }
    }

    // While the link is down the monitored cells show "*", in their columns
    // and in the row's text (a "*" left there by a text entry keeps the
    // cell); a table file opened meanwhile shows its values, as it does
    // while the link is up, and one that is refused leaves the marks; the
    // next read from the controller puts the controller's values there.
    void staleCellsAndTableFiles() {
        Session s;
        if (!s.peer.connectMonitor()) QSKIP("needs the UDP transport");
        s.env.responder.answerEveryBox(mbOK);
        frmTable &t = form<frmTable>();
        TableMonEndRow = 2;  // rows 1 and 2 of 3 monitored
        t.Optionmenu[3]->trigger();
        controllerLink().markLost(QStringLiteral("gone"));
        const auto shown = [&t] {
            QStringList cells;
            for (int r = 0; r < 3; ++r)
                cells << t.GetCellValue(r, 1).toString() + u'/' + t.GetCellValue(r, 4).toString() + u'/' +
                             t.GetCellValue(r, 5).toString();
            return cells;
        };
        QCOMPARE(shown(), (QStringList{QStringLiteral("*/*/**** "), QStringLiteral("*/*/**** "),
                                       QStringLiteral("31/34/\u00B7 !\" ")}));
        // Cells entered meanwhile show what was entered.
        t.CellEditEnded(1, 2, QStringLiteral("65"));
        t.ApplyRowText(0, QStringLiteral("*A*B"));
        QCOMPARE(tableRow(1), (QList<int32_t>{11, 65, 13, 66}));
        const QStringList stale{QStringLiteral("*/66/*A*B "), QStringLiteral("*/*/**** "),
                                QStringLiteral("31/34/\u00B7 !\" ")};
        QCOMPARE(shown(), stale);

        const QString path = s.env.dir() + QStringLiteral("/T.tab");
        const QByteArray rows = "      65      66      67      68\r\n      69      70      71      72\r\n";
        for (const QByteArray &last : {QByteArray("   70000      74      75      76"),  // refused
                                       QByteArray("      73      74      75      76")}) {
            writeFile(path, "data_table[3][4] =\r\n{\r\n" + rows + last + "\r\n}\r\n");
            s.env.responder.expectFile(path);
            t.Filemenu_Click(2);
            QCOMPARE(shown(), last.startsWith("   7")
                                  ? stale
                                  : (QStringList{QStringLiteral("65/68/ABCD "), QStringLiteral("69/72/EFGH "),
                                                 QStringLiteral("73/76/IJKL ")}));
        }
        controllerLink().markUp();
        Q_EMIT t.Timer1->Timer();
        QCOMPARE(shown(), (QStringList{QStringLiteral("11/14/\u00B7\u00B7\u00B7\u00B7 "),
                                       QStringLiteral("21/24/\u00B7\u00B7\u00B7\u00B7 "),
                                       QStringLiteral("73/76/IJKL ")}));
        t.Optionmenu[4]->trigger();
    }

    // A read or a write of many rows draws its progress at its first row
    // and then at a pace: at one of an hour the status line keeps its first
    // count and the grid hears of the other rows read in one go as the read
    // ends (also when it ends early); at none every row shows.
    void progressIsDrawnAtAPace() {
        const auto restore = qScopeGuard([interval = frmTable::ProgressIntervalMs] {
            frmTable::ProgressIntervalMs = interval;
        });
        const auto counts = [](const char *what, std::initializer_list<int> rows) {
            QStringList out;
            for (const int r : rows) out << QStringLiteral("Rows %1: %2 of 6.").arg(QLatin1String(what)).arg(r);
            return out;
        };
        using Ranges = QList<QPair<int, int>>;
        struct Case {
            int intervalMs;
            QStringList read, written;
            Ranges grid, gridOfAnEndedTick;
        };
        const QList<Case> cases{
            {3600 * 1000, counts("read", {1, 1, 1, 1, 1}), counts("written", {1, 1, 1, 1, 1}),
             Ranges{{0, 0}, {1, 5}}, Ranges{{0, 0}, {1, 2}}},
            {0, counts("read", {1, 2, 3, 4, 5}), counts("written", {1, 2, 3, 4, 5}),
             Ranges{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}}, Ranges{{0, 0}, {1, 1}, {2, 2}}},
        };
        for (const Case &c : cases) {
            Session s;
            if (!s.peer.connectMonitor()) QSKIP("needs the UDP transport");
            controllerTable(s.peer, 6, 2);
            frmTable &t = form<frmTable>();
            frmTable::ProgressIntervalMs = c.intervalMs;
            QStringList seen;
            s.pump.every([&](long) { seen << s.status().section(u'\n', 1); });
            Ranges grid;
            QObject::connect(t.tgDTableRows, &QAbstractItemModel::dataChanged, &t,
                             [&grid](const QModelIndex &a, const QModelIndex &b) { grid << qMakePair(a.row(), b.row()); });

            t.Filemenu_Click(7);
            QCOMPARE(seen, c.read);
            QCOMPARE(grid, c.grid);
            QCOMPARE(s.status(), QStringLiteral("Upload complete."));
            seen.clear();
            t.Filemenu_Click(8);
            QCOMPARE(seen, c.written);
            QCOMPARE(s.status(), QStringLiteral("Download complete."));
            // A monitoring tick that End Monitoring ends after row 3.
            t.Optionmenu[3]->trigger();
            grid.clear();
            s.pump.at(s.pump.yields() + 3, [&t] { t.Optionmenu[4]->trigger(); });
            Q_EMIT t.Timer1->Timer();
            QCOMPARE(s.status(), QStringLiteral("Data table monitoring ended after row 3."));
            QCOMPARE(grid, c.gridOfAnEndedTick);
            QObject::disconnect(t.tgDTableRows, &QAbstractItemModel::dataChanged, &t, nullptr);
        }
    }

    void tablesItCannotLoad() {
        Session s;
        if (!s.peer.connectMonitor()) QSKIP("needs the UDP transport");
        controllerTable(s.peer, 0, 4);
        s.env.responder.expectBox(QStringLiteral("There is NO data table to load."));
        frmTable &t = form<frmTable>();
        QCOMPARE(TableRows, 0);
        controllerTable(s.peer, 40000, 2);
        s.env.responder.expectBox(QStringLiteral("The data table has more than 32767 rows and cannot be loaded."));
        t.Filemenu_Click(7);
        QCOMPARE(TableRows, 0);
        QCOMPARE(TableCols, 4);
        QVERIFY(s.env.responder.done());
        QVERIFY(!controllerLink().busy());
        disconnectMonitor();
    }

    // A monitoring tick refreshes the monitored cells in place: the current
    // cell, the scroll position and a cell being edited stay.
    void monitoringKeepsTheUsersPlace() {
        Session s;
        if (!s.peer.connectMonitor()) QSKIP("needs the UDP transport");
        controllerTable(s.peer, 60, 3);
        frmTable &t = form<frmTable>();
        t.Timer2->setEnabled(false);  // the re-reads after the load
        t.show();
        t.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&t));
        t.Optionmenu[3]->trigger();
        t.Timer1->setEnabled(false);  // the test runs the ticks
        QCOMPARE(TableMonEndRow, int16_t(60));
        const QModelIndex cell = t.tgDTableRows->index(49, 2);  // row 50, column 2
        t.tgDTable->setFocus();
        t.tgDTable->setCurrentIndex(cell);
        t.tgDTable->scrollTo(cell);
        const int scrolled = t.tgDTable->verticalScrollBar()->value();
        QVERIFY(scrolled > 0);
        t.tgDTable->edit(cell);
        const QPointer<QLineEdit> editor = t.cellEditor()->editor();
        QVERIFY(editor);
        editor->setText(QStringLiteral("4321"));
        s.peer.controller().withMemory([](orvemu::Memory &m) {
            m.setCell(1, 1, 555);
            m.setCell(50, 2, 999);
            return 0;
        });
        Q_EMIT t.Timer1->Timer();
        QCOMPARE(s.status(), QStringLiteral("Upload complete."));
        QCOMPARE(t.tgDTableRows->index(0, 1).data().toInt(), 555);
        QCOMPARE(t.tgDTable->currentIndex(), cell);
        QCOMPARE(t.tgDTable->verticalScrollBar()->value(), scrolled);
        QVERIFY(editor && editor->isVisible());
        QCOMPARE(editor->text(), QStringLiteral("4321"));
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(TableValues(50, 2), 4321);
        t.Optionmenu[4]->trigger();
        disconnectMonitor();
    }

    void monitoringARowRange() {
        Session s;
        if (!s.peer.connectMonitor()) QSKIP("needs the UDP transport");
        controllerTable(s.peer, 10, 2);
        frmTable &t = form<frmTable>();

        // Begin Monitoring without a connection does nothing.
        controllerLink().markLost(QString());
        t.Optionmenu[3]->trigger();
        QVERIFY(!TableMonitorOn && !t.Timer1->Enabled() && !t.Optionmenu[3]->isChecked());
        controllerLink().markUp();
        t.Optionmenu[3]->trigger();
        QVERIFY(TableMonitorOn && t.Timer1->Enabled());
        QVERIFY(t.Optionmenu[3]->isChecked() && !t.Optionmenu[4]->isChecked());

        t.Optionmenu[5]->trigger();
        frmTableMon &m = form<frmTableMon>();
        QVERIFY(m.isVisible());
        QCOMPARE((QStringList{m.txtMonInt->text(), m.txtMonStartRow->text(), m.txtMonEndRow->text()}),
                 (QStringList{QStringLiteral("2000"), QStringLiteral("1"), QStringLiteral("10")}));

        // The interval: 10 ms at the least by Enter, 25 on leaving the box,
        // 32000 at the most; the box keeps the text typed.
        typeEnter(m.txtMonInt, QStringLiteral("5"));
        QCOMPARE(TableMonIntervalMs, int16_t(10));
        QCOMPARE(t.Timer1->Interval(), 10);
        leaveField(m.txtMonInt);
        QCOMPARE(TableMonIntervalMs, int16_t(25));
        QCOMPARE(t.Timer1->Interval(), 25);
        typeEnter(m.txtMonInt, QStringLiteral("50000"));
        QCOMPARE(TableMonIntervalMs, int16_t(32000));
        QCOMPARE(m.txtMonInt->text(), QStringLiteral("50000"));
        // The rows: 1 to the table's rows.
        typeEnter(m.txtMonEndRow, QStringLiteral("9999"));
        QCOMPARE(TableMonEndRow, int16_t(10));
        typeEnter(m.txtMonStartRow, QStringLiteral("abc"));
        QCOMPARE(TableMonStartRow, int16_t(1));
        typeEnter(m.txtMonStartRow, QStringLiteral("0"));
        QCOMPARE(TableMonStartRow, int16_t(1));
        typeEnter(m.txtMonStartRow, QStringLiteral("4"));
        typeEnter(m.txtMonEndRow, QStringLiteral("5"));

        // A tick reads the monitored rows and nothing else; so does File
        // Upload while monitoring is on.
        s.peer.controller().withMemory([](orvemu::Memory &mem) {
            for (int r : {3, 4, 5}) mem.setCell(uint32_t(r), 1, 777);
            return 0;
        });
        s.peer.controller().clearLog();
        Q_EMIT t.Timer1->Timer();
        t.Filemenu_Click(7);
        const QStringList twoRows{QStringLiteral("get row 4 from 1 x2"), QStringLiteral("get row 5 from 1 x2")};
        QCOMPARE(tableRequests(s.peer.controller()), twoRows + twoRows);
        QCOMPARE((QList<int32_t>{TableValues(3, 1), TableValues(4, 1), TableValues(5, 1)}),
                 (QList<int32_t>{31, 777, 777}));
        QCOMPARE(s.status(), QStringLiteral("Upload complete."));
        // A start above the end reads no row.
        typeEnter(m.txtMonStartRow, QStringLiteral("8"));
        typeEnter(m.txtMonEndRow, QStringLiteral("3"));
        s.peer.controller().clearLog();
        s.main->Message->clear();
        Q_EMIT t.Timer1->Timer();
        QVERIFY(tableRequests(s.peer.controller()).isEmpty());
        QCOMPARE(s.status(), QStringLiteral("Upload complete."));

        // End Monitoring without a connection leaves it running; its ticks
        // then read nothing.
        controllerLink().markLost(QString());
        t.Optionmenu[4]->trigger();
        QVERIFY(TableMonitorOn && t.Timer1->Enabled() && !t.Optionmenu[4]->isChecked());
        Q_EMIT t.Timer1->Timer();
        QVERIFY(tableRequests(s.peer.controller()).isEmpty());
        controllerLink().markUp();
        t.Optionmenu[4]->trigger();
        QVERIFY(!TableMonitorOn && !t.Timer1->Enabled());
        QVERIFY(!t.Optionmenu[3]->isChecked() && t.Optionmenu[4]->isChecked());

        // Unloading the editor stops its timer and leaves the switch.
        t.Optionmenu[3]->trigger();
        QVERIFY(unloadForm<frmTable>());
        QVERIFY(TableMonitorOn && !t.Timer1->Enabled());
        disconnectMonitor();
    }
};

QTEST_MAIN(TestTableTransfer)
#include "test_tabletransfer.moc"
