// orvdde: talks to a running monitor's DDE service from the command line.
//
//   orvdde [OPTIONS] TOPIC request ITEM
//   orvdde [OPTIONS] TOPIC poke ITEM TEXT
//   orvdde [OPTIONS] TOPIC execute COMMAND
//   orvdde [OPTIONS] TOPIC advise ITEM [COUNT]
//
// Options: --service NAME (the service to talk to), --timeout MS (how long
// to wait for each answer, 5000 by default; 0 waits for ever). request
// prints the item's text; advise prints the item's text at each change,
// COUNT times or without a count for as long as the monitor serves; a
// value may rest for hours, so advise waits for a change for ever unless
// --timeout was given, which then bounds the wait for each change too.
// Exit status: 0 done, 1 the monitor refused, 2 wrong use, no monitor to talk
// to or no answer from it; each failure is one line on standard error.
#include <QCoreApplication>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <cstdio>

namespace {

int TimeoutMs = 5000;
bool TimeoutGiven = false;  // --timeout also bounds the wait for a change

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
                 "usage: orvdde [--service NAME] [--timeout MS] TOPIC request ITEM\n"
                 "       orvdde [--service NAME] [--timeout MS] TOPIC poke ITEM TEXT\n"
                 "       orvdde [--service NAME] [--timeout MS] TOPIC execute COMMAND\n"
                 "       orvdde [--service NAME] [--timeout MS] TOPIC advise ITEM [COUNT]\n"
                 "       orvdde --help | --version\n");
    return status;
}

// Says what went wrong, in one line, and gives the exit status.
int fail(int status, const QString &what) {
    std::fprintf(stderr, "orvdde: %s\n", qPrintable(what));
    return status;
}

// The time to wait for Qt's calls: 0 is for ever.
int qtWait() { return TimeoutMs == 0 ? -1 : TimeoutMs; }

// Why no connection to the service came about.
QString noMonitor(const QLocalSocket &s, const QString &service) {
    switch (s.error()) {
    case QLocalSocket::ServerNotFoundError:
        return QStringLiteral("no monitor serves %1: nothing listens under that name").arg(service);
    case QLocalSocket::ConnectionRefusedError:
        return QStringLiteral("no monitor serves %1: the name is left from a monitor that has ended").arg(service);
    case QLocalSocket::SocketAccessError:
        return QStringLiteral("cannot reach the monitor at %1: permission denied").arg(service);
    case QLocalSocket::SocketTimeoutError:
        return QStringLiteral("no answer from the monitor at %1 within %2 ms").arg(service).arg(TimeoutMs);
    default: return QStringLiteral("no monitor serves %1 (%2)").arg(service, s.errorString());
    }
}

// One line from the monitor; empty with why set when none came in time
// (waiting names what was waited for).
QString readLine(QLocalSocket &s, QString &why, const QString &waiting = QStringLiteral("answer from the monitor"),
                 bool forEver = false) {
    why.clear();
    while (!s.canReadLine()) {
        if (s.state() != QLocalSocket::ConnectedState) {
            why = QStringLiteral("the monitor closed the connection");
            return QString();
        }
        if (!s.waitForReadyRead(forEver ? -1 : qtWait())) {
            why = s.state() == QLocalSocket::ConnectedState
                      ? QStringLiteral("no %1 within %2 ms").arg(waiting).arg(TimeoutMs)
                      : QStringLiteral("the monitor closed the connection");
            return QString();
        }
    }
    return QString::fromUtf8(s.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
}

QString errorText(const QString &reply) {
    return reply.startsWith(QStringLiteral("ERROR ")) ? unescape(reply.mid(6))
                                                      : QStringLiteral("unexpected answer \"%1\"").arg(reply);
}

}  // namespace

int main(int argc, char **argv) {
    // Every failure is one line of this program's own: Qt's warnings (a
    // runtime folder that is not set, say) are not shown.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 1 && (args[0] == QStringLiteral("--help") || args[0] == QStringLiteral("-h"))) {
        return usage(stdout, 0);
    }
    if (args.size() == 1 && args[0] == QStringLiteral("--version")) {
        std::printf("orvdde %s\n", ORV_VERSION);
        return 0;
    }
    QString service = serviceName();
    while (args.size() >= 2 && args[0].startsWith(QStringLiteral("--"))) {
        if (args[0] == QStringLiteral("--service")) {
            service = args[1];
        } else if (args[0] == QStringLiteral("--timeout")) {
            bool ok = false;
            TimeoutMs = args[1].toInt(&ok);
            if (!ok || TimeoutMs < 0) return usage();
            TimeoutGiven = true;
        } else {
            return usage();
        }
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
    if (!socket.waitForConnected(qtWait())) return fail(2, noMonitor(socket, service));
    QString why;
    const auto exchange = [&](const QString &line) {
        socket.write((line + QLatin1Char('\n')).toUtf8());
        socket.flush();
        return readLine(socket, why);
    };
    QString reply = exchange(QStringLiteral("CONNECT ") + topic);
    if (!why.isEmpty()) return fail(2, why);
    if (reply != QStringLiteral("OK")) return fail(1, topic + QStringLiteral(": ") + errorText(reply));
    reply = exchange(command);
    if (!why.isEmpty()) return fail(2, why);
    int rc = 0;
    if (reply.startsWith(QStringLiteral("DATA "))) {
        std::printf("%s\n", qPrintable(unescape(reply.mid(5))));
    } else if (reply != QStringLiteral("OK")) {
        rc = fail(1, errorText(reply));
    } else if (verb == QStringLiteral("advise")) {
        std::fflush(stdout);
        for (long n = 0; count < 0 || n < count; ++n) {
            const QString change = readLine(socket, why, QStringLiteral("change of %1").arg(args[2]), !TimeoutGiven);
            if (!why.isEmpty()) return fail(2, why);
            const qsizetype blank = change.indexOf(QLatin1Char(' '), 7);
            std::printf("%s\n", qPrintable(unescape(blank < 0 ? QString() : change.mid(blank + 1))));
            std::fflush(stdout);
        }
    }
    socket.write("DISCONNECT\n");
    socket.flush();
    socket.waitForReadyRead(qtWait());
    return rc;
}
