// The other resource windows as they load and unload: captions, open flags,
// settings with the section or a value missing, the first fill of their rows
// ("Not Present" past the controller's counts), paging through the GoTo box,
// the register bits rows and the custom windows' kinds.
#include <QtTest/QTest>

#include "windows/frames.h"
#include "windows_fixture.h"

using namespace windows_test;

namespace {
QStringList texts(const std::array<QLabel *, 16> &labels) {
    QStringList out;
    for (QLabel *l : labels) out << l->text();
    return out;
}
QStringList texts(const std::array<QLineEdit *, 16> &boxes) {
    QStringList out;
    for (QLineEdit *b : boxes) out << b->text();
    return out;
}
QStringList names(const QString &pattern, int first, int last, int notPresentFrom = 1 << 30) {
    QStringList out;
    for (int n = first; n <= last; ++n) out << (n >= notPresentFrom ? QStringLiteral("Not Present") : pattern.arg(n));
    return out;
}
QStringList repeated(const QString &text, int count) {
    QStringList out;
    for (int i = 0; i < count; ++i) out << text;
    return out;
}
}  // namespace

class TestFrames : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { noSerialLine(); }
    void init() { resetGlobals(); }

    void loadingIsNotOpening() {
        MonitorTestEnv env;
        frmMain &m = quietMain();
        bool *flags[] = {&FlagWindowOpen, &DigInWindowOpen, &DigOutWindowOpen, &AnalInWindowOpen, &AnalOutWindowOpen,
                         &RegWindowOpen,  &RamWindowOpen,   &ServoWindowOpen,  &StatusPollOn,     &Custom1WindowOpen,
                         &Custom2WindowOpen, &RegbitsWindowOpen, &Custom1Loaded, &Custom2Loaded};
        for (bool *f : flags) *f = false;
        form<frmFlag>();
        form<frmDigIn>();
        form<frmDigOut>();
        form<frmAnalIn>();
        form<frmAnalOut>();
        form<frmReg>();
        form<frmRam>();
        form<frmServo>();
        form<frmServo2>();
        form<frmStatus>();
        QCOMPARE(form<frmAnalIn>().Caption(), QStringLiteral("ORV Analog Inputs"));
        QCOMPARE(form<frmDigOut>().Caption(), QStringLiteral("ORV Digital Outputs"));
        QCOMPARE(form<frmServo2>().Caption(), QStringLiteral("Motors 17-32"));
        for (bool *f : flags) QVERIFY(!*f);
        QCOMPARE(form<frmAnalOut>().property("LinkTopic").toString(), QStringLiteral("ORVaout"));
        QCOMPARE(form<frmStatus>().property("LinkTopic").toString(), QStringLiteral("Form1"));
        // The bits and custom windows mark themselves in their loads.
        form<frmRegbits>();
        QVERIFY(RegbitsWindowOpen);
        QCOMPARE(form<frmRegbits>().Caption(), QStringLiteral("ORV Registers (Bits)"));
        form<frmCustom2>();
        QVERIFY(Custom2Loaded);
        QVERIFY(!Custom1Loaded);
        QCOMPARE(form<frmCustom2>().Caption(), QStringLiteral("Custom Resource Form 2"));

        // Each unload clears its flag and says so in the status line.
        struct Closing {
            Form *window;
            bool *flag;
            QString message;
        };
        const QList<Closing> closing{
            {&form<frmFlag>(), &FlagWindowOpen, QStringLiteral("Flag Form unloaded.")},
            {&form<frmDigIn>(), &DigInWindowOpen, QStringLiteral("Digital Input Form unloaded.")},
            {&form<frmDigOut>(), &DigOutWindowOpen, QStringLiteral("Digital Output Form unloaded.")},
            {&form<frmAnalIn>(), &AnalInWindowOpen, QStringLiteral("Analog Input Form unloaded.")},
            {&form<frmAnalOut>(), &AnalOutWindowOpen, QStringLiteral("Analog Output Form unloaded.")},
            {&form<frmRam>(), &RamWindowOpen, QStringLiteral("NVRegisters Form unloaded.")},
            {&form<frmServo>(), &ServoWindowOpen, QStringLiteral("Servo Form unloaded.")},
            {&form<frmStatus>(), &StatusPollOn, QStringLiteral("Status Form unloaded.")},
            {&form<frmCustom2>(), &Custom2WindowOpen, QStringLiteral("Custom Resource Form unloaded.")},
            {&form<frmRegbits>(), &RegbitsWindowOpen, QStringLiteral("Register Form unloaded.")},
        };
        // The custom window asks about its unsaved configuration.
        env.responder.expectBox(QStringLiteral("Save Changes to Custom Form 2?"), mbNo);
        for (const Closing &c : closing) {
            *c.flag = true;
            QVERIFY(c.window->Unload());
            QVERIFY2(!*c.flag, qPrintable(c.window->objectName()));
            QCOMPARE(m.Message->text(), c.message);
        }
        QVERIFY(!Custom2Loaded);
        // The second servo window leaves the serving alone.
        ServoWindowOpen = true;
        m.Message->clear();
        QVERIFY(form<frmServo2>().Unload());
        QVERIFY(ServoWindowOpen);
        QCOMPARE(m.Message->text(), QString());
    }

    void settingsSections() {
        MonitorTestEnv env;
        // Status: no section at all, then a section with only "Top".
        writeSettings(env.settingsFile(), QStringLiteral("[Main]\n[Servo]\ndword \"Top\" 2000\ndword \"Left\" 3000\n"));
        quietMain();
        frmStatus &s = form<frmStatus>();
        QCOMPARE(s.Height(), 8000);
        QCOMPARE(s.Width(), 14000);
        QCOMPARE(s.Left(), 1632);
        QCOMPARE(s.Top(), 2004);
        env.responder.expectBox(QStringLiteral("Cannot WRITE Status settings to Registry !"));
        QVERIFY(s.Unload());
        QVERIFY(env.responder.done());
        writeSettings(env.settingsFile(), QStringLiteral("[Status]\ndword \"Top\" 3000\n[Servo]\ndword \"Top\" 2000\n"
                                                         "dword \"Left\" 3000\n[Digin]\n[Analout]\n[Custom1]\n"));
        s.Load();
        QCOMPARE(s.Top(), 3000);
        QCOMPARE(s.Height(), 4800);
        QCOMPARE(s.Left(), 1632);
        QCOMPARE(s.Width(), 6000);
        s.setWidth(7000);
        QVERIFY(s.Unload());
        s.Load();
        QCOMPARE(s.Width(), 7000);
        QCOMPARE(s.Top(), 3000);

        // The second servo window opens offset from the first one's place.
        QCOMPARE(form<frmServo>().Top(), 2000);
        QCOMPARE(form<frmServo2>().Top(), 1600);
        QCOMPARE(form<frmServo2>().Left(), 2800);
        QCOMPARE(form<frmServo2>().Height(), 4776);

        // Minimized or maximized windows store their fixed geometry.
        struct Fixed {
            ResourceWindow *window;
            Geometry stored;
        };
        const QList<Fixed> fixed{{&form<frmStatus>(), {2004, 1632, 4464, 5148}},
                                 {&form<frmDigIn>(), {1272, 3168, 4932, 3600}},
                                 {&form<frmAnalOut>(), {1200, 924, 4956, 3828}},
                                 {&form<frmCustom1>(), {2064, 2940, 4656, 4416}}};
        env.responder.expectBox(QStringLiteral("Save Changes to Custom Form 1?"), mbNo);
        for (const Fixed &f : fixed) {
            f.window->Show();
            f.window->showMinimized();
            QVERIFY(f.window->Unload());
            f.window->showNormal();
            f.window->hide();
            f.window->Load();
            QCOMPARE(f.window->Top(), f.stored.top);
            QCOMPARE(f.window->Left(), f.stored.left);
            QCOMPARE(f.window->Height(), f.stored.height);
            QCOMPARE(f.window->Width(), f.stored.width);
        }
    }

    void analogFirstFillAndPaging() {
        MonitorTestEnv env;
        quietMain();
        NumAnalogInputs = 8;
        frmAnalIn &w = form<frmAnalIn>();
        QCOMPARE(texts(w.Label1), names(QStringLiteral("ain_%1"), 1, 16, 9));
        QCOMPARE(texts(w.Text1), repeated(QString(), 8) + repeated(QStringLiteral("N/A"), 8));
        QCOMPARE(w.Label3->text(), QStringLiteral("GoTo :"));
        QCOMPARE(w.VScroll1->maximum(), 241);
        QCOMPARE(w.VScroll1->pageStep(), 4);
        w.VScroll1->setValue(2);
        w.VScroll1->setValue(1);
        QCOMPARE(texts(w.Label1), names(QStringLiteral("ain_%1"), 1, 16));
        typeEnter(w.Text2, QStringLiteral("300"));
        QCOMPARE(w.Text2->text(), QStringLiteral("241"));
        QCOMPARE(texts(w.Label1), names(QStringLiteral("ain_%1"), 241, 256));
        QCOMPARE(w.Label2[15]->text(), QStringLiteral("256"));

        // A symbol name stands even past the count.
        SymbolFilePath = QStringLiteral("plant.SYM");
        SymAnalogOutputs.open({{QStringLiteral("4"), 12, 0, QStringLiteral("Valve")}});
        NumAnalogOutputs = 4;
        frmAnalOut &out = form<frmAnalOut>();
        QCOMPARE(out.Label1[11]->text(), QStringLiteral("Valve"));
        QCOMPARE(out.Label1[10]->text(), QStringLiteral("Not Present"));
        QCOMPARE(out.Label1[3]->text(), QStringLiteral("aout_4"));
        // The output window's GoTo entry runs on the value boxes' edit flag.
        QTest::keyClicks(out.Text2, QStringLiteral("17"));
        QVERIFY(AnalOutEditInProgress);
        QTest::keyClick(out.Text2, Qt::Key_Return);
        QVERIFY(!AnalOutEditInProgress);
        QCOMPARE(out.Label2[2]->text(), QStringLiteral("19"));
    }

    void digitalAndFlagFirstFill() {
        MonitorTestEnv env;
        quietMain();
        // Before the first poll no point's state is known: a button and the
        // name (which names the state) show "*", in no state's colour.
        NumDigitalOutputs = 8;
        frmDigOut &out = form<frmDigOut>();
        QCOMPARE(texts(out.Label1), names(QStringLiteral("*"), 1, 16, 9));
        for (SSCommand *b : out.SSCommand1) {
            QCOMPARE(b->Caption(), QStringLiteral("*"));
            QCOMPARE(b->ForeColor(), ColourNoValue);
            QCOMPARE(b->Font3D(), int(Font3DNone));
        }
        QCOMPARE(out.VScroll1->maximum(), 985);
        // Scrolling leaves the output window's GoTo box as it was; the new
        // page waits for its poll.
        out.SSCommand1[0]->setCaption(QStringLiteral("On"));
        out.VScroll1->setValue(17);
        QCOMPARE(out.Text1->text(), QStringLiteral("1"));
        QCOMPARE(out.Label1[0]->text(), QStringLiteral("*"));
        QCOMPARE(out.SSCommand1[0]->Caption(), QStringLiteral("*"));
        typeEnter(out.Text1, QStringLiteral("2000"));
        QCOMPARE(out.Text1->text(), QStringLiteral("985"));
        QCOMPARE(out.Label2[15]->text(), QStringLiteral("1000"));

        NumDigitalInputs = 4;
        SymbolFilePath = QStringLiteral("plant.SYM");
        SymDigitalInputs.open({{QStringLiteral("128"), 2, 1, QStringLiteral("DoorOpen")},
                               {QStringLiteral("128"), 2, 0, QStringLiteral("DoorShut")},
                               {QStringLiteral("128"), 3, 1, QStringLiteral("LampOff")}});
        frmDigIn &in = form<frmDigIn>();
        // A point past the count that the symbol file does not name is not
        // there; the others wait for their first poll.
        QCOMPARE(in.Label1[1]->text(), QStringLiteral("*"));
        QCOMPARE(in.Label1[2]->text(), QStringLiteral("*"));
        QCOMPARE(in.Label1[4]->text(), QStringLiteral("Not Present"));
        QCOMPARE(in.SSPanel1[0]->Caption(), QStringLiteral("*"));
        QCOMPARE(in.SSPanel1[0]->ForeColor(), ColourNoValue);
        in.VScroll1->setValue(2);
        in.VScroll1->setValue(1);
        QCOMPARE(texts(in.Label1), names(QStringLiteral("*"), 1, 16));
        QCOMPARE(in.Text1->text(), QStringLiteral("1"));
        typeEnter(in.Text1);  // an empty entry goes to the first page
        QCOMPARE(in.Text1->text(), QStringLiteral("1"));

        SymbolFilePath.clear();
        NumFlags = 40;
        frmFlag &flags = form<frmFlag>();
        QCOMPARE(flags.VScroll1->maximum(), 25);
        QCOMPARE(texts(flags.Label1), names(QStringLiteral("flag_%1"), 1, 16));
        QCOMPARE(flags.SSCommand1[0]->Caption(), QStringLiteral("*"));
        QCOMPARE(flags.SSCommand1[0]->ForeColor(), ColourNoValue);
        typeEnter(flags.Text1, QStringLiteral("999"));
        QCOMPARE(flags.Text1->text(), QStringLiteral("25"));
        QCOMPARE(flags.Label1[15]->text(), QStringLiteral("flag_40"));
        QVERIFY(!FlagGoToEditing);
        flags.Unload();
        NumFlags = 8;
        flags.Load();
        QCOMPARE(flags.VScroll1->maximum(), 1);
        QCOMPARE(flags.VScroll1->value(), 1);
        QCOMPARE(texts(flags.Label1), names(QStringLiteral("flag_%1"), 1, 16, 9));
    }

    void servoRows() {
        MonitorTestEnv env;
        quietMain();
        NumServos = 4;
        frmServo &s = form<frmServo>();
        QCOMPARE(texts(s.Label4), names(QStringLiteral("motor/servo_%1"), 1, 16, 5));
        QCOMPARE(texts(s.Text1), repeated(QString(), 4) + repeated(QStringLiteral("N/A"), 12));
        QCOMPARE(texts(s.Text2), texts(s.Text1));
        QCOMPARE(texts(form<frmServo2>().Label4), repeated(QStringLiteral("Not Present"), 16));
        QVERIFY(s.Unload());
        // With a symbol file: a name leaves the boxes, no name empties them.
        NumServos = 20;
        SymbolFilePath = QStringLiteral("plant.SYM");
        SymServos.open({{QStringLiteral("2048"), 18, 0, QStringLiteral("Lift")}});
        frmServo2 &s2 = form<frmServo2>();
        QVERIFY(s2.Unload());
        s2.Text1[1]->setText(QStringLiteral("500"));
        s2.Text1[2]->setText(QStringLiteral("600"));
        s2.Load();
        QCOMPARE(s2.Label4[1]->text(), QStringLiteral("Lift"));
        QCOMPARE(s2.Text1[1]->text(), QStringLiteral("500"));
        QCOMPARE(s2.Label4[2]->text(), QStringLiteral("servo_19"));
        QCOMPARE(s2.Text1[2]->text(), QString());
        QCOMPARE(s2.Label4[4]->text(), QStringLiteral("Not Present"));
    }

    void registerBitsRows() {
        MonitorTestEnv env;
        quietMain();
        frmRegbits &b = form<frmRegbits>();
        QCOMPARE(b.VScroll1->maximum(), 31985);  // from scratch: up to 32000
        QVERIFY(b.Option1->isChecked());
        QCOMPARE(b.Timer1->Interval(), 1);
        auto bitsOf = [&](int row) {
            uint32_t v = 0;
            for (int k = 0; k < 32; ++k)
                if (b.Bit1[32 * row + k]->isChecked()) v |= 1u << k;
            return v;
        };
        b.Text1[3]->setText(QStringLiteral("5"));
        QCOMPARE(bitsOf(3), 5u);
        QCOMPARE(RegbitsValues[3], 5.0);
        b.Text1[3]->setText(QStringLiteral("2147483648"));
        QCOMPARE(b.Text1[3]->text(), QStringLiteral("-2147483648"));
        QCOMPARE(bitsOf(3), 0x80000000u);
        b.Text1[3]->setText(QStringLiteral("-1"));
        QCOMPARE(bitsOf(3), 0xFFFFFFFFu);
        b.Text1[3]->setText(QStringLiteral("3000000000"));
        QCOMPARE(b.Text1[3]->text(), QStringLiteral("0"));
        QCOMPARE(bitsOf(3), 0u);
        QVERIFY(!RegbitsUpdating);
        // While a click waits to be written the boxes keep the clicked bits.
        RegbitsWritePending = true;
        b.Text1[3]->setText(QStringLiteral("7"));
        QCOMPARE(bitsOf(3), 0u);
        // Closing the window drops the waiting write.
        QVERIFY(b.Unload());
        QVERIFY(!RegbitsWritePending);
        QVERIFY(!b.Timer1->Enabled());
        // Upper range: GoTo limits count from 32001.
        b.Show();
        b.Option2->setChecked(true);
        typeEnter(b.Text2, QStringLiteral("100"));
        QCOMPARE(b.Text2->text(), QStringLiteral("32001"));
        QCOMPARE(b.Label2[15]->text(), QStringLiteral("32016"));
        typeEnter(b.Text2, QStringLiteral("40000"));
        QCOMPARE(b.Text2->text(), QStringLiteral("35985"));
        QCOMPARE(b.Label2[15]->text(), QStringLiteral("36000"));
        // A new page waits for its poll: no value, and bit boxes that show
        // neither state and take no click.
        QCOMPARE(b.Text1[0]->text(), QStringLiteral("*"));
        QCOMPARE(b.Bit1[5]->checkState(), Qt::PartiallyChecked);
        QVERIFY(!b.Bit1[5]->isEnabled());
    }

    void customKinds() {
        MonitorTestEnv env;
        quietMain();
        NumFlags = 32;
        NumServos = 4;
        ControllerModel = 2;
        controllerLink().markIdentified(true);
        Custom1Rows[0] = {QString(), kindFlag, 1};
        Custom1Rows[1] = {QString(), kindServoPosition, 5};
        Custom1Rows[2] = {QString(), kindRegister, -3};
        Custom1Rows[3] = {QString(), kindServoHomeInput, 1};
        env.responder.expectBox(QStringLiteral("No such servo motor exists."));
        env.responder.expectBox(QStringLiteral("No such servo motor exists."));
        frmCustom1 &c = form<frmCustom1>();
        QVERIFY(env.responder.done());
        QCOMPARE(env.responder.boxes().front().icon, int(mbExclamation));
        QVERIFY(Custom1Loaded);
        QCOMPARE(c.Label1[0]->text(), QStringLiteral("Flag 1"));
        QCOMPARE(Custom1Rows[1].kind, int16_t(kindNotSelected));
        QCOMPARE(c.Label1[1]->text(), QStringLiteral("Not Selected"));
        QCOMPARE(c.Label1[2]->text(), QStringLiteral("Register-3"));
        QCOMPARE(Custom1Rows[3].kind, int16_t(kindNotSelected));  // no servo inputs on this model
        QCOMPARE(c.Label1[15]->text(), QStringLiteral("Not Selected"));
        QCOMPARE(c.Combo1[0]->count(), 9);
        QVERIFY(c.Combo1[0]->isHidden());
        QVERIFY(c.Text1[0]->isHidden());
        QCOMPARE(c.Text1[2]->text(), QStringLiteral("-3"));
        QVERIFY(c.DisplayMenu[1]->isChecked());
        QVERIFY(!c.DisplayMenu[2]->isChecked());
        QCOMPARE(c.Filemenu[7]->text(), QStringLiteral("E&xit"));
        QVERIFY(c.Filemenu[3]->isSeparator());

        // Names from the symbol snapshots; registers also from Code 8.
        env.responder.expectBox(QStringLiteral("Save Changes to Custom Form 1?"), mbNo);
        c.Unload();
        SymbolFilePath = QStringLiteral("plant.SYM");
        SymFlags.open({{QStringLiteral("64"), 1, 0, QStringLiteral("Ready")}});
        SymRegisters2.open({{QStringLiteral("8"), 12, 0, QStringLiteral("Count")}});
        ControllerModel = 5;
        Custom1Rows[2] = {QString(), kindRegister, 12};
        c.Load();
        QCOMPARE(c.Label1[0]->text(), QStringLiteral("Ready"));
        QCOMPARE(c.Label1[2]->text(), QStringLiteral("Count"));
        QCOMPARE(c.Combo1[0]->count(), 13);
        QCOMPARE(c.Combo1[0]->itemText(12), QStringLiteral("Servo Fwdl Inp"));

        // The second window has its own texts and rows.
        Custom2Rows[0] = {QString(), kindServoPosition, 5};
        Custom2Rows[1] = {QString(), kindFlag, 33};
        env.responder.expectBox(QStringLiteral("No such servo motor exist."));
        env.responder.expectBox(QStringLiteral("No such FLAG exist."));
        form<frmCustom2>();
        QVERIFY(env.responder.done());
        QCOMPARE(Custom1Rows[0].kind, int16_t(kindFlag));
    }
};

QTEST_MAIN(TestFrames)
#include "test_frames.moc"
