// What the monitor shows of its link to the controller: once the link is
// lost, closed by a transfer or suspended, no window and no DDE item shows a
// value as current, and nothing typed is sent, with the reason said; with
// the link back, the values are current again.
#include <QScopeGuard>
#include <QtTest/QTest>

#include "controller.h"
#include "core/dde.h"
#include "core/frmRTC.h"
#include "core/frmSetup.h"
#include "core/globals.h"
#include "datatable/frmTable.h"
#include "harness/harness.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"
#include "transfer/transferrun.h"
#include "windows/frames.h"

namespace {

enum class Cause { Lost, ClosedByTransfer, Suspended };

// The texts a window shows for the values the polling loop fills.
struct ShownValues {
    const char *window;
    std::function<QStringList()> texts;
};

template <size_t N> QStringList textsOf(const std::array<QLineEdit *, N> &boxes, int count = int(N)) {
    QStringList out;
    for (int i = 0; i < count; ++i) out << boxes[size_t(i)]->text();
    return out;
}
template <class Button, size_t N> QStringList captionsOf(const std::array<Button *, N> &buttons) {
    QStringList out;
    for (Button *b : buttons) out << b->Caption();
    return out;
}

QList<ShownValues> everyWindow() {
    return {
        {"frmReg", [] { return textsOf(form<frmReg>().Text1); }},
        {"frmRam", [] { return textsOf(form<frmRam>().Text1); }},
        {"frmAnalIn", [] { return textsOf(form<frmAnalIn>().Text1, 4); }},
        {"frmAnalOut", [] { return textsOf(form<frmAnalOut>().Text1, 4); }},
        {"frmDigIn", [] { return captionsOf(form<frmDigIn>().SSPanel1); }},
        {"frmDigOut", [] { return captionsOf(form<frmDigOut>().SSCommand1); }},
        {"frmFlag", [] { return captionsOf(form<frmFlag>().SSCommand1); }},
        {"frmRegbits", [] { return textsOf(form<frmRegbits>().Text1); }},
        {"frmServo", [] { return textsOf(form<frmServo>().Text1, 2) + textsOf(form<frmServo>().Text2, 2); }},
        {"frmCustom1", [] { return textsOf(form<frmCustom1>().Text2, 2); }},
        {"frmRTC",
         [] {
             frmRTC &f = form<frmRTC>();
             return QStringList{f.txtSec->text(), f.txtHr->text(), f.txtYr->text()};
         }},
        {"frmStatus", [] { return QStringList{form<frmStatus>().Label1->text()}; }},
        {"frmDDE",
         [] {
             frmDDE &f = form<frmDDE>();
             return QStringList{f.RegRead->text(), f.FlagValue[1]->text(), f.RegValue[50]->text(),
                                f.BlockRead[2]->text()};
         }},
        {"frmTable",
         [] {
             frmTable &t = form<frmTable>();
             return QStringList{t.GetCellValue(0, 1).toString(), t.GetCellValue(1, 2).toString()};
         }},
    };
}

bool *const OpenFlags[] = {&RegWindowOpen,     &RamWindowOpen,    &AnalInWindowOpen, &AnalOutWindowOpen,
                           &DigInWindowOpen,   &DigOutWindowOpen, &FlagWindowOpen,   &RegbitsWindowOpen,
                           &ServoWindowOpen,   &Custom1WindowOpen, &RtcWindowOpen,   &StatusPollOn};

// The monitor connected to an emulator over UDP with every window open and
// polled once, DDE serving on, the data table monitored.
struct Session {
    Session() {
        restartLink();
        orvemu::Memory &memory = peer.controller().memory();
        memory.registers[2] = 196;
        memory.setTableDimensions(3, 4);
        for (uint32_t r = 1; r <= 3; ++r)
            for (uint32_t c = 1; c <= 4; ++c) memory.setCell(r, c, uint16_t(10 * r + c));
        main = &quietMainConnectedTo(env, peer, 2000);
        Custom1Rows[0] = {QStringLiteral("r"), 6, 2};
        Custom1Rows[1] = {QStringLiteral("f"), 1, 1};
        for (bool *open : OpenFlags) *open = true;
        for (const ShownValues &w : everyWindow()) w.texts();  // loads each window
        frmDDE &d = form<frmDDE>();
        d.RegAddress->setText(QStringLiteral("3"));
        d.Reg50Address->setText(QStringLiteral("1"));
        d.FlagAddress->setText(QStringLiteral("1"));
        d.BlockAddress[2]->setText(QStringLiteral("3"));
        DdeServing = -1;
        form<frmTable>().Optionmenu[3]->trigger();  // begin monitoring
        main->Timer1_Timer();
    }
    ~Session() {
        for (bool *open : OpenFlags) *open = false;
        DdeServing = 0;
        Custom1Rows = {};
        disconnectMonitor();
    }
    void cause(Cause c) {
        switch (c) {
        case Cause::Lost:
            peer.controller().setFault({orvemu::FaultKind::Drop, -1});
            OrvComm::ZqSetConnectionTimeout(ConnectionHandle, 20);
            main->Timer1_Timer();
            peer.controller().clearFault();
            break;
        case Cause::ClosedByTransfer:
            OrvComm::ZqCloseConnection(ConnectionHandle);
            controllerLink().markDropped();
            ShowLinkClosedByTransfer();
            break;
        case Cause::Suspended: main->SuspendButton_Click(); break;
        }
    }
    QString ddeRequest(const QString &item, const QString &topic = QStringLiteral("DDEsetup")) {
        DdeSession s;
        DdeServer &server = DdeServer::instance();
        server.respond(s, QStringLiteral("CONNECT ") + topic);
        const QString answer = server.respond(s, QStringLiteral("REQUEST ") + item).line;
        server.endSession(s);
        return answer;
    }

