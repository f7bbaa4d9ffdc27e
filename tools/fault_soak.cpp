// Fault soak: register writes and read-backs through the library against an
// in-process emulator that misbehaves, on serial, UDP and TCP. Every value a
// call returns as success must be the answer to its own request; with the
// patterns that allow it, every failed call must be recovered by the next
// try or by one reconnection.
//
//   orv_fault_soak [--reads N] [--faults PERCENT | --every N[-MAX]] [--after N] [--timeout MS]
//                  [--transport serial|udp|tcp|all] [--seed S]
//                  [--pattern NAME] [--delay MIN-MAX | --turnaround SPEC]
//                  [--gap MS] [--poll | --writes] [--baud N] [--line-timing on|off]
//                  [--delivery paced|once|bursts:MS] [--threads N] [--busy N]
//
// --reads N     rounds of one write and one read-back (2N calls); with
//               --poll or --writes, N calls
// --pattern     which faults the controller shows (see kPatterns)
// --faults      the share of calls that meet a fault, drawn at random
// --every N     a fault on every Nth call instead; N-MAX: N to MAX calls
//               apart, drawn anew after each fault
// --after N     no fault in the first N calls (what the line learns of a
//               healthy controller first)
// --delay       every answer comes MIN to MAX ms after its request, as on a
//               real line (default 5-20 on serial, none on the network)
// --turnaround  a controller that answers each request a turnaround after
//               it is in and the answer before it is out: MS, MIN-MAX, R/W
//               (reads, writes), A,B@P% (B in P percent of the answers) or
//               A,B@N (B from request N+1 on), as orvemu takes it
// --gap         pause before every call, as a poller's interval
// --poll        reads only, of two registers in turn (N calls), as a poller
//               reads: a stray answer then has the form the next request
//               expects, and only the line's state can tell it apart (each
//               read answers a value of its own, checked against the
//               controller's log)
// --writes      writes only, each of a value of its own (N calls): a write
//               that returns 1 before the controller has sent its answer
//               took another request's acknowledgement
// --baud        the serial line's rate (default 9600)
// --line-timing on serial, the emulator answers no sooner than a real line
//               at that rate lets the request and the answer's first byte
//               cross, and sends its bytes at that rate (default on)
// --delivery    how the line hands an answer's bytes over: at the rate, all
//               at once when the last has crossed, or in bursts every MS
// --threads     calls from this many threads on the one connection
// --busy        this many busy loops beside the soak, as on a loaded machine
//
// Prints one line of figures per transport (on serial also the mean call
// beside the line's theory, the longest call, and the hold from a call's
// start to its request's first byte at the controller) and, for each wrong
// value, the request and the reply that gave it. Exits 1 when a wrong value was
// reported as success (with the patterns that allow a stale value: more
// than one per fault, or two in a row), or a failure that the pattern
// allows to recover was not recovered.
#include <arpa/inet.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "controller.h"
#include "orvcomm.h"
#include "servers.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
using orvemu::Fault;
using orvemu::FaultKind;

enum class Link { Serial, Udp, Tcp };

const char *linkName(Link l) { return l == Link::Serial ? "serial" : l == Link::Udp ? "udp" : "tcp"; }

// The kinds of misbehaviour. Delay stays within the time-out; Late comes
// after it, by a few milliseconds up to one and a half time-outs (within
// the quiet wait that follows the failed call). LateLate and LateLost fault
// two requests in a row: the one chosen and whichever comes next. On a
// controller that works off its requests one after another, Held keeps the
// answer back 2.3 time-outs, so that it comes after the next request has
// gone out and that request waits behind it; Repeat sends the answer again
// 8 ms after it, Copy 3 ms after it, CopyLost too and loses the next request;
// LateAndAHalf's answer comes 1.5 time-outs after its request. Held12 and
// Held35 hold the answer 1.2 and 3.5 time-outs; CopyNext sends a copy of the
// answer a turnaround after the next request is in, before that request's
// own answer; Unheard is a request that the controller never hears.
// HeldSlower (its answer held 2.3 time-outs in all, its turnaround included)
// and CopyNextSlower are Held and CopyNext after which every answer takes
// 30 ms longer for good (the next such fault takes it back);
// CopyNextSlowOnce is CopyNext whose next answer alone takes 28 ms longer;
// OldEarly sends the answer to the request two before again 8 ms after the
// request is in, ahead of the request's own. HeldTwice holds two answers
// in a row, 3.5 time-outs and then 2.3 more after the first goes out.
// After CopyPastTimeout (a copy as CopyNext) every answer takes 1 to 6 ms
// more than the time-out, after CopyPastGap 1 to 6 ms more than the gap
// between calls and the time-out; TwoAgain sends the last two answers again
// (each as CopyNext's copy, one after the other), after which every answer
// takes 22 to 30 ms; after HeldPastTwice (an answer held 2.5 time-outs in
// all) every answer takes 2.1 to 2.9 time-outs. Each for good, until the
// next such fault takes the usual pace back. OldEarly1 and OldEarlyInRange
// are OldEarly 1 ms and 6 to 10 ms after the request is in.
enum class Kind {
    Drop, Delay, Late, Split, BadChecksum, WrongLength, WrongCode, ShortError, Garbage, WrongSequence, PeerClose,
    NoiseZero, Noise, Duplicate, LateLate, LateLost, VeryLate, Held, Repeat, Copy, CopyLost, LateAndAHalf, Held12,
    Held35, CopyNext, Unheard, HeldSlower, CopyNextSlower, CopyNextSlowOnce, OldEarly, HeldTwice, CopyPastTimeout,
    CopyPastGap, TwoAgain, HeldPastTwice, OldEarly1, OldEarlyInRange, Count
};
constexpr const char *kKindNames[] = {"drop",        "delay",       "late",           "split",     "checksum",
                                      "length",      "code",        "error",          "garbage",   "sequence",
                                      "close",       "noise0",      "noise",          "duplicate", "late-late",
                                      "late-lost",   "very-late",   "held",           "repeat",    "copy",
                                      "copy-lost",   "late-1.5",    "held-1.2",       "held-3.5",  "copy-next",
                                      "unheard",     "held-slower", "copy-slower",    "copy-slow-once",
                                      "old-early",   "held-twice",  "copy-past-timeout", "copy-past-gap",
                                      "two-again",   "held-past-twice", "old-early-1ms", "old-early-in-range"};
static_assert(std::size(kKindNames) == static_cast<std::size_t>(Kind::Count));
constexpr int kKinds = static_cast<int>(Kind::Count);

// The most calls a run of stale values may last after copies that no timing
// can see: the line proves itself in step at least this often.
constexpr int kProbeInterval = 32;

// What the soak does after a failed call besides going on.
enum class Then {
    Nothing,
    Reopen,         // closes the connection and opens the device again under another name
    LowerTimeout,   // lowers the time-out to 40 % (until the next fault)
    AnotherProgram  // the program ends; another one opens the device at once and goes on
};

