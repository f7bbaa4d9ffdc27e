// The DDE service: conversations with the windows' topics over the local
// socket, items, pokes, execute commands, hot links and the orvdde client.
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "controller.h"
#include "core/dde.h"
#include "core/globals.h"
#include "core/msgbox.h"
#include "harness/harness.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"
#include "windows/frames.h"

namespace {

// A client in this process: the server answers while the test waits.
class Client {
public:
    explicit Client(const QString &service) {
        socket.connectToServer(service);
        QVERIFY(socket.waitForConnected(2000));
    }
    QString ask(const QString &line) {
        socket.write((line + QLatin1Char('\n')).toUtf8());
        socket.flush();
        return next();
    }
    QString next() {
        if (!QTest::qWaitFor([this] { return socket.canReadLine(); }, 10000)) return QStringLiteral("(no answer)");
        return QString::fromUtf8(socket.readLine()).trimmed();
    }
    QLocalSocket socket;
};

// As if the polling loop had just refreshed the DDE window's items.
void pollPassed() { DdeServer::instance().itemsRefreshed(DdeServer::instance().refreshBegins()); }

// Runs orvdde against the service; its exit status, -1 when it hangs.
int orvdde(const QString &service, const QStringList &args, QString *out = nullptr, QString *err = nullptr) {
    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/orvdde"),
            QStringList{QStringLiteral("--service"), service} + args);
    // The service answers while this waits, so wait with the event loop running.
    if (!QTest::qWaitFor([&p] { return p.state() == QProcess::NotRunning; }, 30000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (out) *out = QString::fromUtf8(p.readAllStandardOutput());
    if (err) *err = QString::fromUtf8(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void setRegister(EmulatorPeer &peer, int reg, int value) {
    peer.controller().withMemory([&](orvemu::Memory &mem) { return mem.writeRegister(reg, value); });
}

struct Service {
    explicit Service(MonitorTestEnv &env) : name(env.dir() + QStringLiteral("/dde")) {
        quietMain(env);
        started = DdeServer::instance().start(name);
    }
    ~Service() { DdeServer::instance().stop(); }
    QString name;
    bool started = false;
};

// Answers each box only once the condition holds, running the event loop
// meanwhile as a box's own loop would: the service goes on in it. What
// happens while the box is up is the test's onBox.
class LingeringResponder : public DialogResponder {
public:
    LingeringResponder(std::function<void()> onBox, std::function<bool()> until, int answer)
        : onBox_(std::move(onBox)), until_(std::move(until)), answer_(answer) {
        installDialogResponder(this);
    }
    ~LingeringResponder() override { installDialogResponder(nullptr); }
    int answerBox(const MsgBoxCall &call) override {
        prompts << call.prompt;
        onBox_();
        met = QTest::qWaitFor(until_, 20000);
        return answer_;
    }
    FileDialogAnswer answerFile(const FileDialogCall &) override { return std::nullopt; }
    QStringList prompts;
    bool met = false;

private:
    std::function<void()> onBox_;
    std::function<bool()> until_;
    int answer_;
};

// A window whose command lets the window's events through (as one that
// reads the controller between rows does); what happens meanwhile is the
// test's.
class YieldingWindow : public Form {
public:
    YieldingWindow() : Form(QStringLiteral("YieldingWindow")) { setLinkTopic(QStringLiteral("Yielding")); }
    void Form_LinkExecute(const QString &, int16_t &cancel) override {
        cancel = 0;
        if (during) std::exchange(during, nullptr)();
    }
    std::function<void()> during;
};

}  // namespace

class TestDde : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void conversationWithTheDdeWindow() {
        MonitorTestEnv env;
        Service service(env);
        QVERIFY(service.started);
        DdeServing = 0;
        frmDDE &dde = form<frmDDE>();
        Client c(service.name);
        QVERIFY(c.ask(QStringLiteral("REQUEST RegAddress")).startsWith(QStringLiteral("ERROR")));
        QCOMPARE(c.ask(QStringLiteral("CONNECT NoSuchTopic")), QStringLiteral("ERROR no such topic"));
        QCOMPARE(c.ask(QStringLiteral("CONNECT ddesetup")), QStringLiteral("OK"));
        QVERIFY(DdeServing != 0);  // a link switches serving on
        QCOMPARE(dde.Message->text(), QStringLiteral("Controller Communication in progress"));

        dde.FlagValue[3]->setText(QStringLiteral("1"));
        pollPassed();
        QCOMPARE(c.ask(QStringLiteral("REQUEST flagvalue(3)")), QStringLiteral("DATA 1"));
        QCOMPARE(c.ask(QStringLiteral("REQUEST Nothing")), QStringLiteral("ERROR no such item"));
        QCOMPARE(c.ask(QStringLiteral("POKE RegAddress 17")), QStringLiteral("OK"));
        QCOMPARE(dde.RegAddress->text(), QStringLiteral("17"));
        QCOMPARE(c.ask(QStringLiteral("POKE FlagValue(3) 0")), QStringLiteral("ERROR the item takes no data"));

        // A hot link reports each change of the item.
        QCOMPARE(c.ask(QStringLiteral("ADVISE RegRead")), QStringLiteral("OK"));
        dde.RegRead->setText(QStringLiteral("a\\b\nc"));
        QCOMPARE(c.next(), QStringLiteral("CHANGE RegRead a\\\\b\\nc"));
        QCOMPARE(c.ask(QStringLiteral("UNADVISE RegRead")), QStringLiteral("OK"));

        QCOMPARE(c.ask(QStringLiteral("EXECUTE start")), QStringLiteral("OK"));  // toggles serving off
        QCOMPARE(DdeServing, 0);
        QCOMPARE(c.ask(QStringLiteral("EXECUTE START")), QStringLiteral("OK"));
        QVERIFY(DdeServing != 0);
        QCOMPARE(c.ask(QStringLiteral("EXECUTE FORMAT")), QStringLiteral("ERROR refused"));

        // While a transfer holds the connection, commands and pokes wait;
        // values are still served.
        {
            const ControllerLink::Hold hold;
            QCOMPARE(c.ask(QStringLiteral("EXECUTE START")), QStringLiteral("ERROR busy: a transfer is running"));
            QCOMPARE(c.ask(QStringLiteral("POKE RegAddress 18")), QStringLiteral("ERROR busy: a transfer is running"));
            QCOMPARE(c.ask(QStringLiteral("REQUEST RegAddress")), QStringLiteral("DATA 17"));
        }

        // Serving that a command switched on outlives the client.
        c.socket.disconnectFromServer();
        QTRY_COMPARE(DdeServer::instance().clientCount(), 0);
        QVERIFY(DdeServing != 0);
        QCOMPARE(dde.Message->text(), QStringLiteral("Controller Communication in progress"));
    }

    void mainTopicAndWindowTopics() {
        MonitorTestEnv env;
        Service service(env);
        QVERIFY(service.started);
        controllerLink().markUp();
        Client c(service.name);
        QCOMPARE(c.ask(QStringLiteral("CONNECT ORVmain")), QStringLiteral("OK"));
        QCOMPARE(c.ask(QStringLiteral("EXECUTE registers")), QStringLiteral("OK"));
        QVERIFY(RegWindowOpen && form<frmReg>().isVisible());
        QCOMPARE(c.ask(QStringLiteral("EXECUTE REGISTER")), QStringLiteral("ERROR refused"));
        QCOMPARE(c.ask(QStringLiteral("DISCONNECT")), QStringLiteral("OK"));

        // The register window is a topic of its own while it is loaded.
        Client r(service.name);
        form<frmReg>().Text1[2]->setText(QStringLiteral("33"));
        QCOMPARE(r.ask(QStringLiteral("CONNECT ORVreg")), QStringLiteral("OK"));
        QCOMPARE(r.ask(QStringLiteral("REQUEST Text1(2)")), QStringLiteral("DATA 33"));
        QCOMPARE(r.ask(QStringLiteral("EXECUTE anything")), QStringLiteral("ERROR refused"));
        unloadForm<frmReg>();
        QCOMPARE(r.ask(QStringLiteral("REQUEST Text1(2)")), QStringLiteral("ERROR the topic is gone"));
        RegWindowOpen = false;
    }

    // A client that asks for a command with a question and hangs up before
    // the answer: the monitor goes on, the command takes the answer's effect,
    // and nobody is answered.
    void clientLeavesDuringQuestion() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        Service service(env);
        QVERIFY(service.started);
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        ControllerModel = 5;
        peer.controller().withMemory([](orvemu::Memory &mem) { mem.status = 0x00; return 0; });
        // The client hangs up while the box is up, and others come, which
        // reuses whatever memory the service let go.
        const auto hangUpDuring = [&](const char *command, int answer, QProcess *orvddeCall) {
            std::unique_ptr<QLocalSocket> c;
            if (orvddeCall) {
                // orvdde gives up waiting and ends.
                orvddeCall->start(QCoreApplication::applicationDirPath() + QStringLiteral("/orvdde"),
                                  {QStringLiteral("--service"), service.name, QStringLiteral("--timeout"),
                                   QStringLiteral("300"), QStringLiteral("ORVmain"), QStringLiteral("execute"),
                                   QLatin1String(command)});
            } else {
                c = std::make_unique<QLocalSocket>();
                c->connectToServer(service.name);
                QVERIFY(c->waitForConnected(10000));
                c->write(QByteArray("CONNECT ORVmain\nEXECUTE ") + command + "\n");
                c->flush();
            }
            std::vector<std::unique_ptr<QLocalSocket>> others;
            QLocalSocket extra;
            LingeringResponder box([&c] { if (c) c->abort(), c.reset(); },
                                   [&] {
                                       if (DdeServer::instance().clientCount() != int(others.size())) return false;
                                       // The conversation that went counts until its
                                       // command is done: one fewer is let in.
                                       if (int(others.size()) == DdeServer::MaxConversations - 1) {
                                           if (extra.state() == QLocalSocket::UnconnectedState && !extra.canReadLine())
                                               extra.connectToServer(service.name);
                                           return extra.canReadLine();
                                       }
                                       others.push_back(std::make_unique<QLocalSocket>());
                                       others.back()->connectToServer(service.name);
                                       return false;
                                   },
                                   answer);
            QTRY_COMPARE_WITH_TIMEOUT(box.prompts.size(), 1, 20000);
            QVERIFY(box.met);
            QCOMPARE(extra.readLine(), QByteArray("ERROR too many conversations\n"));
            QCOMPARE(box.prompts.front(),
                     QStringLiteral("Are you sure you want to %1 the controller?").arg(QLatin1String(command)));
            // The others got nothing meant for the client that went: the
            // first line each receives answers its own probe.
            for (auto &o : others) o->write("REQUEST probe\n");
            for (auto &o : others) {
                QVERIFY(QTest::qWaitFor([&o] { return o->canReadLine(); }, 20000));
                QCOMPARE(o->readLine(), QByteArray("ERROR not connected\n"));
            }
        };
        hangUpDuring("RESET", mbYes, nullptr);
        QProcess call;
        hangUpDuring("STOP", mbNo, &call);
        QTRY_VERIFY_WITH_TIMEOUT(call.state() == QProcess::NotRunning, 20000);
        QCOMPARE(call.exitCode(), 2);
        QCOMPARE(QString::fromUtf8(call.readAllStandardError()),
                 QStringLiteral("orvdde: no answer from the monitor within 300 ms\n"));
        hangUpDuring("STOP", mbYes, nullptr);
        // Reset while stopped (9 after a run); the first stop declined, the second done (0).
        QCOMPARE(peer.controller().memory().statusWrites, (std::vector<std::uint8_t>{0x09, 0x00}));
        Client after(service.name);
        QCOMPARE(after.ask(QStringLiteral("CONNECT ORVmain")), QStringLiteral("OK"));
        disconnectMonitor();
    }

    // While a box or a modal window waits for the user, or another client's
    // command runs, commands and pokes are refused at once and open
    // nothing; requests are served.
    void commandsWhileTheMonitorWaits() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        Service service(env);
        QVERIFY(service.started);
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        ControllerModel = 5;
        Client c(service.name);
        Client d(service.name);
        QCOMPARE(c.ask(QStringLiteral("CONNECT ORVmain")), QStringLiteral("OK"));
        QCOMPARE(d.ask(QStringLiteral("CONNECT DDEsetup")), QStringLiteral("OK"));
        const QString regAddress = form<frmDDE>().RegAddress->text();
        const auto askAll = [&] {
            return QStringList{c.ask(QStringLiteral("EXECUTE STOP")), c.ask(QStringLiteral("EXECUTE registers")),
                               d.ask(QStringLiteral("POKE RegAddress 5")), d.ask(QStringLiteral("EXECUTE START")),
                               d.ask(QStringLiteral("REQUEST RegAddress"))};
        };
        const auto refused = [&](const QString &why) {
            const QString busy = QStringLiteral("ERROR busy: ") + why;
            return QStringList{busy, busy, busy, busy, QStringLiteral("DATA ") + regAddress};
        };
        const QStringList whileUserAsked = refused(QStringLiteral("a box or window waits for the user"));

        // The user's own question.
        QStringList during;
        bool first = true;
        LingeringResponder box([&] { if (std::exchange(first, false)) during = askAll(); }, [] { return true; }, mbNo);
        form<frmMain>().StopButton_Click();
        QCOMPARE(box.prompts, QStringList{QStringLiteral("Are you sure you want to STOP the controller?")});
        QCOMPARE(during, whileUserAsked);

        // A modal window over the program's own event loop.
        during.clear();
        {
            QEventLoop program, modal;
            QTimer::singleShot(0, &program, [&] {
                QTimer::singleShot(0, &modal, [&] {
                    during = askAll();
                    modal.quit();
                });
                modal.exec();
                program.quit();
            });
            program.exec();
        }
        QCOMPARE(during, whileUserAsked);

        // Another client's command that lets events through.
        during.clear();
        form<YieldingWindow>().during = [&] { during = askAll(); };
        Client y(service.name);
        QCOMPARE(y.ask(QStringLiteral("CONNECT Yielding")), QStringLiteral("OK"));
        QCOMPARE(y.ask(QStringLiteral("EXECUTE anything")), QStringLiteral("OK"));
        QCOMPARE(during, refused(QStringLiteral("another client's command is running")));

        // Nothing in the way: the question is asked, the poke taken.
        QCOMPARE(c.ask(QStringLiteral("EXECUTE STOP")), QStringLiteral("ERROR the user answered No"));
        QCOMPARE(box.prompts.size(), 2);
        QCOMPARE(d.ask(QStringLiteral("POKE RegAddress 5")), QStringLiteral("OK"));
        QVERIFY(peer.controller().memory().statusWrites.empty());
        disconnectMonitor();
    }

