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
// event.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <memory>

class Form;
class QLocalServer;
class QLocalSocket;
class QTimer;
class QWidget;

class DdeServer : public QObject {
    Q_OBJECT
public:
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

private:
    struct Conversation;
    DdeServer();
    void accept();
    void readFrom(Conversation *c);
    QString answer(Conversation *c, const QString &line);
    void close(Conversation *c, bool runLinkClose);
    void sendChanges();

    std::unique_ptr<QLocalServer> server_;
    QTimer *advise_ = nullptr;
    QList<Conversation *> conversations_;
    QString why_;
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
