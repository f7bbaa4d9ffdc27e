// The monitor while its controller is gone: the window keeps answering, the
// link comes back by itself, and the status line keeps what the user did.
#include <QtTest/QTest>

#include "core/globals.h"
#include "harness/absence.h"
#include "harness/harness.h"
#include "main/frmMain.h"

namespace {
// Generous bounds for a loaded machine: the design aims at no stall beyond
// one exchange and a window free 80 % of the time.
constexpr int ReplyTimeoutMs = 200;
constexpr qint64 GoneMs = 6000;
constexpr qint64 StallSlackMs = 500;
constexpr double LeastFreeShare = 0.7;

void checkRun(const AbsenceRun &r) {
    QVERIFY2(r.started, "the monitor never polled the emulator");
    const QString figures = QStringLiteral("longest stall %1 ms, free %2 %, back-off %3 ms, recovery %4 ms")
                                .arg(r.gone.longestMs)
                                .arg(100 * r.gone.freeShare(), 0, 'f', 1)
                                .arg(r.backOffMs)
                                .arg(r.recoveryMs);
    qInfo("%s", qPrintable(figures));
    QVERIFY2(r.gone.longestMs <= r.exchangeWorstMs + StallSlackMs, qPrintable(figures));
    QVERIFY2(r.gone.freeShare() >= LeastFreeShare, qPrintable(figures));
    QVERIFY2(!r.statusWhileGone.startsWith(QStringLiteral("Connected to")) &&
                 r.statusWhileGone.contains(QStringLiteral(" - ")),
             qPrintable(r.statusWhileGone));
    QVERIFY2(r.recoveryMs >= 0 && r.recoveryMs <= 2 * r.backOffMs + 1000, qPrintable(figures));
}
}  // namespace

class TestAbsentController : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        ConnectionHandle = 0;
        MonitoringSuspended = SetupOpen = ReconnectPending = false;
        RegWindowOpen = false;
        ControllerIP.clear();
        ControllerIPText.clear();
    }

    void silentUdpController() {
        MonitorTestEnv env;
        checkRun(runAbsentController(env, Absence::SilentUdp, GoneMs, ReplyTimeoutMs));
    }

    void refusedTcpController() {
        MonitorTestEnv env;
        checkRun(runAbsentController(env, Absence::RefusedTcp, GoneMs, ReplyTimeoutMs));
    }

    // A message that answers the user's own action stays while the link
    // keeps failing; the failure shows once it has been read.
    void userMessageOutlivesTheReconnectMessage() {
        MonitorTestEnv env;
        frmMain &m = quietMain(env, QStringLiteral("[Communications]\ndword \"COMM Port\" 1\n"));
        QVERIFY(NoComm && ConnectFailedBefore);
        m.Message->setText(QStringLiteral("Failed to update register value!"));
        m.RefreshMessage();
        QVERIFY(m.CheckComm());
        QCOMPARE(m.Message->text(), QStringLiteral("Failed to update register value!"));
        // Once it has been read, the failure shows.
        m.messageHoldMs = 0;
        QTRY_VERIFY_WITH_TIMEOUT(m.Message->text() != QStringLiteral("Failed to update register value!"), 10000);
        QVERIFY(m.CheckComm());
        QVERIFY2(m.Message->text().endsWith(QStringLiteral(" ) Failed to make connection, please configure -  "
                                                           "No usable controller IP address")),
                 qPrintable(m.Message->text()));
    }

    // Start, Stop and Reset look disabled while monitoring is suspended.
    void disabledRunButtonsLookDisabled() {
        MonitorTestEnv env;
        frmMain &m = quietMain(env);
        m.SuspendButton_Click();
        QVERIFY(!m.StartButton->isEnabled());
        const QPalette p = m.StartButton->palette();
        QVERIFY(p.color(QPalette::Disabled, QPalette::ButtonText) != p.color(QPalette::Active, QPalette::ButtonText));
        QCOMPARE(p.color(QPalette::Disabled, QPalette::ButtonText),
                 QApplication::palette(m.StartButton).color(QPalette::Disabled, QPalette::ButtonText));
        m.SuspendButton_Click();
        QVERIFY(m.StartButton->isEnabled());
    }
};

QTEST_MAIN(TestAbsentController)
#include "test_absentcontroller.moc"
