#include "core/dde.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMap>
#include <QScrollBar>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <utility>

#include "core/forms.h"
#include "core/globals.h"
#include "core/msgbox.h"
#include "core/shownvalue.h"

namespace {
constexpr int TickMs = 50;         // advise links and waiting requests
constexpr int ProbeMs = 200;
constexpr qint64 ReadChunk = 16 * 1024;
constexpr qint64 ReadBufferBytes = 64 * 1024;
constexpr int LinesPerTurn = 100;  // then the window gets its turn

QString errorLine(const QString &why) { return QStringLiteral("ERROR ") + ddeEscape(why); }

// Counts a command for as long as it runs, however it ends.
class Running {
public:
    explicit Running(int &count) : count_(count) { ++count_; }
    ~Running() { --count_; }
    Running(const Running &) = delete;
    Running &operator=(const Running &) = delete;

private:
    int &count_;
};
}  // namespace

// ---- Lines ------------------------------------------------------------------------------

void DdeLineReader::append(const QByteArray &bytes) { buffer_ += bytes; }

std::optional<DdeLineReader::Line> DdeLineReader::next() {
    if (skipping_) {
        const qsizetype end = buffer_.indexOf('\n');
        if (end < 0) {
            buffer_.clear();
            return std::nullopt;
        }
        buffer_.remove(0, end + 1);
        skipping_ = false;
    }
    const qsizetype end = buffer_.indexOf('\n');
    if (end < 0) {
        if (buffer_.size() <= max_) return std::nullopt;
        // No end in sight: answer now, drop the rest of the line as it comes.
        buffer_.clear();
        skipping_ = true;
        return Line{QString(), true};
    }
    Line line;
    if (end > max_) line.tooLong = true;
    else line.text = QString::fromUtf8(buffer_.constData(), end).remove(QLatin1Char('\r'));
    buffer_.remove(0, end + 1);
    return line;
}

// ---- Conversations ----------------------------------------------------------------------

class DdeServer::Conversation : public QObject {
public:
    using QObject::QObject;
    QLocalSocket *socket = nullptr;  // owned
    DdeSession session;
    DdeLineReader reader{MaxLineBytes};
    int running = 0;     // lines of this conversation being answered (a box may be up)
    bool gone = false;   // the client went or was cut off: no more answers
    bool queued = false; // a further turn is queued
    std::optional<QString> waiting;  // a request waiting for the items' refresh
    std::optional<QString> again;    // that request, to be answered now
    bool retried = false;
    QDeadlineTimer waitUntil;
};

QString DdeServer::serviceName() {
    const QString env = qEnvironmentVariable("ORVMON_DDE");
    if (!env.isEmpty()) return env;
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    return dir + QStringLiteral("/orvmon");
}

DdeServer &DdeServer::instance() {
    static DdeServer server;
    return server;
}

DdeServer::DdeServer() = default;

DdeServer::~DdeServer() { stop(); }

bool DdeServer::serving() const { return server_ && server_->isListening(); }

int DdeServer::clientCount() const {
    int n = 0;
    for (const QPointer<Conversation> &c : conversations_)
        if (c && !c->gone) ++n;
    return n;
}

bool DdeServer::start(const QString &name) {
    stop();
    why_.clear();
    {
        // Somebody answering on the name already serves it.
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(ProbeMs)) {
            why_ = QStringLiteral("another program serves %1").arg(name);
            return false;
        }
    }
    QLocalServer::removeServer(name);  // a name left behind by a program that ended
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name)) {
        why_ = server_->errorString();
        server_.reset();
        return false;
    }
    connect(server_.get(), &QLocalServer::newConnection, this, [this] { accept(); });
    tick_ = new QTimer(this);
    tick_->setInterval(TickMs);
    connect(tick_, &QTimer::timeout, this, [this] { tick(); });
    tick_->start();
    return true;
}

void DdeServer::stop() {
    // The program stops serving: the conversations end without their
    // link-close events.
    for (const QPointer<Conversation> &c : QList<QPointer<Conversation>>(conversations_)) {
        if (!c) continue;
        c->session.linked = nullptr;
        if (!c->gone) c->socket->abort();
        hangUp(c);
    }
    if (tick_) {
        tick_->stop();
        tick_->deleteLater();
        tick_ = nullptr;
    }
    server_.reset();
}

