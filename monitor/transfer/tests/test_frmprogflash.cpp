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

#include <QRadioButton>

#include "core/controls.h"
#include "core/globals.h"
#include "firmwarefiles.h"
#include "harness/harness.h"
#include "transfer/frmFlashSelect.h"
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
    void baudButtonStepsThroughTheRates();
    void supportCodeAddsTheQ600Entry();
    void errMessageTakesTheTextBeforeAControlCharacter();
    void selectionListsTheFilesVariants();
    void selectionWithoutVariantsConfirms();
    void selectionThatCannotReadTheFileUnloadsItself();
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

void TestFrmProgFlash::baudButtonStepsThroughTheRates() {
    MonitorTestEnv env;
    frmProgFlash &w = form<frmProgFlash>();
    w.setLogText(QStringLiteral("older text"));
    const struct {
        int32_t rate;
        uint8_t code;
    } steps[] = {{9600, 9}, {19200, 1}, {38400, 3}};
    for (const auto &step : steps) {
        w.Command1->click();
        QCOMPARE(w.FlashBaudRate, step.rate);
        QCOMPARE(w.BaudCode, step.code);
        QCOMPARE(w.BaudCodeChar, int16_t('0' + step.code));
        QCOMPARE(w.logText(), QStringLiteral("Firmware Update Baud Rate: ") + QString::number(step.rate));
    }
    QCOMPARE(w.Text1->toPlainText(), QStringLiteral("Firmware Update Baud Rate: 38400"));
}

void TestFrmProgFlash::supportCodeAddsTheQ600Entry() {
    MonitorTestEnv env;
    frmProgFlash &w = form<frmProgFlash>();
    Q600Support = false;
    QStringList prompts;
    QString answer;
    installInputBoxAnswerer([&](const QString &prompt) {
        prompts << prompt;
        return answer;
    });
    for (const QString &wrong : {QString(), QStringLiteral("6170 "), QStringLiteral("617")}) {
        answer = wrong;
        w.Command2->click();
        QCOMPARE(entries(w.Combo1), Modules);
        QVERIFY(!Q600Support);
    }
    answer = QStringLiteral("6170");
    w.Command2->click();
    QVERIFY(Q600Support);
    QCOMPARE(entries(w.Combo1), Modules + QStringList{Modules[2]});
    QCOMPARE(prompts, QStringList(4, QStringLiteral("Enter Support Code")));
    // From now on the button does nothing.
    w.Command2->click();
    QCOMPARE(prompts.size(), 4);
    QCOMPARE(w.Combo1->count(), 4);
    installInputBoxAnswerer({});
    Q600Support = false;
}

void TestFrmProgFlash::errMessageTakesTheTextBeforeAControlCharacter() {
    QCOMPARE(frmProgFlash::ErrMessage(QStringLiteral("no control")), QString());
    QCOMPARE(frmProgFlash::ErrMessage(QStringLiteral("\nabc")), QString());
    QCOMPARE(frmProgFlash::ErrMessage(QString::fromLatin1("abc\0more\0", 9)), QStringLiteral("abc"));
    QCOMPARE(frmProgFlash::ErrMessage(QStringLiteral("Timed out\r\n")), QStringLiteral("Timed out"));
}

namespace {
QStringList shownOptions(frmFlashSelect &s) {
    QStringList out;
    for (QRadioButton *o : s.Option1) out << (o->isHidden() ? QStringLiteral("-") : o->text());
    return out;
}

// The firmware window with a compressed CPU file open that lists variants.
frmProgFlash &withVariantFile(const MonitorTestEnv &env, const QStringList &head) {
    frmProgFlash &w = form<frmProgFlash>();
    w.FileMode = 1;
    w.ModuleType = 0;
    FirmwareFilePath = firmware::writeFile(env.dir() + QStringLiteral("/Q40.csr"),
                                           firmware::compress(firmware::crlfText(head + QStringList{"S9030000FC"})));
    if (!w.OpenFile(FirmwareFilePath)) qFatal("cannot open the test file");
    return w;
}
}  // namespace

