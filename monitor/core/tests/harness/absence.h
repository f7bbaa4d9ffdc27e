// The monitor with its controller gone: the real main window polls an
// emulator, the controller goes away, and a fine timer of the window thread
// notes how long the window could not answer.
#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

// The window thread's stalls over a run: a gap between two ticks of a 5 ms
// timer longer than 50 ms counts as a stall (of the gap's length).
struct StallFigures {
    qint64 runMs = 0;
    qint64 longestMs = 0;
    qint64 stalledMs = 0;
    int stalls = 0;
    double freeShare() const { return runMs > 0 ? 1.0 - double(stalledMs) / double(runMs) : 0.0; }
};

// Runs the window thread's events for ms (less when done turns True) and
// measures its stalls.
StallFigures measureStalls(qint64 ms, const std::function<bool()> &done = {});

enum class Absence {
    SilentUdp,   // a UDP controller that stops answering
    RefusedTcp,  // a TCP controller that refuses connections
    HungTcp,     // a TCP controller that hangs: connections accepted by the kernel, nothing answered
    LostSerial,    // a serial line that goes away (its pseudo-terminal is closed)
    SilentSerial,  // a serial controller that stops answering (cable pulled, powered off)
};
inline constexpr Absence EveryAbsence[] = {Absence::SilentUdp, Absence::RefusedTcp, Absence::HungTcp,
                                           Absence::LostSerial, Absence::SilentSerial};
const char *nameOf(Absence kind);

class EmulatorPeer;
// A peer on the link that the absence concerns (a serial one on COM1).
std::unique_ptr<EmulatorPeer> peerFor(Absence kind);
// The main window's settings for that peer: its link, the reply time-out,
// the update interval.
QString settingsFor(const EmulatorPeer &peer, int timeoutMs, int updateMs = 100);
// The controller goes away in that manner; peer.startServing() brings it back.
void goAway(EmulatorPeer &peer, Absence kind);

struct AbsenceRun {
    bool started = false;       // the monitor polled the controller before it went away
    StallFigures gone;          // while the controller was gone
    QString statusWhileGone;    // the main window's status line then
    int exchangeWorstMs = 0;    // one exchange with a silent controller: tries x time-out (and a quiet wait)
    int backOffMs = 0;          // the reconnect wait when the controller came back
    qint64 recoveryMs = -1;     // from its return to polling again (-1: not within the bound)
};

// The main window loaded against a new emulator (reply time-out timeoutMs,
// update interval 100 ms) with the register window open; once it polls, the
// controller goes away for goneMs and then comes back.
class MonitorTestEnv;
AbsenceRun runAbsentController(MonitorTestEnv &env, Absence kind, qint64 goneMs, int timeoutMs);
