// Fault soak: register writes and read-backs through the library against an
// in-process emulator that misbehaves, on serial, UDP and TCP. Every value a
// call returns as success must be the answer to its own request; with the
// patterns that allow it, every failed call must be recovered by the next
// try or by one reconnection.
//
//   orv_fault_soak [--reads N] [--faults PERCENT] [--timeout MS]
//                  [--transport serial|udp|tcp|all] [--seed S]
//                  [--pattern NAME] [--delay MIN-MAX] [--gap MS] [--poll]
//                  [--baud N] [--line-timing on|off]
//
// --reads N     rounds of one write and one read-back (2N calls)
// --pattern     which faults the controller shows (see kPatterns)
// --delay       every answer comes MIN to MAX ms after its request, as on a
//               real line (default 5-20 on serial, none on the network)
// --gap         pause before every call, as a poller's interval
// --poll        reads only, of two registers in turn (N calls), as a poller
//               reads: a stray answer then has the form the next request
//               expects, and only the line's state can tell it apart
// --baud        the serial line's rate (default 9600)
// --line-timing on serial, the emulator answers no sooner than a real line
//               at that rate lets the request and the answer's first byte
//               cross (default on)
//
// Prints one line of figures per transport and, for each wrong value, the
// request and the reply that gave it; exits 1 when a wrong value was
// reported as success or a failure that the pattern allows to recover was
// not recovered.
#include <arpa/inet.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "controller.h"
#include "orvcomm.h"
#include "servers.h"

namespace {

using Clock = std::chrono::steady_clock;
using orvemu::Fault;
using orvemu::FaultKind;

enum class Link { Serial, Udp, Tcp };

const char *linkName(Link l) { return l == Link::Serial ? "serial" : l == Link::Udp ? "udp" : "tcp"; }

// The kinds of misbehaviour. Delay stays within the time-out; Late comes
// after it, by a few milliseconds up to one and a half time-outs (within
// the quiet wait that follows the failed call). The last ones fault two
// requests in a row: the one chosen and whichever comes next.
enum class Kind {
    Drop, Delay, Late, Split, BadChecksum, WrongLength, WrongCode, ShortError, Garbage, WrongSequence, PeerClose,
    NoiseZero, Noise, Duplicate, LateLate, LateLost, VeryLate, Count
};
constexpr const char *kKindNames[] = {"drop",     "delay",     "late",      "split",     "checksum",  "length",
                                      "code",     "error",     "garbage",   "sequence",  "close",     "noise0",
                                      "noise",    "duplicate", "late-late", "late-lost", "very-late"};
static_assert(std::size(kKindNames) == static_cast<std::size_t>(Kind::Count));
constexpr int kKinds = static_cast<int>(Kind::Count);

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
};
const Pattern kPatterns[] = {
    {"mixed", "every kind of fault at random", {}},
    {"clean", "no faults: what a healthy line costs", {Kind::Count}},
    {"late-every", "every answer later than the time-out (+30 ms)", {Kind::Count}, true, false},
    {"noise0", "one 0x00 byte before an answer", {Kind::NoiseZero}},
    {"noise", "1 to 12 random bytes before an answer", {Kind::Noise}},
    {"duplicate", "an answer sent twice, 5 ms apart", {Kind::Duplicate}},
    {"late-late", "a late answer, and the next one late too", {Kind::LateLate}},
    {"late-lost", "a late answer, and the next one lost", {Kind::LateLost}},
    {"very-late", "an answer 5.5 time-outs late, 400 ms between calls, no retry", {Kind::VeryLate}, false, false,
     400, false},
    {"drop", "a lost answer", {Kind::Drop}},
    // As a poller meets them: the second fault falls on the next request,
    // not on a retry of the same one.
    {"late-late-next", "a late answer, and the next request's late too, no retry", {Kind::LateLate}, false, false, 0,
     false},
    {"late-lost-next", "a late answer, and the next request's lost, no retry", {Kind::LateLost}, false, false, 0,
     false},
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
    const Pattern *pattern = &kPatterns[0];
    int delayMin = -1, delayMax = -1;  // -1: the link's default
    int gapMs = -1;                    // -1: the pattern's
    // Reads only, of two registers in turn, as a poller does: an answer
    // taken for the next request then has the form that request expects.
    bool poll = false;
    std::uint32_t baud = 9600;
    bool lineTiming = true;
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
    long wrongWrites = 0;  // a write returned success before the controller had the value
    long failedCalls = 0;  // calls whose first try failed
    long recoveredByRetry = 0, recoveredByReconnect = 0, unrecovered = 0, reconnections = 0;
    long faultsByKind[kKinds] = {};
    double seconds = 0;
};

