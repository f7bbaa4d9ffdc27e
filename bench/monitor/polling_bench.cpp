// One polling tick of the monitor with the register, flag, analog-input and
// custom windows open and shown, against the same exchanges made bare with
// the library: the frames the tick sent (recorded from a tick of its own)
// sent again through ZqSendData on a connection of the benchmark's own.
// The difference is the tick's own work, the window updates and the yields.
//
// UDP to an in-process emulator, pinned to one core. The argument is the
// number of rounds.
#include <sched.h>

#include <QApplication>
#include <cstdlib>

#include "bench_stats.h"
#include "controller.h"
#include "core/globals.h"
#include "harness/harness.h"
#include "main/frmMain.h"
#include "orvcomm.h"
#include "windows/frames.h"

int main(int argc, char **argv) {
    orvbench::PinToOneCore();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 300;

    MonitorTestEnv env;
    env.responder.answerEveryBox(mbOK);
    EmulatorPeer peer(5);
    if (!peer.available()) {
        std::fprintf(stderr, "polling_bench: no emulator\n");
        return 1;
    }
    frmMain &main = quietMainConnectedTo(env, peer, 2000);
    if (NoComm || ConnectionHandle == 0) {
        std::fprintf(stderr, "polling_bench: the monitor did not connect\n");
        return 1;
    }
    NumFlags = 32;
    for (auto &r : Custom1Rows) r = {QStringLiteral("Not Selected"), 0, 1};
    const int kinds[] = {1, 2, 3, 5, 6, 7, 8, 6};
    for (int i = 0; i < 16; ++i) Custom1Rows[size_t(i)] = {QStringLiteral("row %1").arg(i), int16_t(kinds[i % 8]), 1 + i};
    frmReg &reg = form<frmReg>();
    frmFlag &flag = form<frmFlag>();
    frmAnalIn &ain = form<frmAnalIn>();
    frmCustom1 &custom = form<frmCustom1>();
    reg.VScroll1->setValue(1);
    flag.VScroll1->setValue(1);
    ain.VScroll1->setValue(1);
    for (Form *f : std::initializer_list<Form *>{&main, &reg, &flag, &ain, &custom}) f->Show();
    RegWindowOpen = FlagWindowOpen = AnalInWindowOpen = Custom1WindowOpen = true;
    peer.controller().withMemory([](orvemu::Memory &m) {
        for (int r = 1; r <= 16; ++r) m.writeRegister(r, r * 1111);
        return 0;
    });

    // What one tick asks of the controller.
    QCoreApplication::processEvents();
    peer.controller().clearLog();
    main.Timer1_Timer();
    const auto frames = peer.controller().requests();
    if (NoComm || frames.empty()) {
        std::fprintf(stderr, "polling_bench: the tick failed\n");
        return 1;
    }
    std::printf("one tick: %zu exchanges\n\n", frames.size());

    const std::int32_t id = ZqOpenConnection(ZQ_TYPE_UDP, 0, peer.networkAddress());
    ZqSetConnectionTimeout(id, 2000);
    std::uint8_t reply[1536];
    bool ok = id != 0;
    orvbench::Alternate(
        rounds, "tick bare",
        [&] {
            for (const auto &f : frames)
                ok = ZqSendData(id, ZQ_PACKET_CLASS_REQUEST, f.data(), static_cast<std::uint32_t>(f.size()), reply) &&
                     ok;
        },
        "tick monitor", [&] { main.Timer1_Timer(); }, [&] { peer.controller().clearLog(); });
    ZqCloseConnection(id);
    if (!ok || NoComm) {
        std::fprintf(stderr, "polling_bench: an exchange failed\n");
        return 1;
    }
    orvbench::PrintRatio("tick monitor", "tick bare");
    orvbench::PrintRow("Polling tick, 4 windows", orvbench::Median("tick monitor"), orvbench::Median("tick bare"), 1.2);
    RegWindowOpen = FlagWindowOpen = AnalInWindowOpen = Custom1WindowOpen = false;
    disconnectMonitor();
    return 0;
}
