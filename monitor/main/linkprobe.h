// A question to a UDP or TCP controller that never blocks the window.
//
// Before the connection manager opens a network link through the library
// (whose TCP open tries to connect for up to five seconds, and whose every
// exchange with a silent controller waits out its time-out), it asks the
// controller for register 1 through a socket of its own and goes on only
// when an answer came. The probe runs from its socket's signals: it sends,
// and it reports through answered() or failed() once, from the event loop.
//
// A connection that the kernel accepts is not an answer: a controller that
// hangs (its process stopped) still has its connections accepted until the
// backlog is full, so only a reply counts.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

class QAbstractSocket;

class LinkProbe : public QObject {
    Q_OBJECT
public:
    enum class Kind { Udp, Tcp };
    // timeoutMs: the reply time-out of the link; UDP asks up to three times,
    // each waiting so long, and TCP gets as long for connect and reply.
    LinkProbe(Kind kind, const QHostAddress &controller, int timeoutMs, QObject *parent = nullptr);
    ~LinkProbe() override;

    void start();

    // The request: register 1 behind the envelope header, sequence number
    // sequence.
    static QByteArray request(uint16_t sequence);

Q_SIGNALS:
    void answered();
    void failed(const QString &why);

private:
    void send();
    void received();
    void finish(bool ok, const QString &why = QString());
    // The controller's address and port, for the reasons it gives.
    QString where() const;

    Kind kind_;
    QHostAddress controller_;
    int timeoutMs_;
    int triesLeft_ = 3;
    uint16_t sequence_ = 1;
    QAbstractSocket *socket_ = nullptr;
    QTimer deadline_;
    QByteArray received_;
    bool done_ = false;
};