void DdeServer::accept() {
    while (QLocalSocket *socket = server_->nextPendingConnection()) {
        // A conversation whose client went counts until its command is done.
        if (conversations_.size() >= MaxConversations) {
            socket->write(errorLine(QStringLiteral("too many conversations")).toUtf8() + '\n');
            socket->flush();
            socket->disconnectFromServer();
            socket->deleteLater();
            continue;
        }
        auto *c = new Conversation;  // no parent: one left at exit is not deleted after the application
        socket->setParent(c);
        socket->setReadBufferSize(ReadBufferBytes);
        c->socket = socket;
        conversations_.append(c);
        // Connected to the conversation: nothing arrives once it is deleted.
        connect(socket, &QLocalSocket::readyRead, c, [this, c] { serve(c); });
        connect(socket, &QLocalSocket::disconnected, c, [this, c] { hangUp(c); });
        // Lines already there are answered from the event loop, not from here.
        if (socket->bytesAvailable() > 0) QMetaObject::invokeMethod(c, [this, c] { serve(c); }, Qt::QueuedConnection);
    }
}

// Answers the lines that have arrived, in order, one at a time: a line that
// arrives while the one before is still being answered (in a box's event
// loop) waits its turn.
void DdeServer::serve(Conversation *c) {
    if (c->gone || c->running || c->waiting) return;
    ++c->running;
    for (int lines = 0; !c->gone && !c->waiting;) {
        if (lines == LinesPerTurn) {
            // A client that sends without pause still lets the window work.
            if (!c->queued) {
                c->queued = true;
                QMetaObject::invokeMethod(
                    c,
                    [this, c] {
                        c->queued = false;
                        serve(c);
                    },
                    Qt::QueuedConnection);
            }
            break;
        }
        if (c->again) {
            c->retried = true;
            answerLine(c, *std::exchange(c->again, std::nullopt));
            c->retried = false;
            ++lines;
            continue;
        }
        std::optional<DdeLineReader::Line> line = c->reader.next();
        if (!line) {
            if (c->socket->bytesAvailable() <= 0) break;
            c->reader.append(c->socket->read(ReadChunk));
            continue;
        }
        ++lines;
        if (line->tooLong) send(c, errorLine(QStringLiteral("the line is too long")));
        else answerLine(c, line->text);
    }
    --c->running;
    if (c->gone && c->running == 0) finish(c);
}

void DdeServer::answerLine(Conversation *c, const QString &line) {
    const DdeReply reply = respond(c->session, line);
    // The command may have run an event loop in which the client went.
    if (c->gone) return;
    if (reply.waitForRefresh) {
        if (!c->retried) c->waitUntil = QDeadlineTimer(refreshed_.waitMs ? refreshed_.waitMs() : 0);
        c->waiting = line;
        return;
    }
    send(c, reply.line);
    if (reply.close && !c->gone) {
        c->socket->flush();
        c->socket->disconnectFromServer();
        hangUp(c);
    }
}

void DdeServer::send(Conversation *c, const QString &line) {
    if (c->gone) return;
    c->socket->write((line + QLatin1Char('\n')).toUtf8());
    if (c->socket->bytesToWrite() > MaxBacklogBytes) {
        // A client that does not read its answers is cut off.
        c->socket->abort();
        hangUp(c);
    }
}

void DdeServer::hangUp(Conversation *c) {
    if (c->gone) return;
    c->gone = true;
    c->waiting.reset();
    c->again.reset();
    if (c->running == 0) finish(c);
}

// The end of a conversation, once nothing of it runs any more.
void DdeServer::finish(Conversation *c) {
    if (!conversations_.removeAll(c)) return;
    QObject::disconnect(c->socket, nullptr, c, nullptr);
    ++c->running;  // the link-close event may let events through
    endSession(c->session);
    --c->running;
    if (c->socket->state() != QLocalSocket::UnconnectedState) c->socket->disconnectFromServer();
    c->deleteLater();
}