// What a soak run asks of the controller.
struct Pattern {
    const char *name;
    const char *what;
    std::vector<Kind> kinds;  // one is chosen for each faulted call; empty: the mixed set of the link
    bool everyRequestLate = false;
    bool recovers = true;  // every failure is recovered by a retry or a reconnection
    int gapMs = 0;
    // A failed call is tried again at once (the same request); without, the
    // soak goes on to the next request, as a poller does.
    bool retry = true;
    Then then = Then::Nothing;
    // The first fault of the run, when not Count.
    Kind first = Kind::Count;
    // A stale answer that came after the next request could have crossed
    // the line, with nothing after it, cannot be told apart: one such
    // value per fault is allowed, never two in a row.
    bool mayGoStale = false;
    // With mayGoStale, the most stale values a fault may give in a row (a
    // controller that turns slower just as the line falls behind is caught
    // by a proof that comes every so many exchanges).
    int mostInARow = 1;
    // The controller answers nothing at all.
    bool silent = false;
    // With mayGoStale, mostInARow bounds the calls from a run's first stale
    // value to its last, failed ones included (after copies that no timing
    // can see, the run ends at the next proof), not the stale values alone.
    bool withinCalls = false;
};
const Pattern kPatterns[] = {
    {"mixed", "every kind of fault at random", {}},
    {"clean", "no faults: what a healthy line costs", {Kind::Count}},
    {"late-every", "every answer later than the time-out (+30 ms)", {Kind::Count}, true, false},
    {"silent", "a controller that answers nothing: what each call costs", {Kind::Count}, false, false, 0, false,
     Then::Nothing, Kind::Count, false, 1, true},
    {"noise0", "one 0x00 byte before an answer", {Kind::NoiseZero}},
    {"noise", "1 to 12 random bytes before an answer", {Kind::Noise}},
    {"duplicate", "an answer sent twice, 5 ms apart", {Kind::Duplicate}},
    {"late-late", "a late answer, and the next one late too", {Kind::LateLate}},
    {"late-lost", "a late answer, and the next one lost", {Kind::LateLost}},
    // The caller's wait counts as the line's quiet: an answer later than
    // both lands on the next request, whose own answer shows it unless that
    // one is very late too.
    {"very-late", "an answer 5.5 time-outs late, 400 ms between calls, no retry", {Kind::VeryLate}, false, false,
     400, false, Then::Nothing, Kind::Count, true},
    {"drop", "a lost answer", {Kind::Drop}},
    // As a poller meets them: the second fault falls on the next request,
    // not on a retry of the same one.
    {"late-late-next", "a late answer, and the next request's late too, no retry", {Kind::LateLate}, false, false, 0,
     false},
    {"late-lost-next", "a late answer, and the next request's lost, no retry", {Kind::LateLost}, false, false, 0,
     false},
    // A controller that works off its requests one after another, met as
    // a poller meets it (no retry).
    {"held", "an answer held back 2.3 time-outs", {Kind::Held}, false, false, 0, false, Then::Nothing, Kind::Count,
     true},
    {"repeat", "an answer sent again 8 ms after it", {Kind::Repeat}, false, false, 0, false, Then::Nothing,
     Kind::Count, true},
    {"queue", "late, lost, noisy, repeated and split answers at random",
     {Kind::Late, Kind::Drop, Kind::Noise, Kind::Repeat, Kind::Split}, false, false, 0, false, Then::Nothing,
     Kind::Count, true},
    {"copy", "an answer sent again 3 ms after it", {Kind::Copy}, false, false, 0, false, Then::Nothing, Kind::Count,
     true},
    {"copy-lost", "as copy, the first copy followed by a lost request", {Kind::Copy}, false, false, 0, false,
     Then::Nothing, Kind::CopyLost, true},
    {"late-reopen", "an answer 1.5 time-outs late, then the device opened again under another name",
     {Kind::LateAndAHalf}, false, false, 0, false, Then::Reopen, Kind::Count, true},
    {"late-lower", "an answer 1.5 time-outs late, then the time-out lowered to 40 %", {Kind::LateAndAHalf}, false,
     false, 0, false, Then::LowerTimeout, Kind::Count, true},
    {"second-program", "an answer 1.5 time-outs late, then the program ends and another opens the device (reads)",
     {Kind::LateAndAHalf}, false, false, 0, false, Then::AnotherProgram, Kind::Count, true},
    {"copy-next", "a copy of an answer a turnaround after the next request, before that request's own answer",
     {Kind::CopyNext}, false, false, 0, false, Then::Nothing, Kind::Count, true},
    {"field", "answers held 1.2, 2.3 and 3.5 time-outs, repeated, copied after the next request, lost, and "
              "requests never heard, at random",
     {Kind::Held12, Kind::Held, Kind::Held35, Kind::Repeat, Kind::CopyNext, Kind::Drop, Kind::Unheard}, false, false,
     0, false, Then::Nothing, Kind::Count, true},
    // A fault after which the controller answers more slowly for good.
    {"held-slower", "an answer held back 2.3 time-outs, then every answer 30 ms slower for good (the next such "
                    "fault takes it back)",
     {Kind::HeldSlower}, false, false, 0, false, Then::Nothing, Kind::Count, true},
    {"copy-slower", "a copy of an answer at the usual time after the next request, then every answer 30 ms slower "
                    "for good (the next such fault takes it back)",
     {Kind::CopyNextSlower}, false, false, 0, false, Then::Nothing, Kind::Count, true, kProbeInterval},
    {"copy-slow-once", "a copy of an answer after the next request, then one answer 28 ms slower than usual",
     {Kind::CopyNextSlowOnce}, false, false, 0, false, Then::Nothing, Kind::Count, true, 2},
    // Two faults in a row, the second answer coming after a watch of two
    // quiet periods would have ended: at most one wrong value for the two.
    // (Two such pairs may come with only failed calls between their values.)
    {"held-twice", "two answers in a row held back, 3.5 time-outs and 2.3 more after the first",
     {Kind::HeldTwice}, false, false, 0, false, Then::Nothing, Kind::Count, true, 2},
    // Against a controller that never answers within 8 ms, no value may be
    // stale.
    {"old-early", "the answer to the request two before sent again 8 ms after a request is in, ahead of its own",
     {Kind::OldEarly}, false, false, 0, false},
    // Copies no timing can see, after which the controller keeps a pace
    // that no time-out bounds: every run of stale values ends within the
    // line's proof interval.
    {"copy-past-timeout", "a copy of an answer at the usual time after the next request, then every answer 1 to "
                          "6 ms past the time-out for good (the next such fault takes it back)",
     {Kind::CopyPastTimeout}, false, false, 0, false, Then::Nothing, Kind::Count, true, kProbeInterval, false, true},
    {"copy-past-gap", "150 ms between calls; a copy of an answer at the usual time after the next request, then "
                      "every answer 1 to 6 ms past the gap and the time-out for good (the next such fault takes "
                      "it back)",
     {Kind::CopyPastGap}, false, false, 150, false, Then::Nothing, Kind::Count, true, kProbeInterval, false, true},
    {"two-again", "the last two answers sent again at the usual time after the next request, then every answer "
                  "in 22 to 30 ms for good (the next such fault takes it back)",
     {Kind::TwoAgain}, false, false, 0, false, Then::Nothing, Kind::Count, true, kProbeInterval, false, true},
    // A fault the line sees, after which no answer comes within twice the
    // time-out: one stale value at most, then only failed calls.
    {"held-past-twice", "an answer held 2.5 time-outs, then every answer in 2.1 to 2.9 time-outs for good (the "
                        "next such fault takes it back)",
     {Kind::HeldPastTwice}, false, false, 0, false, Then::Nothing, Kind::Count, true},
    // An old answer sent again sooner than the controller's quickest, or
    // within its usual range: its own answer follows and shows it, so no
    // value may be stale.
    {"old-early-1ms", "the answer to the request two before sent again 1 ms after a request is in, ahead of its own",
     {Kind::OldEarly1}, false, false, 0, false},
    {"old-early-in-range", "the answer to the request two before sent again 6 to 10 ms after a request is in, "
                           "ahead of its own",
     {Kind::OldEarlyInRange}, false, false, 0, false},
};