    // One-shot requests get the latest poll, and they neither switch off
    // serving that a hot link or the user switched on, nor end the link.
    void servingAndFreshValues() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        Service service(env);
        QVERIFY(service.started);
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        frmMain &m = form<frmMain>();
        frmDDE &dde = form<frmDDE>();
        QCOMPARE(DdeServing, 0);
        dde.RegAddress->setText(QStringLiteral("120"));
        m.Timer1->setInterval(30);
        m.Timer1->setEnabled(true);
        const QStringList request{QStringLiteral("DDEsetup"), QStringLiteral("request"), QStringLiteral("RegRead")};
        for (int value : {413, 417, 422}) {
            setRegister(peer, 120, value);
            QString out;
            QCOMPARE(orvdde(service.name, request, &out), 0);
            QCOMPARE(out, QStringLiteral("%1\n").arg(value));
            QTRY_COMPARE(DdeServing, 0);  // the one-shot link switched it on and off
        }

        // A hot link holds serving while one-shot requests come and go.
        Client a(service.name);
        QCOMPARE(a.ask(QStringLiteral("CONNECT DDEsetup")), QStringLiteral("OK"));
        QCOMPARE(a.ask(QStringLiteral("ADVISE RegRead")), QStringLiteral("OK"));
        for (int value : {500, 501}) {
            setRegister(peer, 120, value);
            // The hot link hears of the poll that read it; a request then
            // answers that poll's value (one that came before the poll would
            // get the one before).
            QCOMPARE(a.next(), QStringLiteral("CHANGE RegRead %1").arg(value));
            QString out;
            QCOMPARE(orvdde(service.name, request, &out), 0);
            QCOMPARE(out, QStringLiteral("%1\n").arg(value));
            QVERIFY(DdeServing != 0);
            QCOMPARE(dde.Command3d1->Caption(), QStringLiteral("Cancel DDE"));
        }
        setRegister(peer, 120, 502);
        QCOMPARE(a.next(), QStringLiteral("CHANGE RegRead 502"));
        a.socket.disconnectFromServer();
        QTRY_COMPARE(DdeServing, 0);  // its last link gone
        QCOMPARE(dde.Command3d1->Caption(), QStringLiteral("Start DDE"));

