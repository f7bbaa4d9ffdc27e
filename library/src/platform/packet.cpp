#include "platform/packet.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orv::platform {

std::vector<EthernetInterface> ListEthernetInterfaces(std::size_t max) {
    std::vector<EthernetInterface> found;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return found;
    for (ifaddrs *a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_PACKET) continue;
        if (a->ifa_flags & IFF_LOOPBACK) continue;
        const auto *ll = reinterpret_cast<const sockaddr_ll *>(a->ifa_addr);
        if (ll->sll_hatype != ARPHRD_ETHER || ll->sll_halen != 6) continue;
        EthernetInterface e;
        e.index = ll->sll_ifindex;
        e.name = a->ifa_name;
        std::memcpy(e.mac, ll->sll_addr, 6);
        found.push_back(std::move(e));
    }
    // The first IPv4 address of each, in the order the kernel lists them.
    for (ifaddrs *a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        for (auto &e : found) {
            if (e.hasIpv4 || e.name != a->ifa_name) continue;
            e.ipv4 = ntohl(reinterpret_cast<const sockaddr_in *>(a->ifa_addr)->sin_addr.s_addr);
            e.hasIpv4 = true;
        }
    }
    freeifaddrs(list);
    std::sort(found.begin(), found.end(),
              [](const EthernetInterface &x, const EthernetInterface &y) { return x.index < y.index; });
    if (found.size() > max) found.resize(max);
    return found;
}

bool InterfaceMac(int index, std::uint8_t (&mac)[6]) {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    ifreq req{};
    bool ok = if_indextoname(static_cast<unsigned>(index), req.ifr_name) != nullptr &&
              ioctl(s, SIOCGIFHWADDR, &req) == 0 && req.ifr_hwaddr.sa_family == ARPHRD_ETHER;
    if (ok) {
        std::memcpy(mac, req.ifr_hwaddr.sa_data, 6);
        ok = std::any_of(mac, mac + 6, [](std::uint8_t b) { return b != 0; });
    }
    ::close(s);
    return ok;
}

void RaiseThreadPriority() {
    // A little above the other threads of the process; refused without the
    // privilege, which changes nothing else.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -5);
}

WakeEvent::WakeEvent() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeEvent::~WakeEvent() {
    if (fd_ >= 0) ::close(fd_);
}

void WakeEvent::signal() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
}

void WakeEvent::clear() {
    std::uint64_t value = 0;
    [[maybe_unused]] ssize_t n = ::read(fd_, &value, sizeof value);
}

PacketSocket::~PacketSocket() { close(); }

bool PacketSocket::open(int ifindex, std::uint16_t etherType, bool promiscuous) {
    close();
    const int s = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(etherType));
    if (s < 0) return false;
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(etherType);
    addr.sll_ifindex = ifindex;
    if (::bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        const int e = errno;
        ::close(s);
        errno = e;
        return false;
    }
    if (promiscuous) {
        packet_mreq mreq{};
        mreq.mr_ifindex = ifindex;
        mreq.mr_type = PACKET_MR_PROMISC;
        if (setsockopt(s, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
            const int e = errno;
            ::close(s);
            errno = e;
            return false;
        }
    }
    // Room for bursts of replies while the receive thread is busy.
    const int buffer = 256000;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    // Frames the socket would otherwise hand back from our own sends; the
    // receive path checks the packet type as well, for older kernels.
    const int one = 1;
    setsockopt(s, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    fd_ = s;
    ifindex_ = ifindex;
    return true;
}

void PacketSocket::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool PacketSocket::send(std::span<const std::uint8_t> frame) {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (frame.size() < ETH_HLEN) {
        errno = EINVAL;
        return false;
    }
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_ifindex = ifindex_;
    addr.sll_halen = 6;
    std::memcpy(addr.sll_addr, frame.data(), 6);
    for (;;) {
        const ssize_t n = ::sendto(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&addr),
                                   sizeof addr);
        if (n == static_cast<ssize_t>(frame.size())) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == ENOBUFS)) {
            // The queue of the interface is full: wait for room, briefly.
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 100) > 0) continue;
        }
        if (n >= 0) errno = EIO;
        return false;
    }
}

PacketSocket::Received PacketSocket::receive(std::span<std::uint8_t> buffer, std::size_t &length) {
    length = 0;
    sockaddr_ll from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Received::Nothing : Received::Error;
    length = static_cast<std::size_t>(n);
    return from.sll_pkttype == PACKET_OUTGOING ? Received::Outgoing : Received::Frame;
}

PacketSocket::Wait PacketSocket::wait(const WakeEvent &wake, int ms) const {
    pollfd p[2] = {{fd_, POLLIN, 0}, {wake.fd(), POLLIN, 0}};
    const int n = ::poll(p, 2, ms);
    if (n < 0) return errno == EINTR ? Wait::Timeout : Wait::Error;
    if (n == 0) return Wait::Timeout;
    if (p[1].revents & POLLIN) return Wait::Woken;
    if (p[0].revents & POLLIN) return Wait::Readable;
    return Wait::Error;
}

}  // namespace orv::platform
