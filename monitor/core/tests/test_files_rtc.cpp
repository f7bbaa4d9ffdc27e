// The remembered-files window and the clock window.
#include <QCheckBox>
#include <QPushButton>
#include <QtTest/QTest>

#include "core/frmFiles.h"
#include "core/frmRTC.h"
#include "core/globals.h"
#include "harness/harness.h"
#include "main/frmMain.h"

namespace {
QCheckBox *box(Form &f, int n) { return f.control<QCheckBox>(QStringLiteral("SSCheck%1").arg(n)); }
void click(Form &f, const char *name) { QTest::mouseClick(f.control<QPushButton>(QLatin1String(name)), Qt::LeftButton); }
}  // namespace

class TestFilesRtc : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        CustomScreen1Path.clear();
        CustomScreen2Path.clear();
        SymbolFilePath.clear();
        DataTablePath.clear();
    }
    void onlySymbolFileSet();
    void clearedRowIsForgottenOnOkay();
    void cancelForgetsAll();
    void clockWindow();
};

void TestFilesRtc::onlySymbolFileSet() {
    MonitorTestEnv env;
    ScriptedModalRunner runner;
    SymbolFilePath = QStringLiteral("/plant/LINE.SYM");
    runner.next([](Form &f) {
        QCOMPARE(f.windowTitle(), QStringLiteral("ORV Monitor Utility Files Form"));
        QCOMPARE(box(f, 1)->text(), QStringLiteral("Custom Form 1 file NOT defined."));
        QCOMPARE(box(f, 2)->text(), QStringLiteral("Custom Form 2 file NOT defined."));
        QCOMPARE(box(f, 3)->text(), QStringLiteral("Symbol file /plant/LINE.SYM"));
        QCOMPARE(box(f, 4)->text(), QStringLiteral("Data Table file NOT defined."));
        for (int n : {1, 2, 4}) {
            QVERIFY(!box(f, n)->isEnabled());
            QVERIFY(!box(f, n)->isChecked());
        }
        QVERIFY(box(f, 3)->isEnabled());
        QVERIFY(box(f, 3)->isChecked());
        QCOMPARE(f.control<QPushButton>(QStringLiteral("SSCommand1"))->text(), QStringLiteral("&Okay"));
        QCOMPARE(f.control<QPushButton>(QStringLiteral("SSCommand2"))->text(), QStringLiteral("&Cancel"));
        f.show();
        click(f, "SSCommand1");
    });
    form<frmFiles>().ShowModal();
    QCOMPARE(runner.runs(), 1);
    QVERIFY(!formLoaded<frmFiles>());
    QCOMPARE(SymbolFilePath, QStringLiteral("/plant/LINE.SYM"));
}

void TestFilesRtc::clearedRowIsForgottenOnOkay() {
    MonitorTestEnv env;
    ScriptedModalRunner runner;
    CustomScreen1Path = QStringLiteral("a.CFG");
    CustomScreen2Path = QStringLiteral("b.CFG");
    SymbolFilePath = QStringLiteral("c.SYM");
    DataTablePath = QStringLiteral("d.tab");
    runner.next([](Form &f) {
        QCOMPARE(box(f, 1)->text(), QStringLiteral("Custom Form 1 file a.CFG"));
        QCOMPARE(box(f, 2)->text(), QStringLiteral("Custom Form 2 file b.CFG"));
        QCOMPARE(box(f, 4)->text(), QStringLiteral("Data Table file d.tab"));
        box(f, 3)->setChecked(false);
        box(f, 2)->setChecked(false);
        click(f, "SSCommand1");
    });
    form<frmFiles>().ShowModal();
    QCOMPARE(CustomScreen1Path, QStringLiteral("a.CFG"));
    QCOMPARE(CustomScreen2Path, QString());
    QCOMPARE(SymbolFilePath, QString());
    QCOMPARE(DataTablePath, QStringLiteral("d.tab"));

    // Shown again, the window starts from the paths as they now are.
    runner.next([](Form &f) {
        QVERIFY(!box(f, 3)->isEnabled());
        QCOMPARE(box(f, 3)->text(), QStringLiteral("Symbol file NOT defined."));
        QVERIFY(box(f, 1)->isChecked());
        click(f, "SSCommand1");
    });
    form<frmFiles>().ShowModal();
    QCOMPARE(CustomScreen1Path, QStringLiteral("a.CFG"));
}

void TestFilesRtc::cancelForgetsAll() {
    MonitorTestEnv env;
    ScriptedModalRunner runner;
    CustomScreen1Path = QStringLiteral("a.CFG");
    DataTablePath = QStringLiteral("d.tab");
    runner.next([](Form &f) { click(f, "SSCommand2"); });
    form<frmFiles>().ShowModal();
    QVERIFY(!formLoaded<frmFiles>());
    QCOMPARE(CustomScreen1Path, QString());
    QCOMPARE(DataTablePath, QString());
}

void TestFilesRtc::clockWindow() {
    MonitorTestEnv env;
    frmMain &m = form<frmMain>();
    m.setLeft(2036);
    m.setTop(1008);
    RtcWindowOpen = false;
    RtcSyncRequest = false;
    frmRTC &r = form<frmRTC>();
    QCOMPARE(r.Caption(), QStringLiteral("Controller Real Time Clock"));
    QVERIFY(RtcWindowOpen);
    QCOMPARE(r.Left(), 3036);
    QCOMPARE(r.Top(), 2008);
    for (const char *name : {"txtHr", "txtMin", "txtSec", "txtMo", "txtDay", "txtYr", "txtDow"})
        QVERIFY2(r.control(QLatin1String(name)), name);
    auto *sync = r.control<QPushButton>(QStringLiteral("cmdUpdate"));
    QCOMPARE(sync->text(), QStringLiteral("Sync. with System Clock"));
    r.Show();
    QTest::mouseClick(sync, Qt::LeftButton);
    QTest::mouseClick(sync, Qt::LeftButton);
    QVERIFY(RtcSyncRequest);
    QVERIFY(unloadForm<frmRTC>());
    QVERIFY(!RtcWindowOpen);
}

QTEST_MAIN(TestFilesRtc)
#include "test_files_rtc.moc"
