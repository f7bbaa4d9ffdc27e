// A private network for raw-Ethernet tests and benchmarks: the calling
// thread enters a network namespace of its own, in which veth pairs are made
// with fixed indexes, MAC addresses and IPv4 addresses. Nothing leaves it.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sched.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <linux/if_packet.h>
#include <net/ethernet.h>

namespace orvtest {

// One end of a veth pair.
struct VethEnd {
    std::string name;
    int index = 0;
    std::uint8_t mac[6] = {};
    std::string ipv4;          // dotted, without the prefix length
    std::uint32_t ipv4Value = 0;  // first dotted part in the top byte
};

inline const char *IpTool() {
    for (const char *p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (access(p, X_OK) == 0) return p;
    return nullptr;
}

// Runs `ip` with the arguments; true when it exits with 0.
inline bool RunIp(const std::vector<std::string> &args) {
    const char *tool = IpTool();
    if (!tool) return false;
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(tool));
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(tool, argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Puts the calling thread into a new network namespace with loopback up.
// Empty on success, else why it can't be done here.
inline std::string EnterPrivateNetwork() {
    if (!IpTool()) return "the ip tool of iproute2 is not installed";
    if (unshare(CLONE_NEWNET) != 0)
        return std::string("network namespaces are not permitted here (needs root or CAP_SYS_ADMIN): ") +
               std::strerror(errno);
    const int s = socket(AF_PACKET, SOCK_RAW, 0);
    if (s < 0) return std::string("raw packet sockets are not permitted here (needs CAP_NET_RAW): ") + std::strerror(errno);
    close(s);
    if (!RunIp({"link", "set", "lo", "up"})) return "cannot bring up loopback in the test's namespace";
    return {};
}

inline VethEnd MakeEnd(const std::string &name, int index, std::uint8_t macLast, int net, int host) {
    VethEnd e;
    e.name = name;
    e.index = index;
    const std::uint8_t mac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, macLast};
    std::memcpy(e.mac, mac, 6);
    e.ipv4 = "10.77." + std::to_string(net) + "." + std::to_string(host);
    e.ipv4Value = (10u << 24) | (77u << 16) | (static_cast<std::uint32_t>(net) << 8) | static_cast<std::uint32_t>(host);
    return e;
}

inline std::string MacText(const std::uint8_t *m) {
    char t[18];
    std::snprintf(t, sizeof t, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return t;
}

// A veth pair `a` <-> `b`, both up; an end with an empty ipv4 gets no address.
inline bool AddVethPair(const VethEnd &a, const VethEnd &b) {
    if (!RunIp({"link", "add", a.name, "index", std::to_string(a.index), "address", MacText(a.mac), "type", "veth",
                "peer", "name", b.name, "index", std::to_string(b.index), "address", MacText(b.mac)}))
        return false;
    for (const VethEnd *e : {&a, &b}) {
        if (!e->ipv4.empty() && !RunIp({"addr", "add", e->ipv4 + "/24", "dev", e->name})) return false;
        if (!RunIp({"link", "set", e->name, "up"})) return false;
    }
    return true;
}

// The standard pair: the library's end zq0 (index 10, 02:00:00:00:00:10,
// 10.77.0.1) and the emulator's end emu0 (index 11, 02:00:00:00:00:11,
// 10.77.0.2). The library's end has the lower index, so the automatic
// adapter choice takes it.
inline VethEnd LibraryEnd() { return MakeEnd("zq0", 10, 0x10, 0, 1); }
inline VethEnd EmulatorEnd() { return MakeEnd("emu0", 11, 0x11, 0, 2); }

}  // namespace orvtest
