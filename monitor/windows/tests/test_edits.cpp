// The writes of the paged and servo windows against the emulator: the
// register bits window's bit clicks (written by the polling loop) and typed
// entries, the non-volatile window's registers and V-registers, the analog
// output entries, the digital output and flag toggles and the servo
// positions, with their status lines and edit protocols.
#include <QtTest/QTest>

#include "core/basics.h"
#include "core/frmSetup.h"
#include "wire.h"
#include "windows/frames.h"
#include "windows_fixture.h"

using namespace windows_test;

namespace {
int32_t registerValue(EmulatorPeer &peer, int reg) {
    return peer.controller().withMemory([reg](orvemu::Memory &m) { return m.readRegister(reg).value_or(-999); });
}
QString status() { return form<frmMain>().Message->text(); }
}  // namespace

class TestEdits : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { noSerialLine(); }
    void init() {
        resetGlobals();
        for (bool *open : {&FlagWindowOpen, &DigInWindowOpen, &DigOutWindowOpen, &AnalInWindowOpen, &AnalOutWindowOpen,
                           &RegWindowOpen, &RamWindowOpen, &ServoWindowOpen, &Custom1WindowOpen, &Custom2WindowOpen})
            *open = false;
        RamEditInProgress = ServoEditInProgress = RegbitsUpdating = RegbitsClickBusy = false;
    }

    void bitClicksAreWrittenByThePoll() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        frmMain &m = quietMain();
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        peer.controller().withMemory([](orvemu::Memory &mem) {
            mem.writeRegister(5, 5);
            mem.writeRegister(9, 1);
        });
        frmRegbits &b = form<frmRegbits>();
        m.Timer1_Timer();
        QCOMPARE(b.Text1[4]->text(), QStringLiteral("5"));

        // Bit 1 of 5 gives 7; the poll writes it and then reads it back.
        b.Bit1[32 * 4 + 1]->click();
        QVERIFY(RegbitsWritePending);
        QCOMPARE(RegbitsWriteRegister, 5);
        QCOMPARE(RegbitsRow, int16_t(5));
        QCOMPARE(b.Text1[4]->text(), QStringLiteral("7"));
        QVERIFY(registerWrites(peer.controller()).isEmpty());
        m.Timer1_Timer();
        QVERIFY(!RegbitsWritePending);
        QCOMPARE(registerValue(peer, 5), 7);
        QCOMPARE(status(), QStringLiteral("Register #5 updated."));
        b.Bit1[32 * 4 + 0]->click();
        m.Timer1_Timer();
        QCOMPARE(registerValue(peer, 5), 6);

        // Bit 31 weighs -2147483648, both ways.
        b.Bit1[32 * 2 + 31]->click();
        QCOMPARE(b.Text1[2]->text(), QStringLiteral("-2147483648"));
        m.Timer1_Timer();
        QCOMPARE(registerValue(peer, 3), -2147483647 - 1);
        b.Bit1[32 * 2 + 31]->click();
        m.Timer1_Timer();
        QCOMPARE(registerValue(peer, 3), 0);

        // A click on another register while one waits writes the waiting one
        // at once instead of dropping it.
        peer.controller().clearLog();
        b.Bit1[32 * 0 + 2]->click();
        b.Bit1[32 * 8 + 1]->click();
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{1, 4}}));
        QCOMPARE(RegbitsWriteRegister, 9);
        m.Timer1_Timer();
        QCOMPARE(registerValue(peer, 9), 3);
        // Two clicks on one register add up in the one waiting write.
        peer.controller().clearLog();
        b.Bit1[32 * 6 + 0]->click();
        b.Bit1[32 * 6 + 3]->click();
        m.Timer1_Timer();
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{7, 9}}));

        // A text typed while a click waited is out of step with the boxes:
        // the register takes what the boxes show, never a value past 32 bits.
        b.Bit1[32 * 10 + 0]->click();
        b.Text1[10]->setText(QStringLiteral("99999999999"));
        b.Bit1[32 * 10 + 1]->click();
        QCOMPARE(RegbitsValues[10], 3.0);
        m.Timer1_Timer();
        QCOMPARE(registerValue(peer, 11), 3);

        // Clicks made while the window sets its own boxes are not clicks.
        RegbitsUpdating = true;
        b.Bit1[32 * 12]->click();
        QVERIFY(!RegbitsWritePending);
        RegbitsUpdating = false;
        disconnectMonitor();
    }

    void registerBitsTypedEntries() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        quietMain();
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        frmRegbits &b = form<frmRegbits>();
        WatchedDdeBox dde(QStringLiteral("RegWrite"));
        b.Text1[2]->setText(QStringLiteral("8"));
        QTest::keyClicks(b.Text1[2], QStringLiteral("12"));
        QCOMPARE(b.Text1[2]->text(), QStringLiteral("12"));
        QVERIFY(RegbitsEditInProgress);
        QCOMPARE(RegbitsEditIndex, int16_t(2));
        QVERIFY(!RegbitsUpdating);
        QTest::keyClick(b.Text1[2], Qt::Key_Return);
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{3, 12}}));
        QCOMPARE(status(), QStringLiteral("Register #3 updated."));
        QCOMPARE(RegbitsValues[2], 12.0);
        QVERIFY(!RegbitsEditInProgress);
        QCOMPARE(dde.box->text(), QString());
        QCOMPARE(dde.suppressedOnChange, (QList<bool>{true}));

        // Limits: typing 2147483648 already shows -2147483648 (bit 31 alone).
        peer.controller().clearLog();
        typeEnter(b.Text1[0], QStringLiteral("2147483648"));
        QVERIFY(b.Bit1[31]->isChecked());
        QVERIFY(!b.Bit1[30]->isChecked());
        typeEnter(b.Text1[3], QStringLiteral("2.5"));
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{1, -2147483647 - 1}, {4, 2}}));

        // "r" goes to the GoTo box, and leaves the bit boxes listening.
        peer.controller().clearLog();
        b.Text1[5]->setText(QStringLiteral("0"));  // as the poll shows it
        QTest::keyClick(b.Text1[5], Qt::Key_R);
        QVERIFY(!RegbitsEditInProgress);
        QVERIFY(!RegbitsUpdating);
        b.Bit1[32 * 5]->click();
        QVERIFY(RegbitsWritePending);
        RegbitsWritePending = false;

        // Without a connection Enter writes nothing: the entry ends and the
        // box shows that no value is current.
        controllerLink().markLost(QString());
        typeEnter(b.Text1[6], QStringLiteral("44"));
        QVERIFY(registerWrites(peer.controller()).isEmpty());
        QVERIFY(!RegbitsEditInProgress);
        QCOMPARE(b.Text1[6]->text(), QStringLiteral("*"));
        // Delete starts an edit of its row.
        b.Text1[7]->setText(QStringLiteral("5"));
        QTest::keyClick(b.Text1[7], Qt::Key_Delete);
        QVERIFY(RegbitsEditInProgress);
        QCOMPARE(RegbitsEditIndex, int16_t(7));
        QCOMPARE(b.Text1[7]->text(), QString());

        // The upper range writes the non-volatile registers.
        controllerLink().markUp();
        RegbitsEditInProgress = false;
        b.Option2->setChecked(true);
        typeEnter(b.Text1[0], QStringLiteral("-7"));
        QCOMPARE(registerWrites(peer.controller()).last(), (RegisterWrite{32001, -7}));
        disconnectMonitor();
    }

    void nonVolatileAndVRegisters() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        quietMain();
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        ControllerModel = 5;
        frmRam &w = form<frmRam>();
        typeEnter(w.Text2, QStringLiteral("36001"));
        QCOMPARE(w.Label2[0]->text(), QStringLiteral("36001"));
        typeEnter(w.Text1[0], QStringLiteral("2.5"));
        QCOMPARE(peer.controller().withMemory([](orvemu::Memory &m) { return m.vregs.getDouble(36001); }), 2.5);
        QCOMPARE(status(), QStringLiteral("Register #36001 updated."));
        QVERIFY(registerWrites(peer.controller()).isEmpty());
        QVERIFY(!RamEditInProgress);
        // The hexadecimal view plays no part in a V-register's value.
        w.DisplayMenu[2]->trigger();
        typeEnter(w.Text1[1], QStringLiteral("10"));
        QCOMPARE(peer.controller().withMemory([](orvemu::Memory &m) { return m.vregs.getDouble(36002); }), 10.0);
        // Below the V-registers the entry is a register: 2.5 read as hex is
        // no number, its decimal reading rounds to the even 2.
        typeEnter(w.Text2, QStringLiteral("35985"));
        typeEnter(w.Text1[15], QStringLiteral("2.5"));
        typeEnter(w.Text1[14], QStringLiteral("1F"));
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{36000, 2}, {35999, 31}}));
        // Another model writes the whole range as registers.
        peer.controller().clearLog();
        w.DisplayMenu[2]->trigger();
        ControllerModel = 2;
        typeEnter(w.Text2, QStringLiteral("36001"));
        typeEnter(w.Text1[0], QStringLiteral("7"));
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{36001, 7}}));

        // "n" goes to the GoTo box; Delete records its own row, so that the
        // next key starts a fresh entry there even after a poll.
        peer.controller().clearLog();
        w.Text1[3]->setText(QStringLiteral("9"));
        QTest::keyClick(w.Text1[3], Qt::Key_N);
        QCOMPARE(w.Text1[3]->text(), QStringLiteral("9"));
        QVERIFY(!RamEditInProgress);
        QTest::keyClick(w.Text1[5], Qt::Key_Delete);
        QVERIFY(RamEditInProgress);
        QCOMPARE(RamEditIndex, int16_t(5));
        // Without a connection Enter writes nothing: the box shows its value
        // again, which is no longer current.
        controllerLink().markLost(QString());
        typeEnter(w.Text1[5], QStringLiteral("3"));
        QCOMPARE(w.Text1[5]->text(), QStringLiteral("*"));
        QVERIFY(registerWrites(peer.controller()).isEmpty());
        QVERIFY(!RamEditInProgress);

        // A refused write shows the library's text.
        controllerLink().markUp();
        peer.controller().setFault({orvemu::FaultKind::ShortError, 1, 0, orvemu::kIllegalRegister, {}});
        typeEnter(w.Text1[2], QStringLiteral("1"));
        QCOMPARE(status(), QStringLiteral("Failed to update register value!\n") + errorInfoText());
        QVERIFY(!errorInfoText().isEmpty());
        disconnectMonitor();
    }

    void analogOutputEntries() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        quietMain();
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        frmAnalOut &w = form<frmAnalOut>();
        typeEnter(w.Text2, QStringLiteral("17"));
        QVERIFY(!AnalOutEditInProgress);
        w.Text1[2]->setText(QStringLiteral("3"));
        QTest::keyClicks(w.Text1[2], QStringLiteral("150"));
        QVERIFY(AnalOutEditInProgress);
        QCOMPARE(AnalOutEditIndex, int16_t(2));
        QTest::keyClick(w.Text1[2], Qt::Key_Return);
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{8019, 150}}));
        QCOMPARE(status(), QStringLiteral("Analog output #19 updated."));
        QVERIFY(!AnalOutEditInProgress);

        // An output takes -20000 to 20000: another number is not written,
        // neither as typed nor as the limit, and the status line says so.
        peer.controller().clearLog();
        for (const QString &t : {QStringLiteral("25000"), QStringLiteral("-30000"), QStringLiteral("12.5"),
                                 QStringLiteral("13.5"), QStringLiteral("abc")}) {
            leaveField(w.Text1[0]);
            typeEnter(w.Text1[0], t);
            if (t == u"-30000")
                QCOMPARE(status(), QStringLiteral("Nothing written: Analog output #17 takes whole numbers from -20000 "
                                                  "to 20000, not -30000."));
        }
        leaveField(w.Text1[0]);
        w.Text1[1]->setText(QStringLiteral("N/A"));
        typeEnter(w.Text1[1]);
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{8017, 12}, {8017, 14}}));

        // "A" only moves to the GoTo box.
        peer.controller().clearLog();
        w.Text1[4]->setText(QStringLiteral("8"));
        QTest::keyClick(w.Text1[4], Qt::Key_A);
        QCOMPARE(w.Text1[4]->text(), QStringLiteral("8"));
        QVERIFY(!AnalOutEditInProgress);
        QCOMPARE(AnalOutEditIndex, int16_t(4));
        // A GoTo entry left unfinished raises the edit flag; the first key in
        // a value box still starts a fresh value.
        QTest::keyClicks(w.Text2, QStringLiteral("3"));
        QVERIFY(AnalOutEditInProgress);
        w.Text1[5]->setText(QStringLiteral("100"));
        typeEnter(w.Text1[5], QStringLiteral("5"));
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{8022, 5}}));

        // Without a connection: nothing written, and the box shows what it
        // showed before the entry.
        peer.controller().clearLog();
        controllerLink().markLost(QString());
        const QString shown = w.Text1[6]->text();
        typeEnter(w.Text1[6], QStringLiteral("77"));
        QCOMPARE(w.Text1[6]->text(), shown);
        QVERIFY(!AnalOutEditInProgress);
        QVERIFY(registerWrites(peer.controller()).isEmpty());
        disconnectMonitor();
    }

    void digitalOutputToggles() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        quietMain();
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        frmDigOut &w = form<frmDigOut>();
        w.VScroll1->setValue(10);
        SSCommand *b = w.SSCommand1[2];
        b->click();
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{1012, 1}}));
        QCOMPARE(registerValue(peer, 1012), 1);
        QCOMPARE(b->Caption(), QStringLiteral("On"));
        QCOMPARE(b->ForeColor(), ColourDarkGreen);
        QCOMPARE(b->Font3D(), int(Font3DRaisedLight));
        QCOMPARE(w.Label1[2]->text(), QStringLiteral("OUT_12_ON"));
        QCOMPARE(status(), QStringLiteral("Output #12 updated."));
        b->click();
        QCOMPARE(registerWrites(peer.controller()).last(), (RegisterWrite{1012, 0}));
        QCOMPARE(b->Caption(), QStringLiteral("Off"));
        QCOMPARE(b->ForeColor(), ColourRed);
        QCOMPARE(b->Font3D(), int(Font3DInsetLight));
        QCOMPARE(w.Label1[2]->text(), QStringLiteral("OUT_12_OFF"));
        // A refused write leaves the button as the controller has it.
        peer.controller().setFault({orvemu::FaultKind::ShortError, 1, 0, orvemu::kIllegalRegister, {}});
        b->click();
        QCOMPARE(status(), QStringLiteral("Failed to update output value!\n") + errorInfoText());
        QCOMPARE((QVariantList{b->Caption(), b->ForeColor(), b->Font3D(), w.Label1[2]->text()}),
                 (QVariantList{QStringLiteral("Off"), ColourRed, int(Font3DInsetLight), QStringLiteral("OUT_12_OFF")}));

        // Without a connection nothing is written: the button keeps showing
        // that its state is not known, and the status line says why.
        peer.controller().clearLog();
        form<frmMain>().Message->clear();
        controllerLink().markLost(QString());
        w.SSCommand1[0]->click();
        QCOMPARE(w.SSCommand1[0]->Caption(), QStringLiteral("*"));
        QVERIFY(registerWrites(peer.controller()).isEmpty());
        QCOMPARE(status(), QStringLiteral("Failed to update output value!\nNo communication with the controller."));
        // ... and once the link is back, a refused write leaves it so.
        controllerLink().markUp();
        peer.controller().setFault({orvemu::FaultKind::ShortError, 1, 0, orvemu::kIllegalRegister, {}});
        w.SSCommand1[0]->click();
        QCOMPARE(w.SSCommand1[0]->Caption(), QStringLiteral("*"));
        QCOMPARE(w.SSCommand1[0]->ForeColor(), ColourNoValue);
        disconnectMonitor();
    }

    void flagToggles() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        quietMain();
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        NumFlags = 40;
        bool newerLibrary = false;
        int asked = 0;
        const auto saved = frmFlag::flagCallForHighFlags;
        frmFlag::flagCallForHighFlags = [&] {
            ++asked;
            return newerLibrary;
        };
        frmFlag &w = form<frmFlag>();
        WatchedDdeBox dde(QStringLiteral("FlagWrite"));
        w.VScroll1->setValue(25);
        // Flag 32 always through the flag call; 33 through its write
        // register with an old library, through the flag call with a newer.
        w.SSCommand1[7]->click();
        QCOMPARE(flagWrites(peer.controller()), (QList<RegisterWrite>{{32, 1}}));
        QCOMPARE(w.SSCommand1[7]->Caption(), QStringLiteral("Set"));
        QCOMPARE(w.SSCommand1[7]->ForeColor(), ColourDarkGreen);
        QCOMPARE(w.SSCommand1[7]->Font3D(), int(Font3DRaisedLight));
        QCOMPARE(status(), QStringLiteral("Flag #32 updated."));
        w.SSCommand1[8]->click();
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{13233, 1}}));
        QCOMPARE(status(), QStringLiteral("Flag #33 updated."));
        QVERIFY(peer.controller().withMemory([](orvemu::Memory &m) { return m.flag(33); }));
        newerLibrary = true;
        w.SSCommand1[8]->click();
        QCOMPARE(flagWrites(peer.controller()).last(), (RegisterWrite{33, 0}));
        QCOMPARE(w.SSCommand1[8]->Caption(), QStringLiteral("Clear"));
        QCOMPARE(w.SSCommand1[8]->ForeColor(), ColourRed);
        QCOMPARE(w.SSCommand1[8]->Font3D(), int(Font3DInsetLight));
        // A refused write leaves the button as the controller has it.
        peer.controller().setFault({orvemu::FaultKind::ShortError, 1, 0, orvemu::kIllegalRegister, {}});
        w.SSCommand1[8]->click();
        QCOMPARE(status(), QStringLiteral("Failed to update Flag value!\n") + errorInfoText());
        QCOMPARE((QVariantList{w.SSCommand1[8]->Caption(), w.SSCommand1[8]->ForeColor(), w.SSCommand1[8]->Font3D()}),
                 (QVariantList{QStringLiteral("Clear"), ColourRed, int(Font3DInsetLight)}));
        QCOMPARE(asked, 4);  // on every click
        // Every click empties the DDE flag write box with its writes held off.
        QCOMPARE(dde.box->text(), QString());
        QCOMPARE(dde.suppressedOnChange, (QList<bool>{true}));

        // Without a connection nothing is sent: the button keeps showing
        // that its state is not known, and the status line says why.
        disconnectMonitor();
        w.SSCommand1[0]->click();
        QCOMPARE(w.SSCommand1[0]->Caption(), QStringLiteral("*"));
        QCOMPARE(status(), QStringLiteral("Failed to update Flag value!\nNo communication with the controller."));
        frmFlag::flagCallForHighFlags = saved;
    }

    // Every toggle-like control shows the controller's state or "*" (in no
    // state's colour), never a state the controller was not seen to have:
    // before its first poll, on a new page or row, while reads are refused,
    // after a refused write (the state read before), and after a write that
    // got no answer, which the controller carried out (as it may): "*"
    // until the next read shows it.
    void togglesShowTheControllerOrAMark() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        frmMain &m = quietMain();
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, 40);
        NumFlags = 40;
        NumDigitalInputs = NumDigitalOutputs = 32;
        orvemu::Controller &c = peer.controller();
        const QString MayHaveBeenDone = QStringLiteral("The controller may still have carried it out.");
        const auto memory = [&c](const std::function<void(orvemu::Memory &)> &f) {
            c.withMemory([&f](orvemu::Memory &mem) {
                f(mem);
                return 0;
            });
        };
        const auto reg = [&c](int n) { return c.withMemory([n](orvemu::Memory &mem) { return *mem.readRegister(n); }); };
        const auto colour = [](int32_t rgb) { return QStringLiteral("/") + QString::number(rgb); };

        struct Toggle {
            const char *what;
            std::function<void()> open;
            std::function<int()> point;               // the point row 0 shows
            std::function<void(int, bool)> set;       // the controller's point
            std::function<bool(int)> on;
            std::function<QString()> shown;
            std::function<QString(int, bool)> state;  // as shown for a state read
            std::function<QString(int)> unknown;      // as shown for no state
            std::function<void()> nextPage;           // row 0 to another point (or none)
            std::function<void()> write;              // asks for on (or none)
            bool writtenByPoll = false;  // the write waits for the next tick
            // Read when the link is made (as the connection check does), not
            // by the polling loop.
            std::function<void()> readWithLink = nullptr;
        };
        frmFlag &flags = form<frmFlag>();
        frmDigOut &outputs = form<frmDigOut>();
        frmDigIn &inputs = form<frmDigIn>();
        // The bits window is polled from its load on.
        const auto bits = [] { return &form<frmRegbits>(); };
        const auto flagPoint = [&memory, &c](int n, bool on) { memory([&](orvemu::Memory &mem) { mem.setFlag(n, on); }); };
        const auto flagOn = [&c](int n) { return c.withMemory([n](orvemu::Memory &mem) { return mem.flag(n); }); };
        const QList<Toggle> toggles{
            {"flag window", [] { FlagWindowOpen = true; }, [&] { return flags.VScroll1->value(); }, flagPoint, flagOn,
             [&] { return flags.SSCommand1[0]->Caption() + colour(flags.SSCommand1[0]->ForeColor()); },
             [&](int, bool on) { return on ? QStringLiteral("Set") + colour(ColourDarkGreen) : QStringLiteral("Clear") + colour(ColourRed); },
             [&](int) { return QStringLiteral("*") + colour(ColourNoValue); },
             [&] { typeEnter(flags.Text1, QStringLiteral("17")); }, [&] { flags.SSCommand1[0]->click(); }},
            {"digital output window", [] { DigOutWindowOpen = true; }, [&] { return outputs.VScroll1->value(); },
             [&](int n, bool on) { memory([&](orvemu::Memory &mem) { mem.digitalOutputs[size_t(n - 1)] = on; }); },
             [&](int n) { return reg(1000 + n) == 1; },
             [&] {
                 return outputs.SSCommand1[0]->Caption() + colour(outputs.SSCommand1[0]->ForeColor()) + u'/' +
                        outputs.Label1[0]->text();
             },
             [&](int n, bool on) {
                 const SymbolDisplay d = OutputSymbolName(n, on);
                 return d.stateText + colour(d.colour) + u'/' + d.name;
             },
             [&](int) { return QStringLiteral("*") + colour(ColourNoValue) + QStringLiteral("/*"); },
             [&] { typeEnter(outputs.Text1, QStringLiteral("17")); }, [&] { outputs.SSCommand1[0]->click(); }},
            {"digital input window", [] { DigInWindowOpen = true; }, [&] { return inputs.VScroll1->value(); },
             [&](int n, bool on) { memory([&](orvemu::Memory &mem) { mem.digitalInputs[size_t(n - 1)] = on; }); },
             [&](int n) { return reg(2000 + n) == 1; },
             [&] {
                 return inputs.SSPanel1[0]->Caption() + colour(inputs.SSPanel1[0]->ForeColor()) + u'/' +
                        inputs.Label1[0]->text();
             },
             [&](int n, bool on) {
                 const SymbolDisplay d = InputSymbolName(n, on);
                 return d.stateText + colour(d.colour) + u'/' + d.name;
             },
             [&](int) { return QStringLiteral("*") + colour(ColourNoValue) + QStringLiteral("/*"); },
             [&] { typeEnter(inputs.Text1, QStringLiteral("17")); }, nullptr},
            {"custom window flag row",
             [] {
                 Custom1Rows[0] = {QString(), kindFlag, 1};
                 form<frmCustom1>();
                 Custom1WindowOpen = true;
             },
             [] { return int(Custom1Rows[0].number); }, flagPoint, flagOn,
             [] { return form<frmCustom1>().Text2[0]->text(); },
             [](int, bool on) { return on ? QStringLiteral("Set") : QStringLiteral("Clear"); },
             [](int) { return QStringLiteral("*"); },
             [] {
                 form<frmCustom1>().DisplayMenu_Click(2);
                 typeEnter(form<frmCustom1>().Text1[0], QStringLiteral("2"));
             },
             [] { typeEnter(form<frmCustom1>().Text2[0], QStringLiteral("1")); }},
            {"custom window output row and its label",
             [] {
                 Custom2Rows[0] = {QString(), kindDigitalOutput, 3};
                 form<frmCustom2>();
                 Custom2WindowOpen = true;
             },
             [] { return int(Custom2Rows[0].number); },
             [&](int n, bool on) { memory([&](orvemu::Memory &mem) { mem.digitalOutputs[size_t(n - 1)] = on; }); },
             [&](int n) { return reg(1000 + n) == 1; },
             [] { return form<frmCustom2>().Text2[0]->text() + u'/' + form<frmCustom2>().Label1[0]->text(); },
             [](int n, bool on) { return QString::number(on) + u'/' + OutputSymbolName(n, on).name; },
             // The row's own name: a point's name tells a state.
             [](int n) { return QStringLiteral("*/Digital Output ") + QString::number(n); },
             [] {
                 form<frmCustom2>().DisplayMenu_Click(2);
                 typeEnter(form<frmCustom2>().Text1[0], QStringLiteral("4"));
             },
             [] { typeEnter(form<frmCustom2>().Text2[0], QStringLiteral("1")); }},
            {"register bits row", [&] { bits(); }, [&] { return bits()->VScroll1->value(); },
             [&](int n, bool on) { memory([&](orvemu::Memory &mem) { mem.writeRegister(n, on ? 1 : 0); }); },
             [&](int n) { return reg(n) == 1; },
             [&] {
                 return bits()->Text1[0]->text() + u'/' + QString::number(bits()->Bit1[0]->checkState()) +
                        (bits()->Bit1[0]->isEnabled() ? QString() : QStringLiteral("/no click"));
             },
             [](int, bool on) { return on ? QStringLiteral("1/2") : QStringLiteral("0/0"); },
             [](int) { return QStringLiteral("*/1/no click"); },
             [&] { typeEnter(bits()->Text2, QStringLiteral("17")); }, [&] { bits()->Bit1[0]->click(); }, true},
            {"setup window's START input",
             [&] {
                 ControllerModel = 5;
                 EaType = 1;
                 form<frmSetup>().Show();
             },
             [] { return 1; },
             [&](int, bool on) { memory([on](orvemu::Memory &mem) { mem.config = on ? 1 : 0; }); },
             [&](int) { return (c.withMemory([](orvemu::Memory &mem) { return int(mem.config); }) & 1) != 0; },
             [] { return form<frmSetup>().Command3d1[0]->Caption(); },
             [](int, bool on) { return on ? QStringLiteral("Active") : QStringLiteral("Idle"); },
             [](int) { return QStringLiteral("*"); }, nullptr,
             [] { form<frmSetup>().Command3d1[0]->click(); }, false,
             [&] {
                 InputStatusBits = c.withMemory([](orvemu::Memory &mem) { return int(mem.config); });
                 form<frmSetup>().txtLoadCommand->setText(QStringLiteral("Load"));
             }},
        };

        const orvemu::Handler writes[] = {c.handler(0x0B), c.handler(0x13), c.handler(0x43)};
        const uint8_t writeCodes[] = {0x0B, 0x13, 0x43};
        enum class Writes { Answered, Refused, Unanswered };
        const auto answerWrites = [&](Writes how) {
            for (int i = 0; i < 3; ++i) {
                const orvemu::Handler h = writes[i];
                if (how == Writes::Answered) c.setHandler(writeCodes[i], h);
                else if (how == Writes::Refused)
                    c.setHandler(writeCodes[i], [](orvemu::Controller &, const orvemu::Request &) {
                        return orvemu::shortReply(orvemu::kIllegalRegister);
                    });
                else
                    // Carried out, and no answer: it got lost on its way back.
                    c.setHandler(writeCodes[i], [h](orvemu::Controller &ctl, const orvemu::Request &r) {
                        h(ctl, r);
                        return std::vector<std::uint8_t>{};
                    });
            }
        };
        const orvemu::Handler reads = c.handler(0x09);
        const auto refuseReads = [&c] {
            c.setHandler(0x09, [](orvemu::Controller &, const orvemu::Request &) {
                return orvemu::shortReply(orvemu::kIllegalRegister);
            });
        };

        // Every step that shows something else, for all the controls at once.
        QStringList wrong;
        for (const Toggle &t : toggles) {
            const auto check = [&](const char *when, bool ok, const QString &what) {
                if (!ok) wrong << QStringLiteral("%1, %2: %3").arg(QLatin1String(t.what), QLatin1String(when), what);
            };
            const auto step = [&](const char *when, const QString &expected) {
                check(when, t.shown() == expected, t.shown() + QStringLiteral(" instead of ") + expected);
            };
            const bool polled = !t.readWithLink;
            const auto read = [&] {
                if (polled) m.Timer1_Timer();
                else t.readWithLink();
            };
            t.open();
            const int first = t.point();
            t.set(first, true);
            if (polled) step("new window", t.unknown(first));
            read();
            step("first read", t.state(first, true));
            const int n = t.nextPage ? (t.nextPage(), t.point()) : first;
            t.set(n, false);
            if (t.nextPage) {
                check("new page", n != first, QStringLiteral("the page did not change"));
                step("new page", t.unknown(n));
            }
            read();
            step("read again", t.state(n, false));
            if (polled) {
                refuseReads();
                m.Timer1_Timer();
                step("reads refused", t.unknown(n));
                c.setHandler(0x09, reads);
                m.Timer1_Timer();
                step("reads again", t.state(n, false));
            }
            if (!t.write) continue;
            answerWrites(Writes::Refused);
            t.write();
            if (t.writtenByPoll) m.Timer1_Timer();
            step("write refused", t.state(n, false));
            check("write refused", !t.on(n), QStringLiteral("the controller took it"));
            check("write refused", !status().contains(MayHaveBeenDone), status());

            answerWrites(Writes::Unanswered);
            t.write();
            if (t.writtenByPoll) {
                // The write waited for the tick, which reads the row again.
                m.Timer1_Timer();
                step("write unanswered, read again", t.state(n, true));
            } else {
                step("write unanswered", t.unknown(n));
            }
            check("write unanswered", t.on(n), QStringLiteral("the controller did not carry it out"));
            check("write unanswered", status().endsWith(QStringLiteral("\n") + MayHaveBeenDone), status());
            answerWrites(Writes::Answered);
            read();
            step("read after the write", t.state(n, true));
            check("at the end", controllerLink().up(), QStringLiteral("the link was lost"));
        }
        for (const QString &w : wrong) qWarning().noquote() << w;
        QVERIFY2(wrong.isEmpty(), "the control showed something else at the steps above");
        disconnectMonitor();
    }

    void servoPositions() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        quietMain();
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        NumServos = 20;
        frmServo &s1 = form<frmServo>();
        frmServo2 &s2 = form<frmServo2>();
        s2.Text1[2]->setText(QStringLiteral("9"));
        QTest::keyClicks(s2.Text1[2], QStringLiteral("1500"));
        QVERIFY(ServoEditInProgress);
        QCOMPARE(ServoEditIndex, int16_t(18));
        QTest::keyClick(s2.Text1[2], Qt::Key_Return);
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{14019, 1500}}));
        QCOMPARE(status(), QStringLiteral("Servo #19 position updated."));
        QVERIFY(!ServoEditInProgress);

        peer.controller().clearLog();
        // Only a number typed is written: not what the box shows, not "N/A"
        // (the position of 0 nobody typed), not text without a number.
        s1.Text1[0]->setText(QStringLiteral("-40"));
        typeEnter(s1.Text1[0]);
        typeEnter(s1.Text1[1], QStringLiteral("abc"));
        leaveField(s1.Text1[1]);
        s1.Text1[5]->setText(QStringLiteral("N/A"));
        typeEnter(s1.Text1[5]);
        typeEnter(s1.Text1[2], QStringLiteral("999999999999"));
        QCOMPARE(status(), QStringLiteral("Nothing written: Servo #3 position takes whole numbers from -2147483648 to "
                                          "2147483647, not 999999999999."));
        leaveField(s1.Text1[2]);
        typeEnter(s1.Text1[2], QStringLiteral("2147483647"));
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{14003, 2147483647}}));

        // Leaving a box after typing empties it and writes nothing.
        peer.controller().clearLog();
        QTest::keyClicks(s1.Text1[4], QStringLiteral("12"));
        leaveField(s1.Text1[4]);
        QVERIFY(!ServoEditInProgress);
        QCOMPARE(s1.Text1[4]->text(), QString());
        // One edit flag for both windows: a box of the other window, which
        // never took the focus from this one, still starts afresh.
        QTest::keyClicks(s1.Text1[5], QStringLiteral("7"));
        s2.Text1[0]->setText(QStringLiteral("300"));
        typeEnter(s2.Text1[0], QStringLiteral("4"));
        QCOMPARE(registerWrites(peer.controller()), (QList<RegisterWrite>{{14017, 4}}));

        // No connection test: the failure is shown.
        disconnectMonitor();
        typeEnter(s1.Text1[3], QStringLiteral("1"));
        QVERIFY(status().startsWith(QStringLiteral("Failed to update servo position value!\n")));
    }
};

QTEST_MAIN(TestEdits)
#include "test_edits.moc"
