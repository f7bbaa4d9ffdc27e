// What a serial line can be trusted with between two exchanges, and the
// rules that move it. Kept apart from the port and its reads, so that the
// rule can be read (and tested) as the rule it is.
//
// A controller works off its requests one after another: it answers each a
// turnaround after the request is in and its answer before is out, and that
// turnaround varies from request to request and may change for good at any
// moment (most often right after a fault). A serial line carries no
// sequence numbers, so a line one reply behind (an answer held past its
// time-out, a copy of an answer sent as the next request came) looks clean
// at every exchange: each request is handed the answer to the one before.
// Only time tells: when the line is one behind, the answer still owed comes
// within the controller's answer time after the reply just taken, whenever
// the next request went out (the line keeps the controller's cadence).
//
// What can be proven without anything learnt: an answer comes within the
// quiet period (the time-out) or is a fault, so a line that stayed quiet for
// the whole quiet period after a reply owes nothing. What is learnt (the
// controller's quickest and longest answer times) only holds while the
// controller keeps to them; a line that has fallen behind unseen keeps
// teaching it times that are too short. So learnt times bound the ordinary
// exchange, and a proof that rests on nothing learnt comes often enough to
// end any run they miss.
//
// The line is in one of three states:
//
//   in step  The last reply was its request's own as far as time can tell.
//            A reply is trusted when the line has stayed quiet for the
//            controller's longest answer time after the reply before it
//            (an answer still owed would have come by then); to make sure
//            it can, a request goes out only once its own answer can no
//            longer come sooner than that (a steady controller, or a
//            caller whose calls are spaced wider, waits for nothing). A
//            reply that comes sooner, or whose time cannot be told (a busy
//            machine looked too late), is watched for that time. A reply
//            sooner or slower than any this controller gave to its request
//            is watched for the whole quiet period: the learnt times do not
//            hold for it.
//   owing    An answer may still be owed, at a time nobody knows: a new
//            connection (what the line owed its last user is not known), a
//            line that was dirty, a text exchange. The controller has just
//            broken what was learnt, or nothing is known: the next reply is
//            watched for the whole quiet period (twice that after a
//            time-out: the reply may be the late answer, and its request's
//            own as late).
//   dirty    Bytes that answer nothing may be on their way: an exchange did
//            not end cleanly. The next request first waits until the line
//            has been quiet for the quiet period (counted from the last
//            byte seen either way), and the line is owing.
//
// A proof that the line is in step comes at least every kProofEvery
// exchanges: the line quiet for the whole quiet period after a reply before
// the next reply comes (the request is held back so that its own answer
// cannot come sooner; a caller whose calls are spaced that wide gives it
// for nothing), or a reply watched that long. A reply also proves itself by
// its form: when this request's answers carry another reply code than the
// last request's (a value after a write's acknowledgement), the answer
// still owed, if any, could not pass for this one. That needs no waiting,
// though a reply sooner or slower than any is watched all the same. (Only
// a line two behind could hand each of a read and a write in turn an
// answer of its own form, and in such traffic one extra answer shows at
// once by its form: two come at once only after two time-outs in a row.)
//
// After two time-outs in a row both answers may have been held past them,
// the second as long again after the first: no watch bounds it. The first
// reply then may be the first answer, and no proof; the second answer may
// come as the next request goes out, the one after it within its
// turnaround: the next reply is watched for the whole quiet period.
//
// A watch that sees bytes fails the call and leaves the line dirty. So do
// bytes that come while a request waits to go out: the reply before them was
// not its request's own, or the line repeats itself.
//
// Answer times are learnt only from replies that the exchange accepted whole
// (their form included), per request code (a controller may read quickly and
// write slowly), and so is the reply code that answers each request code.
// Whether the line keeps its rate is judged from how a reply's own bytes
// arrive: paced, one by one at the character time; a line that hands them
// over at once or in bursts is never judged by its rate.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

namespace orv {

class SerialLine {
public:
    using Clock = std::chrono::steady_clock;
    using Duration = Clock::duration;
    using TimePoint = Clock::time_point;
    enum class State { InStep, Owing, Dirty };

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
    // together. The quickest counts over the last 64 answers, the longest
    // over the last 256 to 319 (the current run of 64 and the four before
    // it: a slow answer now and then is the controller's longest for a
    // while).
    class AnswerTimes {
    public:
        void note(std::uint8_t code, Duration took);
        // The longest an answer to a request of this code took: its own
        // replies' once it has 16, all codes' before. nullopt when no reply
        // has been trusted.
        std::optional<Duration> longest(std::uint8_t code) const;
        // The quickest, from the first reply of its code on.
        std::optional<Duration> quickest(std::uint8_t code) const;
        // What the controller may still exceed the longest by, or beat the
        // quickest by, unseen: 1 ms, a sixteenth of the longest and a
        // sixteenth of the spread between the two.
        Duration margin(std::uint8_t code) const;
        // The reply code that answered the last trusted request of this
        // code (refusals aside); -1 while none has.
        void noteReplyCode(std::uint8_t code, std::uint8_t replyCode) { replyCodes_[code] = replyCode; }
        int replyCode(std::uint8_t code) const { return replyCodes_[code]; }

