// orvemu: the controller emulator as a program.
#include <arpa/inet.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <unistd.h>
#include <vector>

#include "servers.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

void usage(std::FILE *to = stderr) {
    std::fprintf(to,
                 "usage: orvemu [--model N] [--pty] [--baud N] [--udp ADDRESS] [--tcp ADDRESS] [--raw INTERFACE] [--live]\n"
                 "              [--line-timing] [--turnaround SPEC] [--delivery paced|once|bursts:MS]\n"
                 "              [--refuse-writes FIRST-LAST]\n"
                 "       orvemu --help | --version\n"
                 "  --model N          model code the controller reports (default 5)\n"
                 "  --pty              serve a pseudo-terminal and print its device path\n"
                 "  --baud N           the serial line's rate: the controller hears only that rate\n"
                 "                     (default 9600; 0 answers at any rate)\n"
                 "  --line-timing      answer on the serial line no sooner than a real line at its\n"
                 "                     rate would let the request and the answer cross, and send\n"
                 "                     the answer's bytes at that rate\n"
                 "  --turnaround SPEC  a controller as the field has them: it takes the requests\n"
                 "                     on its serial line one after another and answers each a\n"
                 "                     turnaround after it is in and the answer before it is out\n"
                 "                     (implies --line-timing). SPEC: MS or MIN-MAX (drawn at\n"
                 "                     random for each answer), R/W (reads, writes: requests\n"
                 "                     answered by an acknowledgement), A,B@P%% (B for P percent\n"
                 "                     of the answers), A,B@N (B from request N+1 on)\n"
                 "  --delivery HOW     how the serial line hands the answer's bytes over: paced at\n"
                 "                     the rate (default), once (all at once when the last has\n"
                 "                     crossed) or bursts:MS (what has crossed, every MS ms)\n"
                 "                     (implies --line-timing)\n"
                 "  --udp ADDRESS      serve UDP port 3000 on ADDRESS, an IPv4 address (e.g. 127.0.0.2)\n"
                 "  --tcp ADDRESS      serve TCP port 6000 on ADDRESS, an IPv4 address\n"
                 "  --raw INTERFACE    serve the raw-Ethernet controller network on INTERFACE\n"
                 "  --refuse-writes FIRST-LAST  writes of registers and V-registers FIRST to LAST\n"
                 "                     are refused (illegal register)\n"
                 "  --live             values change on their own: register 1 counts up four\n"
                 "                     times a second, digital input 1 and flag 1 toggle every second\n");
}
constexpr unsigned long kHighestBaud = 4000000;  // the fastest rate a Linux serial line takes
constexpr unsigned long kHighestModel = 2147483647;

// Wrong use: one line that says why, exit status 2.
[[noreturn]] void refuse(const std::string &why) {
    std::fprintf(stderr, "orvemu: %s\n", why.c_str());
    std::exit(2);
}

// The value of a numeric option: digits only, from 0 to highest.
unsigned long wholeNumber(const std::string &option, const std::string &text, unsigned long highest) {
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    errno = 0;
    const unsigned long long n = digits ? std::strtoull(text.c_str(), nullptr, 10) : 0;
    if (!digits || errno == ERANGE || n > highest)
        refuse(option + " needs a whole number from 0 to " + std::to_string(highest) + ", not \"" + text + "\"");
    return static_cast<unsigned long>(n);
}

// The value of --turnaround.
orvemu::Turnaround turnaroundOf(const std::string &option, const std::string &text) {
    if (auto t = orvemu::Turnaround::parse(text)) return *t;
    refuse(option + " needs MS, MIN-MAX, R/W, A,B@P% or A,B@N (ms up to 60000), not \"" + text + "\"");
}

// The value of --delivery.
std::pair<orvemu::Delivery, int> deliveryOf(const std::string &option, const std::string &text) {
    if (auto d = orvemu::parseDelivery(text)) return *d;
    refuse(option + " needs paced, once or bursts:MS (MS from 1 to 1000), not \"" + text + "\"");
}

// The value of --refuse-writes: two register numbers.
std::pair<unsigned long, unsigned long> rangeOf(const std::string &option, const std::string &text) {
    const auto dash = text.find('-');
    if (dash == std::string::npos) refuse(option + " needs FIRST-LAST, not \"" + text + "\"");
    return {wholeNumber(option, text.substr(0, dash), 65535), wholeNumber(option, text.substr(dash + 1), 65535)};
}

