// The monitor while its controller is gone, over a longer run than the tests:
// a silent UDP controller, a refusing TCP one, a hung TCP one (its
// connections accepted by the kernel, never answered), a serial line that
// goes away, a serial controller that stops answering, and a register-file
// command run while the controller is gone. Prints the window thread's
// longest stall next to its floor (one exchange with a silent controller:
// tries x time-out, and on a serial line the quiet wait before it), the
// share of the time the window was free, the reconnect back-off and the time
// from the controller's return to polling again. Then the data table editor
// with the largest table it loads (32767 rows of 255 columns) over UDP, the
// main window shown beside it: its upload, a monitoring tick of the whole
// table, End Monitoring during one and its download, each next to the
// library's own time for the same rows, and the save and load of the table's
// file. Run on the offscreen platform (the default) or in a real window
// (QT_QPA_PLATFORM=xcb under xvfb-run), where drawing costs what it costs.
//
//   stall_bench [seconds gone, default 30] [reply time-out in ms, default 300] [only the absences
//               whose name holds this text; "data table" for the data table alone]
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "bench_stats.h"
#include "controller.h"
#include "core/globals.h"
#include "datatable/frmTable.h"
#include "harness/absence.h"
#include "harness/harness.h"
#include "main/frmMain.h"
#include "main/registercommands.h"

namespace {
// The floor in this run: the longest of five bare library exchanges with a
// silent UDP controller, or with a silent serial one (each after the one
// before it timed out, so with the line's quiet wait).
qint64 silentExchangeMs(int timeoutMs, PeerLink kind) {
    EmulatorPeer peer(5, kind, 0, 1);
    if (kind == PeerLink::Serial) {
        ControllerLink &link = controllerLink();
        if (!link.open([] { return OrvComm::ZqOpenConnection(ZQ_TYPE_SERIAL, 1, 0); })) return -1;
        OrvComm::ZqInitConnection(ConnectionHandle, 19200, 0, 8, 0);
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, timeoutMs);
    } else if (!peer.connectMonitor(timeoutMs)) {
        return -1;
    }
    peer.controller().setFault({orvemu::FaultKind::Drop, -1});
    qint64 longest = 0;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        int32_t value = 0;
        OrvComm::ZqGetRegister(ConnectionHandle, 1, &value);
        longest = std::max(longest, t.elapsed());
    }
    disconnectMonitor();
    return longest;
}

// Download Register File (1000 registers) just after a UDP controller went
// silent, before a poll noticed: how long the command holds the window, and
// how many requests it sent to the silent controller.
void registerFileCommand(int timeoutMs) {
    restartLink();
    MonitorTestEnv env;
    EmulatorPeer peer(5, PeerLink::Udp);
    frmMain &m = quietMainConnectedTo(env, peer, timeoutMs);
    if (NoComm) {
        std::printf("%-24s  the monitor never reached the emulator\n", "register file download");
        return;
    }
    const QString path = env.dir() + QStringLiteral("/REGS.TXT");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return;
    f.write("Reg#    Value\r\n\r\n");
    for (int r = 1; r <= 1000; ++r) f.write(QByteArray::number(r) + "      " + QByteArray::number(r) + "\r\n");
    f.close();
    env.responder.expectFile(path);
    env.responder.answerEveryBox(mbYes);
    peer.controller().setFault({orvemu::FaultKind::Drop, -1});
    peer.controller().clearLog();
    QElapsedTimer t;
    t.start();
    WriteRegistersFromFile();
    std::printf("%-24s  the command held the window %lld ms, sent %zu requests to the silent controller; "
                "status: %s\n",
                "register file download", static_cast<long long>(t.elapsed()),
                static_cast<size_t>(peer.controller().requestCount()),
                qPrintable(m.Message->text().replace(QLatin1Char('\n'), QStringLiteral(" / "))));
    disconnectMonitor();
}

// The longest time between two turns of the window's event loop, as a 1 ms
// timer sees it.
class TurnProbe {
public:
    TurnProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            longestNs_ = std::max(longestNs_, now - last_);
            last_ = now;
        });
        clock_.start();
        timer_.start(1);
    }
    // Up to now: a turn still awaited counts as far as it has come.
    double longestMs() const { return double(std::max(longestNs_, clock_.nsecsElapsed() - last_)) / 1e6; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longestNs_ = 0;
};