class Soak {
public:
    Soak(Link link, const Options &o) : link_(link), o_(o), rng_(o.seed * 7919u + static_cast<unsigned>(link)) {}

    bool start() {
        if (link_ == Link::Serial) {
            server_ = orvemu::startPty(controller_);
            if (!server_) return false;
            port_ = 200 + static_cast<int>(getpid() % 5000);
            setenv(("ORVCOMM_COM" + std::to_string(port_)).c_str(), server_->endpoint().c_str(), 1);
        } else {
            for (unsigned n = 0; n < 64 && !server_; ++n) {
                const std::string a = loopbackAddress(n * 2 + (link_ == Link::Tcp));
                server_ = link_ == Link::Udp ? orvemu::startUdp(controller_, a) : orvemu::startTcp(controller_, a);
                address_ = static_cast<std::int32_t>(inet_addr(a.c_str()));
            }
            if (!server_) return false;
        }
        int low = o_.delayMin, high = o_.delayMax;
        if (low < 0) {
            low = link_ == Link::Serial ? 5 : 0;
            high = link_ == Link::Serial ? 20 : 0;
        }
        controller_.setReplyDelay(low, high);
        controller_.setLineTiming(o_.lineTiming);
        if (o_.pattern->everyRequestLate) controller_.setFault({FaultKind::Delay, -1, o_.timeoutMs + 30});
        return open();
    }

    Figures run() {
        const auto start = Clock::now();
        auto held = [&](std::int32_t reg) {
            return controller_.withMemory([&](orvemu::Memory &m) { return m.registers[static_cast<std::size_t>(reg)]; });
        };
        if (o_.poll) return runPoll(start);
        for (long i = 0; i < o_.rounds; ++i) {
            const std::int32_t reg = 1 + static_cast<std::int32_t>(i % kRegisters);
            const std::int32_t old = held(reg);
            std::int32_t value = static_cast<std::int32_t>(rng_());
            if (value == old) ++value;
            written_[value] = {reg, i};
            const auto wf = writeFrame(reg, value);
            const bool written = call(wf, [&] { return ZqPutRegister(id_, reg, value); });
            if (written && held(reg) != value) {
                ++f_.wrongWrites;
                report("write of register " + std::to_string(reg) + " acknowledged before the controller had it",
                       wf);
            }
            // The controller answers a read after the write that went before
            // it, so the read-back is the new value, or the old one when the
            // write never reached the controller.
            std::int32_t got = value + 1 == old ? value + 2 : value + 1;  // no answer of either
            const auto rf = readFrame(reg);
            const bool readOk = call(rf, [&] { return ZqGetRegister(id_, reg, &got); });
            if (readOk && got != value && got != old) wrongRead(reg, got, rf);
        }
        return finish(start);
    }

private:
    static constexpr std::int32_t kRegisters = 1000;

    Figures runPoll(Clock::time_point start) {
        const std::int32_t values[2] = {1111111, 2222222};
        controller_.withMemory([&](orvemu::Memory &m) {
            m.registers[1] = values[0];
            m.registers[2] = values[1];
            return 0;
        });
        written_[values[0]] = {1, 0};
        written_[values[1]] = {2, 0};
        for (long i = 0; i < o_.rounds; ++i) {
            const std::int32_t reg = 1 + static_cast<std::int32_t>(i % 2);
            std::int32_t got = 0;
            const auto rf = readFrame(reg);
            if (call(rf, [&] { return ZqGetRegister(id_, reg, &got); }) && got != values[reg - 1])
                wrongRead(reg, got, rf);
        }
        return finish(start);
    }
    void wrongRead(std::int32_t reg, std::int32_t got, const std::vector<std::uint8_t> &request) {
        ++f_.wrongReads;
        report("read of register " + std::to_string(reg) + " returned " + std::to_string(got) + " (" + whose(got) + ")",
               request);
    }
    Figures finish(Clock::time_point start) {
        f_.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        ZqCloseConnection(id_);
        return f_;
    }
    static constexpr long kMostReported = 30;

