// The polling tick against the emulator: what one tick asks the controller
// for, what it writes into the windows, the link check, the yields and the
// error handler.
#include <QtTest/QTest>

#include "controller.h"
#include "core/codeDBase.h"
#include "core/eventpump.h"
#include "core/frmRTC.h"
#include "core/globals.h"
#include "core/runtime_error.h"
#include "harness/harness.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"
#include "windows/frames.h"
#include "wire.h"

namespace {

QStringList gets(int first, int count) {
    QStringList l;
    for (int i = 0; i < count; ++i) l << QStringLiteral("get %1").arg(first + i);
    return l;
}

void closeEverything() {
    FlagWindowOpen = DigInWindowOpen = DigOutWindowOpen = AnalInWindowOpen = AnalOutWindowOpen = false;
    RegWindowOpen = RegbitsWindowOpen = RamWindowOpen = ServoWindowOpen = false;
    Custom1WindowOpen = Custom2WindowOpen = StatusPollOn = RtcWindowOpen = false;
    RegEditInProgress = AnalOutEditInProgress = ServoEditInProgress = Custom1EditInProgress = false;
    RegbitsWritePending = RegbitsEditInProgress = RtcSyncRequest = false;
    SymbolFilePath.clear();
}

// The monitor connected to an emulator over UDP, its timers stopped, yields
// scripted: each test runs ticks by hand.
struct Session {
    explicit Session(int model = 5) : peer(model) {
        closeEverything();
        restartLink();
        main = &quietMainConnectedTo(env, peer);
        installEventPump(&pump);
        peer.controller().clearLog();
    }
    ~Session() { closeEverything(); }
    QStringList requests() { return requestSummary(peer.controller()); }
    orvemu::Memory &memory() { return peer.controller().memory(); }
    // Register reads of these numbers get a short reply with error 216, and
    // those of the others in `silent` no reply at all.
    void refuse(QList<int> refused, QList<int> silent = {}) {
        peer.controller().setHandler(0x09, [refused, silent](orvemu::Controller &c, const orvemu::Request &r) {
            const int reg = orvemu::u16(r.args.data());
            if (refused.contains(reg)) return orvemu::shortReply(orvemu::kIllegalRegister);
            if (silent.contains(reg)) return std::vector<std::uint8_t>{};
            std::vector<std::uint8_t> data;
            orvemu::put32(data, static_cast<std::uint32_t>(c.memory().readRegister(reg).value_or(0)));
            return orvemu::replyFrame(0x0A, data);
        });
    }

    MonitorTestEnv env;
    EmulatorPeer peer;
    ScriptedPump pump{false};
    frmMain *main = nullptr;
};

}  // namespace

class TestPolling : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneTickReadsWhatTheOpenWindowsShow() {
        Session s;
        QVERIFY(!NoComm);
        NumFlags = 32;
        frmFlag &flags = form<frmFlag>();
        frmAnalIn &ain = form<frmAnalIn>();
        for (auto *b : flags.SSCommand1) b->setCaption(QStringLiteral("Clear"));
        flags.SSCommand1[3]->setCaption(QStringLiteral("Stuck"));
        flags.VScroll1->setValue(1);
        ain.VScroll1->setValue(1);
        FlagWindowOpen = AnalInWindowOpen = true;
        s.memory().setFlag(2, true);
        s.memory().setFlag(4, true);
        s.memory().analogInputs[2] = 1234;

