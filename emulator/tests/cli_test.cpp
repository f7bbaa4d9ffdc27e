// orvemu as a program: what it says, and with which exit status, when it is
// given arguments it cannot use or a place it cannot serve.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

// Runs the orvemu beside this test: its exit status and its standard error.
// One that served after all would run for ever; only such a hang meets the limit.
std::pair<int, std::string> orvemu(const std::string &args) {
    const std::string dir = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    FILE *p = ::popen(("timeout 60 " + dir + "/orvemu " + args + " 2>&1 >/dev/null").c_str(), "r");
    std::string err;
    char buf[512];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) err.append(buf, n);
    const int status = ::pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, err};
}

// A UDP socket on port 3000 of a loopback address nobody else holds.
int holdUdpPort(std::string &address) {
    for (unsigned n = 0; n < 200; ++n) {
        const unsigned key = (static_cast<unsigned>(::getpid()) * 211u + n) & 0xFFFFu;
        address = "127.90." + std::to_string(key >> 8) + "." + std::to_string(1 + (key & 0xFF) % 254);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(3000);
        ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) return fd;
        ::close(fd);
    }
    return -1;
}

}  // namespace

TEST(Cli, UnusableArgumentsAndPlacesAreRefusedWithTheReason) {
    std::string taken;
    const int holder = holdUdpPort(taken);
    ASSERT_GE(holder, 0);
    const std::string baud = "orvemu: --baud needs a whole number from 0 to 4000000, not ";
    const std::string turnaround = "orvemu: --turnaround needs MS, MIN-MAX, R/W, A,B@P% or A,B@N (ms up to 60000), not ";
    const std::pair<std::string, std::pair<int, std::string>> cases[] = {
        {"--baud abc", {2, baud + "\"abc\"\n"}},
        {"--baud -5", {2, baud + "\"-5\"\n"}},
        {"--baud 99999999999999999999999", {2, baud + "\"99999999999999999999999\"\n"}},
        {"--turnaround 20ms", {2, turnaround + "\"20ms\"\n"}},
        {"--turnaround 30-10", {2, turnaround + "\"30-10\"\n"}},
        {"--turnaround 5,45@101%", {2, turnaround + "\"5,45@101%\"\n"}},
        {"--delivery bursty", {2, "orvemu: --delivery needs paced, once or bursts:MS (MS from 1 to 1000), not \"bursty\"\n"}},
        {"--delivery bursts:0", {2, "orvemu: --delivery needs paced, once or bursts:MS (MS from 1 to 1000), not \"bursts:0\"\n"}},
        {"--refuse-writes 501", {2, "orvemu: --refuse-writes needs FIRST-LAST, not \"501\"\n"}},
        {"--refuse-writes 1-70000", {2, "orvemu: --refuse-writes needs a whole number from 0 to 65535, not \"70000\"\n"}},
        {"--model 5x", {2, "orvemu: --model needs a whole number from 0 to 2147483647, not \"5x\"\n"}},
        {"--udp localhost", {2, "orvemu: --udp needs an IPv4 address such as 127.0.0.2, not \"localhost\"\n"}},
        {"--udp " + taken, {1, "orvemu: cannot serve udp on " + taken + ":3000: Address already in use\n"}},
        {"--raw nosuch0", {1, "orvemu: cannot serve raw on nosuch0: no such interface: No such device\n"}},
    };
    for (const auto &[args, expected] : cases) EXPECT_EQ(orvemu(args), expected) << args;
    ::close(holder);
}
