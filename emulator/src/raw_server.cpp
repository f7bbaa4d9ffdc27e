#include "raw_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "controller.h"

namespace orvemu {

namespace {
constexpr std::uint16_t kTypeOnWire = 0x515A;  // the bytes 0x51 0x5A
constexpr Mac kBroadcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
using Clock = std::chrono::steady_clock;
}  // namespace

Frame rawFrame(const RawEnvelope &e, std::span<const std::uint8_t> payload) {
    Frame f(kRawHeader + payload.size(), 0);
    std::copy(e.destination.begin(), e.destination.end(), f.begin());
    std::copy(e.source.begin(), e.source.end(), f.begin() + 6);
    f[12] = 0x51;
    f[13] = 0x5A;
    f[14] = static_cast<std::uint8_t>(e.destinationNode);
    f[15] = static_cast<std::uint8_t>(e.destinationNode >> 8);
    f[16] = static_cast<std::uint8_t>(e.sourceNode);
    f[17] = static_cast<std::uint8_t>(e.sourceNode >> 8);
    f[18] = 3;
    f[19] = 1;
    f[20] = e.packetClass;
    f[36] = static_cast<std::uint8_t>(e.sequence);
    f[37] = static_cast<std::uint8_t>(e.sequence >> 8);
    f[51] = 7;
    std::copy(payload.begin(), payload.end(), f.begin() + kRawHeader);
    return f;
}

struct RawServer::Impl {
    std::string name;
    int ifindex = 0;
    int fd = -1;
    int wake = -1;
    Mac mac{};
    std::thread thread;
    std::atomic<bool> stop{false};

    mutable std::mutex m;
    Controller *all = nullptr;
    std::map<std::uint16_t, Controller *> nodes;
    int interimCount = 0;
    int interimGapMs = 0;
    bool broadcastReplies = false;
    ReplyHook hook;
    std::vector<Frame> log;
    std::map<std::uint16_t, Mac> learned;
    int interimSent = 0;
    std::multimap<Clock::time_point, Frame> pending;  // touched by the thread only

    ~Impl() {
        if (thread.joinable()) {
            stop = true;
            const std::uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(wake, &one, sizeof one);
            thread.join();
        }
        if (fd >= 0) ::close(fd);
        if (wake >= 0) ::close(wake);
    }

    bool send(std::span<const std::uint8_t> frame) const {
        if (frame.size() < ETH_HLEN) return false;
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_ifindex = ifindex;
        to.sll_halen = 6;
        std::memcpy(to.sll_addr, frame.data(), 6);
        return ::sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) ==
               static_cast<ssize_t>(frame.size());
    }

    void handle(const Frame &frame) {
        if (frame.size() < kRawHeader || frame[12] != 0x51 || frame[13] != 0x5A) return;
        Mac to, from;
        std::copy(frame.begin(), frame.begin() + 6, to.begin());
        std::copy(frame.begin() + 6, frame.begin() + 12, from.begin());
        if (to != kBroadcast && to != mac) return;
        const std::uint16_t controllerNode = u16(&frame[14]);
        const std::uint16_t requesterNode = u16(&frame[16]);

        Controller *ctl = nullptr;
        int interims, gap;
        bool broadcast;
        ReplyHook h;
        {
            std::lock_guard l(m);
            log.push_back(frame);
            if (nodes.empty()) {
                ctl = all;
            } else if (auto it = nodes.find(controllerNode); it != nodes.end()) {
                ctl = it->second;
            }
            if (!ctl) return;
            learned[requesterNode] = from;
            interims = interimCount;
            gap = interimGapMs;
            broadcast = broadcastReplies;
            h = hook;
        }

        // The request's own length: what follows the envelope, less any
        // padding that lifted a short frame to the Ethernet minimum.
        std::span<const std::uint8_t> request(frame.data() + kRawHeader, frame.size() - kRawHeader);
        if (frame.size() <= 60 && request.size() >= 2 && std::size_t{request[1]} + 2 <= request.size())
            request = request.first(std::size_t{request[1]} + 2);

        const Response r = ctl->handle(request);
        if (r.drop || r.bytes.empty()) return;
        ctl->noteAnswered(r.logged);

        std::uint16_t sequence = u16(&frame[36]);
        if (r.transportFault == FaultKind::WrongSequence && ++sequence == 0) ++sequence;
        RawEnvelope e;
        e.destination = broadcast ? kBroadcast : from;
        e.source = mac;
        e.destinationNode = requesterNode;
        e.sourceNode = controllerNode;
        e.packetClass = frame[20] == kInterimClass ? 20 : frame[20];
        e.sequence = sequence;

        std::vector<Frame> frames;
        RawEnvelope interim = e;
        interim.packetClass = kInterimClass;
        for (int i = 0; i < interims; ++i) frames.push_back(rawFrame(interim, shortReply(kAck)));
        frames.push_back(rawFrame(e, rawEthernetReply(r.bytes)));
        if (h) frames = h(frame, std::move(frames));

        auto when = Clock::now() + r.delay;
        for (auto &f : frames) {
            pending.emplace(when, std::move(f));
            when += std::chrono::milliseconds(gap);
        }
    }