// The value of --udp or --tcp: an address in dotted digits (no name is looked up).
std::string ipv4(const std::string &option, const std::string &text) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1)
        refuse(option + " needs an IPv4 address such as 127.0.0.2, not \"" + text + "\"");
    return text;
}
}  // namespace

int main(int argc, char **argv) {
    int model = 5;
    bool pty = false;
    bool live = false;
    bool lineTiming = false;
    std::optional<orvemu::Turnaround> turnaround;
    std::optional<std::pair<orvemu::Delivery, int>> delivery;
    unsigned long baud = 9600;
    std::string udp, tcp, raw;
    std::optional<std::pair<unsigned long, unsigned long>> refusedWrites;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) { usage(); std::exit(2); }
            return argv[++i];
        };
        if (a == "--model") model = static_cast<int>(wholeNumber(a, value(), kHighestModel));
        else if (a == "--pty") pty = true;
        else if (a == "--baud") baud = wholeNumber(a, value(), kHighestBaud);
        else if (a == "--live") live = true;
        else if (a == "--line-timing") lineTiming = true;
        else if (a == "--turnaround") turnaround = turnaroundOf(a, value());
        else if (a == "--delivery") delivery = deliveryOf(a, value());
        else if (a == "--udp") udp = ipv4(a, value());
        else if (a == "--tcp") tcp = ipv4(a, value());
        else if (a == "--raw") raw = value();
        else if (a == "--refuse-writes") refusedWrites = rangeOf(a, value());
        else if (a == "--help" || a == "-h") { usage(stdout); return 0; }
        else if (a == "--version") { std::printf("orvemu %s\n", ORV_VERSION); return 0; }
        else { usage(); return 2; }
    }
    if (!pty && udp.empty() && tcp.empty() && raw.empty()) pty = true;

    orvemu::Controller controller(model);
    controller.setLineTiming(lineTiming || turnaround || delivery);
    if (turnaround) controller.setTurnaround(*turnaround);
    if (delivery) controller.setDelivery(delivery->first, delivery->second);
    // Register (0B) and V-register (5F) writes both name their number first.
    if (refusedWrites)
        for (const std::uint8_t code : {std::uint8_t{0x0B}, std::uint8_t{0x5F}}) {
            const orvemu::Handler write = controller.handler(code);
            controller.setHandler(code, [write, range = *refusedWrites](orvemu::Controller &c, const orvemu::Request &r) {
                const unsigned long n = r.args.size() >= 2 ? orvemu::u16(r.args.data()) : 0;
                return n >= range.first && n <= range.second ? orvemu::shortReply(orvemu::kIllegalRegister) : write(c, r);
            });
        }
    std::vector<std::unique_ptr<orvemu::Server>> servers;
    std::string why;
    // Says what could not be served, where and why, and ends with status 1.
    auto add = [&](const char *what, const std::string &where, std::unique_ptr<orvemu::Server> s) {
        if (!s) {
            std::fprintf(stderr, "orvemu: cannot serve %s%s%s%s%s\n", what, where.empty() ? "" : " on ", where.c_str(),
                         why.empty() ? "" : ": ", why.c_str());
            std::exit(1);
        }
        std::printf("%s %s\n", what, s->endpoint().c_str());
        servers.push_back(std::move(s));
    };
    if (pty) add("serial", "", orvemu::startPty(controller, static_cast<std::uint32_t>(baud)));
    if (!udp.empty()) add("udp", udp + ":3000", orvemu::startUdp(controller, udp, &why));
    if (!tcp.empty()) add("tcp", tcp + ":6000", orvemu::startTcp(controller, tcp, &why));
    if (!raw.empty()) add("raw", raw, orvemu::startRaw(controller, raw, &why));
    std::fflush(stdout);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    // A controller running a program: a counter and a blinking input.
    for (unsigned tick = 1; !g_stop; ++tick) {
        if (!live) {
            pause();
            continue;
        }
        usleep(250000);
        controller.withMemory([&](orvemu::Memory &m) {
            m.registers[1] += 1;
            if (tick % 4 == 0) {
                m.digitalInputs[0] ^= 1;
                m.setFlag(1, !m.flag(1));
            }
        });
    }
    return 0;
}
