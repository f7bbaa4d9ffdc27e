// The controller's UDP and TCP sides: the binary frame behind the 8-byte
// envelope header, on a chosen local address and the fixed ports.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <vector>

#include "pause.h"
#include "servers.h"

namespace orvemu {

namespace {

// A reply's delay in whole milliseconds, rounded up.
long delayMs(const Response &r) { return static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(r.delay).count()); }

using Clock = std::chrono::steady_clock;
constexpr int kSplitGapMs = 20;

// The reply's envelope: the request's header with the reply frame's length,
// and (for WrongSequence) another sequence number.
std::vector<std::uint8_t> envelope(const std::uint8_t *requestHeader, const Response &r) {
    std::vector<std::uint8_t> out;
    out.reserve(8 + r.bytes.size());
    for (int i = 0; i < 8; ++i) out.push_back(requestHeader[i]);
    if (r.transportFault == FaultKind::WrongSequence) {
        std::uint16_t s = static_cast<std::uint16_t>(u16(out.data() + 2) + 1);
        if (s == 0) s = 1;
        out[2] = static_cast<std::uint8_t>(s);
        out[3] = static_cast<std::uint8_t>(s >> 8);
    }
    out[6] = static_cast<std::uint8_t>(r.bytes.size());
    out[7] = static_cast<std::uint8_t>(r.bytes.size() >> 8);
    for (auto b : r.bytes) out.push_back(b);
    return out;
}

bool bindTo(int fd, const in_addr &address, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr = address;
    return ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
}

// A bound socket of the given type on address:port (listening for TCP), or
// -1 with the reason in why.
int openSocket(int type, const std::string &address, std::uint16_t port, std::string *why) {
    const auto failed = [why](const std::string &text) {
        if (why) *why = text;
        return -1;
    };
    in_addr a{};
    if (inet_pton(AF_INET, address.c_str(), &a) != 1)
        return failed("\"" + address + "\" is not an IPv4 address such as 127.0.0.2");
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return failed(std::strerror(errno));
    if (type == SOCK_STREAM) {
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    // No SO_REUSEADDR on UDP: it would let two emulators share the address.
    if (!bindTo(fd, a, port) || (type == SOCK_STREAM && listen(fd, 8) != 0)) {
        const int error = errno;
        ::close(fd);
        return failed(std::strerror(error));
    }
    return fd;
}

// A server thread with a wake-up pipe that ends it.
class NetServer : public Server {
public:
    NetServer(Controller &c, int fd, std::string endpoint) : controller_(c), fd_(fd), endpoint_(std::move(endpoint)) {
        if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
    }
    ~NetServer() override {
        stop();
        ::close(fd_);
        if (wake_[0] >= 0) ::close(wake_[0]);
        if (wake_[1] >= 0) ::close(wake_[1]);
    }
    std::string endpoint() const override { return endpoint_; }

protected:
    // Ends the thread. Each server's own destructor calls it first: the
    // thread runs the server's own code, which must not outlive its part of
    // the object.
    void stop() {
        const char x = 0;
        if (wake_[1] >= 0) [[maybe_unused]] const auto n = ::write(wake_[1], &x, 1);
        if (thread_.joinable()) thread_.join();
    }
    // Sleeps ms unless told to stop; false when told to stop.
    bool pause(long ms) { return pauseUnlessWoken(wake_[0], ms); }
    bool stopping() {
        pollfd p{wake_[0], POLLIN, 0};
        return poll(&p, 1, 0) > 0;
    }

    Controller &controller_;
    int fd_;
    std::string endpoint_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

class UdpServer : public NetServer {
public:
    using NetServer::NetServer;
    ~UdpServer() override { stop(); }
    void start() { thread_ = std::thread([this] { run(); }); }

private:
    void run() {
        std::vector<std::uint8_t> buf(65536);
        for (;;) {
            pollfd p[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (poll(p, 2, -1) < 0 && errno != EINTR) return;
            if (p[1].revents) return;
            if (!(p[0].revents & POLLIN)) continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n < 8) continue;
            const std::size_t frame = std::min<std::size_t>(u16(buf.data() + 6), static_cast<std::size_t>(n) - 8);
            const Response r = controller_.handle({buf.data() + 8, frame});
            if (r.delay.count() > 0 && !pause(delayMs(r))) return;
            if (r.drop || r.bytes.empty() || r.transportFault == FaultKind::PeerClose) continue;
            const auto out = envelope(buf.data(), r);
            controller_.noteAnswered(r.logged);
            sendto(fd_, out.data(), out.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&from), len);
        }
    }
};

class TcpServer : public NetServer {
public:
    using NetServer::NetServer;
    ~TcpServer() override { stop(); }
    void start() { thread_ = std::thread([this] { run(); }); }

private:
    struct Client {
        int fd;
        std::vector<std::uint8_t> in;
    };

    void sendAll(int fd, const std::uint8_t *b, std::size_t n) {
        while (n > 0) {
            const ssize_t w = ::send(fd, b, n, MSG_NOSIGNAL);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return;
            b += w;
            n -= static_cast<std::size_t>(w);
        }
    }
    // Answers every whole request the client has sent; false when the
    // connection is to be closed, and sets stop when the server is to end.
    bool serve(Client &cl, bool &stop) {
        while (cl.in.size() >= 8 && cl.in.size() >= 8u + u16(cl.in.data() + 6)) {
            const std::size_t frame = u16(cl.in.data() + 6);
            const std::vector<std::uint8_t> request(cl.in.begin(), cl.in.begin() + 8 + static_cast<long>(frame));
            cl.in.erase(cl.in.begin(), cl.in.begin() + 8 + static_cast<long>(frame));
            const Response r = controller_.handle({request.data() + 8, frame});
            const bool split = r.transportFault == FaultKind::SplitReply;
            // A split reply's delay is the gap between its pieces.
            if (!split && r.delay.count() > 0 && !pause(delayMs(r))) return stop = true, false;
            if (r.transportFault == FaultKind::PeerClose) return false;
            if (r.drop || r.bytes.empty()) continue;
            const auto out = envelope(request.data(), r);
            controller_.noteAnswered(r.logged);
            if (split && out.size() > 10) {
                // Cut inside the header and inside the frame.
                const std::size_t cuts[] = {0, 5, 10, out.size()};
                const int gap = r.delay.count() > 0 ? static_cast<int>(delayMs(r)) : kSplitGapMs;
                for (int i = 0; i < 3; ++i) {
                    if (i > 0 && !pause(gap)) return stop = true, false;
                    sendAll(cl.fd, out.data() + cuts[i], cuts[i + 1] - cuts[i]);
                }
            } else {
                sendAll(cl.fd, out.data(), out.size());
            }
        }
        return true;
    }
    void run() {
        std::vector<Client> clients;
        for (;;) {
            std::vector<pollfd> p{{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            for (auto &c : clients) p.push_back({c.fd, POLLIN, 0});
            if (poll(p.data(), p.size(), -1) < 0 && errno != EINTR) break;
            if (p[1].revents) break;
            // Only the clients that were polled; one accepted now waits for the next round.
            const std::size_t polled = clients.size();
            if (p[0].revents & POLLIN) {
                const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) clients.push_back({c, {}});
            }
            bool stop = false;
            for (std::size_t i = 0; i < polled && !stop; ++i) {
                if (!p[i + 2].revents) continue;
                std::uint8_t buf[4096];
                const ssize_t n = recv(clients[i].fd, buf, sizeof buf, MSG_DONTWAIT);
                bool keep = n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
                if (n > 0) {
                    clients[i].in.insert(clients[i].in.end(), buf, buf + n);
                    keep = serve(clients[i], stop);
                }
                if (!keep) {
                    ::close(clients[i].fd);
                    clients[i].fd = -1;
                }
            }
            std::erase_if(clients, [](const Client &c) { return c.fd < 0; });
            if (stop) break;
        }
        for (auto &c : clients) ::close(c.fd);
    }
};

}  // namespace

std::unique_ptr<Server> startUdp(Controller &c, const std::string &address, std::string *why) {
    const int fd = openSocket(SOCK_DGRAM, address, 3000, why);
    if (fd < 0) return nullptr;
    auto s = std::make_unique<UdpServer>(c, fd, address + ":3000");
    s->start();
    return s;
}

std::unique_ptr<Server> startTcp(Controller &c, const std::string &address, std::string *why) {
    const int fd = openSocket(SOCK_STREAM, address, 6000, why);
    if (fd < 0) return nullptr;
    auto s = std::make_unique<TcpServer>(c, fd, address + ":6000");
    s->start();
    return s;
}

}  // namespace orvemu