    void sendDue() {
        const auto now = Clock::now();
        while (!pending.empty() && pending.begin()->first <= now) {
            const Frame &f = pending.begin()->second;
            if (f.size() > 20 && f[20] == kInterimClass) {
                std::lock_guard l(m);
                ++interimSent;
            }
            send(f);
            pending.erase(pending.begin());
        }
    }

    void run() {
        Frame buffer(2048);
        while (!stop) {
            int timeout = -1;
            if (!pending.empty()) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(pending.begin()->first - Clock::now());
                timeout = static_cast<int>(std::max<std::int64_t>(0, left.count()));
            }
            pollfd p[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
            const int n = ::poll(p, 2, timeout);
            if (n < 0 && errno != EINTR) break;
            if (n > 0 && (p[0].revents & POLLIN)) {
                for (;;) {
                    sockaddr_ll from{};
                    socklen_t fromLength = sizeof from;
                    const ssize_t got = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                                   reinterpret_cast<sockaddr *>(&from), &fromLength);
                    if (got < 0) break;
                    if (from.sll_pkttype == PACKET_OUTGOING) continue;
                    handle(Frame(buffer.begin(), buffer.begin() + got));
                }
            }
            sendDue();
        }
    }
};

std::unique_ptr<RawServer> RawServer::start(Controller &c, const std::string &interface, std::string *why) {
    // The system's reason for the step that failed.
    const auto failed = [why](const char *step) -> std::unique_ptr<RawServer> {
        if (why) *why = std::string(step) + ": " + std::strerror(errno);
        return nullptr;
    };
    auto impl = std::make_unique<Impl>();
    impl->name = interface;
    impl->all = &c;
    impl->ifindex = static_cast<int>(if_nametoindex(interface.c_str()));
    if (impl->ifindex == 0) return failed("no such interface");
    impl->fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(kTypeOnWire));
    if (impl->fd < 0) return failed("cannot open a packet socket");
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(kTypeOnWire);
    addr.sll_ifindex = impl->ifindex;
    if (::bind(impl->fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) return failed("cannot bind to it");
    ifreq req{};
    std::strncpy(req.ifr_name, interface.c_str(), IFNAMSIZ - 1);
    if (ioctl(impl->fd, SIOCGIFHWADDR, &req) != 0) return failed("cannot read its MAC address");
    std::memcpy(impl->mac.data(), req.ifr_hwaddr.sa_data, 6);
    impl->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl->wake < 0) return failed("cannot make a wake-up descriptor");
    Impl *raw = impl.get();
    impl->thread = std::thread([raw] { raw->run(); });
    return std::unique_ptr<RawServer>(new RawServer(std::move(impl)));
}

RawServer::RawServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RawServer::~RawServer() = default;

std::string RawServer::endpoint() const { return impl_->name; }
Mac RawServer::mac() const { return impl_->mac; }

void RawServer::serveNode(std::uint16_t node, Controller &c) {
    std::lock_guard l(impl_->m);
    impl_->nodes[node] = &c;
}

void RawServer::setInterim(int count, int gapMs) {
    std::lock_guard l(impl_->m);
    impl_->interimCount = count;
    impl_->interimGapMs = gapMs;
}

void RawServer::setBroadcastReplies(bool on) {
    std::lock_guard l(impl_->m);
    impl_->broadcastReplies = on;
}

void RawServer::setReplyHook(ReplyHook hook) {
    std::lock_guard l(impl_->m);
    impl_->hook = std::move(hook);
}

bool RawServer::sendFrame(std::span<const std::uint8_t> frame) { return impl_->send(frame); }

std::vector<Frame> RawServer::received() const {
    std::lock_guard l(impl_->m);
    return impl_->log;
}

void RawServer::clearReceived() {
    std::lock_guard l(impl_->m);
    impl_->log.clear();
}

std::optional<Mac> RawServer::learnedMac(std::uint16_t node) const {
    std::lock_guard l(impl_->m);
    auto it = impl_->learned.find(node);
    if (it == impl_->learned.end()) return std::nullopt;
    return it->second;
}

int RawServer::interimSent() const {
    std::lock_guard l(impl_->m);
    return impl_->interimSent;
}

std::unique_ptr<Server> startRaw(Controller &c, const std::string &interface, std::string *why) {
    return RawServer::start(c, interface, why);
}

}  // namespace orvemu
