#include "peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "orvcomm.h"

namespace fuzz {

namespace {

constexpr std::uint16_t kUdpPort = 3000;
constexpr std::uint16_t kTcpPort = 6000;
constexpr std::size_t kNetHeader = 8;

[[noreturn]] void die(const char *what) {
    std::fprintf(stderr, "fake peer: %s: %s\n", what, std::strerror(errno));
    std::exit(2);
}

std::uint8_t checksum(const std::uint8_t *p, std::size_t n) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum = static_cast<std::uint8_t>(sum + p[i]);
    return static_cast<std::uint8_t>(~sum);
}

// Makes frame bytes [0, n) a consistent reply frame L, code, data, checksum,
// FF. The long block replies (03 6E, 03 72) keep their own form.
void fixFrame(std::uint8_t *p, std::size_t n) {
    if (n < 4 || n > 256) return;
    if (p[0] == 3 && (p[1] == 0x6E || p[1] == 0x72)) return;
    p[0] = static_cast<std::uint8_t>(n - 1);
    p[n - 2] = checksum(p + 1, n - 3);
    p[n - 1] = 0xFF;
}

const Bytes kErrorReply = {0x03, 0x66, 0x99, 0xFF};  // "illegal register"

}  // namespace

struct FakePeer::State {
    std::mutex lock;  // held while a reply is chosen and sent
    std::vector<Bytes> replies;
    std::size_t next = 0;
    bool fixFrames = false;
    bool fixSequence = false;
    std::function<Bytes(std::span<const std::uint8_t>)> answer;

    int fd = -1;        // pty master, UDP socket or TCP listener
    int conn = -1;      // the accepted TCP connection
    Bytes pending;      // request bytes not yet answered (serial, TCP)
    std::uint32_t address = 0;  // loopback address, network order
    int comPort = 0;
    int slave = -1;     // kept open so that the pty never hangs up

    // The reply to one request frame (envelope taken off), or nullopt
    // when the script is spent.
    bool reply(std::span<const std::uint8_t> frame, Bytes &out) {
        if (answer) {
            out = answer(frame);
            return true;
        }
        if (next >= replies.size()) return false;
        out = replies[next++];
        return true;
    }
};

