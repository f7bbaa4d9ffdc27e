// The register window: paging and the GoTo box, symbolic names, the edit
// protocol of the value boxes and the writes the emulator receives, the view
// menu, the View Bits button and the window's settings.
#include <QApplication>
#include <QLineEdit>
#include <QtTest/QTest>

#include "core/eventpump.h"
#include "main/frmDDE.h"
#include "windows/frames.h"
#include "windows_fixture.h"

using namespace windows_test;

namespace {
QStringList column(const std::array<QLabel *, 16> &labels) {
    QStringList out;
    for (QLabel *l : labels) out << l->text();
    return out;
}
QStringList numbers(int first, const QString &suffix = QString()) {
    QStringList out;
    for (int n = first; n < first + 16; ++n) out << QString::number(n) + suffix;
    return out;
}
}  // namespace

class TestFrmReg : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { noSerialLine(); }
    void init() { resetGlobals(); }

    void pagesAndGoTo() {
        MonitorTestEnv env;
        quietMain();
        frmReg &w = form<frmReg>();
        QVERIFY(!RegWindowOpen);  // loading is not opening
        QCOMPARE(column(w.Label2), numbers(1, QStringLiteral(" ")));
        QCOMPARE(w.Label1[16 - 1]->text(), QStringLiteral("reg_16"));
        QCOMPARE(w.Text1[0]->text(), QStringLiteral("0"));
        QCOMPARE(w.Text2->text(), QStringLiteral("1"));
        QCOMPARE(w.VScroll1->maximum(), 31985);
        QCOMPARE(w.VScroll1->pageStep(), 16);
        QVERIFY(!w.VScroll1->hasTracking());

        w.VScroll1->setValue(100);
        QCOMPARE(column(w.Label2), numbers(100));
        QCOMPARE(w.Label1[3]->text(), QStringLiteral("reg_103"));
        QCOMPARE(w.Text2->text(), QStringLiteral("100"));
        QCOMPARE(w.ScrollStartTime, -1.0f);

        // The first key replaces the box; limits apply before the jump.
        typeEnter(w.Text2, QStringLiteral("40000"));
        QCOMPARE(w.Text2->text(), QStringLiteral("31985"));
        QCOMPARE(w.VScroll1->value(), 31985);
        QCOMPARE(w.Label2[15]->text(), QStringLiteral("32000"));
        for (const QString &low : {QStringLiteral("0"), QStringLiteral("-5"), QStringLiteral("x")}) {
            w.VScroll1->setValue(50);
            typeEnter(w.Text2, low);
            QCOMPARE(w.Text2->text(), QStringLiteral("1"));
            QCOMPARE(w.VScroll1->value(), 1);
        }
        typeEnter(w.Text2, QStringLiteral("20.5"));  // halves go to the even neighbour
        QCOMPARE(w.VScroll1->value(), 20);
        // "R" starts a new entry even in the middle of one.
        QTest::keyClicks(w.Text2, QStringLiteral("77"));
        QTest::keyClick(w.Text2, Qt::Key_R);
        QCOMPARE(w.Text2->text(), QStringLiteral("r"));
        QVERIFY(w.GoToEditing);

        // A click on a row's labels or on "GoTo:" puts the focus into the box.
        w.Show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        for (QWidget *label : {static_cast<QWidget *>(w.Label1[2]), static_cast<QWidget *>(w.Label2[9]),
                               static_cast<QWidget *>(w.Label3)}) {
            w.Text1[0]->setFocus();
            QVERIFY(w.Text1[0]->hasFocus());
            QTest::mouseClick(label, Qt::LeftButton);
            QVERIFY(w.Text2->hasFocus());
        }
    }

    void thumbDragRefreshesEveryTwoSeconds() {
        MonitorTestEnv env;
        quietMain();
        frmReg &w = form<frmReg>();
        double now = 1000.0;
        PagedWindow::scrollClock = [&] { return now; };
        QCOMPARE(w.ScrollStartTime, 0.0f);
        w.VScroll1_Scroll(40);
        QCOMPARE(w.ScrollStartTime, 1000.0f);
        now = 1002.0;
        w.VScroll1_Scroll(60);
        QCOMPARE(w.Label2[0]->text(), QStringLiteral("1 "));  // not yet
        now = 1002.5;
        w.VScroll1_Scroll(80);
        QCOMPARE(w.Label2[0]->text(), QStringLiteral("80"));
        QCOMPARE(w.VScroll1->value(), 80);  // the rows polled are the rows named
        QCOMPARE(w.ScrollStartTime, -1.0f);
        w.VScroll1_Scroll(90);  // a new wait begins
        QCOMPARE(w.ScrollStartTime, 1002.5f);
        QCOMPARE(w.Label2[0]->text(), QStringLiteral("80"));
        PagedWindow::scrollClock = [] { return QTime::currentTime().msecsSinceStartOfDay() / 1000.0; };
    }

    void symbolNames() {
        MonitorTestEnv env;
        quietMain();
        SymbolFilePath = QStringLiteral("plant.SYM");
        SymRegisters.open({{QStringLiteral("1024"), 2, 0, QStringLiteral("Pump")}});
        SymRegisters2.open({{QStringLiteral("8"), 5, 0, QStringLiteral("Five")},
                            {QStringLiteral("8"), 12, 0, QStringLiteral("Timer12")}});
        frmReg &w = FormRegistry::object<frmReg>();
        w.Load();
        w.Unload();
        w.Text1[1]->setText(QStringLiteral("77"));
        w.Load();
        QCOMPARE(w.Label1[1]->text(), QStringLiteral("Pump"));
        QCOMPARE(w.Text1[1]->text(), QStringLiteral("77"));  // a name found first leaves the box
        QCOMPARE(w.Label1[4]->text(), QStringLiteral("Five"));
        QCOMPARE(w.Label1[11]->text(), QStringLiteral("Timer12"));
        QCOMPARE(w.Text1[11]->text(), QStringLiteral("0"));
        QCOMPARE(w.Label1[0]->text(), QStringLiteral("reg_1"));
        // A page change looks in the second snapshot for the first eight only.
        w.VScroll1->setValue(2);
        w.VScroll1->setValue(1);
        QCOMPARE(w.Label1[4]->text(), QStringLiteral("Five"));
        QCOMPARE(w.Label1[11]->text(), QStringLiteral("reg_12"));
        QCOMPARE(w.Label1[1]->text(), QStringLiteral("Pump"));
    }

    void writesTypedValues() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        quietMain();
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        frmReg &w = form<frmReg>();
        frmMain &m = form<frmMain>();
        // The DDE window's write box is emptied with its writes held off.
        auto *ddeBox = new QLineEdit(&form<frmDDE>());
        ddeBox->setObjectName(QStringLiteral("RegWrite"));
        ddeBox->setText(QStringLiteral("55"));
        QList<bool> suppressedWhileEmptied;
        connect(ddeBox, &QLineEdit::textChanged, [&] { suppressedWhileEmptied << DdeWriteSuppress; });

        w.VScroll1->setValue(100);
        w.Text1[3]->setText(QStringLiteral("5"));
        QTest::keyClicks(w.Text1[3], QStringLiteral("12"));
        QCOMPARE(w.Text1[3]->text(), QStringLiteral("12"));
        QVERIFY(RegEditInProgress);
        QCOMPARE(RegEditIndex, int16_t(3));
        QTest::keyClick(w.Text1[3], Qt::Key_Return);
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{103, 12}}));
        QCOMPARE(peer.controller().withMemory([](orvemu::Memory &mem) { return *mem.readRegister(103); }), 12);
        QCOMPARE(m.Message->text(), QStringLiteral("Register #103 updated."));
        QVERIFY(!RegEditInProgress);
        QCOMPARE(ddeBox->text(), QString());
        QCOMPARE(suppressedWhileEmptied, (QList<bool>{true}));
        QVERIFY(!DdeWriteSuppress);

        // Decimal readings: only a number the user typed, and only one the
        // register holds, is written as typed (halves to the even
        // neighbour); anything else writes nothing, the status line says
        // why, and the entry goes on for a correction.
        const QString range = QStringLiteral("Nothing written: Register #100 takes whole numbers from -2147483648 to "
                                             "2147483647, not %1.");
        const struct {
            QString typed;
            QList<RegisterWrite> written;
            QString status;
        } entries[] = {
            {QStringLiteral("99999999999"), {}, range.arg(QStringLiteral("99999999999"))},
            {QStringLiteral("-99999999999"), {}, range.arg(QStringLiteral("-99999999999"))},
            {QStringLiteral("2147483647.6"), {}, range.arg(QStringLiteral("2147483647.6"))},
            {QStringLiteral("1e3"), {{100, 1000}}, QStringLiteral("Register #100 updated.")},
            {QStringLiteral("-2147483648"), {{100, -2147483647 - 1}}, QStringLiteral("Register #100 updated.")},
            {QStringLiteral("2.5"), {{100, 2}}, QStringLiteral("Register #100 updated.")},
            {QStringLiteral("abc"), {}, QStringLiteral("Nothing written: \"abc\" is not a number.")},
            {QStringLiteral("12x"), {}, QStringLiteral("Nothing written: \"12x\" is not a number.")},
        };
        for (const auto &e : entries) {
            peer.controller().clearLog();
            leaveField(w.Text1[0]);
            typeEnter(w.Text1[0], e.typed);
            QCOMPARE(registerWrites(peer.controller()), e.written);
            QCOMPARE(m.Message->text(), e.status);
            QCOMPARE(RegEditInProgress, e.written.isEmpty());
            if (e.written.isEmpty()) QCOMPARE(w.Text1[0]->text(), e.typed);
        }
        leaveField(w.Text1[0]);
        peer.controller().clearLog();
        w.Text1[1]->setText(QStringLiteral("*"));
        typeEnter(w.Text1[1]);
        QCOMPARE(m.Message->text(), QStringLiteral("Nothing written: type a new value, then press Enter."));
        w.Text1[2]->setText(QStringLiteral("-40"));
        typeEnter(w.Text1[2]);
        QVERIFY(registerWrites(peer.controller()).isEmpty());

        // Hexadecimal view: the menu toggles, the entries read as hexadecimal
        // where they are, and as decimal where they are not.
        w.DisplayMnu[2]->trigger();
        QVERIFY(w.HexView);
        QVERIFY(!w.DisplayMnu[1]->isChecked());
        QVERIFY(w.DisplayMnu[2]->isChecked());
        QCOMPARE(w.Label4->text(), QStringLiteral("Hexadecimal View"));
        peer.controller().clearLog();
        for (const QString &t : {QStringLiteral("FF"), QStringLiteral("ZZ"), QStringLiteral("FFFFFFFF"),
                                 QStringLiteral("7fff0000"), QStringLiteral("FFFF"), QStringLiteral("12G"),
                                 QStringLiteral("-5")}) {
            leaveField(w.Text1[0]);
            typeEnter(w.Text1[0], t);
        }
        QCOMPARE(registerWrites(peer.controller()),
                 (QList<RegisterWrite>{{100, 255}, {100, -1}, {100, 0x7FFF0000}, {100, 65535}, {100, -5}}));
        w.DisplayMnu[2]->trigger();
        QVERIFY(!w.HexView);
        QCOMPARE(w.Label4->text(), QStringLiteral("Decimal View"));
        w.DisplayMnu[1]->trigger();  // each item toggles
        QVERIFY(w.HexView);
        // The register window lets pending events through before it
        // switches; the non-volatile one does not.
        resetYieldCount();
        w.DisplayMnu[2]->trigger();
        QVERIFY(!w.HexView);
        QCOMPARE(yieldCount(), 1L);
        form<frmRam>().DisplayMenu[2]->trigger();
        QVERIFY(form<frmRam>().HexView);
        QCOMPARE(form<frmRam>().Label4->text(), QStringLiteral("Hexadecimal View"));
        QCOMPARE(yieldCount(), 1L);
        w.DisplayMnu_Click(2);
        QVERIFY(w.HexView);
        w.Unload();
        w.Load();
        QVERIFY(!w.HexView);
        QVERIFY(w.DisplayMnu[1]->isChecked());
        disconnectMonitor();
    }

    void failuresAndTheEditProtocol() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        quietMain();
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        frmReg &w = form<frmReg>();
        frmMain &m = form<frmMain>();
        peer.controller().setFault({orvemu::FaultKind::ShortError, 1, 0, orvemu::kIllegalRegister, {}});
        w.Text1[5]->setText(QStringLiteral("31"));  // as the poll showed it
        typeEnter(w.Text1[5], QStringLiteral("9"));
        // A write the controller refused: the box shows its value again.
        QCOMPARE(w.Text1[5]->text(), QStringLiteral("31"));
        const QString text = m.Message->text();
        QVERIFY(text.startsWith(QStringLiteral("Failed to update register value!\n")));
        QVERIFY(text.size() > QStringLiteral("Failed to update register value!\n").size());
        QCOMPARE(text, QStringLiteral("Failed to update register value!\n") + QString::fromLatin1(ErrorInfo.text));
        QVERIFY(!RegEditInProgress);

        // Without a connection Enter writes nothing: the entry ends and the
        // box shows that no value is current.
        peer.controller().clearLog();
        controllerLink().markLost(QString());
        typeEnter(w.Text1[2], QStringLiteral("44"));
        QCOMPARE(w.Text1[2]->text(), QStringLiteral("*"));
        QVERIFY(!RegEditInProgress);
        QVERIFY(registerWrites(peer.controller()).isEmpty());
        // Leaving a box with an entry unfinished ends the edit; the box shows
        // its value again.
        QTest::keyClicks(w.Text1[2], QStringLiteral("45"));
        QVERIFY(RegEditInProgress);
        QCOMPARE(RegEditIndex, int16_t(2));
        leaveField(w.Text1[2]);
        QVERIFY(!RegEditInProgress);
        QCOMPARE(w.Text1[2]->text(), QStringLiteral("*"));
        // Delete starts an edit in any case.
        w.Text1[7]->setText(QStringLiteral("123"));
        QTest::keyClick(w.Text1[7], Qt::Key_Delete);
        QCOMPARE(w.Text1[7]->text(), QString());
        QVERIFY(RegEditInProgress);
        QCOMPARE(RegEditIndex, int16_t(7));
        RegEditInProgress = false;
        // "r" is no value: it goes to the GoTo box and starts no edit.
        w.Text1[4]->setText(QStringLiteral("8"));
        QTest::keyClick(w.Text1[4], Qt::Key_R);
        QCOMPARE(w.Text1[4]->text(), QStringLiteral("8"));
        QVERIFY(!RegEditInProgress);
        disconnectMonitor();
    }

    void viewBitsOpensTheLowerRange() {
        MonitorTestEnv env;
        quietMain();
        RegbitsWindowOpen = false;
        form<frmRam>().Command1->click();
        frmRegbits &bits = form<frmRegbits>();
        QVERIFY(bits.isVisible());
        QVERIFY(RegbitsWindowOpen);
        QVERIFY(bits.Option2->isChecked());
        QCOMPARE(RegbitsBase, 32000);
        QCOMPARE(bits.Label2[0]->text(), QStringLiteral("32001"));
        QCOMPARE(bits.Text2->text(), QStringLiteral("32001"));
        QCOMPARE(bits.VScroll1->maximum(), 3985);
        form<frmReg>().Command1->click();
        QVERIFY(bits.Option1->isChecked());
        QCOMPARE(RegbitsBase, 0);
        QCOMPARE(bits.Label2[15]->text(), QStringLiteral("16"));
        QCOMPARE(bits.Text2->text(), QStringLiteral("1"));
        QCOMPARE(bits.VScroll1->maximum(), 24984);
        typeEnter(bits.Text2, QStringLiteral("30000"));
        QCOMPARE(bits.Text2->text(), QStringLiteral("24984"));
        QCOMPARE(bits.Label2[15]->text(), QStringLiteral("24999"));
    }

    void settings() {
        MonitorTestEnv env;
        writeSettings(env.settingsFile(), QStringLiteral("[Registers]\ndword \"Top\" 2000\n"));
        quietMain();
        frmReg &w = form<frmReg>();
        QCOMPARE(w.Top(), 2000);
        QCOMPARE(w.Left(), 924);
        QCOMPARE(w.Height(), 5184);
        QCOMPARE(w.Width(), 5000);
        RegWindowOpen = true;
        w.setLeft(3000);
        QVERIFY(w.Unload());
        QVERIFY(!RegWindowOpen);
        QCOMPARE(form<frmMain>().Message->text(), QStringLiteral("Register Form unloaded."));
        w.Load();
        QCOMPARE(w.Left(), 3000);
        w.Show();
        w.showMaximized();
        QCOMPARE(w.WindowState(), int(wsMaximized));
        QVERIFY(w.Unload());
        w.showNormal();
        w.Load();
        QCOMPARE(w.Top(), 1200);
        QCOMPARE(w.Left(), 924);
        QCOMPARE(w.Height(), 4956);
        QCOMPARE(w.Width(), 3828);
        w.hide();
        // Without its section the window cannot write its geometry back, and
        // takes the defaults.
        writeSettings(env.settingsFile(), QStringLiteral("[Main]\n"));
        env.responder.expectBox(QStringLiteral("Cannot WRITE Registers settings to Registry !"));
        QVERIFY(w.Unload());
        w.Load();
        QCOMPARE(w.Top(), 1668);
        QCOMPARE(w.Height(), 5184);
        env.responder.expectBox(QStringLiteral("Cannot WRITE Registers settings to Registry !"));
        QVERIFY(w.Unload());
        QVERIFY(env.responder.done());
    }
};

QTEST_MAIN(TestFrmReg)
#include "test_frmreg.moc"