        s.main->Timer1_Timer();
        QCOMPARE(s.requests(), QStringList{QStringLiteral("get 1")} + gets(13005, 1) + gets(8501, 16));
        QCOMPARE(s.pump.yields(), 4);  // before rows 4, 8, 12 and 16
        QCOMPARE(flags.SSCommand1[1]->Caption(), QStringLiteral("Set"));
        QCOMPARE(flags.SSCommand1[1]->ForeColor(), 32768);
        QCOMPARE(flags.SSCommand1[1]->Font3D(), 1);
        QCOMPARE(flags.SSCommand1[0]->Caption(), QStringLiteral("Clear"));
        QCOMPARE(flags.SSCommand1[3]->Caption(), QStringLiteral("Stuck"));  // neither Set nor Clear: left alone
        QCOMPARE(ain.Text1[2]->text(), QStringLiteral("1234"));
        QCOMPARE(ain.Text1[0]->text(), QStringLiteral("0"));
        QVERIFY(!NoComm && !CommError);

        // A flag that clears again turns its button back.
        s.memory().setFlag(2, false);
        s.main->Timer1_Timer();
        QCOMPARE(flags.SSCommand1[1]->Caption(), QStringLiteral("Clear"));
        QCOMPARE(flags.SSCommand1[1]->ForeColor(), 255);
        QCOMPARE(flags.SSCommand1[1]->Font3D(), 3);
    }

    // A page that starts at flag 25 of a controller with more than 32 flags
    // runs into the next flag register half-way.
    void flagPageAcrossTwoRegisters() {
        Session s;
        NumFlags = 64;
        frmFlag &flags = form<frmFlag>();
        for (auto *b : flags.SSCommand1) b->setCaption(QStringLiteral("Clear"));
        flags.VScroll1->setValue(25);
        FlagWindowOpen = true;
        s.memory().setFlag(32, true);  // bit 31 of the first register
        s.memory().setFlag(33, true);  // bit 0 of the second
        s.main->Timer1_Timer();
        QCOMPARE(s.requests(), (QStringList{QStringLiteral("get 1"), QStringLiteral("get 13021"),
                                            QStringLiteral("get 13022")}));
        QCOMPARE(flags.SSCommand1[7]->Caption(), QStringLiteral("Set"));
        QCOMPARE(flags.SSCommand1[8]->Caption(), QStringLiteral("Set"));
        QCOMPARE(flags.SSCommand1[9]->Caption(), QStringLiteral("Clear"));
    }

    // Error 216 is a data error: "N/A" and the link stays. Anything else
    // marks the link lost; the tick sends nothing more, its later rows and
    // windows show their failure text, and the next tick reconnects.
    void linkCheck() {
        Session s;
        s.refuse({8503}, {8505});
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, 40);
        frmAnalIn &ain = form<frmAnalIn>();
        frmReg &reg = form<frmReg>();
        ain.VScroll1->setValue(1);
        reg.VScroll1->setValue(1);
        s.memory().analogInputs[5] = 66;
        s.memory().registers[3] = -1;
        AnalInWindowOpen = RegWindowOpen = true;
        ain.Text1[5]->setText(QStringLiteral("old"));
        reg.Text1[2]->setText(QStringLiteral("old"));
        s.main->Timer1_Timer();
        QCOMPARE(ain.Text1[2]->text(), QStringLiteral("N/A"));
        QCOMPARE(ain.Text1[4]->text(), QStringLiteral("*"));
        QCOMPARE(ain.Text1[5]->text(), QStringLiteral("*"));
        QCOMPARE(reg.Text1[2]->text(), QStringLiteral("*"));
        // Three tries of the silent row, then nothing.
        QCOMPARE(s.requests(), QStringList{QStringLiteral("get 1")} + gets(8501, 5) + gets(8505, 1) + gets(8505, 1));
        QVERIFY(CommError && NoComm);
        QCOMPARE(ErrorInfo.code, 11);  // the network time-out

        // The next tick starts the reconnect (the controller is asked for
        // register 1 first); once it is back, ticks poll as usual.
        s.peer.controller().clearLog();
        AnalInWindowOpen = false;
        reg.HexView = true;
        s.main->Timer1_Timer();
        s.main->waitForAttempt();
        QVERIFY(!NoComm);
        s.main->Timer1_Timer();
        QVERIFY(!NoComm && !CommError);
        const QStringList r = s.requests();
        QCOMPARE(r.mid(0, 7), (QStringList{QStringLiteral("get 1"), QStringLiteral("get 13008"), QStringLiteral("code 0D"),
                                           QStringLiteral("code 45"), QStringLiteral("code 3D"),
                                           QStringLiteral("code 41"), QStringLiteral("get 1")}));
        QCOMPARE(r.mid(7), gets(1, 16));
        QCOMPARE(reg.Text1[2]->text(), QStringLiteral("FFFFFFFF"));
        reg.HexView = false;
    }

    // With the link lost and no controller to be found, a tick tries to
    // reconnect and does nothing else; with the link closed by a transfer it
    // does nothing at all.
    void lostLinkAndNoConnection() {
        Session s;
        controllerLink().markLost(QString());
        CommPort = 1;
        ControllerIP.clear();
        RegWindowOpen = true;
        form<frmReg>();
        s.main->Timer1_Timer();
        QVERIFY(NoComm);
        QCOMPARE(s.peer.controller().requestCount(), 0u);

        controllerLink().markClosed(QStringLiteral("closed"));
        s.main->Timer1_Timer();
        QVERIFY(NoComm);
        QCOMPARE(ConnectionHandle, 0);
        QCOMPARE(s.peer.controller().requestCount(), 0u);
    }

    // What runs at a yield may close the connection or start a transfer.
    void yieldsAreTestedAgain() {
        {
            Session s;
            form<frmAnalIn>().VScroll1->setValue(1);
            AnalInWindowOpen = RegWindowOpen = true;
            form<frmReg>();
            s.pump.at(1, [] {
                OrvComm::ZqCloseConnection(ConnectionHandle);
                controllerLink().markDropped();
            });
            s.main->Timer1_Timer();
            QCOMPARE(s.requests(), QStringList{QStringLiteral("get 1")} + gets(8501, 3));
            // Closed by the user, not lost: no failure is reported.
            QVERIFY(!s.main->Message->text().startsWith(QStringLiteral("Connection lost")));
        }
        {
            Session s;
            frmAnalIn &ain = form<frmAnalIn>();
            ain.VScroll1->setValue(1);
            AnalInWindowOpen = RegWindowOpen = true;
            form<frmReg>();
            std::optional<ControllerLink::Hold> transfer;
            s.pump.at(2, [&transfer] { transfer.emplace(); });
            s.main->Timer1_Timer();
            QCOMPARE(s.requests(), QStringList{QStringLiteral("get 1")} + gets(8501, 7));
            QCOMPARE(ain.Text1[7]->text(), QStringLiteral("N/A"));
            QCOMPARE(ain.Text1[15]->text(), QStringLiteral("N/A"));
        }
    }

    void errorHandler() {
        Session s;
        form<frmAnalIn>();
        AnalInWindowOpen = true;
        s.pump.at(1, [] { throw RuntimeError(5, QStringLiteral("Invalid procedure call or argument")); });
        s.main->Timer1_Timer();
        QCOMPARE(s.main->Message->text(), QStringLiteral("Error in polling routine!\rInvalid procedure call or argument"));
        QVERIFY(NoComm);

        // Suspended, an error without a number shows nothing.
        s.main->Message->setText(QString());
        controllerLink().markSuspended();
        s.pump.at(2, [] { throw RuntimeError(0, QString()); });
        s.main->Timer1_Timer();
        QCOMPARE(s.main->Message->text(), QString());
        QVERIFY(NoComm);
        controllerLink().markResumed();
    }

    void registerWindowRows() {
        Session s;
        frmReg &reg = form<frmReg>();
        reg.VScroll1->setValue(100);
        RegWindowOpen = true;
        s.memory().registers[100] = 255;
        s.memory().registers[103] = 7;
        reg.Text1[3]->setText(QStringLiteral("12"));
        RegEditInProgress = true;
        RegEditIndex = 3;
        s.main->Timer1_Timer();
        QCOMPARE(s.requests(), QStringList{QStringLiteral("get 1")} + gets(100, 3) + gets(104, 12));
        QCOMPARE(reg.Text1[0]->text(), QStringLiteral("255"));
        QCOMPARE(reg.Text1[3]->text(), QStringLiteral("12"));  // the row being edited
        reg.HexView = true;
        RegEditInProgress = false;
        s.main->Timer1_Timer();
        QCOMPARE(reg.Text1[0]->text(), QStringLiteral("FF"));
        QCOMPARE(reg.Text1[3]->text(), QStringLiteral("7"));
        reg.HexView = false;
    }

    void registerBitsWrite() {
        Session s;
        frmRegbits &bits = form<frmRegbits>();
        bits.VScroll1->setValue(120);
        RegbitsWindowOpen = true;
        RegbitsBase = 0;
        RegbitsWritePending = true;
        RegbitsWriteRegister = 120;
        RegbitsRow = 1;
        RegbitsValues[0] = 12.5;  // halves go to the even neighbour
        s.main->Timer1_Timer();
        QCOMPARE(s.requests().mid(0, 3),
                 (QStringList{QStringLiteral("get 1"), QStringLiteral("put 120=12"), QStringLiteral("get 120")}));
        QCOMPARE(s.main->Message->text(), QStringLiteral("Register #120 updated."));
        QCOMPARE(bits.Text1[0]->text(), QStringLiteral("12"));
        QVERIFY(!RegbitsWritePending);

        // A refused write is reported and does not mark the link lost.
        RegbitsWritePending = true;
        RegbitsWriteRegister = 40001;
        s.main->Timer1_Timer();
        QCOMPARE(s.main->Message->text(), QStringLiteral("Failed to update register value!\n") + errorInfoText());
        QVERIFY(!errorInfoText().isEmpty());
        QVERIFY(!NoComm);
        RegbitsWindowOpen = false;
    }

    void nonVolatileRowsOfModel5() {
        Session s;
        frmRam &ram = form<frmRam>();
        ram.VScroll1->setValue(3993);  // registers 35993 to 36008
        RamWindowOpen = true;
        s.memory().registers[35993] = 9;
        s.peer.controller().withMemory([](orvemu::Memory &m) { m.vregs.setDouble(36001, 2.5); });
        s.main->Timer1_Timer();
        QStringList r = s.requests();
        QCOMPARE(r.mid(0, 9), QStringList{QStringLiteral("get 1")} + gets(35993, 8));
        QCOMPARE(r.mid(9), QStringList(8, QStringLiteral("code 5D")));
        QCOMPARE(ram.Text1[0]->text(), QStringLiteral("9"));
        QCOMPARE(ram.Text1[8]->text(), QStringLiteral("2.5"));
        QCOMPARE(ram.Text1[9]->text(), QStringLiteral("0"));
        RamWindowOpen = false;
    }

    void servosAndDigitalPoints() {
        Session s;
        NumServos = 20;
        form<frmServo>();
        frmServo2 &second = form<frmServo2>();
        ServoWindowOpen = true;
        s.memory().servoPosition[17] = -40;
        const QString absent = second.Text1[4]->text();
        s.main->Timer1_Timer();
        QStringList expected{QStringLiteral("get 1")};
        for (int a = 1; a <= 20; ++a) expected << QStringLiteral("get %1").arg(14000 + a) << QStringLiteral("get %1").arg(14100 + a);
        QCOMPARE(s.requests(), expected);
        QCOMPARE(second.Text1[1]->text(), QStringLiteral("-40"));
        QCOMPARE(second.Text1[4]->text(), absent);  // axis 21 is not there

        // While a transfer runs the servo rows are left alone.
        s.peer.controller().clearLog();
        ServoWindowOpen = false;
        DigInWindowOpen = DigOutWindowOpen = true;
        frmDigIn &in = form<frmDigIn>();
        frmDigOut &out = form<frmDigOut>();
        in.VScroll1->setValue(1);
        out.VScroll1->setValue(1);
        s.memory().digitalInputs[0] = 1;
        s.memory().digitalOutputs[1] = 1;
        for (auto *b : out.SSCommand1) b->setCaption(QStringLiteral("Off"));
        s.main->Timer1_Timer();
        QCOMPARE(s.requests(), QStringList{QStringLiteral("get 1")} + gets(2001, 16) + gets(1001, 16));
        const SymbolDisplay on = InputSymbolName(1, 1);
        QCOMPARE(in.SSPanel1[0]->Caption(), on.stateText);
        QCOMPARE(in.SSPanel1[0]->ForeColor(), on.colour);
        QCOMPARE(in.Label1[0]->text(), on.name);
        QCOMPARE(in.SSPanel1[1]->Caption(), InputSymbolName(2, 0).stateText);
        QCOMPARE(out.SSCommand1[1]->Caption(), OutputSymbolName(2, 1).stateText);
        QCOMPARE(out.SSCommand1[1]->Font3D(), 1);
        QCOMPARE(out.SSCommand1[0]->Caption(), OutputSymbolName(1, 0).stateText);
        DigInWindowOpen = DigOutWindowOpen = false;
    }

    void customRows() {
        Session s;
        form<frmCustom1>();
        const std::pair<int16_t, int32_t> rows[] = {{1, 2}, {1, 40}, {2, 3}, {6, 50}, {9, 1}, {12, 1}, {0, 1}, {99, 1}};
        for (size_t i = 0; i < 16; ++i) Custom1Rows[i] = {QString(), 0, 1};
        for (size_t i = 0; i < std::size(rows); ++i) Custom1Rows[i] = {QString(), rows[i].first, rows[i].second};
        s.memory().setFlag(2, true);
        s.memory().setFlag(40, true);
        s.memory().digitalInputs[2] = 1;
        s.memory().registers[50] = -5;
        s.memory().servoInputs[0] = 0x02;
        Custom1WindowOpen = true;
        s.main->Timer1_Timer();
        QCOMPARE(s.requests(), (QStringList{QStringLiteral("get 1"), QStringLiteral("get 13005"),
                                            QStringLiteral("get 13022"), QStringLiteral("get 2003"),
                                            QStringLiteral("get 50"), QStringLiteral("get 14701"),
                                            QStringLiteral("get 14701")}));
        frmCustom1 &c = form<frmCustom1>();
        QCOMPARE(c.Text2[0]->text(), QStringLiteral("Set"));
        QCOMPARE(c.Text2[1]->text(), QStringLiteral("Set"));  // flag 40 from its own register
        QCOMPARE(c.Text2[2]->text(), QStringLiteral("1"));
        QCOMPARE(c.Label1[2]->text(), InputSymbolName(3, 1).name);
        QCOMPARE(c.Text2[3]->text(), QStringLiteral("-5"));
        QCOMPARE(c.Text2[4]->text(), QStringLiteral("Active"));
        QCOMPARE(c.Text2[5]->text(), QStringLiteral("InActive"));
        Custom1WindowOpen = false;
    }

    // A controller stopped on fault 2 shows its fault and skips the clock;
    // a tick whose heartbeat goes unanswered asks for no status at all.
    void corruptProgramFault() {
        Session s;
        frmStatus &status = form<frmStatus>();
        form<frmRTC>();
        StatusPollOn = RtcWindowOpen = true;
        s.memory().raiseFault(2, 9, 0);
        s.main->Timer1_Timer();
        QVERIFY(status.Label1->text().startsWith(QStringLiteral("Controller Software Faulted in Step 10! ")));
        for (const QString &r : s.requests()) QVERIFY2(!r.startsWith(QStringLiteral("get 130")), qPrintable(r));
        QVERIFY(!NoComm);

        s.peer.controller().clearLog();
        s.refuse({}, {1});
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, 40);
        s.main->Timer1_Timer();
        QCOMPARE(s.requests(), gets(1, 1) + gets(1, 1) + gets(1, 1));  // the three tries
        QVERIFY(NoComm);
        StatusPollOn = RtcWindowOpen = false;
        unloadForm<frmRTC>();
    }

    void ddeItems() {
        Session s;
        NumFlags = 64;
        frmDDE &dde = form<frmDDE>();
        dde.FlagAddress->setText(QStringLiteral("40"));
        dde.RegAddress->setText(QStringLiteral("12.5"));  // halves go to the even neighbour
        dde.Reg50Address->setText(QStringLiteral("2"));
        for (int i = 1; i <= 16; ++i) dde.BlockAddress[size_t(i)]->clear();
        dde.BlockAddress[3]->setText(QStringLiteral("7"));
        dde.BlockAddress[5]->setText(QStringLiteral("abc"));  // no number: not used
        DdeServing = 1;
        s.memory().setFlag(33, true);
        s.memory().registers[12] = 120;
        s.memory().registers[51] = -51;
        s.memory().registers[7] = 77;
        s.main->Timer1_Timer();
        QCOMPARE(s.requests(), (QStringList{QStringLiteral("get 1"), QStringLiteral("get 13022"),
                                            QStringLiteral("get 12"), QStringLiteral("code 4B"),
                                            QStringLiteral("get 7")}));
        QCOMPARE(s.pump.yields(), 4);
        QCOMPARE(dde.Label1[2]->text(), QStringLiteral("Flag 33:"));
        QCOMPARE(dde.Label1[5]->text(), QStringLiteral("Flag 57:"));
        QCOMPARE(dde.FlagValue[1]->text(), QStringLiteral("1"));
        QCOMPARE(dde.FlagValue[2]->text(), QStringLiteral("0"));
        QCOMPARE(dde.RegRead->text(), QStringLiteral("120"));
        QCOMPARE(dde.RegValue[1]->text(), QStringLiteral("-51"));
        QCOMPARE(dde.BlockRead[3]->text(), QStringLiteral("77"));

        // Not while a transfer runs.
        s.peer.controller().clearLog();
        {
            const ControllerLink::Hold transfer;
            s.main->Timer1_Timer();
            QCOMPARE(s.requests(), QStringList{});
        }
        DdeServing = 0;
    }

    void clockWindow() {
        Session s;
        frmRTC &rtc = form<frmRTC>();
        QVERIFY(RtcWindowOpen);
        s.main->Timer1_Timer();
        QCOMPARE(s.requests(), QStringList{QStringLiteral("get 1")} + gets(13014, 7));
        QCOMPARE(rtc.txtHr->text(), QStringLiteral("12"));
        QCOMPARE(rtc.txtYr->text(), QStringLiteral("26"));
        QVERIFY(!rtc.lblSysClock->text().isEmpty());

        s.peer.controller().clearLog();
        RtcSyncRequest = true;
        s.main->Timer1_Timer();
        const QStringList r = s.requests();
        QCOMPARE(r.size(), 1 + 7 + 9);
        QCOMPARE(r[8], QStringLiteral("put 13013=1"));
        QVERIFY(r[9].startsWith(QStringLiteral("put 13014=")));
        QVERIFY(r[15].startsWith(QStringLiteral("put 13020=")));
        QCOMPARE(r[16], QStringLiteral("put 13013=0"));
        QVERIFY(!RtcSyncRequest);
        QCOMPARE(s.memory().registers[13019], QDate::currentDate().year() % 100);
        unloadForm<frmRTC>();
    }
};

QTEST_MAIN(TestPolling)
#include "test_polling.moc"
