// The task status against the emulator: status pages and task banks, the
// status rows, the tree and its node keys, the state line.
#include <QtTest/QTest>

#include "controller.h"
#include "core/codeDBase.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "core/runtime_error.h"
#include "harness/harness.h"
#include "main/frmMain.h"
#include "main/polling.h"
#include "main/taskstatus.h"
#include "windows/frmStatus.h"
#include "wire.h"

namespace {

// The tests count the requests the emulator receives and wait for no
// time-out: a reply late on a busy machine must not make the library ask again.
constexpr int HangTimeoutMs = 10000;

// The monitor connected to an emulated controller through its main window,
// timers stopped, the step status window open, yields scripted; every task
// idle but task 0.
struct Session {
    explicit Session(int model) : peer(model) {
        TaskStatus = {};
        StatusPacket = {};
        NodeKeyInUse = {};
        restartLink();
        quietMainConnectedTo(env, peer, HangTimeoutMs);
        StatusPollOn = true;
        status = &form<frmStatus>();
        installEventPump(&pump);
        peer.controller().withMemory([](orvemu::Memory &m) { m.status = 0; });
    }
    ~Session() {
        installEventPump(nullptr);
        StatusPollOn = false;
    }
    // A task's step (0xFFFF: not running) and its child tasks.
    void task(int t, uint16_t step, std::initializer_list<int> children = {}) {
        peer.controller().withMemory([&](orvemu::Memory &m) {
            orvemu::Task &k = m.tasks[size_t(t)];
            k.step = step;
            k.childLow = k.childHigh = 0;
            for (int c : children) (c < 64 ? k.childLow : k.childHigh) |= uint64_t(1) << (c % 64);
        });
    }
    // Requests of this code are answered "unknown packet".
    void refuse(uint8_t code) {
        peer.controller().setHandler(code, [](orvemu::Controller &, const orvemu::Request &) {
            return orvemu::shortReply(orvemu::kUnknownPacket);
        });
    }
    bool poll() {
        peer.controller().clearLog();
        return PollTaskStatus();
    }
    // The request bytes after the code of every request of one code.
    QList<QList<int>> requests(uint8_t code) {
        QList<QList<int>> out;
        for (const auto &f : peer.controller().requests())
            if (f.size() > 4 && f[2] == code) out << QList<int>(f.begin() + 3, f.end() - 2);
        return out;
    }
    TreeNodes nodes() { return status->TreeView1->Nodes(); }

    MonitorTestEnv env;
    EmulatorPeer peer;
    ScriptedPump pump{false};
    frmStatus *status = nullptr;
};

// The tree as text: a node's text, its children in brackets.
QString shape(QTreeWidgetItem *item) {
    QString s = item->text(0);
    if (item->childCount() == 0) return s;
    QStringList children;
    for (int i = 0; i < item->childCount(); ++i) children << shape(item->child(i));
    return s + QStringLiteral(" (") + children.join(QStringLiteral(", ")) + QStringLiteral(")");
}
QString shape(Session &s) {
    QTreeWidget *t = s.status->TreeView1;
    return t->topLevelItemCount() == 0 ? QString() : shape(t->topLevelItem(0));
}
QStringList keys(Session &s) {
    QStringList k;
    for (int i = 1; i <= s.nodes().Count(); ++i) k << s.nodes().Item(i).Key();
    return k;
}

QList<int> pageRequest(int first, int flag) { return {first, flag}; }

}  // namespace

