// The forms layer: window lifecycle, twips, control names, timers, focus,
// boxes and dialogs, box numbers and the scripted event pump.
#include <QCloseEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QtTest/QTest>

#include "core/eventpump.h"
#include "core/forms.h"
#include "core/runtime_error.h"
#include "core/basics.h"
#include "core/controls.h"
#include "harness/harness.h"

namespace {
class frmProbe : public Form {
public:
    frmProbe() : Form(QStringLiteral("frmProbe")) {}
    int builds = 0, loads = 0, unloads = 0;
    int cancelUnload = 0;

protected:
    void buildControls() override {
        ++builds;
        for (int i = 0; i < 4; ++i) named(new QLineEdit(this), QStringLiteral("Text1"), i);
    }
    void Form_Load() override { ++loads; }
    void Form_Unload(int &cancel) override {
        ++unloads;
        cancel = cancelUnload;
    }
};
}  // namespace

class TestForms : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void touchingLoadsHiddenOnce();
    void unloadHidesAndKeepsTheObject();
    void closeBoxUnloads();
    void enterAndEscDoNotClose();
    void geometryWrittenBackUnchanged();
    void timerRules();
    void focusLostElsewhereIsIgnored();
    void boxesAndDialogsGoThroughTheResponder();
    void boxNumbers();
    void scriptedPump();
    void keyEvents();
};

void TestForms::touchingLoadsHiddenOnce() {
    MonitorTestEnv env;
    QVERIFY(!formLoaded<frmProbe>());
    QVERIFY(FormRegistry::existing<frmProbe>() == nullptr);
    frmProbe &f = form<frmProbe>();
    QVERIFY(f.loaded());
    QVERIFY(!f.isVisible());
    QCOMPARE(f.loads, 1);
    f.setCaption(QStringLiteral("Probe"));
    QCOMPARE(form<frmProbe>().loads, 1);
    QCOMPARE(f.control<QLineEdit>(QStringLiteral("Text1"), 3)->objectName(), QStringLiteral("Text1(3)"));
    QCOMPARE(f.control<QLineEdit>(QStringLiteral("Text1(3)"))->property("Index").toInt(), 3);
    QVERIFY(f.control(QStringLiteral("Text1(4)")) == nullptr);
    QCOMPARE(FormRegistry::find(QStringLiteral("FRMPROBE")), &f);
}

void TestForms::unloadHidesAndKeepsTheObject() {
    MonitorTestEnv env;
    frmProbe &f = form<frmProbe>();
    f.Show();
    QVERIFY(f.isVisible());
    f.cancelUnload = 1;
    QVERIFY(!unloadForm<frmProbe>());
    QVERIFY(f.loaded() && f.isVisible());
    f.cancelUnload = 0;
    QVERIFY(unloadForm<frmProbe>());
    QVERIFY(!f.loaded());
    QVERIFY(!f.isVisible());
    QCOMPARE(f.unloads, 2);
    QVERIFY(unloadForm<frmProbe>());  // not loaded: nothing runs
    QCOMPARE(f.unloads, 2);
    // Touching it again loads the same object; its controls are built once.
    QCOMPARE(f.Caption(), QString());
    QCOMPARE(&form<frmProbe>(), &f);
    QCOMPARE(f.loads, 2);
    QCOMPARE(f.builds, 1);
}

void TestForms::closeBoxUnloads() {
    MonitorTestEnv env;
    frmProbe &f = form<frmProbe>();
    f.Show();
    f.cancelUnload = 1;
    QVERIFY(!f.close());
    QVERIFY(f.loaded());
    f.cancelUnload = 0;
    QVERIFY(f.close());
    QVERIFY(!f.loaded());
    QCOMPARE(f.unloads, 2);
}

void TestForms::enterAndEscDoNotClose() {
    MonitorTestEnv env;
    frmProbe &f = form<frmProbe>();
    f.Show();
    QTest::keyClick(&f, Qt::Key_Escape);
    QTest::keyClick(&f, Qt::Key_Return);
    QTest::keyClick(f.control<QLineEdit>(QStringLiteral("Text1(0)")), Qt::Key_Escape);
    QVERIFY(f.isVisible());
    QVERIFY(f.loaded());
}

void TestForms::geometryWrittenBackUnchanged() {
    MonitorTestEnv env;
    frmProbe &f = form<frmProbe>();
    f.Move(1236, 1008, 11000, 8000);  // none of them whole pixels
    f.Show();
    QCOMPARE(f.Top(), 1008);
    QCOMPARE(f.Left(), 1236);
    QCOMPARE(f.Width(), 11000);
    QCOMPARE(f.Height(), 8000);
    f.move(f.pos() + QPoint(10, 0));
    QCOMPARE(f.Left(), f.pos().x() * TwipsPerPixel);
    QCOMPARE(f.Top(), 1008);
    f.resize(400, 300);
    QCOMPARE(f.Width(), 6000);
    QCOMPARE(f.Height(), 4500);
    QCOMPARE(f.WindowState(), int(wsNormal));
}

