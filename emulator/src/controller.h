// The emulated controller: a memory, a dispatch table of request handlers,
// a log of every request's bytes and switches that make it misbehave.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "memory.h"
#include "wire.h"

namespace orvemu {

// How long the controller takes to answer each request, drawn anew for
// each: a spread at random, for reads and writes (requests answered by an
// acknowledgement) apart, a share of answers that take another spread, and
// a step to another spread after a number of requests.
struct Turnaround {
    struct Spread {
        int minUs = 0, maxUs = 0;
        bool operator==(const Spread &) const = default;
    };
    Spread reads, writes;
    // `slowPercent` percent of the answers take `slow` instead.
    int slowPercent = 0;
    Spread slow;
    // From request number stepAfter + 1 on, every answer takes `then`.
    int stepAfter = 0;
    Spread then;

    // MIN to MAX ms for every answer.
    static Turnaround between(int minMs, int maxMs);
    // The longest any answer takes, in microseconds.
    int longestUs() const;
    // Reads a description: "MS" or "MIN-MAX" (ms) for every answer,
    // "R/W" (each MS or MIN-MAX) for reads and writes, "A,B@P%" for B in P
    // percent of the answers and A in the rest, "A,B@N" for A in the first
    // N requests and B after them. nullopt when the text is none of those.
    static std::optional<Turnaround> parse(const std::string &text);
    bool operator==(const Turnaround &) const = default;
};

// Ways to misbehave, applied to the next `count` requests (-1: until cleared).
enum class FaultKind {
    None,
    Drop,             // no reply at all
    Delay,            // reply after delayMs
    CorruptChecksum,  // the reply's checksum byte is wrong
    WrongLength,      // the reply's length byte is one more than it should be
    WrongCode,        // the reply's code byte is changed
    ShortError,       // a short reply with errorCode instead of the answer
    Garbage,          // the bytes of `garbage` instead of the answer, handed over in one piece
    Noise,            // only the `noise` ahead of the answer
    // Transport-level faults, carried out by the transports.
    WrongSequence,    // the envelope carries another sequence number
    SplitReply,       // a TCP reply is sent in several pieces
    PeerClose,        // the TCP peer closes instead of answering
    // Serial line only.
    Duplicate,        // the answer goes out twice: the second copy delayMs after the
                      // first, or with delayMs -1 once the next request is on the line
    Hold,             // the answer waits until Controller::releaseHeld()
    HoldForNext,      // the answer waits until the next request is on the line (which
                      // waits behind it, as on a controller that works off its requests in turn)
    CopyForNext,      // the answer goes out, and a copy of it goes out again a turnaround
                      // after the next request is in, before that request's own answer
    LastTwoForNext,   // as CopyForNext with the last two answers (the one before and this
                      // one): each copy a turnaround after the one before it
    Unheard,          // the controller never hears the request: no answer, no time taken
    OldAnswerEarly,   // the answer to the request two before this one goes out again delayMs
                      // after this request is in, ahead of this request's own answer
};

struct Fault {
    FaultKind kind = FaultKind::None;
    int count = 1;
    int delayMs = 0;
    std::uint8_t errorCode = kUnknownPacket;
    std::vector<std::uint8_t> garbage;
    // Requests answered as usual before the fault starts (a reply lost in
    // the middle of a transfer).
    int after = 0;
    // Bytes that go out at once on receipt of the request, ahead of the
    // answer and any delay or hold (noise on a serial line), with any kind.
    std::vector<std::uint8_t> noise;
    // When not empty, only a request of exactly these bytes takes the fault
    // (and counts for `after`): a fault meant for one request then never
    // lands on an earlier one that the controller is still working off.
    std::vector<std::uint8_t> request;
    // A controller that has just stalled often stays slower: when set, every
    // answer after this request's own takes this many ms more than its
    // turnaround (0: as before the first such fault), for `thenSlowerFor`
    // answers (-1: for good, until another fault says otherwise).
    std::optional<int> thenSlowerMs;
    int thenSlowerFor = -1;
    // A controller may also change its pace altogether: when set, those
    // answers take a turnaround drawn from this spread instead, with any
    // thenSlowerMs on top. A fault that sets either sets both: one with
    // thenSlowerMs alone brings the usual spread back.
    std::optional<Turnaround::Spread> thenTakes;
};

// How a serial line hands the answer's bytes over, with line timing: at
// the line's rate, all at once when the last has crossed (an adapter that
// collects them), or in bursts every `burstMs` (an adapter's latency timer).
enum class Delivery { Paced, AtOnce, Bursts };
// Reads "paced", "once" or "bursts:MS" (MS from 1 to 1000): the delivery
// and its burst time in ms (0 for the first two); nullopt for anything else.
std::optional<std::pair<Delivery, int>> parseDelivery(const std::string &text);

// What a transport is to do with one request.
struct Response {
    std::vector<std::uint8_t> bytes;  // empty with drop
    std::vector<std::uint8_t> noise;  // sent at once, before any delay (serial line)
    bool drop = false;
    std::chrono::microseconds delay{0};
    FaultKind transportFault = FaultKind::None;
    // Duplicate: the gap before the second copy (negative: until the next
    // request); OldAnswerEarly: the gap after the request is in.
    std::chrono::milliseconds repeatAfter{0};
    // The request's place in the controller's log (for noteAnswered).
    std::size_t logged = 0;
    // The request was never heard: the line goes on at once.
    bool unheard = false;
    // A serial line hands the bytes over together, once the first has
    // crossed (what follows a text reply's terminator is there with it).
    bool onePiece = false;
};

class Controller;
// A handler answers one request code with a whole reply frame.
using Handler = std::function<std::vector<std::uint8_t>(Controller &, const Request &)>;
// A text handler answers the bytes of a text request (serial lines only:
// anything that does not start a binary frame) with the bytes of its reply.
using TextHandler = std::function<std::vector<std::uint8_t>(Controller &, std::span<const std::uint8_t>)>;

class Controller {
public:
    // The models named by the library's model code (register 13008).
    explicit Controller(int model = 5);
    ~Controller();
    Controller(const Controller &) = delete;
    Controller &operator=(const Controller &) = delete;

