// The controller's serial side on a pseudo-terminal.
#include "pty_server.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "pause.h"

namespace orvemu {

namespace {

using Clock = std::chrono::steady_clock;

// A text request ends when the line has been quiet this long; a binary
// frame that stops half-way is thrown away after the longer pause.
constexpr int kTextPauseMs = 10;
constexpr int kStalledFrameMs = 300;
constexpr int kSplitGapMs = 5;
constexpr int kChatterMs = 2;

class PtyServer : public Server {
public:
    PtyServer(Controller &c, int master, int slave, std::string path, std::uint32_t baud)
        : controller_(c), master_(master), slave_(slave), path_(std::move(path)), baud_(baud) {
        if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
        thread_ = std::thread([this] { run(); });
    }
    ~PtyServer() override {
        const char x = 0;
        if (wake_[1] >= 0) [[maybe_unused]] const auto n = ::write(wake_[1], &x, 1);
        thread_.join();
        ::close(master_);
        ::close(slave_);
        if (wake_[0] >= 0) ::close(wake_[0]);
        if (wake_[1] >= 0) ::close(wake_[1]);
    }
    std::string endpoint() const override { return path_; }
    int slave() const { return slave_; }

private:
    // Waits up to ms (-1: no limit) for input; false when told to stop.
    bool wait(int ms, bool &readable) {
        pollfd p[3] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}, {controller_.chatterFd(), POLLIN, 0}};
        readable = false;
        const int r = poll(p, 3, ms);
        if (r < 0) return errno == EINTR;
        if (p[1].revents) return false;
        if (p[2].revents) {
            // The chatter switch moved: look again.
            char scratch[16];
            while (::read(p[2].fd, scratch, sizeof scratch) > 0) {
            }
        }
        readable = (p[0].revents & POLLIN) != 0;
        // With no client the master may report a hang-up: don't spin on it.
        if (!readable && (p[0].revents & POLLHUP)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return true;
    }
    // Sleeps ms unless told to stop; false when told to stop.
    bool pause(int ms) { return pauseUnlessWoken(wake_[0], ms); }
    // Sleeps until `end` and never less, unless told to stop.
    bool pauseUntil(Clock::time_point end) { return pauseUntilOrWoken(wake_[0], end); }
    // With line timing, the soonest an answer may start: the request of
    // `bytes` whose first byte came at `arrived` has crossed the line at its
    // rate, and so has the answer's first character.
    Clock::time_point soonestAnswer(Clock::time_point arrived, std::size_t bytes) const {
        if (!controller_.lineTiming()) return arrived;
        const auto line = readPtyLine(slave_);
        if (!line || line->baud == 0) return arrived;
        const std::uint64_t bits = 1 + static_cast<std::uint64_t>(line->dataBits) + (line->parity != 'N' ? 1 : 0) +
                                   (line->twoStopBits ? 2 : 1);
        const std::uint64_t ns = ((bytes + 1) * bits * 1000000000ull + line->baud - 1) / line->baud;
        return arrived + std::chrono::nanoseconds(ns);
    }
    void send(const std::uint8_t *b, std::size_t n) {
        std::size_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(master_, b + done, n - done);
            if (w > 0) { done += static_cast<std::size_t>(w); continue; }
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && errno != EAGAIN) return;
            pollfd p{master_, POLLOUT, 0};
            if (poll(&p, 1, 1000) <= 0) return;  // nobody reads: give the rest up
        }
    }
    // Waits until the test lets a held answer go; false when told to stop.
    bool held() {
        for (;;) {
            pollfd p[2] = {{controller_.releaseFd(), POLLIN, 0}, {wake_[0], POLLIN, 0}};
            const int r = poll(p, 2, -1);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 || p[1].revents) return false;
            if (controller_.takeRelease()) return true;
        }
    }
    // Waits until the next request reaches the line (it stays there to be
    // read); false when told to stop.
    bool nextRequest() {
        for (bool readable = false; !readable;)
            if (!wait(-1, readable)) return false;
        return true;
    }
    bool answer(const Response &r, Clock::time_point soonest) {
        if (!r.noise.empty()) send(r.noise.data(), r.noise.size());
        if (!pauseUntil(soonest)) return false;
        if (r.delay.count() > 0 && !pause(static_cast<int>(r.delay.count()))) return false;
        const bool hold = r.transportFault == FaultKind::Hold;
        if (hold && !held()) return false;
        if (!r.drop && !r.bytes.empty()) {
            if (r.transportFault == FaultKind::SplitReply && r.bytes.size() > 2) {
                const std::size_t third = r.bytes.size() / 3 + 1;
                for (std::size_t at = 0; at < r.bytes.size(); at += third) {
                    if (at > 0 && !pause(kSplitGapMs)) return false;
                    send(r.bytes.data() + at, std::min(third, r.bytes.size() - at));
                }
            } else if (r.transportFault == FaultKind::Duplicate && r.repeatAfter.count() == 0) {
                // Both copies in one write: they reach the line together.
                std::vector<std::uint8_t> twice = r.bytes;
                twice.insert(twice.end(), r.bytes.begin(), r.bytes.end());
                send(twice.data(), twice.size());
            } else {
                send(r.bytes.data(), r.bytes.size());
            }
            if (r.transportFault == FaultKind::Duplicate && r.repeatAfter.count() != 0) {
                const bool waited = r.repeatAfter.count() < 0 ? nextRequest()
                                                               : pause(static_cast<int>(r.repeatAfter.count()));
                if (!waited) return false;
                send(r.bytes.data(), r.bytes.size());
            }
        }
        if (hold) controller_.noteHeldSent();
        return true;
    }
    bool atOurRate() const {
        const std::uint32_t baud = controller_.lineBaud(baud_);
        if (baud == 0) return true;
        const auto line = readPtyLine(slave_);
        return line && line->baud == baud;
    }
    // Milliseconds until the controller's own output is due (-1: none is).
    int quietOutputIn(Clock::time_point lastActivity) const {
        const auto after = controller_.quietOutputAfter();
        if (!after) return -1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(lastActivity + *after - Clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    void run() {
        std::vector<std::uint8_t> in;
        // The line's last traffic either way, for the output that the
        // controller sends by itself after a quiet spell.
        auto lastActivity = Clock::now();
        // When the first byte of what `in` holds arrived.
        auto arrived = lastActivity;
        for (;;) {
            int timeout = -1;
            const bool chatter = controller_.chattering();
            if (!in.empty()) timeout = in[0] == 0x01 ? kStalledFrameMs : kTextPauseMs;
            else timeout = quietOutputIn(lastActivity);
            if (chatter && in.empty() && (timeout < 0 || timeout > kChatterMs)) timeout = kChatterMs;
            bool readable = false;
            if (!wait(timeout, readable)) return;
            if (readable) {
                std::uint8_t buf[512];
                const ssize_t n = ::read(master_, buf, sizeof buf);
                if (n > 0) lastActivity = Clock::now();
                // At another rate than ours the bytes are garbled: drop them.
                if (n > 0 && !atOurRate()) continue;
                if (n > 0 && in.empty()) arrived = lastActivity;
                if (n > 0) in.insert(in.end(), buf, buf + n);
            } else if (!in.empty()) {
                // Quiet line: a text request is complete, a stalled frame is noise.
                if (in[0] != 0x01 && !answer(controller_.handleText(in), soonestAnswer(arrived, in.size()))) return;
                in.clear();
                lastActivity = Clock::now();
                continue;
            } else if (chatter && quietOutputIn(lastActivity) != 0) {
                const std::uint8_t noise = 0;
                send(&noise, 1);
                continue;
            } else if (quietOutputIn(lastActivity) == 0) {
                const auto out = controller_.takeQuietOutput();
                if (!out.empty()) send(out.data(), out.size());
                lastActivity = Clock::now();
                continue;
            }
            // Binary frames: 01, L, then L bytes.
            while (in.size() >= 2 && in[0] == 0x01 && in.size() >= std::size_t(in[1]) + 2) {
                const std::size_t n = std::size_t(in[1]) + 2;
                const std::vector<std::uint8_t> frame(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(n));
                in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(n));
                if (!answer(controller_.handle(frame), soonestAnswer(arrived, n))) return;
                lastActivity = Clock::now();
                // What is left came with an earlier read: timed from
                // now, its answer can only come later than the line needs.
                arrived = lastActivity;
            }
        }
    }

    Controller &controller_;
    int master_;
    int slave_;
    std::string path_;
    std::uint32_t baud_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace

std::unique_ptr<Server> startPty(Controller &c, std::uint32_t baud) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return nullptr;
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        ::close(master);
        return nullptr;
    }
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return nullptr;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        ::close(master);
        return nullptr;
    }
    // Raw until the client sets the line up, so nothing is echoed or changed.
    termios t{};
    if (tcgetattr(slave, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return std::make_unique<PtyServer>(c, master, slave, name, baud);
}

std::optional<PtyLine> ptyLine(const Server &s) {
    const auto *p = dynamic_cast<const PtyServer *>(&s);
    if (!p) return std::nullopt;
    return readPtyLine(p->slave());
}

}  // namespace orvemu