    MonitorTestEnv env;
    EmulatorPeer peer{5};
    frmMain *main = nullptr;
};

}  // namespace

Q_DECLARE_METATYPE(Cause)

class TestLinkState : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void valuesAreMarkedWhileTheLinkIsDown_data() {
        QTest::addColumn<Cause>("cause");
        QTest::newRow("lost") << Cause::Lost;
        QTest::newRow("closed by a transfer") << Cause::ClosedByTransfer;
        QTest::newRow("suspended") << Cause::Suspended;
    }
    void valuesAreMarkedWhileTheLinkIsDown() {
        QFETCH(Cause, cause);
        Session s;
        QVERIFY(!NoComm);
        for (const ShownValues &w : everyWindow())
            QVERIFY2(!w.texts().contains(QStringLiteral("*")), w.window);
        QCOMPARE(form<frmReg>().Text1[1]->text(), QStringLiteral("196"));
        // A flag clicked just before: its button shows the value it gave.
        form<frmFlag>().SSCommand1[0]->click();
        QVERIFY(form<frmFlag>().SSCommand1[0]->ForeColor() != ColourNoValue);

        s.cause(cause);
        QVERIFY(NoComm);
        for (const ShownValues &w : everyWindow()) {
            const QStringList texts = w.texts();
            QVERIFY2(texts.count(QStringLiteral("*")) == texts.size(), qPrintable(w.window + (": " + texts.join(u','))));
        }
        // A "*" is never drawn in a value's colour.
        QList<int32_t> colours;
        for (const auto *b : form<frmFlag>().SSCommand1) colours << b->ForeColor();
        for (const auto *p : form<frmDigIn>().SSPanel1) colours << p->ForeColor();
        for (const auto *b : form<frmDigOut>().SSCommand1) colours << b->ForeColor();
        QCOMPARE(colours.count(ColourNoValue), colours.size());
        QCOMPARE(s.ddeRequest(QStringLiteral("RegRead")), QStringLiteral("DATA *"));
        // Only the user's word ends a Suspend or a transfer's close.
        if (cause != Cause::Lost) {
            QVERIFY(!controllerLink().markUp());
            QVERIFY(NoComm);
        }

        // With the link back, the next tick shows current values again.
        if (cause == Cause::Lost) s.main->CheckComm();
        else s.main->SuspendButton_Click();
        s.main->waitForAttempt();
        QVERIFY(!NoComm);
        s.main->Timer1_Timer();
        for (const ShownValues &w : everyWindow()) {
            if (QByteArrayView(w.window) == "frmTable") Q_EMIT form<frmTable>().Timer1->Timer();
            QVERIFY2(!w.texts().contains(QStringLiteral("*")), qPrintable(w.window + (": " + w.texts().join(u','))));
        }
        QCOMPARE(form<frmReg>().Text1[1]->text(), QStringLiteral("196"));
    }

    // A failure of the link names where the link goes unless its text
    // does, and gives the system's reason for a bare operating-system error
    // number; only refusals (the controller's, or the library's of an object
    // file) keep the link, and they name no place.
    void failuresSayWhereAndWhy() {
        restartLink();
        ControllerLink &link = controllerLink();
        const ControllerLink::Place serial{QStringLiteral("on COM2"), QStringLiteral("/dev/ttyS1"),
                                           QStringLiteral("/dev/ttyS1")};
        const ControllerLink::Place raw{QStringLiteral("at node 3"), QStringLiteral("adapter 1"),
                                        QStringLiteral("node 3")};
        const struct {
            ControllerLink::Place place;
            int32_t code;
            const char *text;
            QString reads;
        } cases[] = {
            {serial, 170, "Timed out waiting for response from controller",
             QStringLiteral("Timed out waiting for response from controller on COM2 (/dev/ttyS1)")},
            {serial, ENOTTY, "SetCommState error",
             QStringLiteral("SetCommState error on COM2 (/dev/ttyS1: ") + qt_error_string(ENOTTY) + u')'},
            {serial, ENOENT, "Windows file error (/dev/ttyS1: No such file or directory)",
             QStringLiteral("Windows file error (/dev/ttyS1: No such file or directory)")},
            {raw, 0, "", QStringLiteral("No answer from the controller at node 3 (adapter 1)")},
            {raw, 236, "Windows socket timeout: no reply within 3 x 300 ms from node 3",
             QStringLiteral("Windows socket timeout: no reply within 3 x 300 ms from node 3")},
            {{}, EIO, "Failed to close serial port", QStringLiteral("Failed to close serial port: ") + qt_error_string(EIO)},
            // A refusal, by the controller or of an object file, is no fault
            // of the link.
            {serial, 216, "Illegal register number specified.", QStringLiteral("Illegal register number specified.")},
            {serial, 184, "Bad object file: it ends at byte 6, inside record 1 (4 bytes from byte 3)",
             QStringLiteral("Bad object file: it ends at byte 6, inside record 1 (4 bytes from byte 3)")},
            {serial, 185, "Wrong object file architecture - EA object file and non-EA controller.",
             QStringLiteral("Wrong object file architecture - EA object file and non-EA controller.")},
            {serial, 160, "Failed to upload Step Length Table: Timed out waiting for response from controller",
             QStringLiteral("Failed to upload Step Length Table: Timed out waiting for response from controller on "
                            "COM2 (/dev/ttyS1)")},
        };
        for (const auto &c : cases) {
            link.setPlace(c.place);
            QCOMPARE(link.describe(c.code, QLatin1String(c.text)), c.reads);
        }
        link.setPlace({});
        for (int32_t code : {215, 216, 157}) QVERIFY(ControllerLink::refusedByController(code));
        for (int32_t code : {0, 170, 194, 206, 236, EIO}) QVERIFY(!ControllerLink::refusedByController(code));
        for (int32_t code : {215, 216, 157, 183, 184, 185, 187}) QVERIFY(!ControllerLink::losesLink(code));
        for (int32_t code : {0, 160, 170, 194, 206, 236, EIO}) QVERIFY(ControllerLink::losesLink(code));
        QVERIFY(ControllerLink::losesLink(std::nullopt));
    }

    // A write or command that times out while the link still looks up
    // gives the library's reason with the port and its device, as the
    // connection messages do, in the status line or in its box, and a write
    // says that the controller may still have carried it out; a flag or
    // output button shows neither the state asked for nor the one before,
    // but "*", in no value's colour.
    void timedOutWritesNameThePort() {
        MonitorTestEnv env;
        restartLink();
        EmulatorPeer peer(5, PeerLink::Serial, 0, 1);
        QVERIFY(peer.available());
        frmMain *m = quietMainOnSerial(env, 115200, 150);
        QVERIFY(m);
        FlagWindowOpen = true;
        const auto closed = qScopeGuard([] {
            FlagWindowOpen = false;
            disconnectMonitor();
        });
        frmFlag &flags = form<frmFlag>();
        frmDigOut &outputs = form<frmDigOut>();
        frmDDE &dde = form<frmDDE>();
        m->Timer1_Timer();
        QVERIFY(controllerLink().up());
        QCOMPARE(flags.SSCommand1[0]->Caption(), QStringLiteral("Clear"));
        const QString timedOut =
            QStringLiteral("Timed out waiting for response from controller on COM1 (") + peer.device() + u')';
        const struct {
            const char *what;
            std::function<void()> act;
            QString words;
            bool box = false;  // the failure shows in a box, not the status line
            int answered = 0;  // requests answered before the controller goes silent (the
                               // status read before a run command's write is passed over)
            bool write = true;  // a write, whose outcome no answer settled
            // Only these requests go unanswered (the status read, which the
            // peer's faults pass over otherwise as the line's check).
            std::vector<uint8_t> only = {};
        } writes[] = {
            {"flag window", [&] { flags.SSCommand1[0]->click(); }, QStringLiteral("Failed to update Flag value!\n")},
            {"output window", [&] { outputs.SSCommand1[0]->click(); },
             QStringLiteral("Failed to update output value!\n")},
            {"DDE flag box",
             [&] {
                 dde.FlagAddress->setText(QStringLiteral("1"));
                 dde.FlagWrite->setText(QStringLiteral("1"));
             },
             QStringLiteral("Failed to update Flag value!\n")},
            {"DDE register box",
             [&] {
                 dde.RegAddress->setText(QStringLiteral("5"));
                 dde.RegWrite->setText(QStringLiteral("7"));
             },
             QStringLiteral("Failed to update register value!\n")},
            {"STOP", [&] { m->StopButton_Click(); },
             QStringLiteral("Failed to execute STOP command!\nThe controller's status could not be read: "), true, 0,
             false, {0x01, 0x03, 0x3D, 0xC2, 0xFF}},
            {"RESET", [&] { m->ResetButton_Click(); }, QStringLiteral("Failed to execute RESET command!\n"), true},
            {"START", [&] { m->StartButton_Click(); }, QStringLiteral("Failed to execute START command!\n"), true},
            {"setup window", [&] { form<frmSetup>().cmdLoadIP->click(); },
             QStringLiteral("Failed to update register value!\n"), true},
        };
        for (const auto &w : writes) {
            m->Message->clear();
            env.responder.clear();
            env.responder.answerEveryBox(mbYes);
            // START writes only to a stopped controller.
            peer.controller().withMemory([](orvemu::Memory &mem) { mem.status = 1; });
            orvemu::Fault silent{orvemu::FaultKind::Drop, -1, 0, 0, {}, w.answered};
            silent.request = w.only;
            peer.controller().setFault(silent);
            w.act();
            QVERIFY2(controllerLink().up(), w.what);
            QCOMPARE(w.box ? env.responder.prompts().last() : m->Message->text(),
                     w.words + timedOut + (w.write ? u'\n' + ControllerLink::mayHaveBeenCarriedOut() : QString()));
        }
        QCOMPARE((QVariantList{flags.SSCommand1[0]->Caption(), flags.SSCommand1[0]->ForeColor()}),
                 (QVariantList{QStringLiteral("*"), ColourNoValue}));
        QCOMPARE((QVariantList{outputs.SSCommand1[0]->Caption(), outputs.SSCommand1[0]->ForeColor()}),
                 (QVariantList{QStringLiteral("*"), ColourNoValue}));
        m->Timer1_Timer();
        peer.controller().clearFault();
        QVERIFY(!controllerLink().up());
        QCOMPARE(flags.SSCommand1[0]->Caption(), QStringLiteral("*"));
        QCOMPARE(flags.SSCommand1[0]->ForeColor(), ColourNoValue);
    }

    // After a transfer closed the link, nothing typed into a window is sent,
    // and the status line says why; a value box then shows that it has no
    // current value, and DDE never serves what is only typed.
    void writesSayWhyTheyCannotBeDone() {
        Session s;
        s.cause(Cause::ClosedByTransfer);
        s.peer.controller().clearLog();
        const QString why = QStringLiteral("\nThe connection was closed after the program transfer.");

        // A box being typed into is served as the value it showed.
        QTest::keyClicks(form<frmReg>().Text1[4], QStringLiteral("99"));
        QCOMPARE(form<frmReg>().Text1[4]->text(), QStringLiteral("99"));
        QCOMPARE(s.ddeRequest(QStringLiteral("Text1(4)"), QStringLiteral("ORVreg")), QStringLiteral("DATA *"));
        leaveField(form<frmReg>().Text1[4]);
        QCOMPARE(form<frmReg>().Text1[4]->text(), QStringLiteral("*"));

        struct Write {
            const char *what;
            std::function<void()> act;
            QString words;
            QLineEdit *box = nullptr;  // shows "*" again afterwards
        };
        const QList<Write> writes{
            {"custom window", [] { typeEnter(form<frmCustom1>().Text2[0], QStringLiteral("5")); },
             QStringLiteral("Failed to update value."), form<frmCustom1>().Text2[0]},
            {"register window", [] { typeEnter(form<frmReg>().Text1[0], QStringLiteral("5")); },
             QStringLiteral("Failed to update register value!"), form<frmReg>().Text1[0]},
            {"digital output", [] { form<frmDigOut>().SSCommand1[0]->click(); },
             QStringLiteral("Failed to update output value!")},
            {"flag", [] { form<frmFlag>().SSCommand1[0]->click(); }, QStringLiteral("Failed to update Flag value!")},
            {"data table download", [] { form<frmTable>().DownloadDataTable(); },
             QStringLiteral("Failed to download the data table.")},
        };
        for (const Write &w : writes) {
            s.main->Message->clear();
            w.act();
            QCOMPARE(s.main->Message->text(), w.words + why);
            if (w.box) QCOMPARE(w.box->text(), QStringLiteral("*"));
            QVERIFY(!RegEditInProgress && !Custom1EditInProgress);
        }
        QCOMPARE(s.peer.controller().requestCount(), 0u);
        // The buttons still show that their state is not known.
        QCOMPARE(form<frmDigOut>().SSCommand1[0]->Caption(), QStringLiteral("*"));
        QCOMPARE(form<frmFlag>().SSCommand1[0]->Caption(), QStringLiteral("*"));
    }
};

QTEST_MAIN(TestLinkState)
#include "test_linkstate.moc"
