// The DDE service under abuse: malformed, binary and over-long lines, random
// protocol input, many clients coming and going at once, a client that never
// reads. The monitor must not crash, grow without bound or stop serving its
// other clients.
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QTimer>
#include <QtTest/QTest>
#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include <vector>

#include "controller.h"
#include "core/dde.h"
#include "core/globals.h"
#include "harness/harness.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"

namespace {

struct Service {
    explicit Service(MonitorTestEnv &env) : name(env.dir() + QStringLiteral("/dde")) {
        quietMain(env);
        env.responder.answerEveryBox(mbNo);
        started = DdeServer::instance().start(name);
    }
    ~Service() { DdeServer::instance().stop(); }
    QString name;
    bool started = false;
};

std::unique_ptr<QLocalSocket> connectTo(const QString &service, bool wait = true) {
    auto s = std::make_unique<QLocalSocket>();
    s->connectToServer(service);
    if (wait && !s->waitForConnected(10000)) qWarning("no connection");
    return s;
}

// The answers a client has received so far, line by line.
QStringList answers(QLocalSocket &s) {
    QStringList lines;
    while (s.canReadLine()) lines << QString::fromUtf8(s.readLine()).chopped(1);
    return lines;
}

QStringList awaitAnswers(QLocalSocket &s, int count) {
    QStringList got;
    // The callers compare what came with what was due: a shortfall shows there.
    (void)QTest::qWaitFor(
        [&] {
            got += answers(s);
            return got.size() >= count;
        },
        20000);
    return got;
}

// Runs the event loop until the condition holds, as a box's own loop would;
// False when it never does (a hang).
bool serveUntil(const std::function<bool()> &done) {
    QTimer wake;  // the condition is looked at again at least this often
    wake.start(50);
    const QDeadlineTimer hang(60000);
    while (!done()) {
        if (hang.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Answers No to every box. The first box stays open while `whileOpen` runs
// (the service goes on meanwhile, as in a real box's event loop); a box that
// opens while one is open is counted and answered at once.
class QuestionBoxes : public DialogResponder {
public:
    explicit QuestionBoxes(std::function<void()> whileOpen)
        : whileOpen_(std::move(whileOpen)), before_(dialogResponder()) {
        installDialogResponder(this);
    }
    ~QuestionBoxes() override { installDialogResponder(before_); }
    int answerBox(const MsgBoxCall &call) override {
        prompts << call.prompt;
        most = std::max(most, ++open);
        if (open == 1 && whileOpen_) std::exchange(whileOpen_, nullptr)();
        --open;
        return mbNo;
    }
    FileDialogAnswer answerFile(const FileDialogCall &) override { return std::nullopt; }
    QStringList prompts;
    int open = 0;
    int most = 0;

private:
    std::function<void()> whileOpen_;
    DialogResponder *before_;
};

}  // namespace

class TestDdeStress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linesOfEveryKind() {
        MonitorTestEnv env;
        Service service(env);
        QVERIFY(service.started);
        auto c = connectTo(service.name);
        QByteArray junk;
        junk += QByteArray("\x00\xff\xfe\x01 CONNECT\n", 13);
        junk += "CONNECT\n\n \n\r\r\n";
        junk += "POKE RegAddress 5\n";
        junk += QByteArray(DdeServer::MaxLineBytes * 4, 'A') + "\n";  // too long, ended
        junk += QByteArray(DdeServer::MaxLineBytes + 1, 'B');           // too long, the end comes later
        c->write(junk);
        c->flush();
        // The line whose end comes later is answered before its end arrives.
        QStringList got = awaitAnswers(*c, 8);
        c->write(QByteArray(200000, 'C') + "\nCONNECT ddesetup\nPOKE BlockWrite(0) a\\\\b\nREQUEST BlockWrite(0)\n");
        got += awaitAnswers(*c, 3);
        QCOMPARE(got, (QStringList{QStringLiteral("ERROR not connected"), QStringLiteral("ERROR no such topic"),
                                   QStringLiteral("ERROR not connected"), QStringLiteral("ERROR not connected"),
                                   QStringLiteral("ERROR not connected"), QStringLiteral("ERROR not connected"),
                                   QStringLiteral("ERROR the line is too long"),
                                   QStringLiteral("ERROR the line is too long"), QStringLiteral("OK"),
                                   QStringLiteral("OK"), QStringLiteral("DATA a\\\\b")}));
        QCOMPARE(form<frmDDE>().BlockWrite[0]->text(), QStringLiteral("a\\b"));

        // The line reader keeps no more than one line's worth.
        DdeLineReader reader(100);
        reader.append(QByteArray(5000, 'x'));
        QVERIFY(reader.next()->tooLong);
        QCOMPARE(reader.buffered(), 0);
        reader.append(QByteArray(5000, 'x') + "\nok\r\n");
        QCOMPARE(reader.next()->text, QStringLiteral("ok"));
        QVERIFY(!reader.next());
    }

    // Random lines of the protocol straight into conversations, without a
    // connection; every line gets one answer and the links balance out.
    void randomProtocolInput() {
        MonitorTestEnv env;
        quietMain(env);
        env.responder.answerEveryBox(mbNo);
        DdeServing = 0;
        static const char *const words[] = {"CONNECT", "REQUEST", "POKE", "EXECUTE", "ADVISE", "UNADVISE", "DISCONNECT",
                                            "connect", "",        "XYZZY"};
        static const char *const names[] = {"DDEsetup", "ORVmain",     "RegAddress", "RegRead", "FlagValue(3)",
                                            "WriteBox", "BlockWrite(0)", "Label1(2)", "EXIT",    "DOWNLOAD",
                                            "nothing",  "Text1(99)"};
        QRandomGenerator random(1234);
        const auto pick = [&](const auto &list) { return QString::fromLatin1(list[random.bounded(int(std::size(list)))]); };
        std::vector<DdeSession> sessions(8);
        for (int i = 0; i < 3000; ++i) {
            QString line = pick(words);
            for (int n = random.bounded(4); n > 0; --n) line += QLatin1Char(' ') + pick(names);
            if (random.bounded(4) == 0) {
                for (int n = random.bounded(12); n > 0; --n) line += QChar(char16_t(random.bounded(1, 0xD7FF)));
            }
            DdeSession &s = sessions[size_t(random.bounded(int(sessions.size())))];
            const DdeReply reply = DdeServer::instance().respond(s, line);
            if (reply.waitForRefresh) continue;
            QVERIFY2(reply.line == QStringLiteral("OK") || reply.line.startsWith(QStringLiteral("DATA ")) ||
                         reply.line.startsWith(QStringLiteral("ERROR ")),
                     qPrintable(line + QStringLiteral(" -> ") + reply.line));
            if (reply.close) DdeServer::instance().endSession(s);
        }
        for (DdeSession &s : sessions) DdeServer::instance().endSession(s);
        QCOMPARE(DdeServing, 0);  // the links that switched it on are all gone
    }

    void manyClientsComeAndGo() {
        MonitorTestEnv env;
        Service service(env);
        QVERIFY(service.started);
        std::vector<std::unique_ptr<QLocalSocket>> clients;
        for (int i = 0; i < DdeServer::MaxConversations + 36; ++i) clients.push_back(connectTo(service.name, false));
        const auto count = [&](QLocalSocket::LocalSocketState state) {
            return std::count_if(clients.begin(), clients.end(), [state](const auto &c) { return c->state() == state; });
        };
        // The clients beyond the limit are told so and sent away.
        QTRY_VERIFY_WITH_TIMEOUT(DdeServer::instance().clientCount() == DdeServer::MaxConversations &&
                                     count(QLocalSocket::UnconnectedState) == 36,
                                 20000);
        for (auto &c : clients) {
            if (c->state() == QLocalSocket::UnconnectedState)
                QCOMPARE(c->readLine(), QByteArray("ERROR too many conversations\n"));
            else
                c->write("CONNECT DDEsetup\nADVISE RegRead\nREQUEST RegAddress\n");
        }
        for (auto &c : clients)
            if (c->state() == QLocalSocket::ConnectedState) QCOMPARE(awaitAnswers(*c, 3).size(), 3);
        QVERIFY(DdeServing != 0);
        // All of them vanish at once, some politely.
        for (size_t i = 0; i < clients.size(); ++i) {
            if (i % 3 == 0) clients[i]->write("DISCONNECT\n");
            if (i % 3 == 1) clients[i]->abort();
        }
        clients.clear();
        QTRY_COMPARE_WITH_TIMEOUT(DdeServer::instance().clientCount(), 0, 20000);
        QCOMPARE(DdeServing, 0);
        auto after = connectTo(service.name);
        after->write("CONNECT DDEsetup\n");
        QCOMPARE(awaitAnswers(*after, 1), QStringList{QStringLiteral("OK")});
    }

    // Clients that each ask STOP and hang up, one after the other, the
    // first of them while its question is still open: no client's question
    // opens a box inside another's, the clients are told that the monitor is
    // busy, and afterwards the monitor serves as before.
    void clientsThatAskAndHangUp() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        Service service(env);
        QVERIFY(service.started);
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        ControllerModel = 5;
        const auto ask = [&](QLocalSocket &c, const QByteArray &lines, int answers) {
            c.connectToServer(service.name);
            if (!c.waitForConnected(10000)) return QStringList{QStringLiteral("(no connection)")};
            c.write(lines);
            c.flush();
            QStringList got;
            (void)serveUntil([&] {
                while (c.canReadLine()) got << QString::fromUtf8(c.readLine()).chopped(1);
                return got.size() >= answers || c.state() != QLocalSocket::ConnectedState;
            });
            return got;
        };
        constexpr int Clients = 3000;
        int served = 0;
        QStringList odd;  // answers other than the expected ones
        const QString busy = QStringLiteral("ERROR busy: a box or window waits for the user");
        auto first = std::make_unique<QLocalSocket>();
        QuestionBoxes boxes([&] {
            first->abort();  // hangs up while its question is open
            first.reset();
            for (; served < Clients - 1; ++served) {
                QLocalSocket c;
                const QStringList got = ask(c, "CONNECT ORVmain\nEXECUTE STOP\n", 2);
                c.abort();
                if (got != QStringList{QStringLiteral("OK"), busy} && odd.size() < 5) odd << got.join(u'|');
            }
        });
        first->connectToServer(service.name);
        QVERIFY(first->waitForConnected(10000));
        first->write("CONNECT ORVmain\nEXECUTE STOP\n");
        first->flush();
        QVERIFY(serveUntil([&] { return served == Clients - 1 && boxes.open == 0; }));
        QCOMPARE(boxes.most, 1);
        QCOMPARE(odd, QStringList());
        QCOMPARE(boxes.prompts.size(), 1);

        // The monitor is there and asks again once the question is answered.
        QTRY_COMPARE_WITH_TIMEOUT(DdeServer::instance().clientCount(), 0, 20000);
        QLocalSocket after;
        QCOMPARE(ask(after, "CONNECT ORVmain\nREQUEST StopButton\nEXECUTE STOP\n", 3),
                 (QStringList{QStringLiteral("OK"), QStringLiteral("DATA ") + form<frmMain>().StopButton->text(),
                              QStringLiteral("ERROR the user answered No")}));
        QCOMPARE(boxes.prompts.size(), 2);
        QVERIFY(peer.controller().memory().statusWrites.empty());
        disconnectMonitor();
    }

    void clientThatNeverReads() {
        MonitorTestEnv env;
        Service service(env);
        QVERIFY(service.started);
        auto deaf = connectTo(service.name);
        deaf->setReadBufferSize(1);  // takes nothing from the line
        // Each answer a kilobyte, thousands of them asked for.
        QByteArray lines = "CONNECT DDEsetup\nPOKE BlockWrite(0) " + QByteArray(1000, 'x') + "\n";
        for (int i = 0; i < 4000; ++i) lines += "REQUEST BlockWrite(0)\n";
        deaf->write(lines);
        auto other = connectTo(service.name);
        other->write("CONNECT ORVmain\n");
        QCOMPARE(awaitAnswers(*other, 1), QStringList{QStringLiteral("OK")});
        // The deaf client is cut off once its unread answers pile up.
        QTRY_COMPARE_WITH_TIMEOUT(DdeServer::instance().clientCount(), 1, 20000);
        other->write("EXECUTE nonsense\n");
        QCOMPARE(awaitAnswers(*other, 1), QStringList{QStringLiteral("ERROR refused")});
    }
};

QTEST_MAIN(TestDdeStress)
#include "test_ddestress.moc"
