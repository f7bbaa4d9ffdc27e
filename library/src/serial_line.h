// What a serial line can be trusted with between two exchanges, and the
// rules that move it. Kept apart from the port and its reads, so that the
// rule can be read (and tested) as the rule it is.
//
// A controller works off its requests one after another: it answers each a
// turnaround after the request is in and its answer before is out, and that
// turnaround varies from request to request and may change for good at any
// moment (most often right after a fault, and past the time-out). A serial
// line carries no sequence numbers, so a line one or two replies behind (an
// answer held past its time-out, a copy of an answer sent as the next
// request came) looks clean at every exchange: each request is handed the
// answer to one before it.
//
// No time proves the line in step: a controller may answer later than any
// time-out, and a quiet line then only means its answer is still on the
// way. What proves it is the form of a reply. The line has two checks,
// harmless reads that every model answers, whose answers have forms of their
// own (the status read, 04 3E .., and the configuration read, 04 42 ..). A
// check goes out with a form that no answer the line may still owe can
// have; a reply of another form is an answer the line owed and is thrown
// away, and once the check's own answer comes, every answer owed before it
// has come (the controller answers in order). A check goes out:
//
//   before a request, as the first exchange after anything that leaves the
//            line not known to be in step (a new connection, a fault the
//            line saw, a text exchange), so that a late answer, however
//            late, is told by its form and never taken for the request's;
//   after a reply, proving that reply: when it came sooner (by more than
//            two answers count alike) or slower than any answer this
//            controller gave to its request, or at a time it never
//            answered in (the learnt times do not hold for it),
//            and at least every kCheckEvery exchanges without another
//            proof. A reply of another form ahead of the check's own
//            answer is the request's own answer, come after the reply
//            that was taken for it: the call fails.
//
// Learnt times are the cheap filter for the exchanges between two checks.
// When the line is one behind, the answer still owed comes within the
// controller's answer time after the reply just taken, whenever the next
// request went out. A reply is trusted once the line has stayed quiet that
// long after the reply before it; so that it can be, a request goes out only
// once its own answer can no longer come sooner (a steady controller, or a
// caller whose calls are spaced wider, waits for nothing; a jittery one's
// requests wait about the spread of its answer times); a reply that comes
// sooner all the same is watched for the longest answer time, and so is
// every reply of a controller whose quickest answer is at most a quarter of
// its slowest seen twice (one that answers quickly and now and then
// slowly), for that slowest: its own answer then shows should the reply
// have been an old one sent again near the quick time. A watch that sees
// bytes fails the call.
//
// The line is in one of four states:
//
//   in step  The last reply was its request's own as far as the line can
//            tell; the learnt times judge the next.
//   owing    An answer may be owed, at a time nobody knows: a new
//            connection, a line that was dirty and has been quiet since, a
//            text exchange. The next request goes after a check.
//   behind   An answer the line owed has come, or is coming, whole: a watch
//            saw bytes, a reply came too soon or in another form, bytes
//            waited before a request. The next check reads past them.
//   dirty    Bytes that answer nothing may be on their way, or a frame was
//            broken: the next request first waits until the line has been
//            quiet for the quiet period (counted from the last byte seen
//            either way), and the line is owing.
//
// Requests sent with ZqSendData as they stand, and those of a program load
// (between its begin and end), get no check: their exchanges keep the rule
// that rests on the time-out (the first reply after a fault, and one sooner
// or slower than any, watched for the whole quiet period, and a proof by a
// quiet line at least every kQuietProofEvery exchanges).
//
// Answer times are learnt only from replies that the exchange accepted whole
// (their form included), per request code (a controller may read quickly and
// write slowly), from when the reply's first byte came on the line: on a
// line that keeps its rate, the bytes already behind it at each look tell
// the latest it can have come, so that a machine that looks late does not
// teach the line its own lateness. Whether the line keeps its rate is judged
// from how a reply's own bytes arrive: paced, one by one at the character
// time; a line that hands them over at once or in bursts is never judged by
// its rate.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace orv {

class SerialLine {
public:
    using Clock = std::chrono::steady_clock;
    using Duration = Clock::duration;
    using TimePoint = Clock::time_point;
    enum class State { InStep, Owing, Behind, Dirty };

    // Whether the line keeps its rate, as its replies' bytes showed: 8
    // replies in a row whose bytes came one by one at the character time.
    // Once it has, it does for the connection's life (a busy machine that
    // reads late sees bytes together; a line cannot hand them over paced
    // unless it keeps its rate).
    class RateJudge {
    public:
        bool keepsRate() const { return paced_ >= kSeen; }
        // A reply of 1 + `rest` bytes: the rest came over `span` after the
        // first, the most at one look `largestChunk`.
        void note(std::size_t rest, Duration span, std::size_t largestChunk, Duration character);

    private:
        static constexpr int kSeen = 8;
        int paced_ = 0;
    };

