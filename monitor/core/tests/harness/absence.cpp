#include "absence.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "controller.h"
#include "core/globals.h"
#include "harness.h"
#include "main/frmMain.h"
#include "windows/frames.h"

StallFigures measureStalls(qint64 ms, const std::function<bool()> &done) {
    constexpr qint64 StallMs = 50;
    StallFigures f;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    const auto note = [&] {
        const qint64 now = clock.elapsed();
        const qint64 gap = now - last;
        last = now;
        if (gap <= StallMs) return;
        ++f.stalls;
        f.stalledMs += gap;
        f.longestMs = std::max(f.longestMs, gap);
    };
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, note);
    probe.start(5);
    // Not an event loop of its own, which would end at once in a program
    // that has been told to quit.
    while (clock.elapsed() < ms && !(done && done()))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    note();
    f.runMs = clock.elapsed();
    return f;
}

AbsenceRun runAbsentController(MonitorTestEnv &env, Absence kind, qint64 goneMs, int timeoutMs) {
    AbsenceRun run;
    const bool udp = kind == Absence::SilentUdp;
    EmulatorPeer peer(5, udp ? PeerLink::Udp : PeerLink::Tcp);
    if (!peer.available()) return run;
    run.exchangeWorstMs = (udp ? 3 : 1) * timeoutMs;
    env.writeSettings(QStringLiteral("[Communications]\ndword \"COMM Port\" %1\nsz \"IP Address\" \"%2\"\n"
                                     "dword \"Timeout\" %3\n[DDE Setup]\ndword \"Update\" 100\n")
                          .arg(udp ? 1 : 2)
                          .arg(peer.address())
                          .arg(timeoutMs));
    frmMain &m = form<frmMain>();
    m.RegisterButton_Click();
    const auto polling = [&peer] { return peer.controller().requestCount() > 40; };
    measureStalls(20000, polling);
    run.started = polling() && !NoComm;
    if (!run.started) return run;

    if (udp) peer.controller().setFault({orvemu::FaultKind::Drop, -1});
    else peer.stopServing();
    run.gone = measureStalls(goneMs);
    run.statusWhileGone = m.Message->text();

    run.backOffMs = m.reconnectDelayMs();
    if (udp) peer.controller().clearFault();
    else if (!peer.startServing()) return run;
    peer.controller().clearLog();
    // Back when a tick after a new connection has read the register window.
    const auto back = [&peer] { return !NoComm && ConnectionHandle != 0 && peer.controller().requestCount() > 20; };
    QElapsedTimer clock;
    clock.start();
    measureStalls(2 * qint64(run.backOffMs) + 5000, back);
    if (back()) run.recoveryMs = clock.elapsed();

    m.Timer1->setEnabled(false);
    m.Timer2->setEnabled(false);
    m.Timer3->setEnabled(false);
    unloadForm<frmReg>();
    disconnectMonitor();
    return run;
}
