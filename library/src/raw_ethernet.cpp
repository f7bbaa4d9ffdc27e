// The raw-Ethernet transport: opening a connection's station and the
// request/reply exchange over the adapter object.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

#include "errors.h"
#include "raw_ethernet.h"
#include "transports.h"

namespace orv {

namespace {

enum class Await { Accepted, Timeout, OtherSequence };

using Clock = std::chrono::steady_clock;

}  // namespace

EthernetTransport::~EthernetTransport() {
    if (adapter_ && station_) adapter_->closeStation(station_);
}

bool EthernetTransport::close(Connection &) {
    adapter_->closeStation(station_);
    return true;
}

bool EthernetTransport::exchange(Connection &c) {
    const std::int32_t timeout = c.timeout;
    const auto wait = std::chrono::milliseconds(std::max<std::int32_t>(0, timeout));

    EnvelopeFields f;
    std::copy(std::begin(c.destinationMac), std::end(c.destinationMac), f.destinationMac.begin());
    std::copy(std::begin(c.sourceMac), std::end(c.sourceMac), f.sourceMac.begin());
    f.destinationNode = station_->remoteNode;
    f.sourceNode = station_->localNode;
    f.packetClass = static_cast<std::uint8_t>(c.packetClass);
    f.sequence = NextSequence(c.sequence);
    f.tick = TickCount();
    f.timeout = static_cast<std::uint32_t>(timeout);
    // Built once: every try sends the same bytes, sequence number included.
    const std::vector<std::uint8_t> frame = BuildEthernetFrame(f, {c.request, c.requestLength});

    std::vector<std::uint8_t> received(kEthernetFrameBuffer);
    // `tries`: how many tries have waited, this one included.
    auto awaitReply = [&](int tries) -> Await {
        auto end = Clock::now() + wait;
        for (;;) {
            const std::size_t n = adapter_->receive(*station_, received, MsUntil(end));
            if (n == 0) {
                if (tries > 1)
                    c.setErrorf(err::kSocketTimeout, "%s: no reply within %d x %d ms from node %u",
                                err::kSocketTimeoutText, tries, static_cast<int>(timeout),
                                static_cast<unsigned>(station_->remoteNode));
                else
                    c.setErrorf(err::kSocketTimeout, "%s: no reply within %d ms from node %u",
                                err::kSocketTimeoutText, static_cast<int>(timeout),
                                static_cast<unsigned>(station_->remoteNode));
                return Await::Timeout;
            }
            const std::span<const std::uint8_t> got(received.data(), n);
            if (got[eth::kClass] == kInterimClass) {
                // The controller is still working on it: wait again in full.
                end = Clock::now() + wait;
                continue;
            }
            const auto length = EthernetReplyLength(got);
            if (!length) continue;  // no reply in it, or a length it doesn't hold: ignored
            if (GetU16(got.data() + eth::kSequence) != f.sequence) return Await::OtherSequence;
            std::memcpy(c.reply, got.data() + eth::kPayload, *length);
            c.replyLength = static_cast<std::uint16_t>(*length);
            c.setDestinationMac(got.data() + eth::kSourceMac);
            return Await::Accepted;
        }
    };

    for (int attempt = 0; attempt < kExchangeTries; ++attempt) {
        c.setErrorCode(err::kNone);
        adapter_->flush(*station_);
        if (!adapter_->send(frame)) {
            c.setError(err::kNone, err::kNdisSend);
            continue;
        }
        if (awaitReply(attempt + 1) == Await::Accepted) return true;
    }
    return false;
}

bool OpenRawEthernet(Connection &c, const OpenRequest &how) {
    // ZqOpenConnection comes here holding the table lock; ZqOpenNetConnection
    // doesn't, and takes it here, so that two opens at once cannot both
    // create an adapter object.
    std::optional<TableGuard> guard;
    if (how.call != OpenCall::Connection) guard.emplace();

    const std::shared_ptr<PacketDriver> adapter = EnsureAdapter();
    if (!adapter) {
        libraryError().set(err::kNone, err::kNoAdapter);
        return false;
    }
    std::memcpy(c.sourceMac, adapter->mac(), sizeof c.sourceMac);
    std::memset(c.destinationMac, 0xFF, sizeof c.destinationMac);
    auto station = adapter->openStation(static_cast<std::uint16_t>(c.port), static_cast<std::uint16_t>(c.address));
    if (!station) {
        libraryError().set(err::kNone, err::kOpenFailed);
        return false;
    }
    c.transport = std::make_unique<EthernetTransport>(adapter, std::move(station));
    c.status = 1;
    c.sequence = 0;
    return true;
}

}  // namespace orv