void TestForms::timerRules() {
    MonitorTestEnv env;
    QObject owner;
    FormTimer t(&owner, QStringLiteral("Timer1"), 0, true);
    QCOMPARE(t.objectName(), QStringLiteral("Timer1"));
    QVERIFY(t.Enabled());
    QVERIFY(!t.isTicking());  // interval 0 never ticks
    // Of two timers with one interval, the one whose countdown began first
    // ticks first, however late the ticks come: the order of the first ticks
    // tells which countdown a call began again.
    FormTimer other(&owner, QStringLiteral("Timer2"), 0, true);
    QStringList order;
    QObject::connect(&t, &FormTimer::Timer, [&] { order << QStringLiteral("t"); });
    QObject::connect(&other, &FormTimer::Timer, [&] { order << QStringLiteral("other"); });
    const auto firstTick = [&] {
        if (!QTest::qWaitFor([&] { return order.contains(QStringLiteral("t")) && order.contains(QStringLiteral("other")); },
                             10000))
            return QString();
        return order.first();
    };
    t.setInterval(50);
    QVERIFY(t.isTicking());
    other.setInterval(50);
    t.setEnabled(true);  // already enabled: the countdown goes on
    QCOMPARE(firstTick(), QStringLiteral("t"));
    t.setEnabled(false);
    other.setEnabled(false);
    order.clear();
    t.setEnabled(true);
    other.setEnabled(true);
    t.setInterval(50);  // setting the interval begins the countdown again
    QCOMPARE(firstTick(), QStringLiteral("other"));
    t.setEnabled(false);
    QVERIFY(!t.isTicking());
    t.setInterval(10);
    QVERIFY(!t.isTicking());
    QVERIFY_THROWS_EXCEPTION(RuntimeError, t.setInterval(-1));
}

void TestForms::focusLostElsewhereIsIgnored() {
    MonitorTestEnv env;
    frmProbe &f = form<frmProbe>();
    auto *box = f.control<QLineEdit>(QStringLiteral("Text1(0)"));
    int lost = 0;
    onLostFocus(box, [&] { ++lost; });
    for (auto reason : {Qt::PopupFocusReason, Qt::ActiveWindowFocusReason, Qt::MenuBarFocusReason}) {
        QFocusEvent e(QEvent::FocusOut, reason);
        QCoreApplication::sendEvent(box, &e);
    }
    QCOMPARE(lost, 0);
    QFocusEvent tab(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(box, &tab);
    QCOMPARE(lost, 1);
}

void TestForms::boxesAndDialogsGoThroughTheResponder() {
    MonitorTestEnv env;
    env.responder.expectBox(QStringLiteral("Proceed?"), mbNo);
    QCOMPARE(MsgBox(QStringLiteral("Proceed?"), mbYesNo + mbQuestion + mbDefaultButton2), int(mbNo));
    const MsgBoxCall &c = env.responder.boxes().front();
    QCOMPARE(c.buttons, int(mbYesNo));
    QCOMPARE(c.icon, int(mbQuestion));
    QCOMPARE(c.title, QStringLiteral("ORV Monitor"));

    CommonDialog dlg;
    dlg.Filter = QStringLiteral("Text Files(*.TXT)|*.TXT|All Files(*.*)|*.*");
    dlg.FileName = QStringLiteral("last.txt");
    env.responder.expectFile(std::nullopt);
    QVERIFY(!dlg.ShowOpen());
    QVERIFY(dlg.cancelled());
    QCOMPARE(dlg.FileName, QStringLiteral("last.txt"));  // a cancel keeps the name
    QCOMPARE(env.responder.files().front().fileName, QStringLiteral("last.txt"));
    env.responder.expectFile(QString());
    QVERIFY(dlg.ShowSave());
    QVERIFY(!dlg.cancelled());
    QCOMPARE(dlg.FileName, QString());  // an empty name is not a cancel
    dlg.CancelError = true;
    env.responder.expectFile(std::nullopt);
    QVERIFY_THROWS_EXCEPTION(RuntimeError, dlg.ShowOpen());
    QVERIFY(env.responder.done());
    QCOMPARE(qtNameFilters(dlg.Filter), (QStringList{QStringLiteral("Text Files (*.TXT)"),
                                                     QStringLiteral("All Files (*.*)")}));
}

void TestForms::boxNumbers() {
    QCOMPARE(leadingNumber(QStringLiteral("12abc")), 12.0);
    QCOMPARE(leadingNumber(QString()), 0.0);
    QCOMPARE(leadingNumber(QStringLiteral("abc")), 0.0);
    QCOMPARE(leadingNumber(QStringLiteral(" 1 2\t3")), 123.0);
    QCOMPARE(leadingNumber(QStringLiteral("-4.5e1x")), -45.0);
    QCOMPARE(leadingNumber(QStringLiteral("1e")), 1.0);
    QCOMPARE(leadingNumber(QStringLiteral("&HFF")), 255.0);
    QCOMPARE(leadingNumber(QStringLiteral("&HFFFF")), -1.0);
    QCOMPARE(leadingNumber(QStringLiteral("&H10000")), 65536.0);
    QCOMPARE(leadingNumber(QStringLiteral("&O17")), 15.0);
    QCOMPARE(leadingNumber(QStringLiteral("-")), 0.0);
    QCOMPARE(*tryBoxNumber(QStringLiteral("2.5"), BoxBits::Bits16), 2);
    QCOMPARE(*tryBoxNumber(QStringLiteral("3.5"), BoxBits::Bits16), 4);
    QCOMPARE(*tryBoxNumber(QStringLiteral("-2.5"), BoxBits::Bits32), -2);
    QCOMPARE(*tryBoxNumber(QStringLiteral("32767.4"), BoxBits::Bits16), 32767);
    QVERIFY(!tryBoxNumber(QStringLiteral("32767.5"), BoxBits::Bits16));  // rounds to 32768
    QCOMPARE(*tryBoxNumber(QStringLiteral("-2147483648"), BoxBits::Bits32), INT32_MIN);
    QVERIFY(!tryBoxNumber(QStringLiteral("2147483648"), BoxBits::Bits32));
    QCOMPARE(boxNumber(QStringLiteral("x"), BoxBits::Bits32), 0);
    try {
        boxNumber(QStringLiteral("1e10"), BoxBits::Bits32);
        QFAIL("no overflow");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), 6);
        QCOMPARE(e.description(), QStringLiteral("Overflow"));
    }
    QCOMPARE(numberWithBlank(17), QStringLiteral(" 17"));
    QCOMPARE(numberWithBlank(-3), QStringLiteral("-3"));
}

void TestForms::scriptedPump() {
    MonitorTestEnv env;
    ScriptedPump pump(false);
    installEventPump(&pump);
    QStringList log;
    pump.at(2, [&] { log << QStringLiteral("second"); });
    bool realEventRan = false;
    QTimer::singleShot(0, [&] { realEventRan = true; });
    for (int i = 0; i < 3; ++i) {
        DoEvents();
        log << QString::number(i);
    }
    QCOMPARE(log, (QStringList{QStringLiteral("0"), QStringLiteral("second"), QStringLiteral("1"),
                               QStringLiteral("2")}));
    QCOMPARE(pump.yields(), 3);
    QVERIFY(!realEventRan);  // this pump lets no real event through
    installEventPump(nullptr);
    DoEvents();
    QVERIFY(realEventRan);
}

void TestForms::keyEvents() {
    MonitorTestEnv env;
    QLineEdit box;
    QStringList log;
    onKeyDown(&box, [&](int &code, int shift) {
        log << QStringLiteral("down %1/%2").arg(code).arg(shift);
        if (code == KeyCodes::Delete) code = 0;
    });
    onKeyPress(&box, [&](int &ascii) {
        log << QStringLiteral("press %1").arg(ascii);
        if (ascii == 13) ascii = 0;                 // swallowed
        else if (ascii == 'a') ascii = 'B';         // typed as another character
    });
    QTest::keyClicks(&box, QStringLiteral("xa"));
    QCOMPARE(box.text(), QStringLiteral("xB"));
    QTest::keyClick(&box, Qt::Key_Return);
    QTest::keyClick(&box, Qt::Key_Delete);
    QTest::keyClick(&box, Qt::Key_Home);
    QTest::keyClick(&box, Qt::Key_Delete);  // swallowed: the text stays
    QCOMPARE(box.text(), QStringLiteral("xB"));
    QCOMPARE(log, (QStringList{QStringLiteral("down 88/0"), QStringLiteral("press 120"), QStringLiteral("down 65/0"),
                               QStringLiteral("press 97"), QStringLiteral("down 13/0"), QStringLiteral("press 13"),
                               QStringLiteral("down 46/0"), QStringLiteral("down 36/0"), QStringLiteral("down 46/0")}));

    SSCommand button(QStringLiteral("Clear"));
    button.setForeColor(ColourRed);
    QCOMPARE(button.palette().color(QPalette::ButtonText), QColor(255, 0, 0));
    button.setForeColor(ColourDarkGreen);
    QCOMPARE(button.palette().color(QPalette::ButtonText), QColor(0, 128, 0));
}

QTEST_MAIN(TestForms)
#include "test_forms.moc"
