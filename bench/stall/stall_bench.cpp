// The monitor while its controller is gone, over a longer run than the test:
// a silent UDP controller and a refusing TCP one. Prints the window thread's
// longest stall next to its floor (one exchange with a silent controller:
// tries x time-out) and the share of the time the window was free.
//
//   stall_bench [seconds gone, default 30] [reply time-out in ms, default 300]
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>

#include "controller.h"
#include "core/globals.h"
#include "harness/absence.h"
#include "harness/harness.h"

namespace {
// The floor in this run: the longest of five bare library exchanges with a
// silent UDP controller.
qint64 silentExchangeMs(int timeoutMs) {
    EmulatorPeer peer(5, PeerLink::Udp);
    if (!peer.connectMonitor(timeoutMs)) return -1;
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
}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int timeoutMs = argc > 2 ? std::atoi(argv[2]) : 300;
    if (seconds < 1 || timeoutMs < 1) {
        std::fprintf(stderr, "usage: stall_bench [seconds gone] [reply time-out ms]\n");
        return 2;
    }
    std::printf("controller gone for %d s, reply time-out %d ms, update interval 100 ms, register window open\n",
                seconds, timeoutMs);
    const qint64 floorMs = silentExchangeMs(timeoutMs);
    std::printf("bare library exchange with a silent UDP controller: %lld ms (3 x %d ms)\n",
                static_cast<long long>(floorMs), timeoutMs);
    int failed = 0;
    for (const auto &[kind, name] : {std::pair{Absence::SilentUdp, "UDP, silent controller"},
                                     std::pair{Absence::RefusedTcp, "TCP, refused controller"}}) {
        ConnectionHandle = 0;
        MonitorTestEnv env;
        env.responder.answerEveryBox(mbOK);
        const AbsenceRun r = runAbsentController(env, kind, qint64(seconds) * 1000, timeoutMs);
        if (!r.started) {
            std::printf("%-24s  the monitor never polled the emulator\n", name);
            ++failed;
            continue;
        }
        const QByteArray measured =
            kind == Absence::SilentUdp ? QByteArray(", ") + QByteArray::number(floorMs) + " ms measured" : QByteArray();
        std::printf("%-24s  longest stall %5lld ms (one exchange: %d ms%s)  window free %5.1f %%  stalls %d  "
                    "back-off %d ms  back %lld ms after the controller\n",
                    name, static_cast<long long>(r.gone.longestMs), r.exchangeWorstMs, measured.constData(),
                    100 * r.gone.freeShare(),
                    r.gone.stalls, r.backOffMs, static_cast<long long>(r.recoveryMs));
    }
    return failed == 0 ? 0 : 1;
}
