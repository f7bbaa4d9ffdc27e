// The emulator on the raw-Ethernet controller network: one interface of its
// own, any number of controller nodes, the requester's MAC learned from each
// request, and the switches that tests need (interim replies, broadcast
// replies, frames of the test's own making).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "servers.h"

namespace orvemu {

using Mac = std::array<std::uint8_t, 6>;
using Frame = std::vector<std::uint8_t>;

inline constexpr std::size_t kRawHeader = 54;
inline constexpr std::uint8_t kInterimClass = 40;

// An envelope as the controller builds it for its replies.
struct RawEnvelope {
    Mac destination{};
    Mac source{};
    std::uint16_t destinationNode = 0;  // the requester
    std::uint16_t sourceNode = 0;       // the controller
    std::uint8_t packetClass = 20;
    std::uint16_t sequence = 0;
};
Frame rawFrame(const RawEnvelope &e, std::span<const std::uint8_t> payload);

class RawServer : public Server {
public:
    // Serves every node with `c` until serveNode() names nodes. Nothing when
    // the interface can't be opened; then `why` (when given) says why.
    static std::unique_ptr<RawServer> start(Controller &c, const std::string &interface, std::string *why = nullptr);
    ~RawServer() override;

    std::string endpoint() const override;
    Mac mac() const;

    // From now on answers only the nodes named this way, each with its own controller.
    void serveNode(std::uint16_t node, Controller &c);
    // Before each reply, `count` interim frames (class 40), `gapMs` apart,
    // the reply `gapMs` after the last.
    void setInterim(int count, int gapMs);
    // Replies go to FF:FF:FF:FF:FF:FF instead of the learned MAC.
    void setBroadcastReplies(bool on);
    // Turns the frames of one reply into the frames to send, in order: a
    // test's way to put frames of its own before, after or instead of it.
    using ReplyHook = std::function<std::vector<Frame>(const Frame &request, std::vector<Frame> frames)>;
    void setReplyHook(ReplyHook hook);

    // Sends a frame as it stands out of the interface.
    bool sendFrame(std::span<const std::uint8_t> frame);
    // Every frame of the controller network received, whole, in order.
    std::vector<Frame> received() const;
    void clearReceived();
    // The MAC learned from the last request of this requester node.
    std::optional<Mac> learnedMac(std::uint16_t node) const;
    // How many interim frames were sent.
    int interimSent() const;

    struct Impl;

private:
    explicit RawServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvemu
