// The UDP and TCP transports: the binary frame behind an 8-byte envelope
// header with a sequence number.
#pragma once

#include <cstddef>
#include <cstdint>

#include "connection.h"
#include "platform/socket.h"

namespace orv {

inline constexpr std::size_t kNetHeader = 8;
inline constexpr std::size_t kNetBuffer = 1492;
inline constexpr std::uint16_t kUdpPort = 3000;
inline constexpr std::uint16_t kTcpPort = 6000;
// The V-register block reply on the network: 03, 6E, then its block.
inline constexpr std::size_t kBlockReplyLength = 1424;

// Writes the header into buffer (kNetBuffer bytes, cleared first) with the
// connection's next sequence number and the request behind it; returns the
// number of bytes to send.
std::size_t BuildNetHeader(Connection &c, std::uint8_t *buffer);

// How many bytes of the reply frame p (received bytes of it: `received`)
// are the reply: the block reply's 1424, L + 1 when the end byte is where L
// puts it, else 256; never more than arrived.
std::size_t NetReplyLength(const std::uint8_t *p, std::size_t received);

// How many bytes of a TCP reply (header included) must have arrived before
// it can be judged, given the `have` bytes at hand.
std::size_t NetBytesWanted(const std::uint8_t *buffer, std::size_t have);

// What UDP and TCP share: the socket and its addresses, the receive
// time-out, closing, and taking an accepted reply out of its envelope.
class NetTransport : public Transport {
public:
    bool close(Connection &c) override;
    bool setTimeout(Connection &c, std::int32_t ms) override;

    platform::Socket &socket() { return socket_; }
    // Creates the socket (a stream for TCP) and binds it to the local port
    // (0: any); remote is the controller's address. 0 or an errno value.
    int prepare(bool stream, std::uint16_t localPort, platform::Ipv4Address remote);

    platform::Ipv4Address localAddress;
    platform::Ipv4Address remoteAddress;

protected:
    // Arms the socket's own time-out with the connection's, for the wait
    // on the next reply.
    void armReceive(const Connection &c);
    bool acceptReply(Connection &c, const std::uint8_t *in, std::size_t received);

    platform::Socket socket_;
    // Something may wait in the socket that is not the answer to the next
    // request: it is thrown away before that request goes out.
    bool staleMayWait_ = false;
};

// Datagrams: up to three tries, each answered (or not) by one datagram.
class UdpTransport : public NetTransport {
public:
    bool exchange(Connection &c) override;
};

// A stream: one request, its reply read until its frame is whole.
class TcpTransport : public NetTransport {
public:
    bool exchange(Connection &c) override;

private:
    // The size of the last answer taken, header included.
    std::size_t lastReplySize_ = kNetHeader + 1;
    // The bytes of a reply that a time-out cut short, kept for the next
    // exchange, which reads the rest of it.
    std::uint8_t carry_[kNetBuffer] = {};
    std::size_t carried_ = 0;
};

}  // namespace orv
