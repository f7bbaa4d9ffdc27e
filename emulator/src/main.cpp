// orvemu: the controller emulator as a program.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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
                 "       orvemu --help\n"
                 "  --model N          model code the controller reports (default 5)\n"
                 "  --pty              serve a pseudo-terminal and print its device path\n"
                 "  --baud N           the serial line's rate: the controller hears only that rate\n"
                 "                     (default 9600; 0 answers at any rate)\n"
                 "  --udp ADDRESS      serve UDP port 3000 on ADDRESS (e.g. 127.0.0.2)\n"
                 "  --tcp ADDRESS      serve TCP port 6000 on ADDRESS\n"
                 "  --raw INTERFACE    serve the raw-Ethernet controller network on INTERFACE\n"
                 "  --live             values change on their own: register 1 counts up four\n"
                 "                     times a second, digital input 1 and flag 1 toggle every second\n");
}
}  // namespace

int main(int argc, char **argv) {
    int model = 5;
    bool pty = false;
    bool live = false;
    unsigned long baud = 9600;
    std::string udp, tcp, raw;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) { usage(); std::exit(2); }
            return argv[++i];
        };
        if (a == "--model") model = std::atoi(value().c_str());
        else if (a == "--pty") pty = true;
        else if (a == "--baud") baud = std::strtoul(value().c_str(), nullptr, 10);
        else if (a == "--live") live = true;
        else if (a == "--udp") udp = value();
        else if (a == "--tcp") tcp = value();
        else if (a == "--raw") raw = value();
        else if (a == "--help" || a == "-h") { usage(stdout); return 0; }
        else { usage(); return 2; }
    }
    if (!pty && udp.empty() && tcp.empty() && raw.empty()) pty = true;

    orvemu::Controller controller(model);
    std::vector<std::unique_ptr<orvemu::Server>> servers;
    auto add = [&](const char *what, std::unique_ptr<orvemu::Server> s) {
        if (!s) {
            std::fprintf(stderr, "orvemu: cannot serve %s\n", what);
            std::exit(1);
        }
        std::printf("%s %s\n", what, s->endpoint().c_str());
        servers.push_back(std::move(s));
    };
    if (pty) add("serial", orvemu::startPty(controller, static_cast<std::uint32_t>(baud)));
    if (!udp.empty()) add("udp", orvemu::startUdp(controller, udp));
    if (!tcp.empty()) add("tcp", orvemu::startTcp(controller, tcp));
    if (!raw.empty()) add("raw", orvemu::startRaw(controller, raw));
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
