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
// Exit status: 0 done, 1 the monitor refused, 2 wrong use (the argument
// refused is named), no monitor to talk to or no answer from it; each failure
// is one line on standard error. Without arguments it prints the usage.
#include <QCoreApplication>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <cstdio>
#include <limits>

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

// Wrong use: the argument refused and why.
int refuse(const QString &why) { return fail(2, why); }

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
    if (args.isEmpty()) return usage();
    QString service = serviceName();
    while (!args.isEmpty() && args[0].startsWith(QStringLiteral("--"))) {
        const QString option = args[0];
        if (option != QStringLiteral("--service") && option != QStringLiteral("--timeout"))
            return refuse(QStringLiteral("unknown option %1").arg(option));
        if (args.size() < 2) return refuse(QStringLiteral("%1 needs a value").arg(option));
        if (option == QStringLiteral("--service")) {
            service = args[1];
        } else {
            bool ok = false;
            TimeoutMs = args[1].toInt(&ok);
            if (!ok || TimeoutMs < 0)
                return refuse(QStringLiteral("--timeout needs a whole number of milliseconds from 0 to %1, not \"%2\"")
                                  .arg(std::numeric_limits<int>::max())
                                  .arg(args[1]));
            TimeoutGiven = true;
        }
        args = args.mid(2);
    }
    if (args.size() < 2) return refuse(QStringLiteral("TOPIC and a request (request, poke, execute or advise) are needed"));
    const QString topic = args[0], verb = args[1].toLower();
    const qsizetype given = args.size() - 2;
    // The arguments each request takes, and how many at least and at most.
    struct Form {
        const char *verb, *takes;
        qsizetype least, most;
    };
    static constexpr Form forms[] = {{"request", "ITEM", 1, 1},
                                     {"poke", "ITEM TEXT", 2, 2},
                                     {"execute", "COMMAND", 1, 1},
                                     {"advise", "ITEM [COUNT]", 1, 2}};
    const Form *form = nullptr;
    for (const Form &f : forms)
        if (verb == QLatin1String(f.verb)) form = &f;
    if (!form)
        return refuse(QStringLiteral("unknown request \"%1\": request, poke, execute or advise").arg(args[1]));
    if (given < form->least || given > form->most)
        return refuse(QStringLiteral("%1 takes %2, not %3 argument%4")
                          .arg(verb, QLatin1String(form->takes))
                          .arg(given)
                          .arg(given == 1 ? QString() : QStringLiteral("s")));
    QString command;
    if (verb == QStringLiteral("request")) command = QStringLiteral("REQUEST ") + args[2];
    else if (verb == QStringLiteral("poke"))
        command = QStringLiteral("POKE ") + args[2] + QLatin1Char(' ') + escape(args[3]);
    else if (verb == QStringLiteral("execute")) command = QStringLiteral("EXECUTE ") + escape(args[2]);
    else command = QStringLiteral("ADVISE ") + args[2];
    long count = -1;
    if (verb == QStringLiteral("advise") && args.size() == 4) {
        bool ok = false;
        count = args[3].toLong(&ok);
        if (!ok || count < 1)
            return refuse(QStringLiteral("advise COUNT needs a whole number from 1 up, not \"%1\"").arg(args[3]));
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
