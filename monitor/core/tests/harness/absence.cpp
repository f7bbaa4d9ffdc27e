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

const char *nameOf(Absence kind) {
    switch (kind) {
    case Absence::SilentUdp: return "UDP, silent controller";
    case Absence::RefusedTcp: return "TCP, refused controller";
    case Absence::HungTcp: return "TCP, hung controller";
    case Absence::LostSerial: return "serial line lost";
    case Absence::SilentSerial: return "silent serial controller";
    }
    return "";
}

std::unique_ptr<EmulatorPeer> peerFor(Absence kind) {
    switch (kind) {
    case Absence::SilentUdp: return std::make_unique<EmulatorPeer>(5, PeerLink::Udp);
    case Absence::RefusedTcp:
    case Absence::HungTcp: return std::make_unique<EmulatorPeer>(5, PeerLink::Tcp);
    case Absence::LostSerial:
    case Absence::SilentSerial: return std::make_unique<EmulatorPeer>(5, PeerLink::Serial, 0, 1);
    }
    return nullptr;
}

QString settingsFor(const EmulatorPeer &peer, int timeoutMs, int updateMs) {
    const QString dde = QStringLiteral("[DDE Setup]\ndword \"Update\" %1\n").arg(updateMs);
    if (peer.link() == PeerLink::Serial)
        return QStringLiteral("[Communications]\ndword \"COMM Port\" 3\ndword \"BAUD Rate\" 19200\n"
                              "dword \"Timeout\" %1\n")
                   .arg(timeoutMs) +
               dde;
    return QStringLiteral("[Communications]\ndword \"COMM Port\" %1\nsz \"IP Address\" \"%2\"\n"
                          "dword \"Timeout\" %3\n")
               .arg(peer.link() == PeerLink::Udp ? 1 : 2)
               .arg(peer.address())
               .arg(timeoutMs) +
           dde;
}

void goAway(EmulatorPeer &peer, Absence kind) {
    switch (kind) {
    case Absence::SilentUdp:
    case Absence::SilentSerial:
    case Absence::HungTcp: peer.hang(); break;
    case Absence::RefusedTcp:
    case Absence::LostSerial: peer.stopServing(); break;
    }
}

AbsenceRun runAbsentController(MonitorTestEnv &env, Absence kind, qint64 goneMs, int timeoutMs) {
    AbsenceRun run;
    const std::unique_ptr<EmulatorPeer> peer = peerFor(kind);
    if (!peer->available()) return run;
    // One exchange with a silent controller: the library tries UDP three
    // times; a serial line that timed out waits to be quiet first.
    run.exchangeWorstMs = (kind == Absence::SilentUdp ? 3 : kind == Absence::SilentSerial ? 2 : 1) * timeoutMs;
    env.writeSettings(settingsFor(*peer, timeoutMs));
    frmMain &m = form<frmMain>();
    const auto polling = [&peer] { return peer->controller().requestCount() > 40 && !NoComm; };
    measureStalls(20000, polling);
    run.started = polling();
    if (!run.started) return run;
    m.RegisterButton_Click();

    goAway(*peer, kind);
    run.gone = measureStalls(goneMs);
    run.statusWhileGone = m.Message->text();

    run.backOffMs = m.reconnectDelayMs();
    if (!peer->startServing()) return run;
    peer->controller().clearLog();
    // Back when a tick after a new connection has read the register window.
    const auto back = [&peer] { return !NoComm && ConnectionHandle != 0 && peer->controller().requestCount() > 20; };
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