const Pattern *findPattern(const std::string &name) {
    for (const Pattern &p : kPatterns)
        if (name == p.name) return &p;
    return nullptr;
}

std::vector<Kind> mixedKinds(Link l) {
    std::vector<Kind> k{Kind::Drop,        Kind::Delay,     Kind::Late,       Kind::Split,  Kind::BadChecksum,
                        Kind::WrongLength, Kind::WrongCode, Kind::ShortError, Kind::Garbage};
    if (l == Link::Serial)
        k.insert(k.end(), {Kind::NoiseZero, Kind::Noise, Kind::Duplicate, Kind::LateLate, Kind::LateLost});
    if (l != Link::Serial) k.push_back(Kind::WrongSequence);
    if (l == Link::Tcp) k.push_back(Kind::PeerClose);
    return k;
}

struct Options {
    long rounds = 10000;
    double faultPercent = 1.0;
    int timeoutMs = 100;
    std::vector<Link> links{Link::Serial, Link::Udp, Link::Tcp};
    unsigned seed = 1;
    long every = 0;  // a fault on every Nth call; 0: at random, faultPercent of them
    long everyMost = 0;  // with every: a fault every `every` to `everyMost` calls, drawn anew
    long after = 0;      // no fault in the first `after` calls
    const Pattern *pattern = &kPatterns[0];
    std::optional<orvemu::Turnaround> turnaround;  // none: the link's default
    int gapMs = -1;                    // -1: the pattern's
    // Reads only, of two registers in turn, as a poller does: an answer
    // taken for the next request then has the form that request expects.
    bool poll = false;
    // Writes only, each of a value of its own.
    bool writes = false;
    std::uint32_t baud = 9600;
    bool lineTiming = true;
    orvemu::Delivery delivery = orvemu::Delivery::Paced;
    int burstMs = 0;
    int threads = 1;
    int busy = 0;
    // Set in a program that another one started: the device to open.
    std::string program;
};

// A loopback address of its own for this process (the controller's ports
// are fixed), apart from other processes that run emulators at the same time.
std::string loopbackAddress(unsigned n) {
    const unsigned key = ((static_cast<unsigned>(getpid()) & 0xFFFF) << 4) | (n & 0xF);
    return "127." + std::to_string(128 + (key >> 17)) + "." + std::to_string((key >> 9) & 0xFF) + "." +
           std::to_string(1 + ((key >> 1) & 0xFF) % 254);
}