void DdeServer::tick() {
    const QList<QPointer<Conversation>> all = conversations_;
    for (const QPointer<Conversation> &g : all) {
        Conversation *c = g;
        if (!c || c->gone || c->session.advised.isEmpty()) continue;
        Form *f = ddeTopicForm(c->session.topic);
        if (!f) continue;
        for (auto &link : c->session.advised) {
            QWidget *control = ddeItem(f, link.item);
            if (!control) continue;
            const QString now = ddeItemText(control);
            if (now == link.last) continue;
            link.last = now;
            send(c, QStringLiteral("CHANGE ") + link.item + QLatin1Char(' ') + ddeEscape(now));
            if (c->gone) break;
        }
    }
    resumeWaiting();
}

// Requests waiting for a refresh: answered after it, or refused when their
// time is up.
void DdeServer::resumeWaiting() {
    const QList<QPointer<Conversation>> all = conversations_;
    for (const QPointer<Conversation> &g : all) {
        Conversation *c = g;
        if (!c || c->gone || !c->waiting || c->running) continue;
        if (fresh_) {
            c->again = std::exchange(c->waiting, std::nullopt);
        } else if (c->waitUntil.hasExpired()) {
            c->waiting.reset();
            const QString why = refreshed_.whyNone ? refreshed_.whyNone() : QString();
            send(c, errorLine(QStringLiteral("no fresh value: ") + why));
        } else {
            continue;
        }
        if (g && !c->gone) serve(c);
    }
}

void DdeServer::setRefreshedItems(DdeRefreshedItems items) { refreshed_ = std::move(items); }

void DdeServer::itemsStale() {
    ++staleSince_;
    fresh_ = false;
}

void DdeServer::itemsRefreshed(uint64_t pass) {
    if (pass != staleSince_) return;  // something changed during the pass
    fresh_ = true;
    // Answered from the event loop, not from inside the polling tick.
    QMetaObject::invokeMethod(this, [this] { resumeWaiting(); }, Qt::QueuedConnection);
}

// ---- The protocol ------------------------------------------------------------------------

// Why a command or a poke cannot run now (empty when it can).
QString DdeServer::busyWith() const {
    // Either may reach the controller; while a transfer holds the
    // connection nothing else may.
    if (controllerLink().busy()) return QStringLiteral("a transfer is running");
    // Either may ask the user: in a box's event loop the next client's
    // command would open its box inside that one, and so on for as long as
    // clients come. The program's own event loop is the first level; a
    // modal window's or a dialog's runs above it.
    if (openBoxes() > 0 || QThread::currentThread()->loopLevel() > 1)
        return QStringLiteral("a box or window waits for the user");
    if (commandsRunning_ > 0) return QStringLiteral("another client's command is running");
    return QString();
}