    bool open() {
        id_ = link_ == Link::Serial ? ZqOpenConnection(ZQ_TYPE_SERIAL, port_, 0)
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

    // Maybe arms a fault for the request frame that the next call sends.
    // (Only that frame takes it: the controller may still be working off
    // requests of an earlier call.) The double faults also take whatever
    // request comes next.
    void maybeFault(const std::vector<std::uint8_t> &frame) {
        const auto kinds = o_.pattern->kinds.empty() ? mixedKinds(link_) : o_.pattern->kinds;
        if (kinds.front() == Kind::Count) return;
        std::uniform_real_distribution<double> p(0, 100);
        if (p(rng_) >= o_.faultPercent) return;
        const Kind k = kinds[std::uniform_int_distribution<std::size_t>(0, kinds.size() - 1)(rng_)];
        ++f_.faults;
        ++f_.faultsByKind[static_cast<int>(k)];
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
        case Kind::Count: return;
        }
        faults.front().request = frame;
        controller_.setFaults(std::move(faults));
    }

    // One call with the faults; a failure is tried again at once, then
    // after one reconnection. True when a try succeeded.
    template <typename F> bool call(const std::vector<std::uint8_t> &frame, F f) {
        maybeFault(frame);
        ++f_.calls;
        auto attempt = [&] {
            const int gap = o_.gapMs >= 0 ? o_.gapMs : o_.pattern->gapMs;
            if (gap > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gap));
            return f() == 1;
        };
        if (attempt()) return true;
        ++f_.failedCalls;
        if (!o_.pattern->retry) {
            ++f_.unrecovered;
            return false;
        }
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
    std::int32_t address_ = 0;
    std::int32_t id_ = 0;
    Figures f_;
    std::unordered_map<std::int32_t, std::pair<std::int32_t, long>> written_;
};

bool parse(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--poll") {
            o.poll = true;
            continue;
        }
        if (!v) return false;
        if (a == "--reads") o.rounds = std::atol(v);
        else if (a == "--faults") o.faultPercent = std::atof(v);
        else if (a == "--timeout") o.timeoutMs = std::atoi(v);
        else if (a == "--seed") o.seed = static_cast<unsigned>(std::atol(v));
        else if (a == "--gap") o.gapMs = std::atoi(v);
        else if (a == "--baud") o.baud = static_cast<std::uint32_t>(std::atol(v));
        else if (a == "--line-timing") {
            const std::string t = v;
            if (t != "on" && t != "off") return false;
            o.lineTiming = t == "on";
        }
        else if (a == "--delay") {
            if (std::sscanf(v, "%d-%d", &o.delayMin, &o.delayMax) != 2 || o.delayMin < 0 || o.delayMax < o.delayMin)
                return false;
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
    return o.rounds > 0 && o.baud > 0 && o.timeoutMs >= 10 && o.faultPercent >= 0 && o.faultPercent <= 100;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: %s [--reads N] [--faults PERCENT] [--timeout MS] [--transport serial|udp|tcp|all] "
                     "[--seed S] [--pattern NAME] [--delay MIN-MAX] [--gap MS] [--poll] [--baud N] [--line-timing on|off]\n"
                     "patterns:\n",
                     argv[0]);
        for (const Pattern &p : kPatterns) std::fprintf(stderr, "  %-11s %s\n", p.name, p.what);
        return 2;
    }
    bool clean = true;
    for (Link l : o.links) {
        Soak soak(l, o);
        if (!soak.start()) {
            std::printf("%-6s no emulator or no connection\n", linkName(l));
            clean = false;
            continue;
        }
        const Figures f = soak.run();
        std::printf("%-6s %s: calls %ld faults %ld wrong %ld (reads %ld, writes %ld) failed %ld "
                    "recovered: next try %ld, reconnection %ld; unrecovered %ld; reconnections %ld; "
                    "%.1f s, %.2f ms a call\n",
                    linkName(l), o.pattern->name, f.calls, f.faults, f.wrongReads + f.wrongWrites, f.wrongReads,
                    f.wrongWrites, f.failedCalls, f.recoveredByRetry, f.recoveredByReconnect, f.unrecovered,
                    f.reconnections, f.seconds, f.calls ? 1000 * f.seconds / static_cast<double>(f.calls) : 0.0);
        std::printf("       faults by kind:");
        for (int k = 0; k < kKinds; ++k)
            if (f.faultsByKind[k]) std::printf(" %s %ld", kKindNames[k], f.faultsByKind[k]);
        std::printf("\n");
        std::fflush(stdout);
        if (f.wrongReads + f.wrongWrites > 0 || (o.pattern->recovers && f.unrecovered > 0)) clean = false;
    }
    return clean ? 0 : 1;
}
