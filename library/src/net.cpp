#include "net.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <system_error>
#include <thread>

#include "errors.h"
#include "transports.h"

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t code(ssize_t negativeErrno) { return static_cast<std::uint16_t>(-negativeErrno); }

std::string reason(int e) { return std::generic_category().message(e); }

// "Windows socket error: <step> <peer>: <the system's reason>".
std::string socketErrorText(int e, const char *step, const platform::Ipv4Address &peer) {
    return std::string(err::kSocketError) + ": " + step + " " + platform::ToText(peer) + ": " + reason(e);
}

// "Windows socket error" with the system's error number as its code, and
// what happened spelt out behind it: the step and peer, and the system's
// reason, or the whole wait that ran out (`tries` of the time-out).
void socketError(Connection &c, ssize_t negativeErrno, const char *step, const platform::Ipv4Address &peer,
                 int tries = 1) {
    const int e = static_cast<int>(-negativeErrno);
    if (e == EAGAIN && tries > 1)
        c.setErrorf(code(negativeErrno), "%s: no reply within %d x %d ms from %s", err::kSocketError, tries,
                    static_cast<int>(c.timeout), platform::ToText(peer).c_str());
    else if (e == EAGAIN)
        c.setErrorf(code(negativeErrno), "%s: no reply within %d ms from %s", err::kSocketError,
                    static_cast<int>(c.timeout), platform::ToText(peer).c_str());
    else
        c.setError(code(negativeErrno), socketErrorText(e, step, peer).c_str());
}

// Milliseconds left until the deadline (-1: no deadline, wait for ever).
int msLeft(bool forever, Clock::time_point deadline) { return forever ? -1 : MsUntil(deadline); }

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
    // Stale answers can wait in the socket only after something went wrong
    // (a try that failed, or a resend whose twin may still come): none of
    // them carries this exchange's number, so all go before it starts.
    // Between its own tries nothing is thrown away: a late answer to an
    // earlier try carries the number and is as good as the last one's.
    if (staleMayWait_) socket_.dropPending();
    staleMayWait_ = true;
    bool passedOver = false;  // a datagram with another number came
    bool timedOut = false;    // the last try ran out of time
    for (int attempt = 0; attempt < 3; ++attempt) {
        timedOut = false;
        armReceive(c);
        if (const ssize_t n = socket_.sendTo(out, length, remoteAddress); n < 0) {
            socketError(c, n, "sending to", remoteAddress);
            continue;
        }
        // Each try reads on until its time-out, passing over datagrams
        // that carry another number (answers to earlier exchanges that came
        // too late) and datagrams from any other host: sequence numbers
        // only count up, so anyone could guess the next. The controller may
        // answer from another port; its address is what counts. The first
        // read waits on the socket's own time-out.
        const bool forever = c.timeout == 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<std::uint32_t>(c.timeout));
        for (bool firstRead = true;; firstRead = false) {
            std::memset(in, 0, sizeof in);
            localAddress = {};
            const ssize_t n = firstRead ? socket_.receiveFrom(in, sizeof in, localAddress)
                                        : socket_.receiveFrom(in, sizeof in, localAddress, msLeft(forever, deadline));
            if (n < 0) {
                socketError(c, n, "receiving from", remoteAddress, attempt + 1);
                timedOut = n == -EAGAIN;
                break;
            }
            if (localAddress.address != remoteAddress.address) continue;
            if (n >= 4 && GetU16(in + 2) == sequence) {
                staleMayWait_ = attempt > 0;
                return acceptReply(c, in, static_cast<std::size_t>(n));
            }
            passedOver = true;
        }
    }
    // Replies came, but none carried our number: a failure of its own.
    if (passedOver && timedOut) c.setError(err::kPacket, err::kSequenceMismatch);
    return false;
}

