// orvdde: talks to a running monitor's DDE service from the command line.
//
//   orvdde [--service NAME] TOPIC request ITEM
//   orvdde [--service NAME] TOPIC poke ITEM TEXT
//   orvdde [--service NAME] TOPIC execute COMMAND
//   orvdde [--service NAME] TOPIC advise ITEM [COUNT]
//
// request prints the item's text; advise prints the item's text at each
// change, COUNT times (forever without a count). Exit status: 0 done, 1 the
// monitor refused, 2 wrong use or no monitor to talk to.
#include <QCoreApplication>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <cstdio>

namespace {

constexpr int TimeoutMs = 5000;

QString serviceName() {
    const QString env = qEnvironmentVariable("ORVMON_DDE");
    if (!env.isEmpty()) return env;
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    return dir + QStringLiteral("/orvmon");
}

QString escape(const QString &text) {
    QString out;
    for (QChar ch : text) {
        if (ch == QLatin1Char('\\')) out += QStringLiteral("\\\\");
        else if (ch == QLatin1Char('\n')) out += QStringLiteral("\\n");
        else if (ch == QLatin1Char('\r')) out += QStringLiteral("\\r");
        else if (ch == QLatin1Char('\t')) out += QStringLiteral("\\t");
        else out += ch;
    }
    return out;
}

QString unescape(const QString &text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('\\') || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const QChar n = text[++i];
        out += n == QLatin1Char('n') ? QChar(u'\n') : n == QLatin1Char('r') ? QChar(u'\r') : n == QLatin1Char('t') ? QChar(u'\t') : n;
    }
    return out;
}

int usage(std::FILE *to = stderr, int status = 2) {
    std::fprintf(to,
                 "usage: orvdde [--service NAME] TOPIC request ITEM\n"
                 "       orvdde [--service NAME] TOPIC poke ITEM TEXT\n"
                 "       orvdde [--service NAME] TOPIC execute COMMAND\n"
                 "       orvdde [--service NAME] TOPIC advise ITEM [COUNT]\n");
    return status;
}

// One line from the monitor; empty with ok false when none came.
QString readLine(QLocalSocket &s, bool &ok, int timeoutMs = TimeoutMs) {
    while (!s.canReadLine()) {
        if (s.state() != QLocalSocket::ConnectedState || !s.waitForReadyRead(timeoutMs)) {
            ok = false;
            return QString();
        }
    }
    ok = true;
    return QString::fromUtf8(s.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 1 && (args[0] == QStringLiteral("--help") || args[0] == QStringLiteral("-h"))) {
        return usage(stdout, 0);
    }
    QString service = serviceName();
    if (args.size() >= 2 && args[0] == QStringLiteral("--service")) {
        service = args[1];
        args = args.mid(2);
    }
    if (args.size() < 3) return usage();
    const QString topic = args[0], verb = args[1].toLower();
    QString command;
    if (verb == QStringLiteral("request") && args.size() == 3) command = QStringLiteral("REQUEST ") + args[2];
    else if (verb == QStringLiteral("poke") && args.size() == 4)
        command = QStringLiteral("POKE ") + args[2] + QLatin1Char(' ') + escape(args[3]);
    else if (verb == QStringLiteral("execute") && args.size() == 3) command = QStringLiteral("EXECUTE ") + escape(args[2]);
    else if (verb == QStringLiteral("advise") && (args.size() == 3 || args.size() == 4))
        command = QStringLiteral("ADVISE ") + args[2];
    else return usage();
    long count = -1;
    if (verb == QStringLiteral("advise") && args.size() == 4) {
        bool ok = false;
        count = args[3].toLong(&ok);
        if (!ok || count < 1) return usage();
    }

    QLocalSocket socket;
    socket.connectToServer(service);
    if (!socket.waitForConnected(TimeoutMs)) {
        std::fprintf(stderr, "orvdde: no monitor serves %s (%s)\n", qPrintable(service), qPrintable(socket.errorString()));
        return 2;
    }
    bool ok = false;
    const auto exchange = [&](const QString &line) {
        socket.write((line + QLatin1Char('\n')).toUtf8());
        socket.flush();
        const QString reply = readLine(socket, ok);
        if (!ok) std::fprintf(stderr, "orvdde: the monitor did not answer\n");
        return reply;
    };
    QString reply = exchange(QStringLiteral("CONNECT ") + topic);
    if (!ok) return 2;
    if (reply != QStringLiteral("OK")) {
        std::fprintf(stderr, "orvdde: %s: %s\n", qPrintable(topic), qPrintable(unescape(reply.mid(6))));
        return 1;
    }
    reply = exchange(command);
    if (!ok) return 2;
    int rc = 0;
    if (reply.startsWith(QStringLiteral("ERROR"))) {
        std::fprintf(stderr, "orvdde: %s\n", qPrintable(unescape(reply.mid(6))));
        rc = 1;
    } else if (reply.startsWith(QStringLiteral("DATA "))) {
        std::printf("%s\n", qPrintable(unescape(reply.mid(5))));
    } else if (verb == QStringLiteral("advise")) {
        std::fflush(stdout);
        for (long n = 0; count < 0 || n < count; ++n) {
            const QString change = readLine(socket, ok, -1);
            if (!ok) return 2;
            const qsizetype blank = change.indexOf(QLatin1Char(' '), 7);
            std::printf("%s\n", qPrintable(unescape(blank < 0 ? QString() : change.mid(blank + 1))));
            std::fflush(stdout);
        }
    }
    socket.write("DISCONNECT\n");
    socket.flush();
    socket.waitForReadyRead(TimeoutMs);
    return rc;
}
