// The monitor while its controller is gone, over a longer run than the test:
// a silent UDP controller and a refusing TCP one. Prints the window thread's
// longest stall next to its floor (one exchange with a silent controller:
// tries x time-out) and the share of the time the window was free.
//
//   stall_bench [seconds gone, default 30] [reply time-out in ms, default 300]
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "core/globals.h"
#include "harness/absence.h"
#include "harness/harness.h"

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
        std::printf("%-24s  longest stall %5lld ms (floor: one exchange %d ms)  window free %5.1f %%  "
                    "stalls %d  back-off %d ms  back %lld ms after the controller\n",
                    name, static_cast<long long>(r.gone.longestMs), r.exchangeWorstMs, 100 * r.gone.freeShare(),
                    r.gone.stalls, r.backOffMs, static_cast<long long>(r.recoveryMs));
    }
    return failed == 0 ? 0 : 1;
}
