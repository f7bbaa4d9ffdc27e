// The DDE service: conversations with the windows' topics over the local
// socket, items, pokes, execute commands, hot links and the orvdde client.
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QtTest/QTest>

#include "core/dde.h"
#include "core/globals.h"
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
        if (!QTest::qWaitFor([this] { return socket.canReadLine(); }, 3000)) return QStringLiteral("(no answer)");
        return QString::fromUtf8(socket.readLine()).trimmed();
    }
    QLocalSocket socket;
};

struct Service {
    explicit Service(MonitorTestEnv &env) : name(env.dir() + QStringLiteral("/dde")) {
        quietMain(env);
        started = DdeServer::instance().start(name);
    }
    ~Service() { DdeServer::instance().stop(); }
    QString name;
    bool started = false;
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
        TransferBusy = true;
        QCOMPARE(c.ask(QStringLiteral("EXECUTE START")), QStringLiteral("ERROR busy: a transfer is running"));
        QCOMPARE(c.ask(QStringLiteral("POKE RegAddress 18")), QStringLiteral("ERROR busy: a transfer is running"));
        QCOMPARE(c.ask(QStringLiteral("REQUEST RegAddress")), QStringLiteral("DATA 17"));
        TransferBusy = false;

        // The client going away closes the link.
        c.socket.disconnectFromServer();
        QTRY_COMPARE(DdeServing, 0);
        QCOMPARE(dde.Message->text(), QStringLiteral("No Controller Communication in progress"));
    }

    void mainTopicAndWindowTopics() {
        MonitorTestEnv env;
        Service service(env);
        QVERIFY(service.started);
        NoComm = false;
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
        const QString orvdde = QCoreApplication::applicationDirPath() + QStringLiteral("/orvdde");
        const auto run = [&](const QStringList &args, QString *out = nullptr) {
            QProcess p;
            p.start(orvdde, QStringList{QStringLiteral("--service"), service.name} + args);
            // The service answers while this waits, so wait with the event loop running.
            if (!QTest::qWaitFor([&p] { return p.state() == QProcess::NotRunning; }, 10000)) return -1;
            if (out) *out = QString::fromUtf8(p.readAllStandardOutput());
            return p.exitCode();
        };
        QString out;
        QCOMPARE(run({QStringLiteral("DDEsetup"), QStringLiteral("request"), QStringLiteral("RegRead")}, &out), 0);
        QCOMPARE(out, QStringLiteral("1234\n"));
        QCOMPARE(run({QStringLiteral("DDEsetup"), QStringLiteral("poke"), QStringLiteral("RegAddress"),
                      QStringLiteral("12 and more")}),
                 0);
        QCOMPARE(form<frmDDE>().RegAddress->text(), QStringLiteral("12 and more"));
        QCOMPARE(run({QStringLiteral("DDEsetup"), QStringLiteral("execute"), QStringLiteral("nonsense")}), 1);
        QCOMPARE(run({QStringLiteral("Nowhere"), QStringLiteral("request"), QStringLiteral("x")}), 1);
        QCOMPARE(run({QStringLiteral("DDEsetup")}), 2);
    }
};

QTEST_MAIN(TestDde)
#include "test_dde.moc"