// The request frames of a register read and write: 01, L, code,
// arguments, checksum, FF.
std::vector<std::uint8_t> frame(std::uint8_t code, std::vector<std::uint8_t> args) {
    std::vector<std::uint8_t> f;
    f.reserve(args.size() + 5);
    f.push_back(0x01);
    f.push_back(static_cast<std::uint8_t>(args.size() + 3));
    f.push_back(code);
    for (std::uint8_t b : args) f.push_back(b);
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < f.size(); ++i) sum = static_cast<std::uint8_t>(sum + f[i]);
    f.push_back(static_cast<std::uint8_t>(~sum));
    f.push_back(0xFF);
    return f;
}
std::vector<std::uint8_t> readFrame(std::int32_t reg) {
    return frame(0x09, {static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(reg >> 8)});
}
std::vector<std::uint8_t> writeFrame(std::int32_t reg, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    return frame(0x0B, {static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(reg >> 8),
                        static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                        static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
}

std::string hex(const std::uint8_t *b, std::size_t n) {
    std::string s;
    char x[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(x, sizeof x, i ? " %02X" : "%02X", b[i]);
        s += x;
    }
    return s;
}

struct Figures {
    long calls = 0, faults = 0;
    long wrongReads = 0;   // a read returned success with a value that was not its answer
    long wrongWrites = 0;  // a write returned success before the controller had answered it
    long longestRun = 0;   // wrong values with no right one between them
    long longestSpan = 0;  // the calls from the first to the last of such a run
    long failedCalls = 0;  // calls whose first try failed
    // Successful first tries that took longer than the time-out: on a
    // serial line, replies that were watched before they were trusted.
    long overTimeout = 0;
    long recoveredByRetry = 0, recoveredByReconnect = 0, unrecovered = 0, reconnections = 0;
    long faultsByKind[kKinds] = {};
    // Failed calls by the library's reason.
    std::map<std::string, long> failedBy;
    double seconds = 0;
    // What the calls took (their first tries), the bytes their requests and
    // answers take on the line, and the turnarounds the controller drew.
    Clock::duration callTime{};
    Clock::duration longestCall{};
    std::size_t longestCallFrames = 0;  // the frames the controller heard during it
    // From a call's start to its request's first byte at the controller.
    Clock::duration holdSum{}, holdMost{};
    long holds = 0;
    std::uint64_t lineBytes = 0;
    std::uint64_t answers = 0;
    std::chrono::microseconds turnarounds{};
    // Answers whose last byte went out over 1 ms past its time, of those
    // timed: the controller's own lateness on a busy machine.
    std::uint64_t lateAnswers = 0, timedAnswers = 0;
};

// Counts the values calls returned: wrong ones, and the longest run of them
// with no right one and no other fault between.
class Verdicts {
public:
    explicit Verdicts(Figures &f) : f_(f) {}
    void right() { run_ = 0; }
    // A fault: what stale values come after it are its own run.
    void faulted() { run_ = 0; }
    void wrong(bool read) {
        ++(read ? f_.wrongReads : f_.wrongWrites);
        if (run_ == 0) runFrom_ = f_.calls;
        f_.longestRun = std::max(f_.longestRun, ++run_);
        f_.longestSpan = std::max(f_.longestSpan, f_.calls - runFrom_ + 1);
    }

private:
    Figures &f_;
    long run_ = 0;
    long runFrom_ = 0;  // the call that began the run
};

// The two registers a poller reads in turn, and what they hold.
constexpr std::int32_t kPolled[2] = {1111111, 2222222};

// A program that polls the controller at `device` (a COM port of its own),
// as another program that opens the device while the soak runs.
class Poller {
public:
    Poller(const Options &o, int port) : o_(o), port_(port) {}
    bool open() {
        id_ = ZqOpenConnection(ZQ_TYPE_SERIAL, port_, 0);
        if (id_ == 0) return false;
        if (o_.baud != 9600 && ZqInitConnection(id_, static_cast<std::int32_t>(o_.baud), 0, 8, 0) != 1) return false;
        return ZqSetConnectionTimeout(id_, o_.timeoutMs) == 1;
    }
    // One read of the register of call i: false when the call failed.
    bool read(long i, Verdicts &v) {
        const std::int32_t reg = 1 + static_cast<std::int32_t>(i % 2);
        std::int32_t got = 0;
        if (ZqGetRegister(id_, reg, &got) != 1) return false;
        if (got == kPolled[reg - 1]) v.right();
        else v.wrong(true);
        return true;
    }
    void close() { ZqCloseConnection(id_); }

private:
    const Options &o_;
    int port_;
    std::int32_t id_ = 0;
};

// The program that another one started: N reads, its figures on one line.
int runAsProgram(const Options &o) {
    const int port = 200 + static_cast<int>(getpid() % 5000);
    setenv(("ORVCOMM_COM" + std::to_string(port)).c_str(), o.program.c_str(), 1);
    Figures f;
    Verdicts v(f);
    Poller p(o, port);
    if (!p.open()) return 2;
    for (long i = 0; i < o.rounds; ++i) {
        ++f.calls;
        if (o.gapMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(o.gapMs));
        if (!p.read(i, v)) ++f.failedCalls;
    }
    p.close();
    std::printf("program calls %ld wrong %ld failed %ld longest %ld\n", f.calls, f.wrongReads, f.failedCalls,
                f.longestRun);
    return 0;
}

class Soak {
public:
    Soak(Link link, const Options &o) : link_(link), o_(o), rng_(o.seed * 7919u + static_cast<unsigned>(link)) {}
    ~Soak() {
        if (!otherName_.empty()) unlink(otherName_.c_str());
    }

    bool start() {
        if (link_ == Link::Serial) {
            server_ = orvemu::startPty(controller_);
            if (!server_) return false;
            port_ = 200 + static_cast<int>(getpid() % 5000);
            setenv(("ORVCOMM_COM" + std::to_string(port_)).c_str(), server_->endpoint().c_str(), 1);
            if (o_.pattern->then == Then::Reopen) {
                // The same device under another name, as /dev/serial/by-id/ names are.
                otherName_ = (std::filesystem::temp_directory_path() / ("orv-soak-" + std::to_string(getpid()))).string();
                unlink(otherName_.c_str());
                if (symlink(server_->endpoint().c_str(), otherName_.c_str()) != 0) return false;
                setenv(("ORVCOMM_COM" + std::to_string(port_ + 1)).c_str(), otherName_.c_str(), 1);
            }
        } else {
            for (unsigned n = 0; n < 64 && !server_; ++n) {
                const std::string a = loopbackAddress(n * 2 + (link_ == Link::Tcp));
                server_ = link_ == Link::Udp ? orvemu::startUdp(controller_, a) : orvemu::startTcp(controller_, a);
                address_ = static_cast<std::int32_t>(inet_addr(a.c_str()));
            }
            if (!server_) return false;
        }
        const orvemu::Turnaround t =
            o_.turnaround ? *o_.turnaround : orvemu::Turnaround::between(link_ == Link::Serial ? 5 : 0, link_ == Link::Serial ? 20 : 0);
        controller_.setTurnaround(t);
        turnaround_ = (t.longestUs() + 999) / 1000;
        controller_.setLineTiming(o_.lineTiming);
        controller_.setDelivery(o_.delivery, o_.burstMs);
        if (o_.pattern->everyRequestLate) controller_.setFault({FaultKind::Delay, -1, o_.timeoutMs + 30});
        if (o_.pattern->silent) controller_.setFault({FaultKind::Drop, -1});
        if (o_.pattern->then == Then::AnotherProgram) return true;
        return open();
    }

    Figures run() {
        const auto start = Clock::now();
        if (o_.pattern->then == Then::AnotherProgram) return runPrograms(start);
        if (o_.poll) countPolledReads();
        // Each thread takes its share of the rounds, on registers of its own.
        std::vector<std::thread> threads;
        for (int t = 1; t < o_.threads; ++t) threads.emplace_back([this, t] { runShare(t); });
        runShare(0);
        for (auto &t : threads) t.join();
        return finish(start);
    }

private:
    static constexpr std::int32_t kRegisters = 1000;

    void runShare(int thread) {
        const long rounds = o_.rounds / o_.threads + (thread < o_.rounds % o_.threads ? 1 : 0);
        const std::int32_t registers = kRegisters / o_.threads, first = 1 + thread * registers;
        for (long i = 0; i < rounds; ++i) {
            if (o_.poll) pollOnce(thread, i);
            else if (o_.writes) writeOnce(first + static_cast<std::int32_t>(i % registers), i);
            else writeAndReadBack(first + static_cast<std::int32_t>(i % registers), i);
        }
    }
    // A value the register does not hold, remembered as written there.
    std::int32_t newValue(std::int32_t reg, long round) {
        std::lock_guard lock(m_);
        std::int32_t value = static_cast<std::int32_t>(rng_());
        if (value == held(reg)) ++value;
        written_[value] = {reg, round};
        return value;
    }
    void writeAndReadBack(std::int32_t reg, long round) {
        const std::int32_t old = held(reg);
        const std::int32_t value = newValue(reg, round);
        const bool written = write(reg, value);
        // The controller answers a read after the write that went before
        // it, so the read-back is the new value, or the old one when the
        // write never reached the controller.
        std::int32_t got = value + 1 == old ? value + 2 : value + 1;  // no answer of either
        const auto rf = readFrame(reg);
        if (!call(rf, false, [&] { return ZqGetRegister(id_, reg, &got); })) return;
        std::lock_guard lock(m_);
        if (got != value && got != old) wrongRead(reg, got, rf);
        // A read-back of the old value after an acknowledged write is
        // wrong too (the acknowledgement was), and counted there.
        else if (!written || got == value) verdicts_.right();
    }
    void writeOnce(std::int32_t reg, long round) { write(reg, newValue(reg, round)); }
    // Reads of two registers in turn (each thread its own two), each value
    // checked against the controller's log: the answer to this call's own
    // request, which reached the controller after the call began.
    void pollOnce(int thread, long i) {
        const std::int32_t reg = 1 + 2 * thread + static_cast<std::int32_t>(i % 2);
        std::int32_t got = 0;
        const auto rf = readFrame(reg);
        Clock::time_point began;
        if (!call(rf, false, [&] { return ZqGetRegister(id_, reg, &got); }, &began)) return;
        const bool own = answeredSince(got, rf, began);
        std::lock_guard lock(m_);
        if (!own) wrongRead(reg, got, rf);
        else verdicts_.right();
    }
    // Every read of a polled register answers a value of its own, as a
    // controller whose values move: a stale answer shows whichever request
    // it answered, also one of the same register.
    void countPolledReads() {
        const orvemu::Handler read = controller_.handler(0x09);
        const int polled = 2 * o_.threads;
        controller_.setHandler(0x09, [this, read, polled](orvemu::Controller &c, const orvemu::Request &r) {
            const int reg = r.args.size() >= 2 ? orvemu::u16(r.args.data()) : 0;
            if (reg >= 1 && reg <= polled) {
                std::lock_guard lock(polledMutex_);
                const std::int32_t v = nextPolled_++;
                c.memory().registers[static_cast<std::size_t>(reg)] = v;
                polledBy_[v] = c.requestCount() - 1;
            }
            return read(c, r);
        });
    }
    // The place in the controller's log of the request a polled value
    // answered (none: no polled read did).
    std::optional<std::size_t> polledBy(std::int32_t v) const {
        std::lock_guard lock(polledMutex_);
        const auto it = polledBy_.find(v);
        if (it == polledBy_.end()) return std::nullopt;
        return it->second;
    }
    // Whether v answered a request of these bytes whose first byte came
    // after `began`.
    bool answeredSince(std::int32_t v, const std::vector<std::uint8_t> &request, Clock::time_point began) const {
        const auto at = polledBy(v);
        if (!at) return false;
        const auto heard = controller_.heardAt(*at);
        const auto since = controller_.requestsSince(*at);
        return heard && *heard >= began && !since.empty() && since.front() == request;
    }
    // Notes the hold before a request: from the call's start to its first
    // byte at the controller (a request the controller has not taken in yet
    // counts nothing).
    void noteHold(const std::vector<std::uint8_t> &request, std::size_t loggedBefore, Clock::time_point began) {
        const auto since = controller_.requestsSince(loggedBefore);
        for (std::size_t k = 0; k < since.size(); ++k) {
            if (since[k] != request) continue;
            const auto heard = controller_.heardAt(loggedBefore + k);
            if (!heard || *heard < began) return;
            std::lock_guard lock(m_);
            const auto hold = *heard - began;
            f_.holdSum += hold;
            f_.holdMost = std::max(f_.holdMost, hold);
            ++f_.holds;
            return;
        }
    }

    std::int32_t held(std::int32_t reg) {
        return controller_.withMemory([&](orvemu::Memory &m) { return m.registers[static_cast<std::size_t>(reg)]; });
    }
    // One write; true when it returned 1. Returned 1, its answer must have
    // gone out: otherwise the call took another request's acknowledgement.
    bool write(std::int32_t reg, std::int32_t value) {
        const auto wf = writeFrame(reg, value);
        if (!call(wf, true, [&] { return ZqPutRegister(id_, reg, value); })) return false;
        const bool answered = controller_.answerSent(wf);
        std::lock_guard lock(m_);
        if (answered) {
            verdicts_.right();
        } else {
            verdicts_.wrong(false);
            report("write of register " + std::to_string(reg) + " returned 1 before the controller had answered it",
                   wf);
        }
        return true;
    }
    void setPolled() {
        controller_.withMemory([&](orvemu::Memory &m) {
            m.registers[1] = kPolled[0];
            m.registers[2] = kPolled[1];
            return 0;
        });
        written_[kPolled[0]] = {1, 0};
        written_[kPolled[1]] = {2, 0};
    }
    // Programs one after another on the device, each polling until the
    // answer to its last request comes late, and ending then; the next
    // one starts at once.
    Figures runPrograms(Clock::time_point start) {
        setPolled();
        const long each = o_.every > 0 ? o_.every : 20;
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        for (long done = 0; done < o_.rounds;) {
            const long calls = std::min(each, o_.rounds - done);
            const bool fault = done + calls < o_.rounds;
            if (fault) {
                Fault late{FaultKind::Delay, 1, std::max(0, o_.timeoutMs * 3 / 2 - turnaround_)};
                late.after = static_cast<int>(calls - 1);
                controller_.setFault(late);
                ++f_.faults;
                ++f_.faultsByKind[static_cast<int>(Kind::LateAndAHalf)];
            }
            Figures p;
            if (!runProgram(self, calls, p)) {
                std::printf("       a program did not run to its end\n");
                ++f_.unrecovered;
                break;
            }
            f_.calls += p.calls;
            f_.wrongReads += p.wrongReads;
            f_.failedCalls += p.failedCalls;
            f_.unrecovered += p.failedCalls;
            f_.longestRun = std::max(f_.longestRun, p.longestRun);
            done += calls;
        }
        controller_.clearFault();
        f_.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return f_;
    }
    bool runProgram(const std::string &self, long calls, Figures &out) const {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        const std::string n = std::to_string(calls), t = std::to_string(o_.timeoutMs), b = std::to_string(o_.baud),
                          g = std::to_string(o_.gapMs > 0 ? o_.gapMs : 0);
        const std::string device = server_->endpoint();
        const char *argv[] = {self.c_str(), "--program", device.c_str(), "--reads", n.c_str(), "--timeout", t.c_str(),
                              "--baud", b.c_str(), "--gap", g.c_str(), nullptr};
        pid_t pid = 0;
        const int e = posix_spawn(&pid, self.c_str(), &actions, nullptr, const_cast<char *const *>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        std::string text;
        char buf[256];
        for (ssize_t r; e == 0 && (r = ::read(pipeFds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(r));
        ::close(pipeFds[0]);
        int status = 0;
        if (e != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
        return std::sscanf(text.c_str(), "program calls %ld wrong %ld failed %ld longest %ld", &out.calls,
                           &out.wrongReads, &out.failedCalls, &out.longestRun) == 4;
    }
    void wrongRead(std::int32_t reg, std::int32_t got, const std::vector<std::uint8_t> &request) {
        verdicts_.wrong(true);
        report("read of register " + std::to_string(reg) + " returned " + std::to_string(got) + " (" + whose(got) + ")",
               request);
    }
    Figures finish(Clock::time_point start) {
        f_.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::tie(f_.answers, f_.turnarounds) = controller_.turnaroundsDrawn();
        std::tie(f_.lateAnswers, f_.timedAnswers) = controller_.lateAnswers();
        ZqCloseConnection(id_);
        return f_;
    }
    static constexpr long kMostReported = 30;

    bool open() {
        // Reopened under the other name every other time.
        const int port = port_ + (otherName_.empty() ? 0 : static_cast<int>(f_.reconnections % 2));
        id_ = link_ == Link::Serial ? ZqOpenConnection(ZQ_TYPE_SERIAL, port, 0)
                                    : ZqOpenConnection(link_ == Link::Udp ? ZQ_TYPE_UDP : ZQ_TYPE_TCP, 0, address_);
        if (id_ == 0) return false;
        if (link_ == Link::Serial && o_.baud != 9600 && ZqInitConnection(id_, static_cast<std::int32_t>(o_.baud), 0, 8, 0) != 1)
            return false;
        return ZqSetConnectionTimeout(id_, o_.timeoutMs) == 1;
    }
    void reconnect() {
        ++f_.reconnections;
        ZqCloseConnection(id_);
        open();
    }

    // Which request a value answered, as far as the soak can tell.
    std::string whose(std::int32_t v) const {
        if (const auto at = polledBy(v)) {
            const std::size_t logged = controller_.requestCount();
            return "the answer to request " + std::to_string(*at + 1) + " of the controller's " +
                   std::to_string(logged);
        }
        if (auto it = written_.find(v); it != written_.end())
            return "written to register " + std::to_string(it->second.first) + " in round " +
                   std::to_string(it->second.second);
        return "no value the soak wrote: an acknowledgement or noise";
    }
    // Prints a wrong value with the request sent and the reply taken for its answer.
    void report(const std::string &what, const std::vector<std::uint8_t> &request) {
        if (f_.wrongReads + f_.wrongWrites > kMostReported) return;
        ZQ_MESSAGE_INFO m{};
        ZqGetMessageInfo(id_, &m);
        const auto replyLength = static_cast<std::size_t>(std::min(m.replyLength, ZQ_MESSAGE_INFO_BYTES));
        std::printf("       WRONG: %s; request %s; reply %s\n", what.c_str(), hex(request.data(), request.size()).c_str(),
                    hex(m.reply, replyLength).c_str());
    }

    // Whether the next call meets a fault.
    bool faultDue() {
        ++callsSeen_;
        // What the line learns of a healthy controller first.
        if (callsSeen_ <= o_.after) return false;
        if (o_.every > 0 && o_.everyMost > o_.every) {
            if (nextFault_ == 0)
                nextFault_ = o_.after + std::uniform_int_distribution<long>(o_.every, o_.everyMost)(rng_);
            if (callsSeen_ < nextFault_) return false;
            nextFault_ = callsSeen_ + std::uniform_int_distribution<long>(o_.every, o_.everyMost)(rng_);
            return true;
        }
        if (o_.every > 0) return (callsSeen_ - o_.after) % o_.every == 0;
        std::uniform_real_distribution<double> p(0, 100);
        return p(rng_) < o_.faultPercent;
    }
    // Maybe arms a fault for the request frame that the next call sends.
    // (Only that frame takes it: the controller may still be working off
    // requests of an earlier call.) The double faults also take whatever
    // request comes next.
    void maybeFault(const std::vector<std::uint8_t> &frame) {
        const auto kinds = o_.pattern->kinds.empty() ? mixedKinds(link_) : o_.pattern->kinds;
        if (kinds.front() == Kind::Count) return;
        if (!faultDue()) return;
        Kind k = kinds[std::uniform_int_distribution<std::size_t>(0, kinds.size() - 1)(rng_)];
        if (f_.faults == 0 && o_.pattern->first != Kind::Count) k = o_.pattern->first;
        ++f_.faults;
        ++f_.faultsByKind[static_cast<int>(k)];
        verdicts_.faulted();
        const int t = o_.timeoutMs;
        auto late = [&] { return Fault{FaultKind::Delay, 1, std::uniform_int_distribution<int>(t + 3, t * 3 / 2)(rng_)}; };
        auto noise = [&](int n) {
            Fault f{FaultKind::Noise};
            for (int b = 0; b < n; ++b)
                f.noise.push_back(k == Kind::NoiseZero ? 0 : static_cast<std::uint8_t>(rng_()));
            return f;
        };
        std::vector<Fault> faults(1);
        Fault &fault = faults.front();
        switch (k) {
        case Kind::Drop: fault.kind = FaultKind::Drop; break;
        case Kind::Delay:
            fault.kind = FaultKind::Delay;
            fault.delayMs = std::uniform_int_distribution<int>(t / 10, t / 3)(rng_);
            break;
        case Kind::Late: fault = late(); break;
        case Kind::Split: fault.kind = FaultKind::SplitReply; break;
        case Kind::BadChecksum: fault.kind = FaultKind::CorruptChecksum; break;
        case Kind::WrongLength: fault.kind = FaultKind::WrongLength; break;
        case Kind::WrongCode: fault.kind = FaultKind::WrongCode; break;
        case Kind::ShortError: fault.kind = FaultKind::ShortError; fault.errorCode = 0x66; break;
        case Kind::Garbage: {
            fault.kind = FaultKind::Garbage;
            const int n = std::uniform_int_distribution<int>(1, 12)(rng_);
            for (int b = 0; b < n; ++b) fault.garbage.push_back(static_cast<std::uint8_t>(rng_()));
            break;
        }
        case Kind::WrongSequence: fault.kind = FaultKind::WrongSequence; break;
        case Kind::PeerClose: fault.kind = FaultKind::PeerClose; break;
        case Kind::NoiseZero: fault = noise(1); break;
        case Kind::Noise: fault = noise(std::uniform_int_distribution<int>(1, 12)(rng_)); break;
        case Kind::Duplicate: fault = {FaultKind::Duplicate, 1, 5}; break;
        case Kind::LateLate: faults = {late(), late()}; break;
        case Kind::LateLost: faults = {late(), Fault{FaultKind::Drop}}; break;
        case Kind::VeryLate: fault = {FaultKind::Delay, 1, t * 11 / 2}; break;
        case Kind::Held: fault = {FaultKind::Delay, 1, t * 23 / 10}; break;
        case Kind::Repeat: fault = {FaultKind::Duplicate, 1, 8}; break;
        case Kind::Copy: fault = {FaultKind::Duplicate, 1, 3}; break;
        case Kind::CopyLost: faults = {Fault{FaultKind::Duplicate, 1, 3}, Fault{FaultKind::Drop}}; break;
        case Kind::LateAndAHalf: fault = {FaultKind::Delay, 1, std::max(0, t * 3 / 2 - turnaround_)}; break;
        case Kind::Held12: fault = {FaultKind::Delay, 1, t * 12 / 10}; break;
        case Kind::Held35: fault = {FaultKind::Delay, 1, t * 35 / 10}; break;
        case Kind::CopyNext: fault = {FaultKind::CopyForNext}; break;
        case Kind::Unheard: fault = {FaultKind::Unheard}; break;
        case Kind::HeldSlower:
            // Held 2.3 time-outs in all, its turnaround included.
            fault = slowerForGood({FaultKind::Delay, 1, std::max(0, t * 23 / 10 - turnaround_)});
            break;
        case Kind::CopyNextSlower: fault = slowerForGood({FaultKind::CopyForNext}); break;
        case Kind::CopyNextSlowOnce:
            fault = {FaultKind::CopyForNext};
            fault.thenSlowerMs = 28;
            fault.thenSlowerFor = 1;
            break;
        case Kind::OldEarly: fault = {FaultKind::OldAnswerEarly, 1, 8}; break;
        case Kind::HeldTwice:
            faults = {Fault{FaultKind::Delay, 1, t * 35 / 10}, Fault{FaultKind::Delay, 1, t * 23 / 10}};
            break;
        case Kind::CopyPastTimeout: fault = paceForGood({FaultKind::CopyForNext}, t + 1, t + 6); break;
        case Kind::CopyPastGap: fault = paceForGood({FaultKind::CopyForNext}, gap() + t + 1, gap() + t + 6); break;
        case Kind::TwoAgain: fault = paceForGood({FaultKind::LastTwoForNext}, 22, 30); break;
        case Kind::HeldPastTwice:
            // Held 2.5 time-outs in all, its turnaround included.
            fault = paceForGood({FaultKind::Delay, 1, std::max(0, t * 25 / 10 - turnaround_)}, t * 21 / 10,
                                t * 29 / 10);
            break;
        case Kind::OldEarly1: fault = {FaultKind::OldAnswerEarly, 1, 1}; break;
        case Kind::OldEarlyInRange:
            fault = {FaultKind::OldAnswerEarly, 1, std::uniform_int_distribution<int>(6, 10)(rng_)};
            break;
        case Kind::Count: return;
        }
        faults.front().request = frame;
        controller_.setFaults(std::move(faults));
        // The faulted call runs with the whole time-out.
        if (o_.pattern->then == Then::LowerTimeout) ZqSetConnectionTimeout(id_, o_.timeoutMs);
    }

    // The fault, after which every answer takes 30 ms longer for good, or
    // (every other time) as long as before again.
    Fault slowerForGood(Fault f) {
        f.thenSlowerMs = slower_ ? 0 : 30;
        slower_ = !slower_;
        return f;
    }
    // The fault, after which every answer takes MIN to MAX ms for good, or
    // (every other time) the controller's usual time again.
    Fault paceForGood(Fault f, int minMs, int maxMs) {
        if (slower_) f.thenSlowerMs = 0;
        else f.thenTakes = orvemu::Turnaround::Spread{minMs * 1000, maxMs * 1000};
        slower_ = !slower_;
        return f;
    }
    int gap() const { return o_.gapMs >= 0 ? o_.gapMs : o_.pattern->gapMs; }

    // What the pattern does after a failed call.
    void afterFailure() {
        switch (o_.pattern->then) {
        case Then::Reopen: reconnect(); break;
        case Then::LowerTimeout: ZqSetConnectionTimeout(id_, o_.timeoutMs * 2 / 5); break;
        default: break;
        }
    }

    // One call with the faults; a failure is tried again at once, then
    // after one reconnection (with one thread and a pattern that retries).
    // True when a try succeeded. `write`: a register write, else a read.
    // `began` (when given) is set to the start of the last try.
    template <typename F>
    bool call(const std::vector<std::uint8_t> &frame, bool write, F f, Clock::time_point *began = nullptr) {
        {
            std::lock_guard lock(m_);
            maybeFault(frame);
            ++f_.calls;
            // The bytes of the request and its answer on the line.
            f_.lineBytes += write ? frame.size() + 4 : frame.size() + 8;
        }
        Clock::duration took{};
        Clock::time_point start;
        auto attempt = [&] {
            if (gap() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gap()));
            start = Clock::now();
            if (began) *began = start;
            const bool ok = f() == 1;
            took = Clock::now() - start;
            return ok;
        };
        const std::size_t logged = controller_.requestCount();
        const bool ok = attempt();
        ZQ_ERROR_INFO why{};
        if (!ok) ZqGetErrorInfo(id_, &why);
        noteHold(frame, logged, start);
        const std::size_t heard = controller_.requestCount() - logged;
        std::unique_lock lock(m_);
        if (!ok) ++f_.failedBy[why.text];
        f_.callTime += took;
        if (took > f_.longestCall) {
            f_.longestCall = took;
            f_.longestCallFrames = heard;
        }
        if (ok) {
            if (took > std::chrono::milliseconds(o_.timeoutMs)) ++f_.overTimeout;
            return true;
        }
        ++f_.failedCalls;
        if (!o_.pattern->retry || o_.threads > 1) {
            ++f_.unrecovered;
            afterFailure();
            return false;
        }
        lock.unlock();
        if (attempt()) {
            ++f_.recoveredByRetry;
            return true;
        }
        reconnect();
        if (attempt()) {
            ++f_.recoveredByReconnect;
            return true;
        }
        ++f_.unrecovered;
        return false;
    }

    Link link_;
    Options o_;
    std::mt19937 rng_;
    orvemu::Controller controller_;
    std::unique_ptr<orvemu::Server> server_;
    int port_ = 0;
    std::string otherName_;
    std::int32_t address_ = 0;
    std::int32_t id_ = 0;
    long callsSeen_ = 0;
    long nextFault_ = 0;  // with a spread of calls between faults: the call of the next
    int turnaround_ = 0;  // the longest the controller takes to answer
    bool slower_ = false;  // a fault has made the controller slower for good
    // Guards the figures, the verdicts, the values written and the random
    // numbers when calls come from several threads.
    std::mutex m_;
    Figures f_;
    Verdicts verdicts_{f_};
    std::unordered_map<std::int32_t, std::pair<std::int32_t, long>> written_;
    // Each polled value and the place in the controller's log of the
    // request it answered (filled on the emulator's thread).
    mutable std::mutex polledMutex_;
    std::int32_t nextPolled_ = 1000001;
    std::unordered_map<std::int32_t, std::size_t> polledBy_;
};

bool parse(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--poll" || a == "--writes") {
            (a == "--poll" ? o.poll : o.writes) = true;
            continue;
        }
        if (!v) return false;
        if (a == "--reads") o.rounds = std::atol(v);
        else if (a == "--faults") o.faultPercent = std::atof(v);
        else if (a == "--every") {
            // N, or MIN-MAX: the calls between faults drawn anew each time.
            const std::string t = v;
            const auto dash = t.find('-');
            o.every = std::atol(t.substr(0, dash).c_str());
            o.everyMost = dash == std::string::npos ? 0 : std::atol(t.substr(dash + 1).c_str());
            if (dash != std::string::npos && (o.every < 1 || o.everyMost < o.every)) return false;
        }
        else if (a == "--after") o.after = std::atol(v);
        else if (a == "--timeout") o.timeoutMs = std::atoi(v);
        else if (a == "--seed") o.seed = static_cast<unsigned>(std::atol(v));
        else if (a == "--gap") o.gapMs = std::atoi(v);
        else if (a == "--baud") o.baud = static_cast<std::uint32_t>(std::atol(v));
        else if (a == "--program") o.program = v;
        else if (a == "--line-timing") {
            const std::string t = v;
            if (t != "on" && t != "off") return false;
            o.lineTiming = t == "on";
        } else if (a == "--turnaround" || a == "--delay") {
            if (!(o.turnaround = orvemu::Turnaround::parse(v))) return false;
        } else if (a == "--delivery") {
            const auto d = orvemu::parseDelivery(v);
            if (!d) return false;
            std::tie(o.delivery, o.burstMs) = *d;
        } else if (a == "--threads") {
            o.threads = std::atoi(v);
        } else if (a == "--busy") {
            o.busy = std::atoi(v);
        } else if (a == "--pattern") {
            if (!(o.pattern = findPattern(v))) return false;
        } else if (a == "--transport") {
            const std::string t = v;
            if (t == "serial") o.links = {Link::Serial};
            else if (t == "udp") o.links = {Link::Udp};
            else if (t == "tcp") o.links = {Link::Tcp};
            else if (t != "all") return false;
        } else {
            return false;
        }
        ++i;
    }
    return o.rounds > 0 && o.baud > 0 && o.timeoutMs >= 10 && o.faultPercent >= 0 && o.faultPercent <= 100 &&
           o.every >= 0 && !(o.poll && o.writes) && o.threads >= 1 && o.threads <= 8 && o.busy >= 0 && o.busy <= 64;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    const bool help = argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
    if (help || !parse(argc, argv, o)) {
        std::FILE *to = help ? stdout : stderr;
        std::fprintf(to,
                     "usage: %s [--reads N] [--faults PERCENT | --every N | --every MIN-MAX] [--after N] [--timeout MS] "
                     "[--transport serial|udp|tcp|all] [--seed S] [--pattern NAME] [--delay MIN-MAX | --turnaround SPEC] "
                     "[--gap MS] [--poll | --writes] [--baud N] [--line-timing on|off] [--delivery paced|once|bursts:MS] "
                     "[--threads N] [--busy N]\n"
                     "patterns:\n",
                     argv[0]);
        for (const Pattern &p : kPatterns) std::fprintf(to, "  %-18s %s\n", p.name, p.what);
        return help ? 0 : 2;
    }
    if (!o.program.empty()) return runAsProgram(o);
    // Busy loops beside the soak, as a loaded machine has them.
    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (int b = 0; b < o.busy; ++b)
        busy.emplace_back([&stop] {
            while (!stop.load(std::memory_order_relaxed)) {
            }
        });
    bool clean = true;
    for (Link l : o.links) {
        if (o.pattern->then != Then::Nothing && l != Link::Serial) continue;
        Soak soak(l, o);
        if (!soak.start()) {
            std::printf("%-6s no emulator or no connection\n", linkName(l));
            clean = false;
            continue;
        }
        const Figures f = soak.run();
        const long wrong = f.wrongReads + f.wrongWrites;
        std::printf("%-6s %s: calls %ld faults %ld wrong %ld (reads %ld, writes %ld) longest run %ld failed %ld "
                    "recovered: next try %ld, reconnection %ld; unrecovered %ld; reconnections %ld; "
                    "over the time-out %ld; %.1f s, %.2f ms a call\n",
                    linkName(l), o.pattern->name, f.calls, f.faults, wrong, f.wrongReads, f.wrongWrites, f.longestRun,
                    f.failedCalls, f.recoveredByRetry, f.recoveredByReconnect, f.unrecovered, f.reconnections,
                    f.overTimeout, f.seconds, f.calls ? 1000 * f.seconds / static_cast<double>(f.calls) : 0.0);
        // What the line's theory gives a call: its bytes' time on the line
        // (10 bits a byte at the rate) and the controller's mean turnaround.
        if (l == Link::Serial && f.calls > 0) {
            const double line = 10.0 * static_cast<double>(f.lineBytes) / f.calls / o.baud * 1000;
            const double turnaround =
                f.answers ? std::chrono::duration<double, std::milli>(f.turnarounds).count() / static_cast<double>(f.answers) : 0;
            std::printf("       mean call %.2f ms; the line's theory %.2f ms (%.2f on the line, %.2f turnaround); "
                        "longest call %.1f ms (%zu frames heard in it)\n",
                        ms(f.callTime) / static_cast<double>(f.calls), line + turnaround, line, turnaround,
                        ms(f.longestCall), f.longestCallFrames);
            // From a call's start to its request's first byte at the controller.
            if (f.holds > 0)
                std::printf("       hold before a request: mean %.2f ms, max %.2f ms over %ld requests\n",
                            ms(f.holdSum) / static_cast<double>(f.holds), ms(f.holdMost), f.holds);
            if (f.timedAnswers > 0)
                std::printf("       controller late: %llu of %llu answers out over 1 ms past their time\n",
                            static_cast<unsigned long long>(f.lateAnswers),
                            static_cast<unsigned long long>(f.timedAnswers));
            if (o.pattern->withinCalls)
                std::printf("       longest run of stale values over %ld calls (the most allowed %d)\n", f.longestSpan,
                            o.pattern->mostInARow);
        }
        std::printf("       faults by kind:");
        for (int k = 0; k < kKinds; ++k)
            if (f.faultsByKind[k]) std::printf(" %s %ld", kKindNames[k], f.faultsByKind[k]);
        std::printf("\n");
        for (const auto &[why, n] : f.failedBy) std::printf("       failed %ld: %s\n", n, why.c_str());
        std::fflush(stdout);
        const long most = o.pattern->mostInARow;
        const long run = o.pattern->withinCalls ? f.longestSpan : f.longestRun;
        const bool tooMany = o.pattern->mayGoStale ? wrong > f.faults * most || run > most : wrong > 0;
        // A healthy line fails no call at all.
        const bool healthyFailed = !o.pattern->kinds.empty() && o.pattern->kinds.front() == Kind::Count &&
                                   !o.pattern->everyRequestLate && !o.pattern->silent && f.failedCalls > 0;
        if (tooMany || healthyFailed || (o.pattern->recovers && f.unrecovered > 0)) clean = false;
    }
    stop = true;
    for (auto &b : busy) b.join();
    return clean ? 0 : 1;
}
