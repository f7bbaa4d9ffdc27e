// What a controller tells of itself, and a serial connection attempt that
// runs off the window thread.
//
// A serial controller that has gone silent (its cable pulled, its power off)
// makes every request wait out the reply time-out and then the quiet period
// the line needs before the next one. A serial attempt is one request after
// another: the controller's model at the configured rate, then, when it does
// not answer, the same at each rate of the baud search. Run on the window
// thread, an attempt held the window for one such wait after another. So
// once the port is open, the attempt runs on a thread of its own, and the
// window thread learns its outcome from the event loop (finished()). The
// connection stays the attempt's until then: it closes it itself when the
// attempt fails or is abandoned.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "core/orvcomm_binding.h"

// The controller's model and counts, as it gave them on a connection.
struct ControllerIdentity {
    bool answered = false;  // model and I/O counts both read
    int32_t model = 0;
    int32_t eaType = 0;
    OrvComm::ZQ_IO_COUNT counts{};
    bool askedMore = false;  // the model has the counts and states below
    bool miscRead = false;
    OrvComm::ZQ_MISC_IO_COUNT misc{};
    int32_t status = 0;
    int32_t config = 0;
};

// Asks the controller on a connection for its model and I/O counts and, for
// the models that have them, its other counts, run status and configuration.
// stop() is asked before each request; once it says so, nothing more is sent.
// Library calls only: any thread may ask.
ControllerIdentity readIdentity(int32_t connection, const std::function<bool()> &stop = {});

class SerialAttempt : public QObject {
    Q_OBJECT
public:
    struct Outcome {
        int32_t handle = 0;  // the connection, once the controller answered on it; 0 otherwise
        int32_t searchedBaud = 0;  // the rate the search found (0: the configured rate answered)
        ControllerIdentity identity;
        bool errorKnown = false;
        int32_t errorCode = 0;
        QString errorText;  // the library's, of the call that failed last
    };
    // The rates of the search, in the order they are tried.
    static constexpr int32_t SearchRates[] = {9600, 19200, 38400, 56800, 115200};

    // The attempt on a connection already opened at the configured rate
    // (the reply time-out set); it is the attempt's from now on. Each rate
    // of the search gets timeoutMs again.
    SerialAttempt(int32_t connection, int32_t timeoutMs, QObject *parent = nullptr);
    // Abandons an attempt still under way.
    ~SerialAttempt() override;

    void start();
    // Nothing more of the attempt reaches the controller: the request under
    // way ends (it waits for it), the attempt's connection is closed, and
    // finished() is not told.
    void abandon();

Q_SIGNALS:
    // From the event loop, once: the attempt has ended; a connection in the
    // outcome is the receiver's from now on.
    void finished(const SerialAttempt::Outcome &outcome);

private:
    void run();
    void deliver();

    int32_t connection_;
    int32_t timeoutMs_;
    Outcome outcome_;  // written by the thread until it ends
    std::atomic<bool> stop_{false};
    bool delivered_ = false;
    std::thread thread_;
};
