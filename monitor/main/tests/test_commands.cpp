// The main window's commands: the resource buttons, the menus, the run
// commands and the DDE topic's execute commands.
#include <QtTest/QTest>

#include "controller.h"
#include "core/dde.h"
#include "core/frmRTC.h"
#include "core/globals.h"
#include "harness/harness.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"
#include "transfer/frmLoadMain.h"
#include "transfer/frmProgFlash.h"
#include "windows/frames.h"

namespace {
const QString AskAnyway = QStringLiteral("There is NO communication with the controller!\r\r\nDo you wish to display the form anyway ?");

void closeFlags() {
    RegWindowOpen = ServoWindowOpen = StatusPollOn = AnalInWindowOpen = RtcWindowOpen = false;
    restartLink();
    ControllerIP.clear();
}

}  // namespace

class TestCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { closeFlags(); }

    void resourceButtonsAskWithoutAConnection() {
        MonitorTestEnv env;
        frmMain &m = quietMain(env);
        QVERIFY(NoComm);
        env.responder.expectBox(AskAnyway, mbCancel);
        m.RegisterButton->click();
        QVERIFY(!RegWindowOpen);
        QVERIFY(!formLoaded<frmReg>() || !form<frmReg>().isVisible());
        QCOMPARE(env.responder.boxes().front().icon, int(mbQuestion));

        env.responder.expectBox(AskAnyway, mbOK);
        m.RegisterButton->click();
        QVERIFY(RegWindowOpen);
        QVERIFY(form<frmReg>().isVisible());
        QCOMPARE(form<frmReg>().Caption(), QStringLiteral("Registers") + ConnectionTitle);
        QCOMPARE(m.Message->text(), QStringLiteral("Register Form loaded."));

        // The analog input button has a text of its own and leaves the status line alone.
        env.responder.expectBox(QStringLiteral("There is NO communication with the controller.\r\r\n"
                                               "Do you wish to display the form anyway ?"));
        m.AinButton_Click();
        QVERIFY(AnalInWindowOpen);
        QCOMPARE(m.Message->text(), QStringLiteral("Register Form loaded."));
        QVERIFY(env.responder.done());
    }

    void servoAndStatusWindows() {
        MonitorTestEnv env;
        frmMain &m = quietMain(env);
        controllerLink().markUp();
        NumServos = 16;
        m.ServoButton_Click();
        QVERIFY(ServoWindowOpen && form<frmServo>().isVisible() && !form<frmServo2>().isVisible());
        QCOMPARE(form<frmServo2>().Caption(), QStringLiteral("Motors/Servos 17-32") + ConnectionTitle);
        NumServos = 17;
        m.ServoButton_Click();
        QVERIFY(form<frmServo2>().isVisible());
        QCOMPARE(m.Message->text(), QStringLiteral("Servo Motor Form loaded."));

        m.StatButton_Click();
        QVERIFY(StatusPollOn);
        QCOMPARE(form<frmStatus>().Caption(), QStringLiteral("Step Status"));
        ControllerIP = QStringLiteral("10.0.0.5");
        m.StatButton_Click();
        QCOMPARE(form<frmStatus>().Caption(), QStringLiteral("Step Status - 10.0.0.5"));
    }

    void ddeExecuteCommands() {
        MonitorTestEnv env;
        frmMain &m = quietMain(env);
        controllerLink().markUp();
        int16_t cancel = 0;
        m.Form_LinkOpen(cancel);
        QCOMPARE(cancel, int16_t(0));
        m.Form_LinkExecute(QStringLiteral("registers"), cancel);
        QCOMPARE(cancel, int16_t(0));
        QVERIFY(RegWindowOpen);
        m.Form_LinkExecute(QStringLiteral("REGISTER"), cancel);
        QCOMPARE(cancel, int16_t(-1));
        m.Form_LinkExecute(QStringLiteral("DDESetup"), cancel);
        QCOMPARE(cancel, int16_t(0));
        QVERIFY(form<frmProgFlash>().isVisible());
    }

    void runCommands() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        frmMain &m = quietMain(env);
        QVERIFY(peer.connectMonitor());
        ControllerModel = 5;
        peer.controller().withMemory([](orvemu::Memory &mem) { mem.status = 0x09; return 0; });

        env.responder.expectBox(QStringLiteral("Are you sure you want to START the controller?"), mbNo);
        m.StartButton_Click();
        env.responder.expectBox(QStringLiteral("Are you sure you want to START the controller?"), mbYes);
        m.StartButton_Click();
        env.responder.expectBox(QStringLiteral("Are you sure you want to STOP the controller?"), mbYes);
        m.StopButton_Click();
        env.responder.expectBox(QStringLiteral("Are you sure you want to RESET the controller?"), mbYes);
        m.ResetButton_Click();
        QVERIFY(env.responder.done());
        // Started from 0x09 (stopped, fresh reset): 0x01; stopped: 0; reset while stopped: 8.
        QCOMPARE(peer.controller().memory().statusWrites, (std::vector<std::uint8_t>{0x01, 0x00, 0x08}));
        QCOMPARE(env.responder.boxes().front().buttons, int(mbYesNo));

        // Only EA controllers take the run commands.
        ControllerModel = 2;
        env.responder.expectBox(QStringLiteral("Are you sure you want to STOP the controller?"), mbYes);
        env.responder.expectBox(QStringLiteral("Failed to execute STOP command!"));
        m.StopButton_Click();
        env.responder.expectBox(QStringLiteral("Are you sure you want to RESET the controller?"), mbYes);
        m.ResetButton_Click();
        QVERIFY(env.responder.done());
        QCOMPARE(peer.controller().memory().statusWrites.size(), size_t(3));
        disconnectMonitor();
    }

    // With the link known lost a run command says so at once, with the
    // reason and where the link goes, and asks nothing and sends nothing.
    void runCommandsWithTheLinkLost() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        frmMain &m = quietMain(env);
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        ControllerModel = 5;
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, 40);
        peer.controller().setFault({orvemu::FaultKind::Drop, -1, 0, 0, {}});
        m.Timer1_Timer();  // the heartbeat goes unanswered
        QVERIFY(NoComm);
        const QString why = controllerLink().lostReason();
        QVERIFY2(why.contains(peer.address()), qPrintable(why));
        peer.controller().clearFault();
        peer.controller().clearLog();
        const std::pair<const char *, void (frmMain::*)()> commands[] = {
            {"START", &frmMain::StartButton_Click}, {"STOP", &frmMain::StopButton_Click},
            {"RESET", &frmMain::ResetButton_Click}};
        for (const auto &[verb, click] : commands) {
            env.responder.clear();
            env.responder.answerEveryBox(mbYes);
            (m.*click)();
            QCOMPARE(env.responder.prompts(),
                     QStringList{QStringLiteral("Failed to execute %1 command!\nNo communication with the controller (%2).")
                                     .arg(QLatin1String(verb), why)});
        }
        QCOMPARE(peer.controller().requestCount(), 0u);
        disconnectMonitor();
    }

    // Over DDE a command that cannot run now is refused at once with the
    // reason and asks nothing; one that ends without its write says why.
    void ddeCommandsThatCannotRun() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        quietMain(env);
        const QString sure = QStringLiteral("Are you sure you want to %1 the controller?");
        enum State { Suspended, NoLink, Linked };
        const struct {
            const char *topic, *command;
            State state;
            int model;
            int answer;  // to the question, when one comes
            QString reply;
            QStringList prompts;
            std::vector<std::uint8_t> writes;
        } cases[] = {
            {"ORVmain", "START", Suspended, 5, mbYes, QStringLiteral("ERROR monitoring is suspended"), {}, {}},
            {"ORVmain", "STOP", NoLink, 5, mbYes, QStringLiteral("ERROR no communication with the controller"), {},
             {}},
            {"ORVmain", "reset", Linked, 2, mbYes,
             QStringLiteral("ERROR this controller (model 2) does not take the RESET command"), {}, {}},
            {"ORVmain", "STOP", Linked, 5, mbNo, QStringLiteral("ERROR the user answered No"), {sure.arg("STOP")}, {}},
            {"ORVmain", "START", Linked, 5, mbYes, QStringLiteral("OK"), {sure.arg("START")}, {0x01}},
            {"DDEsetup", "DOWNLOAD", Suspended, 5, mbYes, QStringLiteral("ERROR monitoring is suspended"), {}, {}},
        };
        for (const auto &c : cases) {
            controllerLink().markResumed();
            if (c.state == Linked) {
                if (ConnectionHandle == 0 && !peer.connectMonitor()) QSKIP("needs the UDP transport");
            } else {
                disconnectMonitor();
            }
            if (c.state == Suspended) controllerLink().markSuspended();
            ControllerModel = c.model;
            peer.controller().withMemory([](orvemu::Memory &mem) {
                mem.status = 0x09;
                mem.statusWrites.clear();
                return 0;
            });
            env.responder.clear();
            env.responder.answerEveryBox(c.answer);
            DdeSession client;
            QCOMPARE(DdeServer::instance().respond(client, QStringLiteral("CONNECT ") + QLatin1String(c.topic)).line,
                     QStringLiteral("OK"));
            QCOMPARE(DdeServer::instance().respond(client, QStringLiteral("EXECUTE ") + QLatin1String(c.command)).line,
                     c.reply);
            QCOMPARE(env.responder.prompts(), c.prompts);
            QCOMPARE(peer.controller().memory().statusWrites, c.writes);
            DdeServer::instance().endSession(client);
        }
        controllerLink().markResumed();
        disconnectMonitor();
    }

    void menus() {
        MonitorTestEnv env;
        frmMain &m = quietMain(env);
        QVERIFY(m.findChild<QAction *>(QStringLiteral("Filemenu(6)")));
        QCOMPARE(m.findChild<QAction *>(QStringLiteral("configmenu(3)"))->text(), QStringLiteral("Change &DDE Setup"));

        form<frmLoadMain>().Label2->setText(QStringLiteral("old"));
        m.Filemenu_Click(6);
        frmLoadMain &lm = form<frmLoadMain>();
        QVERIFY(lm.isVisible());
        QCOMPARE(lm.Label2->text(), QString());
        QCOMPARE(lm.Top(), m.Top() + 200);
        QCOMPARE(lm.Left(), m.Left() + 200);

        m.SetRTC_Click();
        QVERIFY(RtcWindowOpen && form<frmRTC>().isVisible());

        env.responder.expectBox(QStringLiteral("There is NO communication with the controller ...\n"
                                               "Do you wish to display the form anyway ?"),
                                mbCancel);
        m.configmenu_Click(3);
        QVERIFY(!form<frmDDE>().isVisible());
        env.responder.expectBox(QStringLiteral("There is NO communication with the controller ...\n"
                                               "Do you wish to display the form anyway ?"),
                                mbOK);
        m.configmenu_Click(3);
        QVERIFY(form<frmDDE>().isVisible());
        QCOMPARE(form<frmDDE>().Caption(), QStringLiteral("DDE Screen 1"));
        QCOMPARE(m.Message->text(), QStringLiteral("DDE Form(s) loaded."));

        // A cancelled dialog opens no text file.
        RecordingShell shell;
        env.responder.expectFile(std::nullopt);
        m.Filemenu_Click(3);
        QVERIFY(shell.requests.isEmpty());
        env.responder.expectFile(QStringLiteral("/tmp/REGS.TXT"));
        m.Filemenu_Click(3);
        QCOMPARE(shell.requests, QStringList{QStringLiteral("edit /tmp/REGS.TXT")});
        QVERIFY(env.responder.done());
    }
};

QTEST_MAIN(TestCommands)
#include "test_commands.moc"