DdeReply DdeServer::respond(DdeSession &s, const QString &line) {
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    const QString word = (blank < 0 ? line : line.left(blank)).toUpper();
    const QString rest = blank < 0 ? QString() : line.mid(blank + 1);
    const auto ok = [] { return DdeReply{QStringLiteral("OK")}; };
    const auto error = [](const QString &why) { return DdeReply{errorLine(why)}; };
    try {
        if (word == QStringLiteral("CONNECT")) {
            if (!s.topic.isEmpty()) return error(QStringLiteral("already connected"));
            Form *f = ddeTopicForm(rest);
            if (!f) return error(QStringLiteral("no such topic"));
            int16_t cancel = 0;
            f->Form_LinkOpen(cancel);
            if (cancel != 0) return error(QStringLiteral("refused"));
            s.topic = rest;
            s.linked = f;
            return ok();
        }
        if (word == QStringLiteral("DISCONNECT")) return DdeReply{QStringLiteral("OK"), false, true};
        if (s.topic.isEmpty()) return error(QStringLiteral("not connected"));
        Form *f = ddeTopicForm(s.topic);
        if (!f) return error(QStringLiteral("the topic is gone"));
        if (word == QStringLiteral("EXECUTE") || word == QStringLiteral("POKE"))
            if (const QString why = busyWith(); !why.isEmpty()) return error(QStringLiteral("busy: ") + why);
        // The window's answer to a command or a poke: refused with its reason.
        const auto answer = [&](int16_t cancel) {
            if (cancel == 0) return ok();
            const QString why = f->takeLinkRefusal();
            return error(why.isEmpty() ? QStringLiteral("refused") : why);
        };
        if (word == QStringLiteral("EXECUTE")) {
            int16_t cancel = 0;
            f->takeLinkRefusal();
            const Running running(commandsRunning_);
            f->Form_LinkExecute(ddeUnescape(rest), cancel);
            return answer(cancel);
        }
        const qsizetype split = rest.indexOf(QLatin1Char(' '));
        const QString item = word == QStringLiteral("POKE") && split >= 0 ? rest.left(split) : rest;
        if (word == QStringLiteral("UNADVISE")) {
            s.advised.remove(item.toLower());
            return ok();
        }
        QWidget *control = ddeItem(f, item);
        if (!control) return error(QStringLiteral("no such item"));
        if (word == QStringLiteral("REQUEST")) {
            if (!fresh_ && refreshed_.refreshed && s.topic.compare(refreshed_.topic, Qt::CaseInsensitive) == 0 &&
                refreshed_.refreshed(item) && !(refreshed_.unavailable && refreshed_.unavailable()))
                return DdeReply{QString(), true};
            return DdeReply{QStringLiteral("DATA ") + ddeEscape(ddeItemText(control))};
        }
        if (word == QStringLiteral("ADVISE")) {
            s.advised.insert(item.toLower(), {item, ddeItemText(control)});
            return ok();
        }
        if (word == QStringLiteral("POKE")) {
            auto *box = qobject_cast<QLineEdit *>(control);
            if (!box) return error(QStringLiteral("the item takes no data"));
            int16_t cancel = 0;
            f->takeLinkRefusal();
            const Running running(commandsRunning_);
            f->Form_LinkPoke(box, split >= 0 ? ddeUnescape(rest.mid(split + 1)) : QString(), cancel);
            return answer(cancel);
        }
        return error(QStringLiteral("unknown command"));
    } catch (const std::exception &e) {
        return error(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        return error(QStringLiteral("the command failed"));
    }
}

void DdeServer::endSession(DdeSession &s) {
    const QPointer<Form> f = std::exchange(s.linked, nullptr);
    s.topic.clear();
    s.advised.clear();
    if (!f) return;
    try {
        f->Form_LinkClose();
    } catch (...) {
    }
}

Form *ddeTopicForm(const QString &topic) {
    if (topic.isEmpty()) return nullptr;
    for (Form *f : FormRegistry::all())
        if (f->loaded() && f->LinkTopic().compare(topic, Qt::CaseInsensitive) == 0) return f;
    return nullptr;
}

QWidget *ddeItem(Form *form, const QString &item) {
    if (!form || item.isEmpty()) return nullptr;
    for (QWidget *w : form->findChildren<QWidget *>())
        if (w->objectName().compare(item, Qt::CaseInsensitive) == 0) return w;
    return nullptr;
}

QString ddeItemText(QWidget *control) {
    // A box being typed into is read as the value it showed: never the typing.
    if (auto *box = qobject_cast<QLineEdit *>(control)) return ShownValue::kept(box).value_or(box->text());
    if (auto *label = qobject_cast<QLabel *>(control)) return label->text();
    if (auto *check = qobject_cast<QCheckBox *>(control)) return check->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    if (auto *button = qobject_cast<QAbstractButton *>(control)) return button->text();
    if (auto *bar = qobject_cast<QScrollBar *>(control)) return QString::number(bar->value());
    return QString();
}

QString ddeEscape(const QString &text) {
    QString out;
    out.reserve(text.size());
    for (QChar ch : text) {
        switch (ch.unicode()) {
        case '\\': out += QStringLiteral("\\\\"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\r': out += QStringLiteral("\\r"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        default: out += ch;
        }
    }
    return out;
}

QString ddeUnescape(const QString &text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch != QLatin1Char('\\') || i + 1 == text.size()) {
            out += ch;
            continue;
        }
        const QChar next = text[++i];
        switch (next.unicode()) {
        case 'n': out += QLatin1Char('\n'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case 't': out += QLatin1Char('\t'); break;
        default: out += next; break;
        }
    }
    return out;
}