void TestFrmProgFlash::selectionListsTheFilesVariants() {
    MonitorTestEnv env;
    frmProgFlash &w = withVariantFile(env, {"Variants 2", "Q42R L100", "xx Q44R L200"});
    w.SelectedModel = 0;
    frmFlashSelect &s = form<frmFlashSelect>();
    QCOMPARE(s.Caption(), QStringLiteral("Select Model to Download"));
    QCOMPARE(s.Label1->text(),
             QStringLiteral("Failed to put programming mode.  Controller response indicates the controller may already "
                            "be in programming mode and the module type cannot be identified.  This may happen if the "
                            "previous download was from a corrupt or invalid firmware file or the download was "
                            "interrupted.\r\n\r\nSelect the module type to download to from the available options in "
                            "the selected file.  Selecting an incorrect firmware file can corrupt the module, requiring "
                            "factory reprogramming.\r\n\r\nCYCLE CONTROLLER POWER BEFORE CONTINUING"));
    QCOMPARE(shownOptions(s), (QStringList{"Q42 CPU Module", "Q44 CPU Module", "-", "-"}));
    QCOMPARE(s.control<QRadioButton>(QStringLiteral("Option1(1)")), s.Option1[1]);
    QCOMPARE(screenMousePointer(), PointerDefault);
    s.Option1[1]->click();
    s.Command1->click();
    QVERIFY(!s.loaded());
    QVERIFY(w.SelectionOK);
    QCOMPARE(w.SelectedModel, int16_t(16));
    QCOMPARE(screenMousePointer(), PointerHourglass);

    // OK with nothing chosen counts as Cancel; an unknown tag hides its option.
    withVariantFile(env, {"2", "Q42R", "Q77R"});
    form<frmFlashSelect>();
    QCOMPARE(shownOptions(s), (QStringList{"Q42 CPU Module", "-", "-", "-"}));
    QVERIFY(!s.Option1[0]->isChecked());
    s.Command1->click();
    QVERIFY(!w.SelectionOK);
    QCOMPARE(w.SelectedModel, int16_t(16));

    // More variants than options: the first four.
    withVariantFile(env, {"6", "Q41R", "Q42R", "Q43R", "Q44R", "Q41R", "Q42R"});
    form<frmFlashSelect>();
    QCOMPARE(shownOptions(s), (QStringList{"Q41 CPU Module", "Q42 CPU Module", "Q43 CPU Module", "Q44 CPU Module"}));
    s.Option1[2]->click();
    s.Command2->click();
    QVERIFY(!w.SelectionOK);
    QCOMPARE(w.SelectedModel, int16_t(16));
    setScreenMousePointer(PointerDefault);
}

void TestFrmProgFlash::selectionWithoutVariantsConfirms() {
    MonitorTestEnv env;
    frmProgFlash &w = withVariantFile(env, {"2", "Q42R", "Q44R"});
    w.SelectedModel = 12;
    // The communication module: no options, OK confirms.
    w.ModuleType = 1;
    frmFlashSelect &s = form<frmFlashSelect>();
    QCOMPARE(shownOptions(s), (QStringList{"-", "-", "-", "-"}));
    s.Command1->click();
    QVERIFY(w.SelectionOK);
    QCOMPARE(w.SelectedModel, int16_t(12));

    // A plain file: the same.
    w.FileMode = 0;
    w.ModuleType = 0;
    FirmwareFilePath = firmware::writeFile(env.dir() + QStringLiteral("/Q40.sr"), "3\r\nQ41R\r\n");
    QVERIFY(w.OpenFile(FirmwareFilePath));
    form<frmFlashSelect>();
    QCOMPARE(shownOptions(s), (QStringList{"-", "-", "-", "-"}));
    s.Command2->click();
    QVERIFY(!w.SelectionOK);
    setScreenMousePointer(PointerDefault);
}

void TestFrmProgFlash::selectionThatCannotReadTheFileUnloadsItself() {
    MonitorTestEnv env;
    frmProgFlash &w = form<frmProgFlash>();
    frmFlashSelect &s = FormRegistry::object<frmFlashSelect>();
    // An empty plain file has no first line: the answer stays as it was.
    w.FileMode = 0;
    FirmwareFilePath = firmware::writeFile(env.dir() + QStringLiteral("/Q40.sr"), QByteArray());
    QVERIFY(w.OpenFile(FirmwareFilePath));
    for (bool before : {true, false}) {
        w.SelectionOK = before;
        s.Load();
        QVERIFY(!s.loaded());
        QCOMPARE(w.SelectionOK, before);
    }
    // Variant lines that end before the count announced: unloaded, and with
    // no variant chosen the answer is no.
    withVariantFile(env, {"4", "Q42R"});
    w.SelectionOK = true;
    s.Load();
    QVERIFY(!s.loaded());
    QVERIFY(!w.SelectionOK);
    // Nor can it rewind a file that is gone.
    FirmwareFilePath = env.dir() + QStringLiteral("/gone.csr");
    s.Load();
    QVERIFY(!formLoaded<frmFlashSelect>());
    setScreenMousePointer(PointerDefault);
}

QTEST_MAIN(TestFrmProgFlash)
#include "test_frmprogflash.moc"