// The rows the status line says a data table read has read so far.
int rowsReadSoFar(const QString &status) {
    static const QRegularExpression count(QStringLiteral("Rows read: (\\d+) of"));
    const auto m = count.match(status);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// What a run of the editor holds the window for: its time, the stalls over
// 50 ms, and the longest time between two turns of its event loop.
struct TableRun {
    StallFigures stalls;
    double longestTurnMs = 0;
};

// Runs `work` from the event loop, as a click would, with the window's turns
// watched, until it returns (or, for work that goes on from the event loop,
// until `done` says it has ended).
TableRun runFromTheEventLoop(const std::function<void()> &work, const std::function<bool()> &done = {}) {
    TableRun run;
    TurnProbe turns;
    bool returned = false;
    QTimer::singleShot(0, [&] {
        work();
        returned = true;
    });
    run.stalls = measureStalls(3600 * 1000, [&] { return done ? done() : returned; });
    run.longestTurnMs = turns.longestMs();
    return run;
}

void printTableRun(const char *what, const TableRun &r) {
    std::printf("  %-34s %6.1f s  longest stall %5lld ms  window free %5.1f %%  longest between two turns %6.1f ms\n",
                what, double(r.stalls.runMs) / 1000, static_cast<long long>(r.stalls.longestMs),
                100 * r.stalls.freeShare(), r.longestTurnMs);
}

// The library's own time for the rows the editor moves: every row read (or
// written, with the editor's cells) bare on the monitor's connection; 0 when
// a call fails.
qint64 libraryRowsMs(bool write, int rows, int columns) {
    std::vector<int32_t> cells(256);
    QElapsedTimer t;
    t.start();
    for (int r = 1; r <= rows; ++r) {
        int32_t ok = 0;
        if (write) {
            for (int c = 1; c <= columns; ++c) cells[size_t(c)] = int16_t(uint16_t(TableValues(r, c)));
            ok = OrvComm::ZqPutDataTableRow(ConnectionHandle, r, 1, columns, cells.data());
        } else {
            ok = OrvComm::ZqGetDataTableRow(ConnectionHandle, r, 1, columns, cells.data());
        }
        if (ok != 1) {
            std::printf("data table: the library could not %s row %d: %s\n", write ? "write" : "read", r,
                        qPrintable(errorInfoText()));
            return 0;
        }
    }
    return t.elapsed();
}

// The editor's figure against the library's own for the same rows, as a
// line of the table that bench/run-all.sh prints (the ratio's target 1.5).
void printAgainstLibrary(const char *what, const TableRun &editor, qint64 libraryMs) {
    const QString platform = QGuiApplication::platformName();
    std::printf("  %-34s library alone %6.1f s, the editor %.2f times that\n", "", double(libraryMs) / 1000,
                libraryMs > 0 ? double(editor.stalls.runMs) / double(libraryMs) : 0.0);
    orvbench::PrintRow(QStringLiteral("Data table %1 (%2)").arg(QLatin1String(what), platform).toStdString(),
                       double(editor.stalls.runMs) * 1000, double(libraryMs) * 1000, 1.5);
}

// The data table editor with the largest table it loads, over UDP, the main
// window shown beside it as in the program: opening it uploads the table,
// Begin Monitoring reads it whole every tick, End Monitoring is clicked
// during a tick, File Download writes it back, and the table is saved to a
// file and loaded from it. Each transfer is measured next to the library's
// own time for the same rows, in the same run.
void bigDataTable() {
    constexpr int Rows = 32767, Columns = 255;
    restartLink();
    MonitorTestEnv env;
    env.responder.answerEveryBox(mbOK);
    EmulatorPeer peer(5, PeerLink::Udp);
    peer.controller().withMemory([](orvemu::Memory &m) {
        m.setTableDimensions(Rows, Columns);
        for (uint32_t r = 1; r <= Rows; r += 97) m.setCell(r, r % Columns + 1, uint16_t(r));
        return 0;
    });
    frmMain &m = quietMainConnectedTo(env, peer);
    if (NoComm) {
        std::printf("%-24s  the monitor never reached the emulator\n", "data table");
        return;
    }
    m.Show();
    // The emulator's own record of requests, not needed here, is dropped as it grows.
    QTimer forget;
    QObject::connect(&forget, &QTimer::timeout, [&peer] { peer.controller().clearLog(); });
    forget.start(1000);

    // The floor of one row: its exchange, made bare with the library.
    std::vector<int32_t> cells(256);
    std::vector<qint64> rowNs;
    for (int r = 1; r <= 200; ++r) {
        QElapsedTimer t;
        t.start();
        if (OrvComm::ZqGetDataTableRow(ConnectionHandle, r, 1, Columns, cells.data()) != 1) {
            std::printf("data table: row %d cannot be read: %s\n", r, qPrintable(errorInfoText()));
            return;
        }
        rowNs.push_back(t.nsecsElapsed());
    }
    std::sort(rowNs.begin(), rowNs.end());
    std::printf("data table %d x %d over UDP, %s platform: one row's exchange %.2f ms (median of 200; longest "
                "%.2f ms)\n",
                Rows, Columns, qPrintable(QGuiApplication::platformName()), double(rowNs[rowNs.size() / 2]) / 1e6,
                double(rowNs.back()) / 1e6);

    // The upload as the editor opens.
    qint64 libraryMs = libraryRowsMs(false, Rows, Columns);
    TableRun run = runFromTheEventLoop([] { form<frmTable>().Show(); });
    frmTable &t = form<frmTable>();
    const bool uploaded = TableRows == Rows && m.Message->text() == QStringLiteral("Upload complete.");
    printTableRun(uploaded ? "upload as the editor opens" : "upload FAILED", run);
    printAgainstLibrary("upload", run, libraryMs);

    // Monitoring: each tick reads every row, the next one 25 ms after it.
    m.Message->clear();
    TableMonIntervalMs = 25;
    t.Timer1->setInterval(TableMonIntervalMs);
    const auto tickDone = [&m] { return m.Message->text() == QStringLiteral("Upload complete."); };
    libraryMs = libraryRowsMs(false, Rows, Columns);
    run = runFromTheEventLoop([&t] { t.Optionmenu[3]->trigger(); }, tickDone);
    printTableRun(tickDone() ? "monitoring tick of every row" : "monitoring tick FAILED", run);
    printAgainstLibrary("tick", run, libraryMs);

    // End Monitoring, clicked while the next tick lets events run a few
    // thousand rows into the table.
    int before = -1;
    QElapsedTimer clock;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (before >= 0 || rowsReadSoFar(m.Message->text()) < 3000) return;
        before = rowsReadSoFar(m.Message->text());
        clock.start();
        t.Optionmenu[4]->trigger();
    });
    user.start(10);
    static const QRegularExpression ended(QStringLiteral("monitoring ended after row (\\d+)"));
    const auto endedAt = [&m] {
        const auto match = ended.match(m.Message->text());
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    };
    measureStalls(3600 * 1000, [&] { return endedAt() > 0; });
    user.stop();
    // The status line counts the rows at its own pace: the tick was further
    // on than it said when the click came.
    if (endedAt() > 0)
        std::printf("  End Monitoring with the status line at row %d: the tick ended after row %d, %.1f ms after the "
                    "click\n",
                    before, endedAt(), double(clock.nsecsElapsed()) / 1e6);
    else
        std::printf("  End Monitoring with the status line at row %d: the tick did not end\n", before);

    // File Download writes every row back.
    libraryMs = libraryRowsMs(true, Rows, Columns);
    run = runFromTheEventLoop([&t] { t.Filemenu_Click(8); });
    printTableRun(m.Message->text() == QStringLiteral("Download complete.") ? "download of every row"
                                                                          : "download FAILED",
                  run);
    printAgainstLibrary("download", run, libraryMs);

    // The table in a file: saved, then loaded back.
    QString path = env.dir() + QStringLiteral("/BIG.tab");
    run = runFromTheEventLoop([&t, &path] { t.SaveDataTableFile(path); });
    const double megabytes = double(QFileInfo(path).size()) / 1e6;
    printTableRun(QStringLiteral("save as a %1 MB file").arg(megabytes, 0, 'f', 0).toLatin1().constData(), run);
    TableValues(1, 1) = 12345;  // not in the file: a whole load puts the file's value back
    env.responder.expectFile(path);
    run = runFromTheEventLoop([&t] { t.Filemenu_Click(2); });
    const bool whole = TableRows == Rows && TableValues(1, 1) != 12345 && env.responder.boxes().isEmpty();
    printTableRun(whole ? "load of that file" : "load FAILED", run);
    QFile::remove(path);
    unloadForm<frmTable>();
    disconnectMonitor();
}
}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int timeoutMs = argc > 2 ? std::atoi(argv[2]) : 300;
    const QString only = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    if (seconds < 1 || timeoutMs < 1) {
        std::fprintf(stderr, "usage: stall_bench [seconds gone] [reply time-out ms]\n");
        return 2;
    }
    std::printf("controller gone for %d s, reply time-out %d ms, update interval 100 ms, register window open\n",
                seconds, timeoutMs);
    const qint64 floorMs = silentExchangeMs(timeoutMs, PeerLink::Udp);
    std::printf("bare library exchange with a silent UDP controller: %lld ms (3 x %d ms)\n",
                static_cast<long long>(floorMs), timeoutMs);
    const qint64 serialFloorMs = silentExchangeMs(timeoutMs, PeerLink::Serial);
    std::printf("bare library exchange with a silent serial controller: %lld ms (quiet wait and time-out, %d ms "
                "each)\n",
                static_cast<long long>(serialFloorMs), timeoutMs);
    int failed = 0;
    for (const Absence kind : EveryAbsence) {
        const char *name = nameOf(kind);
        if (!QString::fromLatin1(name).contains(only)) continue;
        restartLink();
        MonitorTestEnv env;
        env.responder.answerEveryBox(mbOK);
        const AbsenceRun r = runAbsentController(env, kind, qint64(seconds) * 1000, timeoutMs);
        if (!r.started) {
            std::printf("%-24s  the monitor never polled the emulator\n", name);
            ++failed;
            continue;
        }
        std::printf("%-24s  longest stall %5lld ms (one exchange: %d ms)  window free %5.1f %%  stalls %d  "
                    "back-off %d ms  back %lld ms after the controller\n",
                    name, static_cast<long long>(r.gone.longestMs), r.exchangeWorstMs, 100 * r.gone.freeShare(),
                    r.gone.stalls, r.backOffMs, static_cast<long long>(r.recoveryMs));
    }
    if (only.isEmpty()) registerFileCommand(timeoutMs);
    if (QStringLiteral("data table").contains(only)) bigDataTable();
    return failed == 0 ? 0 : 1;
}
