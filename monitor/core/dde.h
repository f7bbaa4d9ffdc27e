// The DDE server: other programs read the monitor's values, poke values into
// it and send it commands through a local socket.
//
// A client talks to one topic per connection. Topics are the link topics of
// the loaded windows ("ORVmain", "DDEsetup", "ORVreg", ...); items are the
// names of a window's controls ("RegRead", "Text1(3)"), both matched without
// regard to case. The wire carries lines of text, each a command word and
// its arguments separated by one blank; texts are escaped with backslashes
// (\\ \n \r \t):
//
//   CONNECT <topic>        OK | ERROR <why>     starts the conversation
//   REQUEST <item>         DATA <text> | ERROR <why>
//   POKE <item> <text>     OK | ERROR <why>     text boxes only
//   EXECUTE <command>      OK | ERROR <why>
//   ADVISE <item>          OK | ERROR <why>     then CHANGE <item> <text> at each change
//   UNADVISE <item>        OK
//   DISCONNECT             OK, and the server closes the connection
//
// Opening a conversation runs the window's link-open event, which may refuse
// it; closing one (DISCONNECT or the client going away) runs its link-close
// event once.
//
// A command may raise a message box, whose event loop serves other clients
// and may see this client go. A conversation is therefore deleted only later
// and only when none of its commands is running; a client that went while
// its command ran gets no answer. Commands and pokes run the windows' code,
// which may ask the user: one runs at a time, and none while a box or a
// modal window waits for the user; the others are answered "ERROR busy: "
// and why at once, so that no client can open a box inside another's.
//
// Items that the polling loop refreshes are never answered stale: a REQUEST
// for one of them while no refresh has happened since serving came on (or
// since an address of the items changed) is answered after the next
// refresh, or with an ERROR when none comes in time. While no refresh can
// come (the link is down), they are answered at once with what they show,
// which is then "*".
//
// Limits: a line is at most MaxLineBytes (a longer one is answered "ERROR
// the line is too long" and dropped); at most MaxConversations at a time,
// one whose client went counting until its command is done; a client that
// leaves more than MaxBacklogBytes of answers unread is cut off.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "core/forms.h"

class QLocalServer;
class QTimer;
class QWidget;

// What the server keeps of one conversation between its lines, apart from
// the connection it arrives on.
struct DdeSession {
    QString topic;          // empty until CONNECT
    QPointer<Form> linked;  // the window whose link-open event took it
    struct Link {
        QString item;  // as the client named it
        QString last;  // the text it was last sent
    };
    QMap<QString, Link> advised;  // by item name in lower case
};

// Cuts a byte stream into lines, none longer than the limit.
class DdeLineReader {
public:
    struct Line {
        QString text;          // without its end (\n, and \r anywhere dropped)
        bool tooLong = false;  // the line passed the limit; its bytes are dropped
    };
    explicit DdeLineReader(qsizetype maxBytes) : max_(maxBytes) {}
    void append(const QByteArray &bytes);
    std::optional<Line> next();
    qsizetype buffered() const { return buffer_.size(); }

private:
    qsizetype max_;
    QByteArray buffer_;
    bool skipping_ = false;  // inside a line that was too long
};

// The answer to one line.
struct DdeReply {
    QString line;                 // the answer to send (empty while waiting)
    bool waitForRefresh = false;  // ask again after the items' next refresh
    bool close = false;           // end the conversation after the answer
};

// A topic whose items the polling loop refreshes (the DDE window's).
struct DdeRefreshedItems {
    QString topic;
    // The item is refreshed by the polling loop while serving is on.
    std::function<bool(const QString &item)> refreshed;
    // How long a request may wait for a refresh, in ms.
    std::function<int()> waitMs;
    // Why no refresh came (for the ERROR of a request that waited in vain).
    std::function<QString()> whyNone;
    // No refresh can come now (the link is down): a request is answered at
    // once with what the item shows.
    std::function<bool()> unavailable;
};

class DdeServer : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype MaxLineBytes = 16 * 1024;
    static constexpr qsizetype MaxBacklogBytes = 256 * 1024;
    static constexpr int MaxConversations = 64;

    // The service's name: $ORVMON_DDE when set (a name or a socket path),
    // else "orvmon" in the user's runtime folder.
    static QString serviceName();
    static DdeServer &instance();

    ~DdeServer() override;
    // Starts serving under the name; False when another program serves it
    // already, or the name cannot be taken (why() tells).
    bool start(const QString &name = serviceName());
    void stop();
    bool serving() const;
    const QString &why() const { return why_; }
    // Conversations whose client is still there.
    int clientCount() const;

    // The protocol without a connection: the answer to one line of a
    // conversation, and the end of a conversation (its link-close event,
    // once). The server's connections use these; so can a test or a fuzzer.
    DdeReply respond(DdeSession &session, const QString &line);
    void endSession(DdeSession &session);

    // The refreshed items: registered by their window; the polling loop
    // brackets each refresh pass with refreshBegins and itemsRefreshed, and
    // the window calls itemsStale when serving comes on or an address of the
    // items changes.
    void setRefreshedItems(DdeRefreshedItems items);
    void itemsStale();
    uint64_t refreshBegins() const { return staleSince_; }
    void itemsRefreshed(uint64_t pass);

private:
    class Conversation;
    DdeServer();
    void accept();
    void serve(Conversation *c);
    void answerLine(Conversation *c, const QString &line);
    void send(Conversation *c, const QString &line);
    void hangUp(Conversation *c);
    void finish(Conversation *c);
    void tick();
    void resumeWaiting();
    QString busyWith() const;

    std::unique_ptr<QLocalServer> server_;
    QTimer *tick_ = nullptr;
    QList<QPointer<Conversation>> conversations_;
    QString why_;
    DdeRefreshedItems refreshed_;
    uint64_t staleSince_ = 1;  // bumped by itemsStale
    bool fresh_ = false;       // a whole refresh pass ran since
    int commandsRunning_ = 0;  // commands and pokes being carried out
};

// The window that serves a topic now: the first loaded window with that link
// topic, or nullptr.
Form *ddeTopicForm(const QString &topic);
// A control of a window by its name, matched without regard to case.
QWidget *ddeItem(Form *form, const QString &item);
// The text a client reads from a control.
QString ddeItemText(QWidget *control);

QString ddeEscape(const QString &text);
QString ddeUnescape(const QString &text);