FakePeer::FakePeer(Link link) : link_(link), state_(std::make_unique<State>()) {
    State &s = *state_;
    if (link == Link::Serial) {
        s.fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (s.fd < 0 || grantpt(s.fd) != 0 || unlockpt(s.fd) != 0) die("pseudo-terminal");
        char name[128];
        if (ptsname_r(s.fd, name, sizeof name) != 0) die("ptsname");
        s.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (s.slave < 0) die("pseudo-terminal slave");
        termios t{};
        if (tcgetattr(s.slave, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(s.slave, TCSANOW, &t);
        }
        s.comPort = 200 + static_cast<int>(getpid() % 100);
        setenv(("ORVCOMM_COM" + std::to_string(s.comPort)).c_str(), name, 1);
    } else {
        const bool tcp = link == Link::Tcp;
        s.fd = socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
        if (s.fd < 0) die("socket");
        // A loopback address of this process's own: the controller's ports
        // are fixed.
        std::srand(static_cast<unsigned>(getpid()));
        for (int attempt = 0;; ++attempt) {
            const std::uint32_t host = (127u << 24) | ((160u + std::rand() % 64) << 16) |
                                       (static_cast<std::uint32_t>(std::rand() % 256) << 8) |
                                       (1u + std::rand() % 254);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(tcp ? kTcpPort : kUdpPort);
            a.sin_addr.s_addr = htonl(host);
            if (bind(s.fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
                s.address = a.sin_addr.s_addr;
                break;
            }
            if (attempt > 100) die("bind");
        }
        if (tcp && listen(s.fd, 4) != 0) die("listen");
    }
    std::thread([this] {
        State &st = *state_;
        std::uint8_t in[4096];
        for (;;) {
            pollfd p[2] = {{st.fd, POLLIN, 0}, {st.conn, POLLIN, 0}};
            if (poll(p, st.conn >= 0 ? 2 : 1, -1) < 0) continue;
            if (link_ == Link::Tcp && (p[0].revents & POLLIN)) {
                const int c = accept4(st.fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) {
                    // The library opens one connection per run: a new one
                    // replaces the old.
                    std::lock_guard<std::mutex> g(st.lock);
                    if (st.conn >= 0) ::close(st.conn);
                    st.conn = c;
                    st.pending.clear();
                }
                continue;
            }
            if (link_ == Link::Udp) {
                sockaddr_in from{};
                socklen_t fromLength = sizeof from;
                const ssize_t n = recvfrom(st.fd, in, sizeof in, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
                if (n < 0) continue;
                std::lock_guard<std::mutex> g(st.lock);
                if (n < static_cast<ssize_t>(kNetHeader)) continue;
                Bytes out;
                const bool scripted =
                    st.reply({in + kNetHeader, static_cast<std::size_t>(n) - kNetHeader}, out);
                if (!scripted || st.answer) {
                    Bytes frame = scripted ? out : kErrorReply;
                    out.assign(in, in + kNetHeader);
                    out[6] = static_cast<std::uint8_t>(frame.size());
                    out[7] = static_cast<std::uint8_t>(frame.size() >> 8);
                    out.insert(out.end(), frame.begin(), frame.end());
                } else {
                    if (st.fixSequence && out.size() >= 4) std::memcpy(out.data() + 2, in + 2, 2);
                    if (st.fixFrames && out.size() > kNetHeader) fixFrame(out.data() + kNetHeader, out.size() - kNetHeader);
                }
                sendto(st.fd, out.data(), out.size(), 0, reinterpret_cast<sockaddr *>(&from), fromLength);
                continue;
            }
            // Serial and TCP: a byte stream cut into requests.
            const int from = link_ == Link::Serial ? st.fd : st.conn;
            const pollfd &ready = link_ == Link::Serial ? p[0] : p[1];
            if (!(ready.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = read(from, in, sizeof in);
            std::lock_guard<std::mutex> g(st.lock);
            if (n <= 0) {
                if (link_ == Link::Tcp && from == st.conn) {
                    ::close(st.conn);
                    st.conn = -1;
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                continue;
            }
            if (from != (link_ == Link::Serial ? st.fd : st.conn)) continue;
            st.pending.insert(st.pending.end(), in, in + n);
            for (;;) {
                std::size_t whole = 0;
                std::size_t header = 0;
                if (link_ == Link::Serial) {
                    // A binary frame 01 L ...; anything else is a text request,
                    // taken as it came.
                    if (st.pending[0] != 0x01) whole = st.pending.size();
                    else if (st.pending.size() >= 2 && st.pending.size() >= st.pending[1] + 2u)
                        whole = st.pending[1] + 2u;
                } else if (st.pending.size() >= kNetHeader) {
                    header = kNetHeader;
                    const std::size_t length = st.pending[6] | (st.pending[7] << 8);
                    if (st.pending.size() >= kNetHeader + length) whole = kNetHeader + length;
                }
                if (whole == 0) break;
                const Bytes request(st.pending.begin(), st.pending.begin() + static_cast<std::ptrdiff_t>(whole));
                st.pending.erase(st.pending.begin(), st.pending.begin() + static_cast<std::ptrdiff_t>(whole));
                Bytes out;
                const bool scripted = st.reply({request.data() + header, request.size() - header}, out);
                if (!scripted && link_ == Link::Tcp) {
                    ::close(st.conn);
                    st.conn = -1;
                    st.pending.clear();
                    break;
                }
                if (link_ == Link::Tcp && (st.answer || !scripted)) {
                    Bytes frame = out;
                    out.assign(request.begin(), request.begin() + kNetHeader);
                    out[6] = static_cast<std::uint8_t>(frame.size());
                    out[7] = static_cast<std::uint8_t>(frame.size() >> 8);
                    out.insert(out.end(), frame.begin(), frame.end());
                } else if (!scripted) {
                    out = kErrorReply;
                } else if (!st.answer) {
                    if (link_ == Link::Tcp && st.fixSequence && out.size() >= 4)
                        std::memcpy(out.data() + 2, request.data() + 2, 2);
                    if (st.fixFrames && out.size() > header) fixFrame(out.data() + header, out.size() - header);
                }
                const int to = link_ == Link::Serial ? st.fd : st.conn;
                for (std::size_t done = 0; done < out.size();) {
                    const ssize_t w = ::send(to, out.data() + done, out.size() - done, MSG_NOSIGNAL);
                    const ssize_t k = w < 0 && errno == ENOTSOCK ? ::write(to, out.data() + done, out.size() - done) : w;
                    if (k <= 0) break;
                    done += static_cast<std::size_t>(k);
                }
                if (st.pending.empty()) break;
            }
        }
    }).detach();
}

FakePeer::~FakePeer() = default;  // the peers live as long as the process

void FakePeer::play(std::vector<Bytes> replies, bool fixFrames, bool fixSequence) {
    std::lock_guard<std::mutex> g(state_->lock);
    state_->replies = std::move(replies);
    state_->next = 0;
    state_->fixFrames = fixFrames;
    state_->fixSequence = fixSequence;
    state_->pending.clear();
}

void FakePeer::answerWith(std::function<Bytes(std::span<const std::uint8_t>)> answer) {
    std::lock_guard<std::mutex> g(state_->lock);
    state_->answer = std::move(answer);
}

std::int32_t FakePeer::open(std::int32_t timeoutMs) {
    std::int32_t id = 0;
    switch (link_) {
    case Link::Serial: id = ZqOpenConnection(ZQ_TYPE_SERIAL, state_->comPort, 0); break;
    case Link::Udp: id = ZqOpenConnection(ZQ_TYPE_UDP, 0, static_cast<std::int32_t>(state_->address)); break;
    case Link::Tcp: id = ZqOpenConnection(ZQ_TYPE_TCP, 0, static_cast<std::int32_t>(state_->address)); break;
    }
    if (id != 0) ZqSetConnectionTimeout(id, timeoutMs);
    return id;
}

Script ParseScript(const std::uint8_t *data, std::size_t size) {
    Script s;
    if (size < 3) return s;
    s.op = data[0];
    s.arg = data[1];
    s.fixFrames = (data[2] & 1) != 0;
    s.fixSequence = (data[2] & 2) != 0;
    std::size_t at = 3;
    while (at + 2 <= size && s.replies.size() < 1024) {
        const std::size_t n = std::min<std::size_t>(data[at] | (data[at + 1] << 8), size - at - 2);
        s.replies.emplace_back(data + at + 2, data + at + 2 + n);
        at += 2 + n;
    }
    return s;
}

Bytes FormatScript(const Script &s) {
    Bytes out{s.op, s.arg, static_cast<std::uint8_t>((s.fixFrames ? 1 : 0) | (s.fixSequence ? 2 : 0))};
    for (const Bytes &r : s.replies) {
        out.push_back(static_cast<std::uint8_t>(r.size()));
        out.push_back(static_cast<std::uint8_t>(r.size() >> 8));
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

}  // namespace fuzz
