// The controller's software fault texts in the step status line.
#include <QtTest/QTest>

#include "core/codeORVmain.h"
#include "harness/harness.h"
#include "windows/frmStatus.h"

namespace {

const QString Prefix = QStringLiteral("Controller Software Faulted in Step 4! ");

// The state line after one ShowFault behind the polling loop's prefix.
QString faultLine(int32_t code, int32_t data) {
    frmStatus &f = form<frmStatus>();
    f.Label1->setText(Prefix);
    ShowFault(code, data);
    return f.Label1->text();
}

QString expected(const QString &text, int32_t code) {
    return Prefix + text + QStringLiteral("      - (fault code #") + QString::number(code) + QStringLiteral(")");
}

}  // namespace

class TestFaults : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textsOfTheTable_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("data");
        QTest::addColumn<QString>("text");
        // Servo numbers count from 1, with the leading space of a number.
        QTest::newRow("servo") << 10 << 2 << " - Servo# 3 does NOT exist";
        QTest::newRow("servo error") << 12 << -5 << " - Servo#-4 Error";
        QTest::newRow("register") << 13 << 120 << " - Register# 120 does NOT exist";
        QTest::newRow("negative row") << 15 << -1 << " - Data Table Row#-1 does NOT exist";
        // No space before the number from here on.
        QTest::newRow("digital input") << 21 << 17 << " - Digital Input#17 does NOT exist";
        QTest::newRow("comm port") << 35 << 2 << " - Comm Port#2 Does Not Exist";
        QTest::newRow("flag") << 37 << 300 << " - Flag#300 Does Not Exist";
        QTest::newRow("range") << 27 << 0 << " - Data Out Of Range";
        QTest::newRow("caused by") << 27 << 120 << " - Caused by Register#120";
        // Data numbers of texts without one are not shown.
        QTest::newRow("plain") << 1 << 99 << " - Illegal Function";
        QTest::newRow("watch dog") << 28 << 0 << " - Watch dog / Hardware Fault";
        QTest::newRow("last") << 39 << 0 << " - Out of Soft Counters";
        QTest::newRow("zero") << 0 << 5 << " - Unknown Error";
        QTest::newRow("forty") << 40 << 5 << " - Unknown Error";
        // The largest data number still names a servo instead of failing.
        QTest::newRow("servo limit") << 10 << 2147483647 << " - Servo# 2147483648 does NOT exist";
    }
    void textsOfTheTable() {
        MonitorTestEnv env;
        QFETCH(int, code);
        QFETCH(int, data);
        QFETCH(QString, text);
        QCOMPARE(faultLine(code, data), expected(text, code));
    }

    // The label is added to, never replaced; the window is loaded when it
    // was not, and the arguments stay as they were.
    void appendsToTheLabel() {
        MonitorTestEnv env;
        QVERIFY(!formLoaded<frmStatus>());
        const int32_t code = 21, data = 4;
        ShowFault(code, data);
        QVERIFY(formLoaded<frmStatus>());
        const QString once = QStringLiteral(" - Digital Input#4 does NOT exist      - (fault code #21)");
        QCOMPARE(form<frmStatus>().Label1->text(), once);
        ShowFault(code, data);
        QCOMPARE(form<frmStatus>().Label1->text(), once + once);
        QCOMPARE(code, 21);
        QCOMPARE(data, 4);
    }
};

QTEST_MAIN(TestFaults)
#include "test_faults.moc"
