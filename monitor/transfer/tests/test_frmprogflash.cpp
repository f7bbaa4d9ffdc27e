// The firmware update window: its controls, the module list and baud rate a
// load prepares, and the buttons reached only by their access keys.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest/QTest>

#include "core/controls.h"
#include "harness/harness.h"
#include "transfer/frmProgFlash.h"
#include "transfer/inputbox.h"

namespace {
QStringList entries(QComboBox *c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
    return out;
}
const QStringList Modules{QStringLiteral("Q41/Q42/Q43 CPU"), QStringLiteral("Q90/Q91 Comm/DeviceNet"),
                          QStringLiteral("Q600 Series Controller")};
}  // namespace

class TestFrmProgFlash : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void controlsAfterLoad();
    void reloadStartsAgain();
    void hiddenButtonsAnswerTheirKeys();
};

void TestFrmProgFlash::controlsAfterLoad() {
    MonitorTestEnv env;
    frmProgFlash &w = form<frmProgFlash>();
    QCOMPARE(w.Caption(), QStringLiteral("Update Firmware"));
    QCOMPARE(w.control<QLabel>(QStringLiteral("lblModule"))->text(), QStringLiteral("Select Module to Update"));
    QCOMPARE(w.control<SSCommand>(QStringLiteral("SSCommand1"))->Caption(), QStringLiteral("Start Update"));
    QCOMPARE(w.control<QPushButton>(QStringLiteral("Command1"))->text(), QStringLiteral("&B"));
    QCOMPARE(w.control<QPushButton>(QStringLiteral("Command2"))->text(), QStringLiteral("&F"));
    QVERIFY(w.control<QPlainTextEdit>(QStringLiteral("Text1")));
    QVERIFY(w.control(QStringLiteral("VideoSoftElastic1")));

    auto *combo = w.control<QComboBox>(QStringLiteral("Combo1"));
    QCOMPARE(entries(combo), Modules);
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(combo->currentText(), Modules[0]);
    QVERIFY(w.control<QProgressBar>(QStringLiteral("ProgressBar1"))->isHidden());
    QCOMPARE(w.FlashBaudRate, 38400);
    QCOMPARE(w.BaudCode, uint8_t(3));
    QCOMPARE(w.BaudCodeChar, int16_t(51));
    QCOMPARE(w.SelectedModel, int16_t(0));
    QVERIFY(!w.SelectionOK);

    // The two service buttons lie below the visible area.
    w.Show();
    QVERIFY(w.Command1->geometry().top() >= w.height());
    QVERIFY(w.Command2->geometry().top() >= w.height());
}

void TestFrmProgFlash::reloadStartsAgain() {
    MonitorTestEnv env;
    auto settingsText = [&] {
        QFile f(env.settingsFile());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray before = settingsText();
    frmProgFlash &w = form<frmProgFlash>();
    w.Combo1->insertItem(2, QStringLiteral("Q600 Series Controller"));
    w.Combo1->setCurrentIndex(3);
    w.Text1->setPlainText(QStringLiteral("Firmware Update Baud Rate: 9600"));
    w.ProgressBar1->show();
    w.FlashBaudRate = 9600;
    w.BaudCode = 9;
    w.BaudCodeChar = 57;
    QVERIFY(unloadForm<frmProgFlash>());
    QVERIFY(env.responder.boxes().isEmpty());

    form<frmProgFlash>();
    QCOMPARE(entries(w.Combo1), Modules);
    QCOMPARE(w.Combo1->currentIndex(), 0);
    QCOMPARE(w.Text1->toPlainText(), QString());
    QVERIFY(w.ProgressBar1->isHidden());
    QCOMPARE(w.FlashBaudRate, 38400);
    QCOMPARE(w.BaudCode, uint8_t(3));
    QCOMPARE(w.BaudCodeChar, int16_t(51));
    // The window keeps no settings.
    QCOMPARE(settingsText(), before);
}

void TestFrmProgFlash::hiddenButtonsAnswerTheirKeys() {
    MonitorTestEnv env;
    frmProgFlash &w = form<frmProgFlash>();
    w.Show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QSignalSpy baud(w.Command1, &QPushButton::clicked);
    QSignalSpy code(w.Command2, &QPushButton::clicked);
    installInputBoxAnswerer([](const QString &) { return QString(); });
    QTest::keyClick(&w, Qt::Key_B, Qt::AltModifier);
    // A button's access key presses it visibly: the click follows shortly.
    QTRY_COMPARE(baud.count(), 1);
    QTest::keyClick(&w, Qt::Key_F, Qt::AltModifier);
    QTRY_COMPARE(code.count(), 1);
    installInputBoxAnswerer({});
}

QTEST_MAIN(TestFrmProgFlash)
#include "test_frmprogflash.moc"