bool TcpTransport::exchange(Connection &c) {
    std::uint8_t out[kNetBuffer];
    std::uint8_t in[kNetBuffer];
    const std::size_t length = BuildNetHeader(c, out);
    const std::uint16_t sequence = GetU16(out + 2);
    // The head of a reply that the last time-out cut short: its rest comes
    // first on the stream, whenever it comes, and is read to its end and
    // passed over like any other late answer. Anything else left of an
    // earlier reply (the tail of one longer than its frame, or of one cut
    // short twice) is thrown away. (After a clean exchange nothing can be
    // waiting: the peer answers in order, and every earlier answer came
    // before ours.)
    std::size_t have = carried_;
    const bool resumed = carried_ > 0;
    std::memcpy(in, carry_, carried_);
    carried_ = 0;
    if (!resumed && staleMayWait_) socket_.dropPending();
    staleMayWait_ = true;
    armReceive(c);
    if (const ssize_t n = socket_.sendAll(out, length, MSG_DONTROUTE); n < 0) {
        socketError(c, n, "sending to", remoteAddress);
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
    bool firstRead = !resumed;
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
            n = socket_.receive(in + have, want - have, msLeft(forever, deadline));
        }
        if (n > 0) {
            have += static_cast<std::size_t>(n);
            continue;
        }
        if (n == -EAGAIN && have > 0 && !resumed) {
            std::memcpy(carry_, in, have);
            carried_ = have;
        }
        if (n == 0) c.setError(ECONNRESET, err::kPeerClosed);
        // Only other requests' answers came in time.
        else if (n == -EAGAIN && passedOver) c.setError(err::kPacket, err::kSequenceMismatch);
        else if (n == -EAGAIN && have > 0)
            c.setErrorf(EAGAIN, "%s: reply from %s cut short: not whole within %d ms", err::kSocketError,
                        platform::ToText(remoteAddress).c_str(), static_cast<int>(c.timeout));
        else socketError(c, n, "receiving from", remoteAddress);
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

// The library-wide error of a failed open: "Windows socket error" with the
// system's error number, the step, the controller and the system's reason.
bool openFailed(int e, const char *step, const platform::Ipv4Address &controller) {
    libraryError().set(static_cast<std::uint16_t>(e), socketErrorText(e, step, controller).c_str());
    return false;
}

}  // namespace

bool OpenUdp(Connection &c, const OpenRequest &how) {
    auto t = std::make_unique<UdpTransport>();
    platform::Socket &s = t->socket();
    const platform::Ipv4Address controller{static_cast<std::uint32_t>(c.address), kUdpPort};
    if (const int e = t->prepare(false, static_cast<std::uint16_t>(c.port), controller); e != 0)
        return openFailed(e, "opening a socket for", controller);
    if (how.call == OpenCall::Connection) {
        if (const int e = s.setReceiveTimeout(333); e != 0) return openFailed(e, "setting the time-out for", controller);
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
    if (const int e = t->prepare(true, 0, controller); e != 0) return openFailed(e, "opening a socket for", controller);

    if (how.call == OpenCall::Connection) {
        if (const int e = s.connect(t->remoteAddress); e != 0) return openFailed(e, "connecting to", controller);
        if (const int e = s.localAddress(t->localAddress); e != 0) return openFailed(e, "connecting to", controller);
        if (const int e = s.setReceiveTimeout(333); e != 0) return openFailed(e, "setting the time-out for", controller);
    } else {
        if (const int e = s.setNonBlocking(true); e != 0) return openFailed(e, "connecting to", controller);
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
        if (!connected) return openFailed(libraryError().code, "connecting to", controller);
        if (const int e = s.localAddress(t->localAddress); e != 0) return openFailed(e, "connecting to", controller);
        if (const int e = s.setNonBlocking(false); e != 0) return openFailed(e, "connecting to", controller);
    }
    c.status = 1;
    c.sequence = 0;
    c.transport = std::move(t);
    return true;
}

}  // namespace orv
