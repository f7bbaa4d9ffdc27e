// The main window as it stands: loaded hidden, captioned, unloaded without
// being destroyed.
#include <QtTest/QTest>

#include "core/globals.h"
#include "harness/harness.h"
#include "main/frmMain.h"

class TestFrmMain : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loadsAndUnloads() {
        MonitorTestEnv env;
        ConnectionTitle = QStringLiteral(" - COMM 1 Baud 9600");
        frmMain &m = form<frmMain>();
        QVERIFY(!m.isVisible());
        QCOMPARE(m.Caption(), QStringLiteral("ORV Monitor V3.6 - COMM 1 Baud 9600"));
        m.Show();
        QVERIFY(m.close());
        QVERIFY(!m.loaded());
        QCOMPARE(FormRegistry::existing<frmMain>(), &m);
    }
};

QTEST_MAIN(TestFrmMain)
#include "test_frmmain.moc"
