#include "net.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <thread>

#include "errors.h"
#include "transports.h"

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t code(ssize_t negativeErrno) { return static_cast<std::uint16_t>(-negativeErrno); }

}  // namespace

std::size_t BuildNetHeader(Connection &c, std::uint8_t *buffer) {
    std::memset(buffer, 0, kNetBuffer);
    buffer[0] = 4;
    buffer[1] = 0;
    PutU16(buffer + 2, NextSequence(c.sequence));
    buffer[4] = static_cast<std::uint8_t>(c.packetClass);
    buffer[5] = 0;
    const std::size_t length = std::min<std::size_t>(c.requestLength, kNetBuffer - kNetHeader);
    PutU16(buffer + 6, static_cast<std::uint16_t>(length));
    std::memcpy(buffer + kNetHeader, c.request, length);
    return length + kNetHeader;
}

// The V-register block and random-block replies (03 6E, 03 72) do not say
// their length in their first byte: they are always the long form.
static bool isLongBlockReply(const std::uint8_t *p) { return p[0] == 3 && (p[1] == 0x6E || p[1] == 0x72); }

std::size_t NetReplyLength(const std::uint8_t *p, std::size_t received) {
    std::size_t length = 256;
    if (received >= 2 && isLongBlockReply(p)) length = kBlockReplyLength;
    else if (p[0] < received && p[p[0]] == kFrameEnd) length = std::size_t(p[0]) + 1;
    return std::min(length, received);
}

std::size_t NetBytesWanted(const std::uint8_t *buffer, std::size_t have) {
    if (have < kNetHeader + 1) return kNetHeader + 1;
    const std::uint8_t *p = buffer + kNetHeader;
    if (p[0] == 3 && have < kNetHeader + 2) return kNetHeader + 2;
    if (isLongBlockReply(p)) return kNetHeader + kBlockReplyLength;
    return kNetHeader + p[0] + 1;
}

int NetTransport::prepare(bool stream, std::uint16_t localPort, platform::Ipv4Address remote) {
    if (const int e = socket_.create(stream); e != 0) return e;
    if (const int e = socket_.bind({0, localPort}); e != 0) return e;
    remoteAddress = remote;
    return 0;
}

void NetTransport::armReceive(const Connection &c) { socket_.setReceiveTimeout(static_cast<std::uint32_t>(c.timeout)); }

bool NetTransport::acceptReply(Connection &c, const std::uint8_t *in, std::size_t received) {
    const std::size_t frame = received > kNetHeader ? received - kNetHeader : 0;
    if (frame == 0) {
        c.setError(err::kNotBinaryReply, err::kNotBinary);
        return false;
    }
    const std::size_t length = NetReplyLength(in + kNetHeader, frame);
    std::memcpy(c.reply, in + kNetHeader, length);
    c.replyLength = static_cast<std::uint16_t>(length);
    return true;
}

bool UdpTransport::exchange(Connection &c) {
    std::uint8_t out[kNetBuffer];
    std::uint8_t in[kNetBuffer];
    const std::size_t length = BuildNetHeader(c, out);
    const std::uint16_t sequence = GetU16(out + 2);
    bool lastWasMismatch = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // A stale answer can wait in the socket only after something went
        // wrong: a try that failed, or a resend whose twin may still come.
        if (staleMayWait_) socket_.dropOnePending();
        staleMayWait_ = true;
        armReceive(c);
        if (const ssize_t n = socket_.sendTo(out, length, remoteAddress); n < 0) {
            c.setError(code(n), err::kSocketError);
            lastWasMismatch = false;
            continue;
        }
        std::memset(in, 0, sizeof in);
        localAddress = {};
        const ssize_t n = socket_.receiveFrom(in, sizeof in, localAddress);
        if (n < 0) {
            c.setError(code(n), err::kSocketError);
            lastWasMismatch = false;
            continue;
        }
        if (GetU16(in + 2) != sequence) {
            lastWasMismatch = true;
            continue;
        }
        staleMayWait_ = attempt > 0;
        return acceptReply(c, in, static_cast<std::size_t>(n));
    }
    // Replies that never carried our number are a failure of their own, not
    // whatever error an earlier call left.
    if (lastWasMismatch) c.setError(err::kPacket, err::kSequenceMismatch);
    return false;
}

