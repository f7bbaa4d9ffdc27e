// The link to the controller, and its one owner.
//
// Whether there is a connection, whether the controller answered on it,
// whether the user suspended monitoring or a transfer closed the link, and
// whether a transfer holds it right now: all of it lives here and nowhere
// else. Every change goes through one of the mark... calls below, and the
// owner tells what changed through its signals, so that the status line, the
// "*" of the windows, the Suspend/Resume and run buttons and the DDE answers
// follow from one state instead of each being set where the link changed.
//
// The globals the windows share under their old names (NoComm,
// ConnectionHandle, Connected, MonitoringSuspended, ControllerIdentified)
// are read-only views of this state (core/globals.h).
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

class ControllerLink : public QObject {
    Q_OBJECT
public:
    enum class State {
        Down,       // no working link; the connection manager tries to make one
        Up,         // a connection on which the controller answered
        Suspended,  // the user suspended monitoring
        Closed,     // a program transfer closed the link
    };

    static ControllerLink &instance();

    State state() const { return state_; }
    // The library's connection ID, 0 for none. A connection may exist while
    // the link is down (an attempt under way, or a failure not yet handled).
    int32_t handle() const { return handle_; }
    bool up() const { return state_ == State::Up; }
    // Monitoring waits for the user: suspended, or closed by a transfer.
    bool waitsForUser() const { return state_ == State::Suspended || state_ == State::Closed; }
    // The controller told its model and counts on this connection.
    bool identified() const { return identified_; }
    // A transfer holds the connection: nothing else may reach it.
    bool busy() const { return holds_ > 0; }
    // Why nothing can be sent to the controller now, in a few words that
    // follow "Failed to ...\n" or "no fresh value: "; empty while the link
    // is up and free.
    QString whyNot() const;
    // The reason the link was last lost ("" when none is known).
    const QString &lostReason() const { return lostReason_; }

    // ---- Changes -------------------------------------------------------------------
    // The program starts: no connection known, monitoring not suspended.
    void markStart();
    // The library opened a connection (not yet known to answer).
    void markOpened(int32_t handle);
    // The connection is gone (closed, or dropped after a failure): handle 0.
    void markDropped();
    void markIdentified(bool yes);
    // The controller answered on the connection: the link is up.
    void markUp();
    // A call failed with the link's fault (not a refused value): the link is
    // down until the connection manager makes it again.
    void markLost(const QString &why);
    // The link is made again on purpose (other settings, another node, a new
    // attempt): down, without a failure to report.
    void markReconnecting();
    void markSuspended();
    // Monitoring resumes: the link is down until the next attempt makes it.
    void markResumed();
    // A program transfer closed the connection; text says so on the status line.
    void markClosed(const QString &text);

    // Held by a program transfer from its first to its last library call:
    // the polling loop and the connection manager leave the link alone.
    class Hold {
    public:
        Hold() { ++instance().holds_; }
        ~Hold() { --instance().holds_; }
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;
    };

    // Whether a failed call lost the link: the error of the connection is
    // fetched into ErrorInfo; anything but a refused value (error 216) marks
    // the link lost. True when it did.
    bool callLostLink();

Q_SIGNALS:
    // The link went down from up: a failure (why says which), or a
    // deliberate reconnect (why empty). Values shown are no longer current.
    void lost(const QString &why);
    // A transfer closed the link.
    void closed(const QString &text);
    // The link is up again.
    void back();
    void suspended();
    // Any change of the state.
    void changed();

private:
    ControllerLink() = default;
    void enter(State s);

    State state_ = State::Down;
    int32_t handle_ = 0;
    bool identified_ = false;
    int holds_ = 0;
    QString lostReason_;
};

inline ControllerLink &controllerLink() { return ControllerLink::instance(); }
