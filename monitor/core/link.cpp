#include "core/link.h"

#include "core/globals.h"

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

void ControllerLink::markUp() { enter(State::Up); }

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

bool ControllerLink::callLostLink() {
    bool known = false;
    try {
        known = OrvComm::ZqGetErrorInfo(handle_, &ErrorInfo) == 1;
    } catch (const std::exception &) {
    }
    if (known && ErrorInfo.code == 216) return false;
    markLost(known ? errorInfoText().trimmed() : QString());
    return true;
}
