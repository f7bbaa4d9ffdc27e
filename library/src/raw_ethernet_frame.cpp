// The raw-Ethernet frame: envelope header and the reply length rule.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "raw_ethernet.h"

namespace orv {

std::uint32_t TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::vector<std::uint8_t> BuildEthernetFrame(const EnvelopeFields &f, std::span<const std::uint8_t> request) {
    std::array<std::uint8_t, kEthernetHeader> h{};
    std::copy(f.destinationMac.begin(), f.destinationMac.end(), h.begin() + eth::kDestinationMac);
    std::copy(f.sourceMac.begin(), f.sourceMac.end(), h.begin() + eth::kSourceMac);
    h[eth::kType] = 0x51;
    h[eth::kType + 1] = 0x5A;
    PutU16(&h[eth::kDestinationNode], f.destinationNode);
    PutU16(&h[eth::kSourceNode], f.sourceNode);
    h[18] = 3;
    h[19] = 1;
    h[eth::kClass] = f.packetClass;
    PutU32(&h[eth::kTick], f.tick);
    PutU16(&h[eth::kSequence], f.sequence);
    PutU32(&h[eth::kDeadline], f.tick + f.timeout);
    h[51] = 7;
    std::vector<std::uint8_t> frame(h.size() + request.size());
    std::copy(h.begin(), h.end(), frame.begin());
    std::copy(request.begin(), request.end(), frame.begin() + static_cast<std::ptrdiff_t>(h.size()));
    return frame;
}

std::optional<std::size_t> EthernetReplyLength(std::span<const std::uint8_t> frame) {
    if (frame.size() <= kEthernetHeader) return std::nullopt;
    const auto reply = frame.subspan(kEthernetHeader);
    const std::size_t first = reply[0];
    if (first == 0xFF) {
        // Long form: the length in the next two bytes.
        if (reply.size() < 3) return std::nullopt;
        const std::size_t length = GetU16(reply.data() + 1) + std::size_t{4};
        if (length > reply.size() || length > kMaxReply) return std::nullopt;
        return length;
    }
    if (first < reply.size() && reply[first] == 0xFF) return first + 1;
    // Not a frame of the binary protocol: hand on what there is, so that the
    // caller's reply test reports it.
    return std::min<std::size_t>(256, reply.size());
}

}  // namespace orv
