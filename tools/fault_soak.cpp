// Fault soak: register writes and read-backs through the library against an
// in-process emulator that misbehaves at a given rate, on serial, UDP and
// TCP. Every value a call returns as success must be the one asked for;
// every failed call must be recovered by the next try or by one
// reconnection.
//
//   orv_fault_soak [--reads N] [--faults PERCENT] [--timeout MS]
//                  [--transport serial|udp|tcp|all] [--seed S]
//
// Prints one line of figures per transport; exits 1 when a wrong value was
// reported as success or a failure was not recovered.
#include <arpa/inet.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "controller.h"
#include "orvcomm.h"
#include "servers.h"

namespace {

using Clock = std::chrono::steady_clock;
using orvemu::FaultKind;

enum class Link { Serial, Udp, Tcp };

const char *linkName(Link l) { return l == Link::Serial ? "serial" : l == Link::Udp ? "udp" : "tcp"; }

struct Options {
    long reads = 10000;
    double faultPercent = 1.0;
    int timeoutMs = 100;
    std::vector<Link> links{Link::Serial, Link::Udp, Link::Tcp};
    unsigned seed = 1;
};

// The kinds of misbehaviour a link can show. Delay stays within the
// time-out; Late comes after it, by a few milliseconds up to two time-outs.
enum class Kind { Drop, Delay, Late, Split, BadChecksum, WrongLength, WrongCode, ShortError, Garbage, WrongSequence, PeerClose };
const char *kindName(Kind k) {
    switch (k) {
    case Kind::Drop: return "drop";
    case Kind::Delay: return "delay";
    case Kind::Late: return "late";
    case Kind::Split: return "split";
    case Kind::BadChecksum: return "checksum";
    case Kind::WrongLength: return "length";
    case Kind::WrongCode: return "code";
    case Kind::ShortError: return "error";
    case Kind::Garbage: return "garbage";
    case Kind::WrongSequence: return "sequence";
    case Kind::PeerClose: return "close";
    }
    return "?";
}
constexpr int kKinds = 11;

std::vector<Kind> kindsOf(Link l) {
    std::vector<Kind> k{Kind::Drop,        Kind::Delay,     Kind::Late,       Kind::Split,  Kind::BadChecksum,
                        Kind::WrongLength, Kind::WrongCode, Kind::ShortError, Kind::Garbage};
    if (l != Link::Serial) k.push_back(Kind::WrongSequence);
    if (l == Link::Tcp) k.push_back(Kind::PeerClose);
    return k;
}

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

struct Figures {
    long reads = 0, writes = 0, faults = 0;
    long wrongReads = 0;   // a read returned success with another value
    long lostWrites = 0;   // a write returned success and the controller does not hold the value
    long failedCalls = 0;  // calls that returned failure
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
        return open();
    }

    Figures run() {
        const auto start = Clock::now();
        for (long i = 0; i < o_.reads; ++i) {
            const std::int32_t reg = 1 + static_cast<std::int32_t>(i % 1000);
            const std::int32_t value = static_cast<std::int32_t>(rng_());
            const bool written = call(writeFrame(reg, value), [&] { return ZqPutRegister(id_, reg, value); });
            ++f_.writes;
            const std::int32_t held = controller_.withMemory([&](orvemu::Memory &m) {
                return m.registers[static_cast<std::size_t>(reg)];
            });
            std::int32_t got = 0;
            const bool readOk = call(readFrame(reg), [&] {
                got = 0;
                return ZqGetRegister(id_, reg, &got);
            });
            ++f_.reads;
            if (readOk && got != held) ++f_.wrongReads;
            if (written && held != value) ++f_.lostWrites;
        }
        f_.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        ZqCloseConnection(id_);
        return f_;
    }

private:
    bool open() {
        id_ = link_ == Link::Serial ? ZqOpenConnection(ZQ_TYPE_SERIAL, port_, 0)
                                    : ZqOpenConnection(link_ == Link::Udp ? ZQ_TYPE_UDP : ZQ_TYPE_TCP, 0, address_);
        if (id_ == 0) return false;
        return ZqSetConnectionTimeout(id_, o_.timeoutMs) == 1;
    }
    void reconnect() {
        ++f_.reconnections;
        ZqCloseConnection(id_);
        open();
    }

    // Maybe arms one fault for the request frame that the next call sends.
    // (Only that frame takes it: the controller may still be working off
    // requests of an earlier call.)
    void maybeFault(const std::vector<std::uint8_t> &frame) {
        std::uniform_real_distribution<double> p(0, 100);
        if (p(rng_) >= o_.faultPercent) return;
        const auto kinds = kindsOf(link_);
        const Kind k = kinds[std::uniform_int_distribution<std::size_t>(0, kinds.size() - 1)(rng_)];
        ++f_.faults;
        ++f_.faultsByKind[static_cast<int>(k)];
        orvemu::Fault fault;
        fault.request = frame;
        const int t = o_.timeoutMs;
        switch (k) {
        case Kind::Drop: fault.kind = FaultKind::Drop; break;
        case Kind::Delay:
            fault.kind = FaultKind::Delay;
            fault.delayMs = std::uniform_int_distribution<int>(t / 10, t / 3)(rng_);
            break;
        case Kind::Late:
            fault.kind = FaultKind::Delay;
            fault.delayMs = std::uniform_int_distribution<int>(t + 3, 2 * t)(rng_);
            break;
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
        }
        controller_.setFault(fault);
    }

    // One call with the faults; a failure is tried again at once, then
    // after one reconnection. True when a try succeeded.
    template <typename F> bool call(const std::vector<std::uint8_t> &frame, F f) {
        maybeFault(frame);
        if (f() == 1) return true;
        ++f_.failedCalls;
        if (f() == 1) {
            ++f_.recoveredByRetry;
            return true;
        }
        reconnect();
        if (f() == 1) {
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
};

bool parse(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!v) return false;
        if (a == "--reads") o.reads = std::atol(v);
        else if (a == "--faults") o.faultPercent = std::atof(v);
        else if (a == "--timeout") o.timeoutMs = std::atoi(v);
        else if (a == "--seed") o.seed = static_cast<unsigned>(std::atol(v));
        else if (a == "--transport") {
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
    return o.reads > 0 && o.timeoutMs >= 10 && o.faultPercent >= 0 && o.faultPercent <= 100;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: %s [--reads N] [--faults PERCENT] [--timeout MS] [--transport serial|udp|tcp|all] "
                     "[--seed S]\n",
                     argv[0]);
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
        std::printf("%-6s reads %ld writes %ld faults %ld wrong %ld (reads %ld, writes %ld) failed %ld "
                    "recovered: next try %ld, reconnection %ld; unrecovered %ld; reconnections %ld; %.1f s\n",
                    linkName(l), f.reads, f.writes, f.faults, f.wrongReads + f.lostWrites, f.wrongReads,
                    f.lostWrites, f.failedCalls, f.recoveredByRetry, f.recoveredByReconnect, f.unrecovered,
                    f.reconnections, f.seconds);
        std::printf("       faults by kind:");
        for (Kind k : kindsOf(l)) std::printf(" %s %ld", kindName(k), f.faultsByKind[static_cast<int>(k)]);
        std::printf("\n");
        std::fflush(stdout);
        if (f.wrongReads + f.lostWrites > 0 || f.unrecovered > 0) clean = false;
    }
    return clean ? 0 : 1;
}
