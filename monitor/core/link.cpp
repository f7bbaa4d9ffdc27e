#include "core/link.h"

#include <algorithm>
#include <exception>
#include <iterator>

#include "core/globals.h"

namespace {
// The library's own error codes begin here; a lower one is an operating-system
// error number.
constexpr int32_t FirstLibraryCode = 157;
// The controller's refusals: a request it could not read (215), a register or
// value it does not take (216), code for the other kind of controller (157).
constexpr int32_t ControllerRefusals[] = {215, 216, 157};
// The library's refusals of an object file before anything was written: a
// status byte or a data table it cannot take (183), a file that breaks off
// or is none (184), one of the other architecture (185), a missing one (187).
constexpr int32_t ObjectFileRefusals[] = {183, 184, 185, 187};
}  // namespace

ControllerLink &ControllerLink::instance() {
    static ControllerLink *link = new ControllerLink;  // lives as long as the program
    return *link;
}

QString ControllerLink::whyNot() const {
    switch (state_) {
    case State::Up: return busy() ? QStringLiteral("a transfer is running") : QString();
    case State::Suspended: return QStringLiteral("monitoring is suspended");
    case State::Closed: return QStringLiteral("the connection was closed after the program transfer");
    case State::Down: break;
    }
    return lostReason_.isEmpty() ? QStringLiteral("no communication with the controller")
                                 : QStringLiteral("no communication with the controller (") + lostReason_ +
                                       QStringLiteral(")");
}

void ControllerLink::enter(State s) {
    if (s == state_) return;
    const State was = state_;
    state_ = s;
    switch (s) {
    case State::Up: lostReason_.clear(); Q_EMIT back(); break;
    case State::Down:
        if (was == State::Up) Q_EMIT lost(lostReason_);
        break;
    case State::Suspended: Q_EMIT suspended(); break;
    case State::Closed: Q_EMIT closed(lostReason_); break;
    }
    Q_EMIT changed();
}

void ControllerLink::markStart() {
    identified_ = false;
    lostReason_.clear();
    lastFailure_.clear();
    place_ = {};
    // Whatever a former main window left, the new one starts down.
    const bool wasDown = state_ == State::Down;
    state_ = State::Down;
    if (!wasDown) Q_EMIT changed();
}

void ControllerLink::markOpened(int32_t handle) { handle_ = handle; }

void ControllerLink::markDropped() {
    handle_ = 0;
    // No connection, no link.
    if (state_ == State::Up) markReconnecting();
}

void ControllerLink::markIdentified(bool yes) { identified_ = yes; }

bool ControllerLink::markUp() {
    if (waitsForUser()) return false;
    enter(State::Up);
    return true;
}

void ControllerLink::markLost(const QString &why) {
    if (waitsForUser()) return;
    if (state_ == State::Up || !why.isEmpty()) lostReason_ = why;
    enter(State::Down);
}

void ControllerLink::markReconnecting() {
    if (state_ != State::Up) return;
    lostReason_.clear();
    enter(State::Down);
}

void ControllerLink::markSuspended() { enter(State::Suspended); }

void ControllerLink::markResumed() {
    if (waitsForUser()) enter(State::Down);
}

void ControllerLink::markClosed(const QString &text) {
    identified_ = false;
    lostReason_ = text;
    enter(State::Closed);
}

// ---- The connection -------------------------------------------------------------------

QString ControllerLink::serialDevice(int port) {
    const QByteArray value = qgetenv(QStringLiteral("ORVCOMM_COM%1").arg(port).toLatin1().constData());
    if (!value.isEmpty()) return QString::fromLocal8Bit(value);
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
}

bool ControllerLink::open(const std::function<int32_t()> &openCall) {
    int32_t id = 0;
    try {
        id = openCall();
    } catch (const std::exception &e) {
        markOpened(0);
        lastFailure_ = describe(0, describeException(e));
        return false;
    }
    markOpened(id);
    if (id != 0) return true;
    // A failed open leaves its reason in the library-wide slot.
    fetchFailure(0);
    return false;
}

bool ControllerLink::close(bool keepRefused) {
    if (handle_ == 0) return true;
    int32_t rc = 0;
    try {
        rc = OrvComm::ZqCloseConnection(handle_);
    } catch (const std::exception &) {
    }
    if (rc != 1 && keepRefused) return false;
    markDropped();
    return rc == 1;
}

// ---- Failures ----------------------------------------------------------------------------

bool ControllerLink::refusedByController(int32_t code) {
    return std::find(std::begin(ControllerRefusals), std::end(ControllerRefusals), code) !=
           std::end(ControllerRefusals);
}

bool ControllerLink::refusedObjectFile(int32_t code) {
    return std::find(std::begin(ObjectFileRefusals), std::end(ObjectFileRefusals), code) !=
           std::end(ObjectFileRefusals);
}

bool ControllerLink::losesLink(std::optional<int32_t> code) {
    return !(code && (refusedByController(*code) || refusedObjectFile(*code)));
}

QString ControllerLink::describe(int32_t code, const QString &text) const {
    QString why = text.trimmed();
    if (why.isEmpty()) why = QStringLiteral("No answer from the controller");
    // A refusal (by the controller, which answered, or of a file) is no
    // fault of the link: it names no place.
    if (!losesLink(code)) return why;
    // A bare text of an operating-system error ("SetCommState error") gets
    // the system's reason.
    QString system;
    if (code > 0 && code < FirstLibraryCode && !why.contains(QLatin1Char(':')) && !why.contains(QLatin1Char('(')))
        system = qt_error_string(code);
    const bool named = !place_.mention.isEmpty() && why.contains(place_.mention);
    if (place_.words.isEmpty() || named) return system.isEmpty() ? why : why + QStringLiteral(": ") + system;
    QString detail = place_.detail;
    if (!system.isEmpty()) detail = detail.isEmpty() ? system : detail + QStringLiteral(": ") + system;
    why += QLatin1Char(' ') + place_.words;
    if (!detail.isEmpty()) why += QStringLiteral(" (") + detail + QLatin1Char(')');
    return why;
}

std::optional<int32_t> ControllerLink::fetchError(int32_t connection) {
    try {
        if (OrvComm::ZqGetErrorInfo(connection, &ErrorInfo) == 1) return ErrorInfo.code;
    } catch (const std::exception &) {
    }
    return std::nullopt;
}

QString ControllerLink::fetchFailure(int32_t connection) {
    failureLosesLink(connection);
    return lastFailure_;
}

bool ControllerLink::failureLosesLink(int32_t connection) {
    const auto code = fetchError(connection);
    lastFailure_ = describe(code.value_or(0), code ? errorInfoText() : QString());
    return losesLink(code);
}

bool ControllerLink::callLostLink() {
    if (!failureLosesLink(handle_)) return false;
    markLost(lastFailure_);
    return true;
}

// ---- Messages ------------------------------------------------------------------------------

QString ControllerLink::refusal(const QString &words) const {
    QString why = whyNot();
    if (why.isEmpty()) return QString();
    why[0] = why[0].toUpper();
    return words + QLatin1Char('\n') + why + QLatin1Char('.');
}

QString ControllerLink::mayHaveBeenCarriedOut() {
    return QStringLiteral("The controller may still have carried it out.");
}

ControllerLink::FailedWrite ControllerLink::failedWrite(const QString &words, int32_t connection) {
    const bool unknown = failureLosesLink(connection);
    QString text = words + QLatin1Char('\n') + lastFailure_;
    if (unknown) text += QLatin1Char('\n') + mayHaveBeenCarriedOut();
    return {text, unknown};
}