    // How long this controller takes to answer: from the moment its
    // request's last byte is in to its answer's first byte going out, as
    // trusted replies showed it, for each request code and for all codes
    // together, over the last 256 to 319 answers (the current run of 64 and
    // the four before it: a slow or a quick answer now and then, seen three
    // times, stays the controller's for a while).
    class AnswerTimes {
    public:
        void note(std::uint8_t code, Duration took);
        // The longest an answer to a request of this code took: its own
        // replies' once it has 16, all codes' before. nullopt when no reply
        // has been trusted.
        std::optional<Duration> longest(std::uint8_t code) const;
        // The quickest, from the first reply of its code on.
        std::optional<Duration> quickest(std::uint8_t code) const;
        // The longest seen twice (at least the longest): a controller that
        // answers slowly only now and then shows it before the slow answers
        // count three. All codes' while the code has fewer than 64 answers
        // of its own.
        std::optional<Duration> slowest(std::uint8_t code) const;
        // What the controller may still exceed the longest by unseen: 1 ms,
        // a sixteenth of the longest and a sixteenth of the spread between
        // the longest and the quickest.
        Duration margin(std::uint8_t code) const;
        // Whether answers to this code took about `took`: at least three of
        // those the quickest counts over are alike to it. A controller whose
        // answers come at a few times (mostly quick, now and then slow)
        // never answers between them, and an old answer sent again there is
        // told; a lone answer a busy controller sent late does not make its
        // time usual.
        bool usual(std::uint8_t code, Duration took) const;
        // How many answers to requests of this code were learnt from.
        std::size_t count(std::uint8_t code) const {
            const auto it = byCode_.find(code);
            return it == byCode_.end() ? 0 : it->second.seen;
        }

    private:
        // The last 256 to 319 answers (the current run of 64 and the four
        // before it), and what they tell, worked out as each is noted.
        struct Kept {
            static constexpr std::size_t kRun = 64, kRuns = 5;
            std::array<Duration, kRun * kRuns> times{};
            std::size_t seen = 0;
            // The answers counted, quickest first.
            std::vector<Duration> sorted;
            // How near two answers come to be alike (half a millisecond, or
            // a 64th of the spread), and the longest and quickest of those
            // with at least two others alike: a lone answer a busy
            // controller sent late, or a busy machine saw early, bounds
            // nothing for long (checks prove the replies beyond them).
            Duration alike{}, most{}, least{};
            // The longest with one other alike.
            Duration twice{};
            void note(Duration d);
            // How many counted answers are alike to `d`.
            std::size_t near(Duration d) const;
        };
        const Kept *forLongest(std::uint8_t code) const;
        const Kept *forQuickest(std::uint8_t code) const;
        static constexpr std::size_t kOwnLongest = 16, kOwnSlowest = 64;
        Kept all_;
        std::map<std::uint8_t, Kept> byCode_;
    };

    // A request about to go out, or gone out.
    struct Request {
        std::uint8_t code = 0;
        // The time its bytes and its answer's first byte take on the line
        // (the controller cannot answer sooner than the bytes' time).
        Duration crossing{}, character{};
    };
    // A reply read whole.
    struct Reply {
        TimePoint sent, first, last;
        // Its length and code bytes.
        std::uint8_t length = 0, code = 0;
        // On a line that keeps its rate, the latest its first byte can have
        // come, by the bytes that were already behind it at each look (a
        // busy machine looks late, and the reply looks later than it was).
        std::optional<TimePoint> firstBy;
        // The line was seen quiet from the last trusted reply up to this
        // moment (none: not known to be).
        std::optional<TimePoint> quietUntil;
    };
    // What a reply needs before it is trusted: nothing, the line quiet
    // until `watchUntil`, or a check after it; and whether, once trusted,
    // it proves the line in step (only on the rule of the time-out).
    struct Verdict {
        std::optional<TimePoint> watchUntil;
        bool check = false;
        bool proof = false;
    };
    // The two checks: the status and the configuration read, as requested
    // (01 03 code ~code FF) and as answered (04 reply value checksum FF).
    struct Check {
        std::uint8_t request, reply;
    };
    static constexpr std::array<Check, 2> kChecks{{{0x3D, 0x3E}, {0x41, 0x42}}};
    static constexpr std::uint8_t kCheckReplyLength = 4;
    // A check comes at least this often, so that no run of stale values
    // that the learnt times let through outlasts it: one short exchange in
    // this many.
    static constexpr int kCheckEvery = 32;
    // Without checks, the proof by a quiet line comes this often.
    static constexpr int kQuietProofEvery = 64;

