// The monitor left polling for weeks: with every window open and shown, the
// controller's values changing on their own (a counter, a blinking flag and
// input, a table cell), the data table monitored, DDE serving and asked, and
// the controller going away and coming back on the way, the heap after a
// warm-up stays the size it was. The verdict counts the bytes in use on the
// heap, so it is the same on a loaded machine; in the sanitizer build the
// sanitizer's allocator counts them.
#include <malloc.h>

#include <QtTest/QTest>

#include "controller.h"
#include "core/dde.h"
#include "core/frmRTC.h"
#include "core/globals.h"
#include "datatable/frmTable.h"
#include "harness/harness.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"
#include "windows/frames.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator keeps the count (its header is not always there).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

// Bytes handed out by the heap and not yet given back.
qint64 heapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    return qint64(mallinfo2().uordblks);
#endif
}

bool *const OpenFlags[] = {&RegWindowOpen,     &RamWindowOpen,     &AnalInWindowOpen, &AnalOutWindowOpen,
                           &DigInWindowOpen,   &DigOutWindowOpen,  &FlagWindowOpen,   &RegbitsWindowOpen,
                           &ServoWindowOpen,   &Custom1WindowOpen, &Custom2WindowOpen, &RtcWindowOpen,
                           &StatusPollOn};

}  // namespace

class TestMemorySoak : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyWindowPollsInConstantMemory() {
        constexpr int WarmUpTicks = 300;
        constexpr int Ticks = 2400;         // measured after the warm-up
        constexpr int SampleEvery = 100;    // ticks
        constexpr qint64 AllowedGrowth = 256 * 1024;

        restartLink();
        MonitorTestEnv env;
        env.responder.answerEveryBox(mbOK);
        EmulatorPeer peer(5);
        peer.controller().withMemory([](orvemu::Memory &m) {
            m.setTableDimensions(20, 8);
            return 0;
        });
        frmMain &main = quietMainConnectedTo(env, peer);
        if (NoComm) QSKIP("the monitor cannot reach the emulator over UDP here");

        // Custom rows of every kind.
        for (int r = 0; r < 16; ++r) {
            Custom1Rows[size_t(r)] = {QStringLiteral("c%1").arg(r), int16_t(1 + r % 12), 1 + r % 4};
            Custom2Rows[size_t(r)] = {QStringLiteral("d%1").arg(r), int16_t(1 + (r + 6) % 12), 1};
        }
        for (bool *open : OpenFlags) *open = true;
        const QList<Form *> windows{&main,
                                    &form<frmReg>(),
                                    &form<frmRam>(),
                                    &form<frmAnalIn>(),
                                    &form<frmAnalOut>(),
                                    &form<frmDigIn>(),
                                    &form<frmDigOut>(),
                                    &form<frmFlag>(),
                                    &form<frmRegbits>(),
                                    &form<frmServo>(),
                                    &form<frmServo2>(),
                                    &form<frmCustom1>(),
                                    &form<frmCustom2>(),
                                    &form<frmRTC>(),
                                    &form<frmStatus>(),
                                    &form<frmDDE>(),
                                    &form<frmTable>()};
        for (Form *w : windows) w->Show();
        frmDDE &dde = form<frmDDE>();
        dde.RegAddress->setText(QStringLiteral("1"));
        dde.Reg50Address->setText(QStringLiteral("1"));
        dde.FlagAddress->setText(QStringLiteral("1"));
        dde.BlockAddress[2]->setText(QStringLiteral("3"));
        DdeServing = -1;
        frmTable &table = form<frmTable>();
        table.Timer2->setEnabled(false);
        table.Optionmenu[3]->trigger();  // Begin Monitoring
        table.Timer1->setEnabled(false);  // the test runs its ticks
        QVERIFY(TableMonitorOn);

        DdeSession client;
        DdeServer &server = DdeServer::instance();
        server.respond(client, QStringLiteral("CONNECT DDEsetup"));

        int lost = 0;
        const auto tick = [&](int k) {
            // What a running controller program changes between two polls.
            peer.controller().withMemory([k](orvemu::Memory &m) {
                m.registers[1] += 1;
                m.setFlag(1, k % 2 == 0);
                m.digitalInputs[0] = uint8_t(k % 2);
                m.setCell(1, 1, uint16_t(k));
                return 0;
            });
            main.Timer1_Timer();
            if (k % 4 == 0) Q_EMIT table.Timer1->Timer();
            if (k % 10 == 0) server.respond(client, QStringLiteral("REQUEST RegRead"));
            // The controller goes away for a tick and comes back.
            if (k % 800 == 150) {
                peer.controller().setFault({orvemu::FaultKind::Drop, -1});
                OrvComm::ZqSetConnectionTimeout(ConnectionHandle, 20);
                main.Timer1_Timer();
                peer.controller().clearFault();
                lost += NoComm ? 1 : 0;
                main.CheckComm();
                main.waitForAttempt();
            }
            QCoreApplication::processEvents();  // the windows are drawn
            peer.controller().clearLog();       // the emulator's own record of requests
        };

        for (int k = 0; k < WarmUpTicks; ++k) tick(k);
        QList<qint64> samples{heapInUse()};
        for (int k = WarmUpTicks; k < WarmUpTicks + Ticks; ++k) {
            tick(k);
            if ((k - WarmUpTicks + 1) % SampleEvery == 0) samples << heapInUse();
        }
        server.endSession(client);
        QVERIFY2(!NoComm, "the monitor lost the emulator for good");
        QCOMPARE(lost, 1 + Ticks / 800);

        // Steady growth: the smallest heap of the last quarter against the
        // largest of the first.
        const qsizetype quarter = samples.size() / 4;
        const qint64 early = *std::max_element(samples.begin(), samples.begin() + quarter);
        const qint64 late = *std::min_element(samples.end() - quarter, samples.end());
        QStringList kb;
        for (qint64 s : samples) kb << QString::number((s - samples.front()) / 1024);
        qInfo("heap after the warm-up, kB beyond the first sample, every %d ticks: %s", SampleEvery,
              qPrintable(kb.join(u' ')));
        QVERIFY2(late - early <= AllowedGrowth,
                 qPrintable(QStringLiteral("the heap grew by %1 kB over %2 ticks").arg((late - early) / 1024).arg(Ticks)));

        for (bool *open : OpenFlags) *open = false;
        DdeServing = 0;
        table.Optionmenu[4]->trigger();
        Custom1Rows = {};
        Custom2Rows = {};
        disconnectMonitor();
    }
};

QTEST_MAIN(TestMemorySoak)
#include "test_memorysoak.moc"
