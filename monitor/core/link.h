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
// The owner also opens and closes the connection, and keeps the one rule
// for a failed call: whether it lost the link, and how the failure reads
// (the library's or the system's reason, and where the link goes).
//
// The globals the windows share under their old names (NoComm,
// ConnectionHandle, Connected, MonitoringSuspended, ControllerIdentified)
// are read-only views of this state (core/globals.h).
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

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
    // The controller answered on the connection: the link is up. Refused
    // (False) while the user's Suspend or a transfer's close is in force:
    // only the user's word ends those.
    bool markUp();
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

    // ---- The connection ---------------------------------------------------------------
    // Where the link goes, as a failure names it after its reason: "on COM1
    // (/dev/ttyS0)", "at UDP 10.0.0.5:3000", "at node 3 (adapter 1)".
    struct Place {
        QString words;    // "on COM1"
        QString detail;   // in brackets after the words ("/dev/ttyS0"); may be empty
        QString mention;  // a reason that holds this names the place itself
    };
    void setPlace(Place place) { place_ = std::move(place); }
    const Place &place() const { return place_; }
    // The device of COM port n: $ORVCOMM_COM<n> when set, else /dev/ttyS<n-1>.
    static QString serialDevice(int port);
    // Opens a connection with the library's open call (which returns the new
    // connection ID, 0 when it failed): it becomes the link's connection.
    // False when the call failed; lastFailure() then says why.
    bool open(const std::function<int32_t()> &openCall);
    // A connection opened elsewhere (off the window thread) becomes the link's.
    void adopt(int32_t handle) { markOpened(handle); }
    // Closes the link's connection, if any: handle 0 afterwards. False when
    // the library refused the close; the connection then stays the link's
    // when keepRefused says so (to be closed again), else it is dropped.
    bool close(bool keepRefused = false);

    // ---- Failures -------------------------------------------------------------------------
    // The controller's own refusal of a request (a register or value it does
    // not take, a request it could not read, code for another controller):
    // it answered, so the link holds. Any other failure loses the link.
    static bool refusedByController(int32_t code);
    // The library's refusal of an object file, before it wrote anything: the
    // file's fault, not the link's.
    static bool refusedObjectFile(int32_t code);
    // Whether a failure with this error code (none: the library could not
    // tell) lost the link: anything but a refusal does.
    static bool losesLink(std::optional<int32_t> code);
    // A failure as the status line shows it: the library's text (with the
    // system's reason for a bare operating-system error number) and, unless
    // the text names it already, where the link goes; a refusal, which is
    // no fault of the link, names no place.
    QString describe(int32_t code, const QString &text) const;
    // Fetches the last error of a connection (0: the library-wide one of a
    // failed open) into ErrorInfo and describes it; also kept as lastFailure().
    QString fetchFailure(int32_t connection);
    // The described reason of the last failure fetched or noted.
    const QString &lastFailure() const { return lastFailure_; }
    void noteFailure(const QString &why) { lastFailure_ = why; }

    // Held by a transfer from its first to its last library call: the
    // polling loop, the connection manager and DDE leave the link alone.
    class Hold {
    public:
        Hold() { ++instance().holds_; }
        ~Hold() { --instance().holds_; }
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;
    };

    // Whether the failure of the last call on a connection lost the link:
    // its error is fetched into ErrorInfo and described (lastFailure());
    // anything but the controller's own refusal loses it. Nothing is marked.
    bool failureLosesLink(int32_t connection);
    // The same for the link's connection, and the link marked lost when the
    // failure lost it. True when it did.
    bool callLostLink();

    // ---- Messages ----------------------------------------------------------------------
    // Why nothing can be sent now, after the words and a line feed
    // ("Failed to update value.\nMonitoring is suspended."); empty while the
    // link is up and free.
    QString refusal(const QString &words) const;
    // A write that failed, as the messages give it: the words, a line feed
    // and the reason (fetchFailure). Only the controller's own refusal
    // settles that the write was not carried out; after any other failure
    // (no answer, or one that could not be read) the controller may still
    // have carried it out, and the text says so.
    struct FailedWrite {
        QString text;
        bool outcomeUnknown = false;
    };
    FailedWrite failedWrite(const QString &words, int32_t connection);
    // The line that says so.
    static QString mayHaveBeenCarriedOut();

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
    // The error code of a connection's last failure, fetched into ErrorInfo;
    // nothing when the library cannot tell.
    std::optional<int32_t> fetchError(int32_t connection);

    State state_ = State::Down;
    int32_t handle_ = 0;
    bool identified_ = false;
    int holds_ = 0;
    QString lostReason_;
    QString lastFailure_;
    Place place_;
};

inline ControllerLink &controllerLink() { return ControllerLink::instance(); }