bool TcpTransport::exchange(Connection &c) {
    std::uint8_t out[kNetBuffer];
    std::uint8_t in[kNetBuffer];
    const std::size_t length = BuildNetHeader(c, out);
    const std::uint16_t sequence = GetU16(out + 2);
    // Whatever is left of an earlier reply: the rest of one cut short by the
    // time-out, or the tail of one longer than its frame. (After a clean
    // exchange nothing can be waiting: the peer answers in order, and every
    // earlier answer came before ours.)
    if (staleMayWait_) socket_.dropPending();
    staleMayWait_ = true;
    armReceive(c);
    if (const ssize_t n = socket_.sendAll(out, length, MSG_DONTROUTE); n < 0) {
        c.setError(code(n), err::kSocketError);
        return false;
    }
    // The stream may cut a reply anywhere: read until the frame is whole,
    // within the time-out. Answers to earlier requests that came too late
    // are ahead of ours: each is read to its end and passed over. Nothing
    // follows our answer (the peer answers what was asked, once), so the
    // first read may ask for as much as the last answer took and so take a
    // reply of the same size in one call; it waits on the socket's own
    // time-out. Any later read takes what has arrived, or waits for what is
    // left of the time-out.
    const bool forever = c.timeout == 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<std::uint32_t>(c.timeout));
    bool passedOver = false;
    bool firstRead = true;
    std::size_t have = 0;
    for (;;) {
        const std::size_t want = NetBytesWanted(in, have);
        if (have >= want) {
            if (GetU16(in + 2) == sequence) {
                // A frame shorter than its header says, or bytes behind it:
                // the stream is not clean for the next exchange.
                staleMayWait_ = GetU16(in + 6) != want - kNetHeader || have > want;
                lastReplySize_ = want;
                return acceptReply(c, in, want);
            }
            passedOver = true;
            have -= want;
            std::memmove(in, in + want, have);
            continue;
        }
        ssize_t n;
        if (firstRead) {
            firstRead = false;
            n = socket_.receive(in, std::max(want, lastReplySize_));
            if (n == -EAGAIN) continue;  // timed out (or a signal): the deadline decides
        } else {
            int wait = -1;
            if (!forever) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                wait = left > 0 ? static_cast<int>(left) : 0;
            }
            n = socket_.receive(in + have, want - have, wait);
        }
        if (n > 0) {
            have += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) c.setError(ECONNRESET, err::kPeerClosed);
        // Only other requests' answers came in time.
        else if (n == -EAGAIN && passedOver) c.setError(err::kPacket, err::kSequenceMismatch);
        else c.setError(code(n), err::kSocketError);
        return false;
    }
}

bool NetTransport::close(Connection &) {
    socket_.close();  // a refusal changes nothing: the connection goes all the same
    return true;
}

bool NetTransport::setTimeout(Connection &, std::int32_t ms) {
    return socket_.setReceiveTimeout(static_cast<std::uint32_t>(ms)) == 0;
}

namespace {

bool openFailed(std::uint16_t e) {
    libraryError().set(e, err::kSocketError);
    return false;
}

}  // namespace

bool OpenUdp(Connection &c, const OpenRequest &how) {
    auto t = std::make_unique<UdpTransport>();
    platform::Socket &s = t->socket();
    const platform::Ipv4Address controller{static_cast<std::uint32_t>(c.address), kUdpPort};
    if (const int e = t->prepare(false, static_cast<std::uint16_t>(c.port), controller); e != 0)
        return openFailed(static_cast<std::uint16_t>(e));
    if (how.call == OpenCall::Connection) {
        if (const int e = s.setReceiveTimeout(333); e != 0) return openFailed(static_cast<std::uint16_t>(e));
    }
    s.localAddress(t->localAddress);
    c.status = 1;
    c.sequence = 0;
    c.transport = std::move(t);
    return true;
}

bool OpenTcp(Connection &c, const OpenRequest &how) {
    auto t = std::make_unique<TcpTransport>();
    platform::Socket &s = t->socket();
    const platform::Ipv4Address controller{static_cast<std::uint32_t>(c.address), kTcpPort};
    if (const int e = t->prepare(true, 0, controller); e != 0) return openFailed(static_cast<std::uint16_t>(e));

    if (how.call == OpenCall::Connection) {
        if (const int e = s.connect(t->remoteAddress); e != 0) return openFailed(static_cast<std::uint16_t>(e));
        if (const int e = s.localAddress(t->localAddress); e != 0) return openFailed(static_cast<std::uint16_t>(e));
        if (const int e = s.setReceiveTimeout(333); e != 0) return openFailed(static_cast<std::uint16_t>(e));
    } else {
        if (const int e = s.setNonBlocking(true); e != 0) return openFailed(static_cast<std::uint16_t>(e));
        bool connected = false;
        for (int attempt = 0; attempt < 10 && !connected; ++attempt) {
            const int e = s.connectAttempt(t->remoteAddress);
            if (e == 0 || e == EISCONN) {
                connected = true;
                break;
            }
            // The attempt's error stays as the library-wide code, the text
            // as it was.
            libraryError().code = static_cast<std::uint16_t>(e);
            // A handshake under way may end sooner than the half second;
            // a refusal waits it out before the next attempt.
            if (e == EINPROGRESS || e == EALREADY) s.waitConnect(500);
            else std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        if (!connected) {
            libraryError().set(libraryError().code, err::kSocketError);
            return false;
        }
        if (const int e = s.localAddress(t->localAddress); e != 0) return openFailed(static_cast<std::uint16_t>(e));
        if (const int e = s.setNonBlocking(false); e != 0) return openFailed(static_cast<std::uint16_t>(e));
    }
    c.status = 1;
    c.sequence = 0;
    c.transport = std::move(t);
    return true;
}

}  // namespace orv