        // Serving the user started stays on.
        dde.Command3d1->click();
        QCOMPARE(orvdde(service.name, request), 0);
        QVERIFY(DdeServing != 0);
        QCOMPARE(dde.Command3d1->Caption(), QStringLiteral("Cancel DDE"));

        // A new address makes its value wait for the next poll; a poll that
        // does not come ends the wait with the reason.
        setRegister(peer, 121, 77);
        Client b(service.name);
        QCOMPARE(b.ask(QStringLiteral("CONNECT DDEsetup")), QStringLiteral("OK"));
        QCOMPARE(b.ask(QStringLiteral("POKE RegAddress 121")), QStringLiteral("OK"));
        QCOMPARE(b.ask(QStringLiteral("REQUEST RegRead")), QStringLiteral("DATA 77"));
        m.Timer1->setEnabled(false);
        DdeUpdateMs = 10;  // the shortest wait
        QCOMPARE(b.ask(QStringLiteral("POKE RegAddress 120")), QStringLiteral("OK"));
        QCOMPARE(b.ask(QStringLiteral("REQUEST RegRead")),
                 QStringLiteral("ERROR no fresh value: the values were not refreshed in time"));
        QCOMPARE(b.ask(QStringLiteral("REQUEST RegAddress")), QStringLiteral("DATA 120"));  // not a polled item
        disconnectMonitor();
    }

    // A second monitor finds the name taken and does not serve; a name left
    // behind by a monitor that ended is taken over.
    void oneServicePerName() {
        MonitorTestEnv env;
        const QString name = env.dir() + QStringLiteral("/taken");
        QLocalServer other;
        QVERIFY(other.listen(name));
        QVERIFY(!DdeServer::instance().start(name));
        QVERIFY(DdeServer::instance().why().contains(QStringLiteral("another program serves")));
        QVERIFY(!DdeServer::instance().serving());
        other.close();

        const QString stale = env.dir() + QStringLiteral("/stale");
        QFile leftOver(stale);
        QVERIFY(leftOver.open(QIODevice::WriteOnly));
        leftOver.close();
        QVERIFY(DdeServer::instance().start(stale));
        DdeServer::instance().stop();
    }

    void commandLineClient() {
        MonitorTestEnv env;
        Service service(env);
        QVERIFY(service.started);
        form<frmDDE>().RegRead->setText(QStringLiteral("1234"));
        form<frmDDE>().Command3d1_Click();  // serving on, the items current
        pollPassed();
        const auto run = [&](const QStringList &args, QString *out = nullptr) { return orvdde(service.name, args, out); };
        QString out;
        QCOMPARE(run({QStringLiteral("DDEsetup"), QStringLiteral("request"), QStringLiteral("RegRead")}, &out), 0);
        QCOMPARE(out, QStringLiteral("1234\n"));
        QCOMPARE(run({QStringLiteral("DDEsetup"), QStringLiteral("poke"), QStringLiteral("RegAddress"),
                      QStringLiteral("12 and more")}),
                 0);
        QCOMPARE(form<frmDDE>().RegAddress->text(), QStringLiteral("12 and more"));
        QCOMPARE(run({QStringLiteral("DDEsetup"), QStringLiteral("execute"), QStringLiteral("nonsense")}), 1);

        // Its own failures: one line on standard error, a nonzero status.
        // Wrong use names the argument refused.
        QString err;
        const QString timeout = QStringLiteral("orvdde: --timeout needs a whole number of milliseconds from 0 to "
                                               "2147483647, not \"%1\"\n");
        const std::pair<QString, QString> wrongUses[] = {
            {QStringLiteral("--timeout abc DDEsetup request RegRead"), timeout.arg(QStringLiteral("abc"))},
            {QStringLiteral("--timeout -1 DDEsetup request RegRead"), timeout.arg(QStringLiteral("-1"))},
            {QStringLiteral("--wait 5 DDEsetup request RegRead"), QStringLiteral("orvdde: unknown option --wait\n")},
            {QStringLiteral("--timeout"), QStringLiteral("orvdde: --timeout needs a value\n")},
            {QStringLiteral("DDEsetup fetch RegRead"),
             QStringLiteral("orvdde: unknown request \"fetch\": request, poke, execute or advise\n")},
            {QStringLiteral("DDEsetup poke RegAddress"), QStringLiteral("orvdde: poke takes ITEM TEXT, not 1 argument\n")},
            {QStringLiteral("DDEsetup advise RegRead 0"),
             QStringLiteral("orvdde: advise COUNT needs a whole number from 1 up, not \"0\"\n")},
            {QStringLiteral("DDEsetup"),
             QStringLiteral("orvdde: TOPIC and a request (request, poke, execute or advise) are needed\n")},
        };
        for (const auto &[args, expected] : wrongUses) {
            QCOMPARE(orvdde(service.name, args.split(u' '), nullptr, &err), 2);
            QCOMPARE(err, expected);
        }
        const QStringList request{QStringLiteral("Nowhere"), QStringLiteral("request"), QStringLiteral("x")};
        QCOMPARE(orvdde(service.name, request, nullptr, &err), 1);
        QCOMPARE(err, QStringLiteral("orvdde: Nowhere: no such topic\n"));
        const QString nobody = env.dir() + QStringLiteral("/nobody");
        QCOMPARE(orvdde(nobody, request, nullptr, &err), 2);
        QCOMPARE(err, QStringLiteral("orvdde: no monitor serves %1: nothing listens under that name\n").arg(nobody));
        // A hot link on a value that does not change ends when a change is overdue.
        QCOMPARE(orvdde(service.name,
                        {QStringLiteral("--timeout"), QStringLiteral("1000"), QStringLiteral("DDEsetup"),
                         QStringLiteral("advise"), QStringLiteral("RegRead"), QStringLiteral("1")},
                        nullptr, &err),
                 2);
        QCOMPARE(err, QStringLiteral("orvdde: no change of RegRead within 1000 ms\n"));
        QLocalServer silent;  // takes the connection, never answers
        QVERIFY(silent.listen(env.dir() + QStringLiteral("/silent")));
        QCOMPARE(orvdde(silent.fullServerName(), QStringList{QStringLiteral("--timeout"), QStringLiteral("200")} + request,
                        nullptr, &err),
                 2);
        QCOMPARE(err, QStringLiteral("orvdde: no answer from the monitor within 200 ms\n"));
    }
};

QTEST_MAIN(TestDde)
#include "test_dde.moc"