    using Clock = std::chrono::steady_clock;
    // Answers one request frame exactly as the transport received it; its
    // first byte came at `heard` (none: now).
    Response handle(std::span<const std::uint8_t> frame, std::optional<Clock::time_point> heard = std::nullopt);

    void setHandler(std::uint8_t code, Handler h);
    // The handler of a request code (empty when there is none).
    Handler handler(std::uint8_t code) const;
    // The answer of the handler of r's code (an unknown code gets the short
    // reply 0x67), neither logged nor subject to a fault: for handlers that
    // carry another request inside their own.
    std::vector<std::uint8_t> dispatch(const Request &r);
    // Answers a text request: logged like a frame, with the same faults
    // (drop, delay, garbage); by default the text is echoed back.
    Response handleText(std::span<const std::uint8_t> text);
    void setTextHandler(TextHandler h);
    void setFault(Fault f);
    // Faults taken one after the other: each applies to its own requests
    // and, once used up, hands over to the next (a late reply, then a lost one).
    void setFaults(std::vector<Fault> faults);
    void clearFault();
    // Every answer goes out after a delay drawn anew between minMs and maxMs
    // (besides any fault's), as a real line and controller take time.
    void setReplyDelay(int minMs, int maxMs);
    // The same drawn from a whole turnaround model.
    void setTurnaround(const Turnaround &t);
    // A turnaround drawn as for an answer that is a write's acknowledgement
    // or not (for an answer the transport sends of its own accord), at the
    // controller's usual time (without what a fault made it slower by).
    std::chrono::microseconds drawTurnaround(bool write);
    // How a serial line with line timing hands answers over.
    void setDelivery(Delivery d, int burstMs = 16);
    Delivery delivery() const;
    int burstMs() const;
    // The turnarounds drawn for answers so far: their number and sum.
    std::pair<std::uint64_t, std::chrono::microseconds> turnaroundsDrawn() const;
    // A transport notes how much later than its time an answer's last byte
    // went out (its turnaround and its bytes at the line's rate): a busy
    // machine makes the controller late too. lateAnswers() counts those
    // notes over 1 ms, beside all notes.
    void noteAnswerLateBy(std::chrono::microseconds late);
    std::pair<std::uint64_t, std::uint64_t> lateAnswers() const;
    // Real line timing on a serial line: no answer starts before its request
    // could have crossed the line at the rate the line is set to, and its
    // own first character after it (the reply delay comes on top). Off, a
    // pseudo-terminal answers at once, whatever its rate.
    void setLineTiming(bool on);
    bool lineTiming() const;

    // A serial line that keeps talking: while on, the controller sends a
    // byte every few milliseconds whenever it has nothing else to do.
    void setChatter(bool on);
    bool chattering() const;
    // Readable after setChatter, so that an idle transport looks again.
    int chatterFd() const { return chatterPipe_[0]; }

    // Held answers (FaultKind::Hold): each releaseHeld() lets the oldest one
    // go; heldSent() counts those the transport has put on the line. The
    // transport waits for releaseFd() to become readable and then calls
    // takeRelease() and, once the answer is out, noteHeldSent().
    void releaseHeld();
    std::size_t heldSent() const;
    int releaseFd() const { return release_[0]; }
    bool takeRelease();
    void noteHeldSent();

