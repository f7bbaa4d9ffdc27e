// The progress window of the register transfers: one bar from start to end
// of the whole transfer, with its percentage.
#include <QFile>
#include <QtTest/QTest>

#include "controller.h"
#include "core/controls.h"
#include "core/globals.h"
#include "harness/harness.h"
#include "main/frmMain.h"
#include "transfer/codeUploadDownload.h"
#include "transfer/frmFile.h"

namespace {

// Every percentage the bar was painted with.
class BarWatch : public QObject {
public:
    explicit BarWatch(SSPanel *panel) : panel_(panel) { panel->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *e) override {
        if (e->type() == QEvent::Paint && (seen.isEmpty() || seen.last() != panel_->FloodPercent()))
            seen << panel_->FloodPercent();
        return false;
    }
    QList<int> seen;

private:
    SSPanel *panel_;
};

bool risesToTheEnd(const QList<int> &seen) {
    for (qsizetype i = 1; i < seen.size(); ++i)
        if (seen[i] < seen[i - 1]) return false;
    return !seen.isEmpty() && seen.last() == 100;
}

}  // namespace

class TestTransferProgress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void percentageOnTheBar() {
        MonitorTestEnv env;
        SSPanel &panel = *form<frmFile>().SSPanel1;
        panel.setFloodPercent(42);
        QCOMPARE(panel.FloodText(), QStringLiteral("42%"));
        panel.setFloodType(0);
        QCOMPARE(panel.FloodText(), QString());
        panel.setFloodType(1);
    }

    // 2500 registers: the bar never starts again, and passes through the
    // middle on its way to 100.
    void downloadOneBar() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        quietMain(env);
        QVERIFY(peer.connectMonitor(300));
        const QString objectFile = env.dir() + QStringLiteral("/LINE.DSO");
        QFile f(env.dir() + QStringLiteral("/LINE.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Reg#          Value\r\n\r\n");
        for (int r = 1; r <= 1000; ++r) f.write(QByteArray::number(r) + " 1\r\n");
        for (int r = 32001; r <= 33500; ++r) f.write(QByteArray::number(r) + " 2\r\n");
        f.close();
        BarWatch watch(form<frmFile>().SSPanel1);
        env.responder.expectBox(QStringLiteral("Download Non-Volatile Registers?"), mbYes);
        DownloadRegisters(ConnectionHandle, objectFile);
        QVERIFY(env.responder.done());
        QVERIFY2(risesToTheEnd(watch.seen), qPrintable(QString::number(watch.seen.size())));
        QVERIFY(watch.seen.contains(40));  // the first thousand of 2500
        disconnectMonitor();
    }

    // An EA controller with four banks: 5000 registers under one bar.
    void uploadOneBar() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        quietMain(env);
        QVERIFY(peer.connectMonitor(300));
        BarWatch watch(form<frmFile>().SSPanel1);
        env.responder.expectBox(QStringLiteral("Register upload completed!"));
        UploadRegisters(ConnectionHandle, 1, env.dir() + QStringLiteral("/LINE.DSO"));
        QVERIFY(env.responder.done());
        // The reads run on a worker thread: the bar shows where they are
        // at each tick of the window, however many ticks that makes.
        QVERIFY(risesToTheEnd(watch.seen));
        disconnectMonitor();
    }
};

QTEST_MAIN(TestTransferProgress)
#include "test_transferprogress.moc"