class TestTaskStatus : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // 16 tasks: five bytes a task; the page of tasks 8..15 is read only
    // once a child there asks for it.
    void sixteenTasksInPages() {
        Session s(0);
        s.task(0, 4, {3});
        s.task(3, 9);
        QVERIFY(!s.poll());
        QCOMPARE(s.peer.controller().requests().front(), (std::vector<uint8_t>{0x01, 0x04, 0x23, 0xFF, 0xDD, 0xFF}));
        QCOMPARE(s.requests(0x23), QList<QList<int>>{{0xFF}});
        QCOMPARE(s.requests(0x6B), QList<QList<int>>{pageRequest(0, 1)});
        QCOMPARE(s.status->Label1->text(), QStringLiteral("Controller Running"));
        QCOMPARE(TaskStatus.TaskCount, 16);
        QCOMPARE(shape(s), QStringLiteral("Step #5 (Step #10)"));
        QCOMPARE(keys(s), (QStringList{"t0", "t1"}));

        s.task(3, 9, {12});
        s.task(12, 0);
        s.pump = ScriptedPump(false);
        QVERIFY(!s.poll());
        QCOMPARE(s.requests(0x6B), (QList<QList<int>>{pageRequest(0, 1), pageRequest(8, 0)}));
        QCOMPARE(s.pump.yields(), 1);
        QCOMPARE(StatusReadLimit, 8);
        QCOMPARE(shape(s), QStringLiteral("Step #5 (Step #10 (Step #1))"));
        QCOMPARE(keys(s), (QStringList{"t0", "t1", "t2"}));
    }

    // 128 tasks: a chain of children into later pages reads exactly the
    // pages up to the last child's, yielding before every odd page.
    void manyTasksReadOnlyThePagesNeeded() {
        Session s(12);
        s.task(0, 0, {40});
        s.task(40, 6, {70});
        s.task(70, 2);
        s.task(100, 3);  // running, but nobody's child
        QVERIFY(!s.poll());
        QList<QList<int>> pages{pageRequest(0, 1)};
        for (int first = 8; first <= 64; first += 8) pages << pageRequest(first, 0);
        QCOMPARE(s.requests(0x6B), pages);
        QCOMPARE(s.pump.yields(), 8);
        QCOMPARE(TaskStatus.TaskCount, 128);
        QCOMPARE(TaskStatus.TaskValue[40], 1);
        QCOMPARE(TaskStatus.TaskBankWords[40][3], 1 << 6);
        QCOMPARE(shape(s), QStringLiteral("Step #1 (Step #7 (Step #3))"));
    }

    // A controller that refuses the pages is read bank by bank, up to the
    // bank of the last child.
    void banksWhenPagesAreRefused() {
        Session s(5);
        s.refuse(0x6B);
        s.task(0, 2, {20});
        s.task(20, 3);
        QVERIFY(!s.poll());
        QCOMPARE(s.requests(0x23), (QList<QList<int>>{{0xFF}, {0}, {1}, {2}}));
        QCOMPARE(TaskStatus.TaskCount, 32);
        QCOMPARE(StatusReadLimit, 3);
        QCOMPARE(shape(s), QStringLiteral("Step #3 (Step #4)"));

        // A bank that cannot be read ends the tick through its error handler.
        s.refuse(0x23);
        try {
            s.poll();
            QFAIL("no error");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.number(), 0);
        }
    }

    // From model 10 on, the long banks 0x41 to 0x48 with their 64-bit masks.
    void longBanksFromModelTen() {
        Session s(10);
        s.refuse(0x6B);
        s.task(0, 7, {40});
        s.task(40, 1);
        QVERIFY(!s.poll());
        QCOMPARE(s.requests(0x23), (QList<QList<int>>{{0xFF}, {0x40}, {0x41}, {0x42}, {0x43}, {0x44}, {0x45}}));
        QCOMPARE(s.pump.yields(), 4);  // before 0x42, 0x44, 0x46 and 0x48
        QCOMPARE(shape(s), QStringLiteral("Step #8 (Step #2)"));
    }

    // The root is shown whether it runs or not; a child that does not run is
    // a leaf, whatever its own mask says.
    void tasksThatDoNotRun() {
        Session s(0);
        s.task(0, 0xFFFF);
        QVERIFY(!s.poll());
        QCOMPARE(shape(s), QStringLiteral("Step #65536"));

        s.task(0, 0, {5, 2});
        s.task(5, 0xFFFF, {6});
        s.task(6, 1);
        s.task(2, 8);
        QVERIFY(!s.poll());
        QCOMPARE(shape(s), QStringLiteral("Step #1 (Step #9, Task Not Executed)"));
        QCOMPARE(StatusRowCount, 3);
        QCOMPARE(StatusRowDepth[2], 1);
        QCOMPARE(StatusRowChildCount[0], 2);
    }

    // Children of children stop at 128 rows: a task that is its own child
    // ends the walk with False instead of running away.
    void rowsRunOut() {
        Session s(0);
        s.task(0, 0, {1});
        s.task(1, 0, {1});
        QVERIFY(!s.poll());
        QCOMPARE(StatusRowCount, 128);
        QCOMPARE(s.nodes().Count(), 128);
        StatusRowCount = 0;
        QVERIFY(!RecursiveParse(0, 0));
    }

    // Only steps changed: texts in place, keys and collapsed nodes kept. A
    // changed number of children: that node's subtree built anew, and the
    // node numbers freed come back after ResetKey.
    void treeUpdatesAndKeys() {
        Session s(0);
        s.task(0, 0, {1, 2});
        s.task(1, 10, {3});
        s.task(2, 20);
        s.task(3, 30);
        QVERIFY(!s.poll());
        QCOMPARE(shape(s), QStringLiteral("Step #1 (Step #11 (Step #31), Step #21)"));
        QCOMPARE(keys(s), (QStringList{"t0", "t1", "t2", "t3"}));
        TreeNode first = s.nodes().find(QStringLiteral("t1"));
        QVERIFY(first.Expanded());
        first.setExpanded(false);

        s.task(1, 11, {3});
        s.task(3, 31);
        QVERIFY(!s.poll());
        QCOMPARE(shape(s), QStringLiteral("Step #1 (Step #12 (Step #32), Step #21)"));
        QCOMPARE(keys(s), (QStringList{"t0", "t1", "t2", "t3"}));
        QVERIFY(!s.nodes().find(QStringLiteral("t1")).Expanded());

        s.task(0, 0, {2});
        QVERIFY(!s.poll());
        QCOMPARE(shape(s), QStringLiteral("Step #1 (Step #21)"));
        QCOMPARE(keys(s), (QStringList{"t0", "t4"}));  // 1..3 still taken during the build
        for (int n = 1; n <= 3; ++n) QVERIFY(!NodeKeyInUse[size_t(n)]);
        QVERIFY(NodeKeyInUse[0] && NodeKeyInUse[4]);

        s.task(0, 0, {1, 2});
        QVERIFY(!s.poll());
        QCOMPARE(shape(s), QStringLiteral("Step #1 (Step #12 (Step #32), Step #21)"));
        QCOMPARE(keys(s), (QStringList{"t0", "t1", "t2", "t3"}));
        QVERIFY(s.nodes().find(QStringLiteral("t1")).Expanded());

        // Every number taken: 255, which the tree's own keys refuse again.
        NodeKeyInUse.fill(true);
        QCOMPARE(GetKey(), int16_t(255));
    }

    // The state line; fault code 2 ends the status step before the tree.
    void faultsInTheStateLine() {
        Session s(0);
        s.peer.controller().withMemory([](orvemu::Memory &m) { m.raiseFault(2, 9, 0); });
        QVERIFY(s.poll());
        QCOMPARE(s.status->Label1->text(),
                 QStringLiteral("Controller Software Faulted in Step 10!  - Corrupt Program Data      - (fault code #2)"));
        QCOMPARE(s.nodes().Count(), 0);

        s.peer.controller().withMemory([](orvemu::Memory &m) { m.raiseFault(13, 0, 7); });
        QVERIFY(!s.poll());
        QCOMPARE(s.status->Label1->text(), QStringLiteral("Controller Software Faulted in Step 1!  - Register# 7 does "
                                                          "NOT exist      - (fault code #13)"));
        QCOMPARE(shape(s), QStringLiteral("Step #1"));
    }

    // The connection closed during a yield ends the tick; a window closed
    // during one is not opened again.
    void yieldsEndTheStep() {
        Session s(12);
        s.task(0, 0, {40});
        s.pump.at(1, [] { disconnectMonitor(); });
        bool ended = false;
        try {
            s.poll();
        } catch (const TickEnded &) {
            ended = true;
        }
        QVERIFY(ended);
        QCOMPARE(s.nodes().Count(), 0);

        QVERIFY(s.peer.connectMonitor(HangTimeoutMs));
        s.pump = ScriptedPump(false);
        s.pump.at(1, [] { unloadForm<frmStatus>(); });
        QVERIFY(!s.poll());
        QVERIFY(!formLoaded<frmStatus>());
    }

    // With a symbol file in use, rows of running tasks carry their step's name.
    void stepNames() {
        Session s(0);
        s.task(0, 4, {3, 5});
        s.task(3, 9);
        s.task(5, 0xFFFF);
        SymbolFilePath = QStringLiteral("steps.sym");
        SymSteps.open({{QStringLiteral("8192"), 5, 0, QStringLiteral("Start")}});
        QVERIFY(!s.poll());
        SymSteps.close();
        SymbolFilePath.clear();
        QCOMPARE(shape(s), QStringLiteral("Step #5 : Start (Step #10, Task Not Executed)"));
    }
};

QTEST_MAIN(TestTaskStatus)
#include "test_taskstatus.moc"
