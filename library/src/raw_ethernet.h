// The raw-Ethernet controller network: the frame with its 40-byte envelope,
// the stations (one per connection) and the one adapter object of the
// process with its receive thread.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "connection.h"
#include "platform/packet.h"

namespace orv {

// The frame type 0x5A51, stored low byte first: 0x51 0x5A on the wire.
inline constexpr std::uint16_t kFrameTypeOnWire = 0x515A;
inline constexpr std::size_t kEthernetHeader = 54;        // MACs, type and envelope
inline constexpr std::size_t kEthernetFrameBuffer = 1590;
inline constexpr std::uint8_t kInterimClass = 40;
inline constexpr int kMaxAdapters = 10;
inline constexpr int kExchangeTries = 3;

// Positions in the frame.
namespace eth {
inline constexpr std::size_t kDestinationMac = 0, kSourceMac = 6, kType = 12, kDestinationNode = 14,
                             kSourceNode = 16, kClass = 20, kTick = 30, kSequence = 36, kDeadline = 42,
                             kPayload = 54;
}

// The system's millisecond tick count, modulo 2^32.
std::uint32_t TickCount();

struct EnvelopeFields {
    std::array<std::uint8_t, 6> destinationMac{};
    std::array<std::uint8_t, 6> sourceMac{};
    std::uint16_t destinationNode = 0;  // the controller
    std::uint16_t sourceNode = 0;       // our own node
    std::uint8_t packetClass = 20;
    std::uint16_t sequence = 0;
    std::uint32_t tick = 0;
    std::uint32_t timeout = 0;          // the deadline is tick + timeout, modulo 2^32
};

// The whole frame: MAC addresses, frame type, envelope and request; no padding.
std::vector<std::uint8_t> BuildEthernetFrame(const EnvelopeFields &f, std::span<const std::uint8_t> request);

// Length of the reply frame carried at position 54 of a received frame, by
// the reply length rule, bounded by what was received: nothing when the
// frame carries no reply or announces more bytes than it holds.
std::optional<std::size_t> EthernetReplyLength(std::span<const std::uint8_t> frame);

// One connection's place on the adapter: its node pair and the frames the
// receive thread queued for it.
struct Station {
    std::uint16_t remoteNode = 0;  // the controller
    std::uint16_t localNode = 0;   // our own
    // Guarded by the adapter's lock.
    std::deque<std::vector<std::uint8_t>> queue;
    std::condition_variable frameEvent;
    bool linked = false;
};

// The adapter object: one open interface shared by every raw-Ethernet
// connection, and the receive thread that sorts incoming frames into the
// stations' queues.
class PacketDriver {
public:
    // An empty object: no interface, no thread (what the receive path's
    // tests use).
    PacketDriver() = default;
    ~PacketDriver();
    PacketDriver(const PacketDriver &) = delete;
    PacketDriver &operator=(const PacketDriver &) = delete;

    // Opens the adapter of the given choice (0 or less: the first usable
    // one) and starts the receive thread; nothing if none qualifies.
    static std::shared_ptr<PacketDriver> Open(int choice);
    // Closes every station, stops the receive thread and closes the interface.
    void close();

    const std::uint8_t *mac() const { return mac_; }
    int interfaceIndex() const { return ifindex_; }
    bool threadRunning() const { return threadState_.load() == 1; }

    std::shared_ptr<Station> openStation(std::uint16_t localNode, std::uint16_t remoteNode);
    void closeStation(const std::shared_ptr<Station> &s);
    bool send(std::span<const std::uint8_t> frame);
    // Takes the next frame queued at the station into buffer and returns its
    // length; 0 when none arrives within ms, or when it doesn't fit (it
    // then stays queued).
    std::size_t receive(Station &s, std::span<std::uint8_t> buffer, int ms);
    void flush(Station &s);

    // The receive path for one frame as the interface delivered it.
    void queueFrame(std::span<const std::uint8_t> frame);
    std::size_t stationCount();

private:
    bool start(const platform::EthernetInterface &adapter);
    void receiveThread();

    std::mutex lock_;
    std::list<std::shared_ptr<Station>> stations_;
    platform::PacketSocket socket_;
    platform::WakeEvent wake_;
    std::thread thread_;
    // 0 not started or asked to stop, 1 running, -1 ended.
    std::atomic<int> threadState_{0};
    std::uint8_t mac_[6] = {};
    int ifindex_ = 0;
};

// A raw-Ethernet station: block replies may come in the long form, and the
// station goes with the process-wide adapter.
inline constexpr TransportTraits kRawEthernetTraits{.longReplyForm = true, .onSharedAdapter = true};

// The transport of a raw-Ethernet connection.
class EthernetTransport : public Transport {
public:
    EthernetTransport(std::shared_ptr<PacketDriver> adapter, std::shared_ptr<Station> station)
        : Transport(kRawEthernetTraits), adapter_(std::move(adapter)), station_(std::move(station)) {}
    ~EthernetTransport() override;
    bool exchange(Connection &c) override;
    bool close(Connection &c) override;

private:
    std::shared_ptr<PacketDriver> adapter_;
    std::shared_ptr<Station> station_;
};

// The process-wide adapter: the open one, if any, and the choice.
std::shared_ptr<PacketDriver> CurrentAdapter();
// Opens the adapter if it isn't open yet; nothing if no adapter qualifies.
std::shared_ptr<PacketDriver> EnsureAdapter();
// Closes the adapter if it is open; connections on it are marked closed.
void CloseCurrentAdapter();

// The listing of usable adapters for ZqGetAvailableAdaptersIPList.
int ListAdapterAddresses(std::uint32_t *addresses, std::int32_t *indexes, int max);

}  // namespace orv
