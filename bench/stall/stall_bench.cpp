// The monitor while its controller is gone, over a longer run than the tests:
// a silent UDP controller, a refusing TCP one, a hung TCP one (its
// connections accepted by the kernel, never answered), a serial line that
// goes away, a serial controller that stops answering, and a register-file
// command run while the controller is gone. Prints the window thread's
// longest stall next to its floor (one exchange with a silent controller:
// tries x time-out, and on a serial line the quiet wait before it), the
// share of the time the window was free, the reconnect back-off and the time
// from the controller's return to polling again.
//
//   stall_bench [seconds gone, default 30] [reply time-out in ms, default 300] [only the absences
//               whose name holds this text]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <cstdlib>

#include "controller.h"
#include "core/globals.h"
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
    return failed == 0 ? 0 : 1;
}