    State state() const { return state_; }
    // An exchange did not end cleanly: the line may carry bytes that
    // answer nothing.
    void dirty() { state_ = State::Dirty; }
    // An answer the line owed came, or is on its way, whole.
    void behind() {
        if (state_ != State::Dirty) state_ = State::Behind;
    }
    // A request had no reply within its time-out. Its answer may still come,
    // as late again as the time-out or later.
    void timedOut() {
        state_ = State::Dirty;
        ++timedOut_;
    }
    // The line has been quiet for a whole quiet period: what was on its way
    // has come, but an answer held longer may still be owed.
    void quiet() { state_ = State::Owing; }
    // A text exchange ran: its reply is nobody's proof of the line's step.
    void textExchanged();
    // A port opened on a device whose line was left dirty, owing answers
    // within `owed`.
    void openedDirty(std::chrono::milliseconds owed);

    // A request of `code` goes out under `timeout`: its answer may take
    // that long, however short a time-out is set later.
    void sending(std::uint8_t code, std::chrono::milliseconds timeout);
    // A reply came whole: an answer of its form is no longer owed.
    void seen(const Reply &r);
    // How long the line must stay quiet to have nothing more on its way:
    // the time-out, or the longest one that a request went out under since
    // the line was last in step.
    std::chrono::milliseconds quietPeriod(std::chrono::milliseconds timeout) const;

    // The check to send before a request of `next` (0: none follows): one
    // whose answer's form no answer owed can have, nor (where the other
    // allows it) the request's own or the last two requests' (a copy of an
    // answer comes as the next request goes).
    const Check &checkFor(std::uint8_t next) const;
    // The check's own answer came: the line is in step, and the check is
    // the last exchange.
    void proved(const Request &check, const Reply &r);

    // In step: when the line has stayed quiet long enough after the last
    // reply for a reply to be trusted as it comes. Otherwise none.
    // `checks`: whether the exchange may have a check.
    std::optional<TimePoint> trustedAfter(std::chrono::milliseconds quietPeriod, bool checks) const;
    // In step: the moment before which the request must not go out, so that
    // its own answer cannot come before trustedAfter(). Otherwise none.
    std::optional<TimePoint> sendNoSooner(const Request &r, std::chrono::milliseconds quietPeriod,
                                          bool checks) const;
    // Whether a reply on a line that keeps its rate came before its request
    // could have crossed it (another request's answer, a repeated one).
    bool tooSoon(const Request &q, const Reply &r) const;
    Verdict judge(const Request &q, const Reply &r, std::chrono::milliseconds quietPeriod, bool checks) const;
    // The reply was its request's own, and the exchange took it as its
    // answer: the line is in step, and the reply's time is learnt.
    void trusted(const Request &q, const Reply &r, bool proof);
    // Exchanges trusted since the last proof.
    int sinceProof() const { return sinceProof_; }

    RateJudge &rate() { return rate_; }
    const RateJudge &rate() const { return rate_; }
    const AnswerTimes &answers() const { return answers_; }

private:
    // When the reply's first byte came on the line, as well as can be told.
    TimePoint firstOnLine(const Reply &r) const {
        return r.firstBy && rate_.keepsRate() ? std::min(r.first, *r.firstBy) : r.first;
    }
    // The controller's part of a reply's time: less the request's bytes and
    // the reply's first byte on the line.
    Duration answeredAfter(const Request &q, const Reply &r) const {
        return firstOnLine(r) - r.sent - q.crossing - q.character;
    }
    // The most an answer to a request like q can take after the reply
    // before it is out, first byte in, with the margin its learning leaves;
    // none while unknown.
    std::optional<Duration> answerWithin(const Request &q) const;
    // How long after a reply to q the line is watched whatever the reply's
    // time: the slowest answer time seen twice, where the quickest answer
    // (and a character) is at most a quarter of that. None: not watched so.
    std::optional<Duration> watchAfterReply(const Request &q) const;
    // The rule of the time-out (no checks): the reply is watched for the
    // whole quiet period, or twice that after a time-out.
    Verdict byQuietLine(const Reply &r, std::chrono::milliseconds quietPeriod) const;
    // The next exchange is to prove the line in step.
    bool proofDue(bool checks) const { return sinceProof_ + 1 >= (checks ? kCheckEvery : kQuietProofEvery); }
    int checkOf(std::uint8_t requestCode) const;

    State state_ = State::Owing;
    // The longest time-out that a request went out under since the line
    // was last in step.
    std::chrono::milliseconds owed_{0};
    // The last trusted reply's end, and its request; whether that was a
    // check's own answer (nothing was owed then).
    TimePoint lastEnd_{};
    Request last_{};
    bool lastProved_ = false;
    int sinceProof_ = 0;
    // Requests timed out in a row since the last trusted reply.
    int timedOut_ = 0;
    // Without checks: the last trusted reply came after two time-outs in a
    // row or more, and the second answer may be held past any watch.
    bool twoMayBeOwed_ = false;
    // For each check, the request count at which one of its form went out
    // whose answer has not come since the last proof (0: none owed); and
    // the codes of the last two requests.
    std::array<std::uint64_t, 2> checkOwed_{};
    std::uint64_t requests_ = 0;
    std::array<std::uint8_t, 2> recent_{};
    RateJudge rate_;
    AnswerTimes answers_;
};

}  // namespace orv