    // The serial line as the module sets it: the rate the controller hears
    // at (the module's after a baud switch, else serverBaud), and the bytes
    // it sends by itself once the line has been quiet for quietOutputAfter()
    // (the module's boot report; nullopt when nothing is due).
    std::uint32_t lineBaud(std::uint32_t serverBaud) const;
    std::optional<std::chrono::milliseconds> quietOutputAfter() const;
    std::vector<std::uint8_t> takeQuietOutput();

    // A transport calls noteAnswered(r.logged) as the last byte of the
    // answer to that request goes out; answerSent() tells whether the
    // answer to the latest request of exactly these bytes has gone out.
    void noteAnswered(std::size_t logged);
    bool answerSent(std::span<const std::uint8_t> request) const;

    // Requests of exactly these bytes take no fault that does not name them
    // (nor count for its `after`), and the log as requests(), lastRequest() and
    // requestCount() give it leaves them out: a test's faults and its look
    // at the log then concern the requests it makes, not the serial line's
    // checks that its library sends between them.
    void passOver(std::vector<std::vector<std::uint8_t>> frames);
    // The status and configuration reads, whole, as a serial line's checks
    // go out: what a test's controller passes over.
    static std::vector<std::vector<std::uint8_t>> statusAndConfigReads() {
        return {{0x01, 0x03, 0x3D, 0xC2, 0xFF}, {0x01, 0x03, 0x41, 0xBE, 0xFF}};
    }
    // Every request frame received, in order.
    std::vector<std::vector<std::uint8_t>> requests() const;
    // Those from place `from` in the log on (places in the whole log, as
    // Response::logged gives them, passed-over requests included).
    std::vector<std::vector<std::uint8_t>> requestsSince(std::size_t from) const;
    // When the first byte of the request at that place in the log came
    // (none past the log's end).
    std::optional<Clock::time_point> heardAt(std::size_t logged) const;
    std::vector<std::uint8_t> lastRequest() const;
    std::size_t requestCount() const;
    void clearLog();

    // Direct access for handlers (called with the controller's lock held)
    // and for tests (through withMemory).
    Memory &memory() { return memory_; }
    int model() const { return model_; }
    template <typename F> auto withMemory(F f) {
        std::lock_guard lock(mutex_);
        return f(memory_);
    }

private:
    // Adds a request to the log: its place there.
    std::size_t log(std::span<const std::uint8_t> request, std::optional<Clock::time_point> heard = std::nullopt);
    std::optional<Fault> takeFault(std::span<const std::uint8_t> request);
    void applyTransportFault(const Fault &f, Response &r);
    void addReplyDelay(Response &r);
    // A turnaround drawn from the spread.
    std::chrono::microseconds draw(Turnaround::Spread s);

    mutable std::recursive_mutex mutex_;
    Memory memory_;
    int model_;
    std::map<std::uint8_t, Handler> handlers_;
    TextHandler textHandler_;
    std::vector<std::vector<std::uint8_t>> log_;
    std::vector<bool> answered_;  // beside log_
    std::vector<Clock::time_point> heard_;  // beside log_
    std::vector<std::vector<std::uint8_t>> passOver_;
    bool passedOver(std::span<const std::uint8_t> request) const;
    std::deque<Fault> faults_;
    Turnaround turnaround_;
    // Binary requests answered so far, for the turnaround's step.
    std::uint64_t answeredCount_ = 0;
    std::chrono::microseconds drawnSum_{0};
    std::uint64_t timedAnswers_ = 0, lateAnswers_ = 0;
    // What a fault made the answers slower by, for how many more (-1: for good).
    std::chrono::microseconds slowerBy_{0};
    long slowerFor_ = 0;
    // The spread those answers take instead of the usual one.
    std::optional<Turnaround::Spread> slowerTakes_;
    bool lineTiming_ = false;
    Delivery delivery_ = Delivery::Paced;
    int burstMs_ = 16;
    std::mt19937 delayRng_{12345};
    int release_[2] = {-1, -1};
    std::size_t heldSent_ = 0;
    bool chatter_ = false;
    int chatterPipe_[2] = {-1, -1};
};

// Each command family installs its handlers.
void installRegisterHandlers(Controller &c);
void installVRegisterHandlers(Controller &c);
void installIoHandlers(Controller &c);
void installDataTableHandlers(Controller &c);
void installStatusHandlers(Controller &c);
void installRawCommandHandlers(Controller &c);
void installTransferHandlers(Controller &c);
void installModuleHandlers(Controller &c);

}  // namespace orvemu
