// The adapter object of the raw-Ethernet network: the interface it opens,
// its stations, the receive thread, the adapter choice and listing, and the
// adapter exports.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>

#include "connection.h"
#include "orvcomm.h"
#include "raw_ethernet.h"

namespace orv {

namespace {

// Process-wide and never destroyed: the library's unload work still finds it.
struct AdapterState {
    std::mutex creation;  // taken after the table lock, before the adapter's own
    std::shared_ptr<PacketDriver> adapter;
    int choice = -1;
};

AdapterState &state() {
    static AdapterState *s = new AdapterState;
    return *s;
}

// Big enough for any frame the interface delivers; longer ones are dropped.
constexpr std::size_t kReceiveBuffer = 2048;

bool isBroadcast(const std::uint8_t *mac) {
    return std::all_of(mac, mac + 6, [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace

PacketDriver::~PacketDriver() { close(); }

std::shared_ptr<PacketDriver> PacketDriver::Open(int choice) {
    const auto table = platform::ListEthernetInterfaces(kMaxAdapters);
    if (table.empty() || choice >= static_cast<int>(table.size())) return nullptr;
    auto adapter = std::make_shared<PacketDriver>();
    if (choice > 0) {
        const auto &chosen = table[static_cast<std::size_t>(choice)];
        if (!chosen.hasIpv4 || !adapter->start(chosen)) return nullptr;
        return adapter;
    }
    for (const auto &candidate : table) {
        if (!candidate.hasIpv4) continue;
        return adapter->start(candidate) ? adapter : nullptr;
    }
    return nullptr;
}

bool PacketDriver::start(const platform::EthernetInterface &adapter) {
    if (!wake_.valid()) return false;
    if (!socket_.open(adapter.index, kFrameTypeOnWire, true)) return false;
    // The MAC of the interface just opened, which every connection on it sends from.
    if (!platform::InterfaceMac(adapter.index, mac_)) {
        socket_.close();
        return false;
    }
    ifindex_ = adapter.index;
    std::promise<void> ready;
    std::future<void> running = ready.get_future();
    thread_ = std::thread([this, ready = std::move(ready)]() mutable {
        platform::RaiseThreadPriority();
        threadState_.store(1);
        ready.set_value();
        receiveThread();
    });
    running.wait();
    return true;
}

void PacketDriver::receiveThread() {
    std::vector<std::uint8_t> buffer(kReceiveBuffer);
    while (threadState_.load() == 1) {
        switch (socket_.wait(wake_, 1000)) {
        case platform::PacketSocket::Wait::Readable:
            for (;;) {
                std::size_t length = 0;
                const auto r = socket_.receive(buffer, length);
                if (r == platform::PacketSocket::Received::Nothing || r == platform::PacketSocket::Received::Error)
                    break;
                if (r == platform::PacketSocket::Received::Outgoing) continue;  // our own
                if (length > kEthernetFrameBuffer) continue;                   // no reply is that long
                queueFrame({buffer.data(), length});
            }
            break;
        case platform::PacketSocket::Wait::Error: {
            // The interface went away or reported an error: read it off and
            // don't spin while it lasts.
            std::size_t length = 0;
            socket_.receive(buffer, length);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            break;
        }
        case platform::PacketSocket::Wait::Woken:
        case platform::PacketSocket::Wait::Timeout: break;
        }
    }
    threadState_.store(-1);
}

void PacketDriver::queueFrame(std::span<const std::uint8_t> frame) {
    if (frame.size() < kEthernetHeader) return;  // a runt: no envelope to read
    if (frame[eth::kType] != 0x51 || frame[eth::kType + 1] != 0x5A) return;
    if (isBroadcast(frame.data() + eth::kDestinationMac)) return;
    const std::uint16_t sourceNode = GetU16(frame.data() + eth::kSourceNode);
    const std::uint16_t destinationNode = GetU16(frame.data() + eth::kDestinationNode);
    std::lock_guard l(lock_);
    for (const auto &s : stations_) {
        if (s->remoteNode != sourceNode || s->localNode != destinationNode) continue;
        s->queue.emplace_back(frame.begin(), frame.end());
        s->frameEvent.notify_all();
    }
}

void PacketDriver::close() {
    {
        std::lock_guard l(lock_);
        for (const auto &s : stations_) {
            s->linked = false;
            s->queue.clear();
            s->frameEvent.notify_all();
        }
        stations_.clear();
    }
    if (thread_.joinable()) {
        threadState_.store(0);
        wake_.signal();
        thread_.join();
    }
    socket_.close();
}

std::shared_ptr<Station> PacketDriver::openStation(std::uint16_t localNode, std::uint16_t remoteNode) {
    auto s = std::make_shared<Station>();
    s->localNode = localNode;
    s->remoteNode = remoteNode;
    std::lock_guard l(lock_);
    s->linked = true;
    stations_.push_back(s);
    return s;
}

void PacketDriver::closeStation(const std::shared_ptr<Station> &s) {
    if (!s) return;
    std::lock_guard l(lock_);
    if (!s->linked) return;
    stations_.remove(s);
    s->linked = false;
    s->queue.clear();
    s->frameEvent.notify_all();
}

bool PacketDriver::send(std::span<const std::uint8_t> frame) {
    std::lock_guard l(lock_);
    return socket_.send(frame);
}

std::size_t PacketDriver::receive(Station &s, std::span<std::uint8_t> buffer, int ms) {
    std::unique_lock l(lock_);
    const auto ready = [&s] { return !s.queue.empty() || !s.linked; };
    if (!s.frameEvent.wait_for(l, std::chrono::milliseconds(ms), ready) || s.queue.empty()) return 0;
    const std::vector<std::uint8_t> &first = s.queue.front();
    if (first.size() > buffer.size()) return 0;  // stays queued
    const std::size_t n = first.size();
    std::memcpy(buffer.data(), first.data(), n);
    s.queue.pop_front();
    return n;
}

void PacketDriver::flush(Station &s) {
    std::lock_guard l(lock_);
    s.queue.clear();
}

std::size_t PacketDriver::stationCount() {
    std::lock_guard l(lock_);
    return stations_.size();
}

std::shared_ptr<PacketDriver> CurrentAdapter() {
    std::lock_guard l(state().creation);
    return state().adapter;
}

std::shared_ptr<PacketDriver> EnsureAdapter() {
    AdapterState &s = state();
    std::lock_guard l(s.creation);
    if (!s.adapter) s.adapter = PacketDriver::Open(s.choice);
    return s.adapter;
}

void CloseCurrentAdapter() {
    TableGuard guard;
    AdapterState &s = state();
    std::lock_guard l(s.creation);
    if (!s.adapter) return;
    // Their stations go with the adapter: later calls on them fail with
    // "Invalid connection status", and closing them just removes them.
    table::forEach([](std::int32_t, Connection &c) {
        if (c.traits().onSharedAdapter) c.status = 0;
    });
    s.adapter->close();
    s.adapter.reset();
}

int ListAdapterAddresses(std::uint32_t *addresses, std::int32_t *indexes, int max) {
    const auto table = platform::ListEthernetInterfaces(kMaxAdapters);
    int choice;
    {
        std::lock_guard l(state().creation);
        choice = state().choice;
    }
    if (table.empty() || choice >= static_cast<int>(table.size())) return 0;
    int count = 0;
    for (std::size_t i = 0; i < table.size() && count < max; ++i) {
        if (!table[i].hasIpv4) continue;
        addresses[count] = table[i].ipv4;
        indexes[count] = static_cast<std::int32_t>(i);
        ++count;
    }
    return count;
}

namespace {

// At library unload the table is being destroyed with the library: only the
// adapter and its thread need stopping.
void unloadAdapter() {
    AdapterState &s = state();
    std::lock_guard l(s.creation);
    if (s.adapter) {
        s.adapter->close();
        s.adapter.reset();
    }
    s.choice = -1;
}

[[maybe_unused]] const bool g_unloadRegistered = (AtUnload(&unloadAdapter), true);

}  // namespace

}  // namespace orv

using namespace orv;

extern "C" {

ZQ_API std::int32_t ZQ_CALL ZqSetAdapter(std::int32_t index) {
    return Guarded([&]() -> std::int32_t {
        {
            std::lock_guard l(state().creation);
            if (state().choice == index) return 1;
        }
        CloseCurrentAdapter();
        std::lock_guard l(state().creation);
        state().choice = index;
        return 1;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetAvailableAdaptersIPList(std::uint32_t *addresses, std::int32_t *indexes,
                                                         std::int32_t *count) {
    return Guarded([&]() -> std::int32_t {
        std::uint32_t a[kMaxAdapters] = {};
        std::int32_t i[kMaxAdapters] = {};
        const int n = ListAdapterAddresses(a, i, kMaxAdapters);
        if (addresses) std::copy(a, a + n, addresses);
        if (indexes) std::copy(i, i + n, indexes);
        if (count) *count = n;
        return 1;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqUnload() {
    return Guarded([]() -> std::int32_t {
        CloseCurrentAdapter();
        return 1;
    });
}

}  // extern "C"
