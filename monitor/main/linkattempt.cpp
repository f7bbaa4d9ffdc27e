#include "main/linkattempt.h"

#include <QMetaObject>
#include <exception>

#include "core/globals.h"

namespace {
// A library call; a missing library or function counts as a failed call.
template <class F> int32_t call(F &&f) {
    try {
        return f();
    } catch (const std::exception &) {
        return 0;
    }
}
}  // namespace

ControllerIdentity readIdentity(int32_t connection, const std::function<bool()> &stop) {
    ControllerIdentity id;
    const auto stopped = [&] { return stop && stop(); };
    if (stopped() || call([&] { return OrvComm::ZqGetModel(connection, &id.model, &id.eaType); }) != 1) return id;
    if (stopped() || call([&] { return OrvComm::ZqGetIoCount(connection, &id.counts); }) != 1) return id;
    id.answered = true;
    // Models 0, 1, 2 and 4 (and unknown ones below 0) have nothing more to tell.
    const int32_t m = id.model;
    id.askedMore = m == 3 || m >= 5;
    if (!id.askedMore) return id;
    if (stopped()) return id;
    id.miscRead = call([&] { return OrvComm::ZqGetMiscIoCount(connection, &id.misc); }) == 1;
    if (stopped()) return id;
    call([&] { return OrvComm::ZqGetStatus(connection, &id.status); });
    if (stopped()) return id;
    call([&] { return OrvComm::ZqGetConfig(connection, &id.config); });
    return id;
}

SerialAttempt::SerialAttempt(int32_t connection, int32_t timeoutMs, QObject *parent)
    : QObject(parent), connection_(connection), timeoutMs_(timeoutMs) {}

SerialAttempt::~SerialAttempt() { abandon(); }

void SerialAttempt::start() {
    if (thread_.joinable()) return;
    thread_ = std::thread([this] {
        run();
        // Told from the event loop of the window thread; not at all once the
        // attempt is gone.
        QMetaObject::invokeMethod(this, [this] { deliver(); }, Qt::QueuedConnection);
    });
}

void SerialAttempt::abandon() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    else if (!delivered_) outcome_.handle = connection_;  // never started: its connection is still open
    if (!delivered_ && outcome_.handle != 0) call([&] { return OrvComm::ZqCloseConnection(outcome_.handle); });
    outcome_.handle = 0;
    delivered_ = true;
}

void SerialAttempt::deliver() {
    if (delivered_) return;
    if (thread_.joinable()) thread_.join();
    delivered_ = true;
    const Outcome outcome = outcome_;
    outcome_.handle = 0;
    Q_EMIT finished(outcome);
}

void SerialAttempt::run() {
    Outcome &o = outcome_;
    const auto stopped = [this] { return stop_.load(); };
    const auto fail = [&o](int32_t connection) {
        OrvComm::ZQ_ERROR_INFO info{};
        o.errorKnown = call([&] { return OrvComm::ZqGetErrorInfo(connection, &info); }) == 1;
        if (o.errorKnown) {
            o.errorCode = info.code;
            o.errorText = errorInfoText(info);
        }
        if (connection != 0) call([&] { return OrvComm::ZqCloseConnection(connection); });
    };
    const int32_t h = connection_;
    o.identity = readIdentity(h, stopped);
    // The search starts again at 9600 even when that rate just failed.
    for (const int32_t rate : SearchRates) {
        if (o.identity.answered || stopped()) break;
        if (call([&] { return OrvComm::ZqInitConnection(h, rate, 0, 8, 0); }) != 1) continue;
        call([&] { return OrvComm::ZqSetConnectionTimeout(h, timeoutMs_); });
        o.identity = readIdentity(h, stopped);
        if (o.identity.answered) o.searchedBaud = rate;
    }
    if (!o.identity.answered || stopped()) {
        fail(h);
        return;
    }
    o.handle = h;
}
