#include "core/dde.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMap>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTimer>

#include "core/forms.h"
#include "core/globals.h"

namespace {
constexpr int AdviseCheckMs = 50;
constexpr int ProbeMs = 200;
}  // namespace

struct DdeServer::Conversation {
    QLocalSocket *socket = nullptr;
    QByteArray pending;
    QString topic;                 // empty until CONNECT
    struct Link {
        QString item;  // as the client named it
        QString last;  // the text it was last sent
    };
    QMap<QString, Link> advised;  // by item name in lower case
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
    advise_ = new QTimer(this);
    advise_->setInterval(AdviseCheckMs);
    connect(advise_, &QTimer::timeout, this, [this] { sendChanges(); });
    advise_->start();
    return true;
}

void DdeServer::stop() {
    for (Conversation *c : QList<Conversation *>(conversations_)) close(c, false);
    if (advise_) {
        advise_->stop();
        advise_->deleteLater();
        advise_ = nullptr;
    }
    server_.reset();
}

void DdeServer::accept() {
    while (QLocalSocket *socket = server_->nextPendingConnection()) {
        auto *c = new Conversation;
        c->socket = socket;
        conversations_.append(c);
        connect(socket, &QLocalSocket::readyRead, this, [this, c] { readFrom(c); });
        connect(socket, &QLocalSocket::disconnected, this, [this, c] { close(c, true); });
    }
}

void DdeServer::readFrom(Conversation *c) {
    c->pending += c->socket->readAll();
    qsizetype end;
    while (conversations_.contains(c) && (end = c->pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(c->pending.left(end)).remove(QLatin1Char('\r'));
        c->pending.remove(0, end + 1);
        const QString reply = answer(c, line);
        if (!conversations_.contains(c)) return;
        c->socket->write((reply + QLatin1Char('\n')).toUtf8());
        if (line.compare(QStringLiteral("DISCONNECT"), Qt::CaseInsensitive) == 0) {
            c->socket->flush();
            close(c, true);
            return;
        }
    }
}

QString DdeServer::answer(Conversation *c, const QString &line) {
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    const QString word = (blank < 0 ? line : line.left(blank)).toUpper();
    const QString rest = blank < 0 ? QString() : line.mid(blank + 1);
    const auto error = [](const QString &why) { return QStringLiteral("ERROR ") + ddeEscape(why); };
    try {
        if (word == QStringLiteral("CONNECT")) {
            if (!c->topic.isEmpty()) return error(QStringLiteral("already connected"));
            Form *f = ddeTopicForm(rest);
            if (!f) return error(QStringLiteral("no such topic"));
            int16_t cancel = 0;
            f->Form_LinkOpen(cancel);
            if (cancel != 0) return error(QStringLiteral("refused"));
            c->topic = rest;
            return QStringLiteral("OK");
        }
        if (word == QStringLiteral("DISCONNECT")) return QStringLiteral("OK");
        if (c->topic.isEmpty()) return error(QStringLiteral("not connected"));
        Form *f = ddeTopicForm(c->topic);
        if (!f) return error(QStringLiteral("the topic is gone"));
        // A command or a poke may reach the controller; while a transfer
        // holds the connection nothing else may.
        if (TransferBusy && (word == QStringLiteral("EXECUTE") || word == QStringLiteral("POKE")))
            return error(QStringLiteral("busy: a transfer is running"));
        if (word == QStringLiteral("EXECUTE")) {
            int16_t cancel = 0;
            f->Form_LinkExecute(ddeUnescape(rest), cancel);
            return cancel != 0 ? error(QStringLiteral("refused")) : QStringLiteral("OK");
        }
        const qsizetype split = rest.indexOf(QLatin1Char(' '));
        const QString item = word == QStringLiteral("POKE") && split >= 0 ? rest.left(split) : rest;
        QWidget *control = ddeItem(f, item);
        if (word == QStringLiteral("UNADVISE")) {
            c->advised.remove(item.toLower());
            return QStringLiteral("OK");
        }
        if (!control) return error(QStringLiteral("no such item"));
        if (word == QStringLiteral("REQUEST")) return QStringLiteral("DATA ") + ddeEscape(ddeItemText(control));
        if (word == QStringLiteral("ADVISE")) {
            c->advised.insert(item.toLower(), {item, ddeItemText(control)});
            return QStringLiteral("OK");
        }
        if (word == QStringLiteral("POKE")) {
            auto *box = qobject_cast<QLineEdit *>(control);
            if (!box) return error(QStringLiteral("the item takes no data"));
            box->setText(split >= 0 ? ddeUnescape(rest.mid(split + 1)) : QString());
            return QStringLiteral("OK");
        }
        return error(QStringLiteral("unknown command"));
    } catch (const std::exception &e) {
        return error(QString::fromLocal8Bit(e.what()));
    }
}

void DdeServer::close(Conversation *c, bool runLinkClose) {
    if (!conversations_.removeOne(c)) return;
    if (runLinkClose && !c->topic.isEmpty()) {
        try {
            if (Form *f = ddeTopicForm(c->topic)) f->Form_LinkClose();
        } catch (const std::exception &) {
        }
    }
    c->socket->disconnect(this);
    c->socket->disconnectFromServer();
    c->socket->deleteLater();
    delete c;
}

void DdeServer::sendChanges() {
    for (Conversation *c : conversations_) {
        if (c->advised.isEmpty()) continue;
        Form *f = ddeTopicForm(c->topic);
        if (!f) continue;
        for (auto &link : c->advised) {
            QWidget *control = ddeItem(f, link.item);
            if (!control) continue;
            const QString now = ddeItemText(control);
            if (now == link.last) continue;
            link.last = now;
            c->socket->write((QStringLiteral("CHANGE ") + link.item + QLatin1Char(' ') + ddeEscape(now) +
                              QLatin1Char('\n'))
                                 .toUtf8());
        }
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
    if (auto *box = qobject_cast<QLineEdit *>(control)) return box->text();
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
