#include "socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orv::platform {

namespace {

sockaddr_in toSockaddr(const Ipv4Address &a) {
    sockaddr_in s{};
    s.sin_family = AF_INET;
    s.sin_port = htons(a.port);
    s.sin_addr.s_addr = a.address;
    return s;
}

Ipv4Address fromSockaddr(const sockaddr_in &s) { return {s.sin_addr.s_addr, ntohs(s.sin_port)}; }

ssize_t failed() { return -static_cast<ssize_t>(errno); }

}  // namespace

std::string ToText(const Ipv4Address &a) {
    char text[INET_ADDRSTRLEN] = "?";
    const in_addr in{a.address};
    inet_ntop(AF_INET, &in, text, sizeof text);
    return std::string(text) + ":" + std::to_string(a.port);
}

Socket::~Socket() { close(); }

int Socket::create(bool stream) {
    close();
    fd_ = ::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    timeoutMs_ = kTimeoutUnknown;
    return fd_ < 0 ? (fd_ = kNone, errno) : 0;
}

int Socket::close() {
    if (!isOpen()) return 0;
    const int fd = fd_;
    fd_ = kNone;
    return ::close(fd) == 0 ? 0 : errno;
}

int Socket::bind(const Ipv4Address &local) {
    const sockaddr_in s = toSockaddr(local);
    return ::bind(fd_, reinterpret_cast<const sockaddr *>(&s), sizeof s) == 0 ? 0 : errno;
}

int Socket::connect(const Ipv4Address &remote) {
    const sockaddr_in s = toSockaddr(remote);
    for (;;) {
        if (::connect(fd_, reinterpret_cast<const sockaddr *>(&s), sizeof s) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

int Socket::connectAttempt(const Ipv4Address &remote) {
    const sockaddr_in s = toSockaddr(remote);
    return ::connect(fd_, reinterpret_cast<const sockaddr *>(&s), sizeof s) == 0 ? 0 : errno;
}

void Socket::waitConnect(int ms) {
    pollfd p{fd_, POLLOUT, 0};
    poll(&p, 1, ms);
}

int Socket::setNonBlocking(bool on) {
    const int flags = fcntl(fd_, F_GETFL);
    if (flags < 0) return errno;
    return fcntl(fd_, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0 ? 0 : errno;
}

int Socket::setReceiveTimeout(std::uint32_t ms) {
    if (ms == timeoutMs_ && ms != kTimeoutUnknown) return 0;
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
        timeoutMs_ = kTimeoutUnknown;
        return errno;
    }
    timeoutMs_ = ms;
    return 0;
}

int Socket::localAddress(Ipv4Address &out) const {
    sockaddr_in s{};
    socklen_t len = sizeof s;
    if (getsockname(fd_, reinterpret_cast<sockaddr *>(&s), &len) != 0) return errno;
    out = fromSockaddr(s);
    return 0;
}

ssize_t Socket::sendTo(const std::uint8_t *bytes, std::size_t count, const Ipv4Address &to) {
    const sockaddr_in s = toSockaddr(to);
    for (;;) {
        const ssize_t n = ::sendto(fd_, bytes, count, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&s), sizeof s);
        if (n >= 0) return n;
        if (errno != EINTR) return failed();
    }
}

ssize_t Socket::sendAll(const std::uint8_t *bytes, std::size_t count, int flags) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::send(fd_, bytes + done, count - done, flags | MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, 100);
            continue;
        }
        return n < 0 ? failed() : -EPIPE;
    }
    return static_cast<ssize_t>(done);
}

ssize_t Socket::receiveFrom(std::uint8_t *buffer, std::size_t size, Ipv4Address &from) {
    sockaddr_in s{};
    socklen_t len = sizeof s;
    for (;;) {
        const ssize_t n = ::recvfrom(fd_, buffer, size, 0, reinterpret_cast<sockaddr *>(&s), &len);
        if (n >= 0) {
            from = fromSockaddr(s);
            return n;
        }
        if (errno == EWOULDBLOCK) return -EAGAIN;
        if (errno != EINTR) return failed();
    }
}

ssize_t Socket::receiveFrom(std::uint8_t *buffer, std::size_t size, Ipv4Address &from, int waitMs) {
    for (;;) {
        sockaddr_in s{};
        socklen_t len = sizeof s;
        const ssize_t n = ::recvfrom(fd_, buffer, size, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&s), &len);
        if (n >= 0) {
            from = fromSockaddr(s);
            return n;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return failed();
        pollfd p{fd_, POLLIN, 0};
        int r;
        while ((r = poll(&p, 1, waitMs)) < 0 && errno == EINTR) {
        }
        if (r < 0) return failed();
        if (r == 0) return -EAGAIN;
    }
}

ssize_t Socket::receive(std::uint8_t *buffer, std::size_t size) {
    const ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n >= 0) return n;
    // The time-out, or a signal: the caller works out what time is left.
    if (errno == EWOULDBLOCK || errno == EINTR) return -EAGAIN;
    return failed();
}

ssize_t Socket::receive(std::uint8_t *buffer, std::size_t size, int waitMs) {
    // What has arrived already needs no wait.
    const ssize_t first = ::recv(fd_, buffer, size, MSG_DONTWAIT);
    if (first >= 0) return first;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return failed();
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        const int r = poll(&p, 1, waitMs);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return failed();
        if (r == 0) return -EAGAIN;
        const ssize_t n = ::recv(fd_, buffer, size, MSG_DONTWAIT);
        if (n >= 0) return n;
        if (errno == EINTR || errno == EAGAIN) continue;
        return failed();
    }
}

void Socket::dropPending() {
    std::uint8_t scratch[4096];
    // Bounded: a peer that keeps sending cannot hold the caller here.
    for (int i = 0; i < 64; ++i) {
        const ssize_t n = ::recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n <= 0 && !(n < 0 && errno == EINTR)) return;
    }
}

}  // namespace orv::platform
