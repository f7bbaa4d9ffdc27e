// The controller's serial side on a pseudo-terminal.
#include "pty_server.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <span>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

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
    // What ended a wait.
    enum class Woke { Stop, Time, Input, Other };

    // Takes in what reached the line, each byte with the time it came; at
    // another rate than ours the bytes are garbled and dropped. True when
    // anything came.
    bool takeInput() {
        bool any = false;
        std::uint8_t buf[512];
        for (ssize_t n; (n = ::read(master_, buf, sizeof buf)) > 0;) {
            const auto now = Clock::now();
            lastActivity_ = now;
            if (!atOurRate()) continue;
            in_.insert(in_.end(), buf, buf + n);
            at_.insert(at_.end(), static_cast<std::size_t>(n), now);
            any = true;
        }
        return any;
    }
    // Waits until `end` (none: no limit), taking in what reaches the line
    // meanwhile: a controller hears requests while it works on an earlier
    // one. Input ends the wait when `onInput`, a move of the chatter switch
    // when `onChatter`, and `other` (when not -1) when it is readable.
    Woke waitUntil(std::optional<Clock::time_point> end, bool onInput, int other = -1, bool onChatter = false) {
        for (;;) {
            timespec wait{};
            timespec *limit = nullptr;
            if (end) {
                const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(*end - Clock::now()).count();
                if (left <= 0) return Woke::Time;
                wait.tv_sec = static_cast<time_t>(left / 1000000000);
                wait.tv_nsec = static_cast<long>(left % 1000000000);
                limit = &wait;
            }
            pollfd p[4] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}, {controller_.chatterFd(), POLLIN, 0},
                           {other, POLLIN, 0}};
            const int r = ppoll(p, other >= 0 ? 4 : 3, limit, nullptr);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 || p[1].revents) return Woke::Stop;
            bool woke = false;
            if (p[2].revents) {
                char scratch[16];
                while (::read(p[2].fd, scratch, sizeof scratch) > 0) {
                }
                woke = onChatter;
            }
            if (p[0].revents & POLLIN) {
                if (takeInput() && onInput) return Woke::Input;
            } else if (p[0].revents & POLLHUP) {
                // With no client the master may report a hang-up: don't spin on it.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (woke || (other >= 0 && p[3].revents)) return Woke::Other;
        }
    }
    bool pauseUntil(Clock::time_point end) { return waitUntil(end, false) != Woke::Stop; }
    bool pause(std::chrono::milliseconds ms) { return pauseUntil(Clock::now() + ms); }

    // How long a character takes on the line as the client set it; zero
    // without line timing (a pseudo-terminal then passes bytes at once).
    std::chrono::nanoseconds characterTime() const {
        if (!controller_.lineTiming()) return {};
        const auto line = readPtyLine(slave_);
        if (!line || line->baud == 0) return {};
        const std::uint64_t bits = 1 + static_cast<std::uint64_t>(line->dataBits) + (line->parity != 'N' ? 1 : 0) +
                                   (line->twoStopBits ? 2 : 1);
        return std::chrono::nanoseconds((bits * 1000000000ull + line->baud - 1) / line->baud);
    }
    // When the last of `bytes` request bytes, the first of which the client
    // wrote at `first` and the last at `last`, has crossed the line.
    Clock::time_point crossed(Clock::time_point first, Clock::time_point last, std::size_t bytes) const {
        return std::max(last, first + characterTime() * static_cast<std::int64_t>(bytes));
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
    // Sends the bytes at the line's rate, each arriving one character time
    // after the one before (the first one after it has crossed the line);
    // `beforeLast` runs just before the last byte (and what goes with it)
    // goes out. An adapter that collects them hands them all over once the
    // last has crossed, one with a latency timer hands over what has
    // crossed at each of its ticks. Bytes past the first `paced` go out
    // with the last of those, in one write (a copy that follows its answer
    // at once, whatever the load). False when told to stop.
    template <typename F>
    bool sendPaced(std::span<const std::uint8_t> bytes, F beforeLast, std::size_t paced = SIZE_MAX) {
        if (bytes.empty()) return true;
        paced = std::clamp<std::size_t>(paced, 1, bytes.size());
        const auto character = characterTime();
        const auto start = Clock::now();
        const Delivery delivery = controller_.delivery();
        // When the byte numbered i (from 0) is handed over.
        auto handedOver = [&](std::size_t i) {
            i = std::min(i, paced - 1);
            const auto crossed = start + character * static_cast<std::int64_t>(i + 1);
            if (delivery == Delivery::AtOnce) return start + character * static_cast<std::int64_t>(paced);
            if (delivery == Delivery::Bursts) {
                const auto tick = std::chrono::milliseconds(controller_.burstMs());
                const auto since = crossed - epoch_;
                return epoch_ + ((since + tick - Clock::duration(1)) / tick) * tick;
            }
            return crossed;
        };
        std::size_t done = 0;
        while (done < bytes.size()) {
            // Every byte whose time has come goes out now.
            std::size_t due = bytes.size();
            if (character.count() > 0) {
                const auto now = Clock::now();
                due = done;
                while (due < bytes.size() && handedOver(due) <= now) ++due;
                if (due <= done) {
                    if (!pauseUntil(handedOver(done))) return false;
                    continue;
                }
            }
            if (due == bytes.size()) {
                // The last byte goes out with all that is due with it, in one write.
                beforeLast();
                send(bytes.data() + done, due - done);
            } else {
                send(bytes.data() + done, due - done);
            }
            done = due;
        }
        return true;
    }
    bool sendPaced(std::span<const std::uint8_t> bytes) {
        return sendPaced(bytes, [] {});
    }
    // Waits until the test lets a held answer go; false when told to stop.
    bool held() {
        for (;;) {
            if (waitUntil(std::nullopt, false, controller_.releaseFd()) == Woke::Stop) return false;
            if (controller_.takeRelease()) return true;
        }
    }
    // Answers one request whose last byte crossed the line at `crossedAt`.
    // The controller works on one request at a time: the answer starts its
    // turnaround (the reply delay) once the request is in and the answer
    // before it is out, and goes out at the line's rate; requests that come
    // meanwhile wait their turn.
    bool answer(const Response &r, Clock::time_point crossedAt) {
        if (!r.noise.empty()) send(r.noise.data(), r.noise.size());
        if (r.unheard) return true;
        const auto due = std::max(crossedAt, Clock::now()) + r.delay;
        if (!pauseUntil(due)) return false;
        const bool hold = r.transportFault == FaultKind::Hold;
        if (hold && !held()) return false;
        if (r.transportFault == FaultKind::HoldForNext && in_.empty() && waitUntil(std::nullopt, true) != Woke::Input)
            return false;
        const std::span<const std::uint8_t> bytes = r.bytes;
        auto answered = [&] { controller_.noteAnswered(r.logged); };
        if (!r.drop && !bytes.empty()) {
            if (r.transportFault == FaultKind::SplitReply && bytes.size() > 2) {
                const std::size_t third = bytes.size() / 3 + 1;
                for (std::size_t at = 0; at < bytes.size(); at += third) {
                    if (at > 0 && !pause(std::chrono::milliseconds(kSplitGapMs))) return false;
                    const bool last = at + third >= bytes.size();
                    if (!sendPaced(bytes.subspan(at, std::min(third, bytes.size() - at)), [&] { if (last) answered(); }))
                        return false;
                }
            } else if (r.transportFault == FaultKind::Duplicate && r.repeatAfter.count() == 0) {
                // Both copies back to back.
                std::vector<std::uint8_t> twice(bytes.begin(), bytes.end());
                twice.insert(twice.end(), bytes.begin(), bytes.end());
                answered();
                if (!sendPaced(twice, [] {}, bytes.size())) return false;
            } else if (!sendPaced(bytes, answered, r.onePiece ? 1 : bytes.size())) {
                return false;
            } else if (r.transportFault == FaultKind::None && controller_.delivery() != Delivery::Bursts) {
                const auto onLine = characterTime() * static_cast<std::int64_t>(bytes.size());
                controller_.noteAnswerLateBy(
                    std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - due - onLine));
            }
            if (r.transportFault == FaultKind::Duplicate && r.repeatAfter.count() != 0) {
                // The copy follows a while after the answer, or once the
                // next request is on the line.
                const bool waited = r.repeatAfter.count() < 0 ? (!in_.empty() || waitUntil(std::nullopt, true) == Woke::Input)
                                                               : pause(r.repeatAfter);
                if (!waited || !sendPaced(bytes)) return false;
            }
        }
        if (hold) controller_.noteHeldSent();
        if (!r.drop && !bytes.empty()) {
            if (r.transportFault == FaultKind::CopyForNext) copiesForNext_ = {r.bytes};
            if (r.transportFault == FaultKind::LastTwoForNext) {
                copiesForNext_.clear();
                if (!answers_.empty()) copiesForNext_.push_back(answers_.back());
                copiesForNext_.push_back(r.bytes);
            }
            answers_.push_back(r.bytes);
            if (answers_.size() > 2) answers_.pop_front();
        }
        return true;
    }
    // The answer to the request two before the one that has just crossed
    // goes out again `after` it is in (OldAnswerEarly).
    bool sendOldAnswer(Clock::time_point crossedAt, std::chrono::milliseconds after) {
        if (answers_.size() < 2) return true;
        const std::vector<std::uint8_t> old = answers_.front();
        return pauseUntil(crossedAt + after) && sendPaced(old);
    }
    // Copies of earlier answers that go out after the request that has just
    // crossed, before that request's own answer: each a turnaround (the
    // controller's usual one) after the request is in and the one before
    // it is out.
    bool sendCopies(Clock::time_point crossedAt) {
        while (!copiesForNext_.empty()) {
            const std::vector<std::uint8_t> copy = std::move(copiesForNext_.front());
            copiesForNext_.pop_front();
            const bool write = copy.size() == 4 && copy[1] == kAck;
            if (!pauseUntil(std::max(crossedAt, Clock::now()) + controller_.drawTurnaround(write)) || !sendPaced(copy))
                return false;
        }
        return true;
    }
    bool atOurRate() const {
        const std::uint32_t baud = controller_.lineBaud(baud_);
        if (baud == 0) return true;
        const auto line = readPtyLine(slave_);
        return line && line->baud == baud;
    }
    // When the controller's own output is due (none: nothing is).
    std::optional<Clock::time_point> quietOutputDue() const {
        const auto after = controller_.quietOutputAfter();
        if (!after) return std::nullopt;
        return lastActivity_ + *after;
    }
    // Takes the first n bytes of the input.
    void consume(std::size_t n) {
        in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(n));
        at_.erase(at_.begin(), at_.begin() + static_cast<std::ptrdiff_t>(n));
    }
    // Answers every whole binary frame (01, L, then L bytes) at the front of
    // the input, in order; false when told to stop.
    bool answerFrames() {
        while (in_.size() >= 2 && in_[0] == 0x01 && in_.size() >= std::size_t(in_[1]) + 2) {
            const std::size_t n = std::size_t(in_[1]) + 2;
            const std::vector<std::uint8_t> frame(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(n));
            const auto heard = at_.front();
            const auto crossedAt = crossed(heard, at_[n - 1], n);
            consume(n);
            const Response r = controller_.handle(frame, heard);
            if (!r.unheard && !sendCopies(crossedAt)) return false;
            if (r.transportFault == FaultKind::OldAnswerEarly && !sendOldAnswer(crossedAt, r.repeatAfter)) return false;
            if (!answer(r, crossedAt)) return false;
            lastActivity_ = Clock::now();
        }
        return true;
    }
    void run() {
        lastActivity_ = Clock::now();
        for (;;) {
            if (!answerFrames()) return;
            // A text request is complete once the line has been quiet a
            // while after it; a frame that stops half-way is noise after a
            // longer pause.
            std::optional<Clock::time_point> end;
            if (!in_.empty()) end = at_.back() + std::chrono::milliseconds(in_[0] == 0x01 ? kStalledFrameMs : kTextPauseMs);
            else end = quietOutputDue();
            const bool chatter = controller_.chattering();
            const auto chatterAt = Clock::now() + std::chrono::milliseconds(kChatterMs);
            if (chatter && in_.empty() && (!end || *end > chatterAt)) end = chatterAt;
            const Woke w = waitUntil(end, true, -1, true);
            if (w == Woke::Stop) return;
            if (w != Woke::Time) continue;
            if (!in_.empty()) {
                if (in_[0] != 0x01) {
                    const auto crossedAt = crossed(at_.front(), at_.back(), in_.size());
                    const std::vector<std::uint8_t> text = in_;
                    consume(in_.size());
                    if (!answer(controller_.handleText(text), crossedAt)) return;
                } else {
                    consume(in_.size());
                }
                lastActivity_ = Clock::now();
            } else if (const auto due = quietOutputDue(); due && *due <= Clock::now()) {
                const auto out = controller_.takeQuietOutput();
                if (!out.empty()) send(out.data(), out.size());
                lastActivity_ = Clock::now();
            } else if (chatter) {
                const std::uint8_t noise = 0;
                send(&noise, 1);
            }
        }
    }

    Controller &controller_;
    int master_;
    int slave_;
    std::string path_;
    std::uint32_t baud_;
    int wake_[2] = {-1, -1};
    // Input not yet answered, and when each of its bytes came.
    std::vector<std::uint8_t> in_;
    std::vector<Clock::time_point> at_;
    // The line's last traffic either way, for the output that the
    // controller sends by itself after a quiet spell.
    Clock::time_point lastActivity_;
    // The ticks of an adapter that hands bytes over in bursts count from here.
    const Clock::time_point epoch_ = Clock::now();
    // Copies of answers due after the next request (CopyForNext, LastTwoForNext).
    std::deque<std::vector<std::uint8_t>> copiesForNext_;
    // The last two answers that went out, the older first.
    std::deque<std::vector<std::uint8_t>> answers_;
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