    private:
        struct Kept {
            static constexpr std::size_t kRecent = 64, kEarlier = 4;
            std::array<Duration, kRecent> times{};
            // The longest of each of the runs of 64 before the last.
            std::array<Duration, kEarlier> earlier{};
            std::size_t seen = 0;
            void note(Duration d);
            Duration most() const;
            Duration least() const;
        };
        const Kept *forLongest(std::uint8_t code) const;
        const Kept *forQuickest(std::uint8_t code) const;
        static constexpr std::size_t kOwnLongest = 16;
        Kept all_;
        std::map<std::uint8_t, Kept> byCode_;
        std::array<std::int16_t, 256> replyCodes_ = [] {
            std::array<std::int16_t, 256> a{};
            a.fill(-1);
            return a;
        }();
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
        // Its code byte.
        std::uint8_t code = 0;
        // On a line that keeps its rate, the latest its first byte can have
        // come, by the bytes that were already behind it when the reader
        // looked (a busy machine looks late, and the reply looks later
        // than it was).
        std::optional<TimePoint> firstBy;
        // Its bytes were all there at the first look after its first: when
        // it came cannot be told.
        bool cameAtOnce = false;
        // The line was seen quiet from the last trusted reply up to this
        // moment (none: not known to be).
        std::optional<TimePoint> quietUntil;
    };
    // What a reply needs before it is trusted: nothing, or the line quiet
    // until `watchUntil`; and whether, once trusted, it proves the line in
    // step without anything learnt.
    struct Verdict {
        std::optional<TimePoint> watchUntil;
        bool proof = false;
    };
    // A proof that rests on nothing learnt comes at least this often, so
    // that no run of stale values that the learnt times let through outlasts
    // it.
    static constexpr int kProofEvery = 64;

    State state() const { return state_; }
    // An exchange did not end cleanly.
    void dirty() { state_ = State::Dirty; }
    // A request had no reply within its time-out. Its answer may still come,
    // as late again as the time-out; should the next reply be that answer,
    // the next request's own may come as late.
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

    // A request goes out under `timeout`: its answer may take that long,
    // however short a time-out is set later.
    void sending(std::chrono::milliseconds timeout);
    // How long the line must stay quiet to have nothing more on its way:
    // the time-out, or the longest one that a request went out under since
    // the line was last in step.
    std::chrono::milliseconds quietPeriod(std::chrono::milliseconds timeout) const;

    // In step: when the line has stayed quiet long enough after the last
    // reply for a reply to be trusted as it comes (the whole quiet period
    // when a proof is due). Otherwise none.
    std::optional<TimePoint> trustedAfter(std::chrono::milliseconds quietPeriod) const;
    // In step: the moment before which the request must not go out, so that
    // its own answer cannot come before trustedAfter(). Otherwise none.
    std::optional<TimePoint> sendNoSooner(const Request &r, std::chrono::milliseconds quietPeriod) const;
    // Whether a reply on a line that keeps its rate came before its request
    // could have crossed it (another request's answer, a repeated one).
    bool tooSoon(const Request &q, const Reply &r) const;
    Verdict judge(const Request &q, const Reply &r, std::chrono::milliseconds quietPeriod) const;
    // The reply was its request's own, and the exchange took it as its
    // answer: the line is in step, and the reply's time is learnt.
    void trusted(const Request &q, const Reply &r, bool proof);
    // Exchanges trusted since the last proof.
    int sinceProof() const { return sinceProof_; }

    RateJudge &rate() { return rate_; }
    const RateJudge &rate() const { return rate_; }
    const AnswerTimes &answers() const { return answers_; }

private:
    // The controller's part of a reply's time: less the request's bytes and
    // the reply's first byte on the line.
    static Duration answeredAfter(const Request &q, const Reply &r) {
        return r.first - r.sent - q.crossing - q.character;
    }
    // The most an answer to a request like q can take after the reply
    // before it is out, first byte in, with the margin its learning leaves;
    // none while unknown.
    std::optional<Duration> answerWithin(const Request &q) const;
    // In step, and the answers to this request code carry another reply
    // code than the last request's: an answer still owed cannot pass for
    // this request's.
    bool answeredApart(std::uint8_t code) const;
    // The next exchange is to prove the line in step.
    bool proofDue() const { return sinceProof_ + 1 >= kProofEvery; }

    State state_ = State::Owing;
    // The longest time-out that a request went out under since the line
    // was last in step.
    std::chrono::milliseconds owed_{0};
    // The last trusted reply's end, and its request.
    TimePoint lastEnd_{};
    Request last_{};
    int sinceProof_ = 0;
    // Requests timed out in a row since the last trusted reply.
    int timedOut_ = 0;
    // The last trusted reply came after two time-outs in a row or more: it
    // may have been the first one's answer, the second held past any
    // watch. The next reply is watched for the whole quiet period (the
    // answer still owed then follows it within its turnaround).
    bool twoMayBeOwed_ = false;
    RateJudge rate_;
    AnswerTimes answers_;
};

}  // namespace orv
