// IPv4 sockets over POSIX: the calls the UDP and TCP transports make, each
// returning 0 or an errno value (or a byte count, negative errno on failure).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace orv::platform {

struct Ipv4Address {
    std::uint32_t address = 0;  // network byte order, as the caller gave it
    std::uint16_t port = 0;     // host byte order
};

// "a.b.c.d:port", for messages.
std::string ToText(const Ipv4Address &a);

class Socket {
public:
    static constexpr int kNone = -1;

    Socket() = default;
    ~Socket();
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    int create(bool stream);
    bool isOpen() const { return fd_ != kNone; }
    int close();

    int bind(const Ipv4Address &local);
    // Blocking connect.
    int connect(const Ipv4Address &remote);
    // One connect call on a non-blocking socket: 0 when connected, else its
    // errno (EINPROGRESS while the handshake runs, EISCONN once it is done).
    int connectAttempt(const Ipv4Address &remote);
    // Waits up to ms for a pending connect to finish (or fail).
    void waitConnect(int ms);
    int setNonBlocking(bool on);
    // The receive time-out option in ms; 0 waits for ever. The option is
    // set only when the value changes.
    int setReceiveTimeout(std::uint32_t ms);
    int localAddress(Ipv4Address &out) const;

    // Sends are never allowed to raise SIGPIPE.
    ssize_t sendTo(const std::uint8_t *bytes, std::size_t count, const Ipv4Address &to);
    // Sends every byte on a stream.
    ssize_t sendAll(const std::uint8_t *bytes, std::size_t count, int flags);
    // One datagram, waiting as the receive time-out says: -EAGAIN when
    // nothing came in time.
    ssize_t receiveFrom(std::uint8_t *buffer, std::size_t size, Ipv4Address &from);
    // The same, waiting up to waitMs (-1 for ever) instead.
    ssize_t receiveFrom(std::uint8_t *buffer, std::size_t size, Ipv4Address &from, int waitMs);
    // Bytes from a stream, waiting as the receive time-out says: -EAGAIN
    // when nothing came in time, 0 when the peer closed.
    ssize_t receive(std::uint8_t *buffer, std::size_t size);
    // The same, waiting up to waitMs (-1 for ever) instead.
    ssize_t receive(std::uint8_t *buffer, std::size_t size, int waitMs);
    // Throws away everything a stream holds now, without waiting.
    void dropPending();

private:
    static constexpr std::uint32_t kTimeoutUnknown = 0xFFFFFFFF;
    int fd_ = kNone;
    std::uint32_t timeoutMs_ = kTimeoutUnknown;
};

}  // namespace orv::platform
