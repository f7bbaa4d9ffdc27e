#include "serial_line.h"

#include <algorithm>

namespace orv {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// What an answer time learnt from the last 64 may still fall short of the
// controller's own longest: a sixteenth of it, and a millisecond.
SerialLine::Duration marginOf(SerialLine::Duration longest) {
    return milliseconds(1) + std::max(longest, SerialLine::Duration{}) / 16;
}
// What the quickest answer learnt may still be beaten by, in the time a
// request is held back: the request then comes a little early, and its
// reply is watched.
constexpr microseconds kSendSlack{500};
// A reply's bytes tell nothing of the line's rate when they all take less
// than this on it.
constexpr microseconds kShortestJudged{500};

}  // namespace

void SerialLine::RateJudge::note(std::size_t rest, Duration span, std::size_t largestChunk, Duration character) {
    if (keepsRate() || character.count() <= 0 || rest < 2) return;
    const auto onLine = character * static_cast<std::int64_t>(rest);
    if (onLine < kShortestJudged) return;
    // Paced: the rest came in pieces of a few bytes (what a reader that
    // looks at once finds), over about the time they take on the line.
    const auto fewBytes = 2 + static_cast<std::size_t>(milliseconds(1) / character);
    const bool paced = largestChunk < rest && largestChunk <= fewBytes && span >= onLine / 2 - character / 2 &&
                       span <= onLine + milliseconds(2);
    paced_ = paced ? paced_ + 1 : 0;
}

void SerialLine::AnswerTimes::note(std::uint8_t code, Duration took) {
    all_.note(took);
    byCode_[code].note(took);
}

SerialLine::Duration SerialLine::AnswerTimes::Kept::most() const {
    return *std::max_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(count()));
}

SerialLine::Duration SerialLine::AnswerTimes::Kept::least() const {
    return *std::min_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(count()));
}

std::optional<SerialLine::Duration> SerialLine::AnswerTimes::longest(std::uint8_t code) const {
    const Kept &own = byCode_[code];
    if (own.seen >= kOwnLongest) return own.most();
    if (all_.seen == 0) return std::nullopt;
    return all_.most();
}

std::optional<SerialLine::Duration> SerialLine::AnswerTimes::quickest(std::uint8_t code) const {
    const Kept &own = byCode_[code];
    if (own.seen > 0) return own.least();
    if (all_.seen == 0) return std::nullopt;
    return all_.least();
}

void SerialLine::textExchanged() {
    if (state_ == State::InStep) state_ = State::Owing;
}

void SerialLine::openedDirty(std::chrono::milliseconds owed) {
    state_ = State::Dirty;
    owed_ = std::max(owed_, owed);
}

void SerialLine::sending(std::chrono::milliseconds timeout) { owed_ = std::max(owed_, timeout); }

std::chrono::milliseconds SerialLine::quietPeriod(std::chrono::milliseconds timeout) const {
    return std::max(timeout, owed_);
}

std::optional<SerialLine::Duration> SerialLine::owedWithin() const {
    const auto longest = answers_.longest(last_.code);
    if (!longest) return std::nullopt;
    // An answer owed goes out its turnaround after the last reply was out,
    // and its first byte crosses. On a line that does not keep its rate the
    // times learnt may leave out a crossing that took no time.
    Duration within = *longest + last_.character + marginOf(*longest);
    if (!rate_.keepsRate()) within += last_.crossing;
    return within;
}

std::optional<SerialLine::TimePoint> SerialLine::trustedAfter() const {
    if (state_ != State::InStep) return std::nullopt;
    const auto within = owedWithin();
    if (!within) return std::nullopt;
    return lastEnd_ + *within;
}

bool SerialLine::answeredApart(std::uint8_t code) const {
    const int mine = answers_.replyCode(code), owed = answers_.replyCode(last_.code);
    return state_ == State::InStep && mine >= 0 && owed >= 0 && mine != owed;
}

std::optional<SerialLine::TimePoint> SerialLine::sendNoSooner(const Request &r) const {
    if (answeredApart(r.code)) return std::nullopt;
    const auto after = trustedAfter();
    const auto quickest = answers_.quickest(r.code);
    if (!after || !quickest) return std::nullopt;
    // The request's own answer comes no sooner than its bytes' time, the
    // quickest answer and its first byte's time after it goes out.
    return *after - (r.crossing + r.character + *quickest) + kSendSlack;
}

bool SerialLine::tooSoon(const Request &q, const Reply &r) const {
    return rate_.keepsRate() && r.first - r.sent < q.crossing;
}

std::optional<SerialLine::TimePoint> SerialLine::watchUntil(const Request &q, const Reply &r,
                                                            std::chrono::milliseconds quietPeriod) const {
    if (answeredApart(q.code) && r.code == answers_.replyCode(q.code)) return std::nullopt;
    const auto longest = answers_.longest(q.code);
    // A reply slower than any this controller gave proves nothing by its
    // time: the longest answer time is not known to hold for it. Nor is
    // anything known before the first reply.
    if (!longest || answeredAfter(q, r) > *longest + marginOf(*longest)) return r.last + quietPeriod;
    if (state_ == State::InStep && r.quietUntilTrusted) return std::nullopt;
    // This request's own answer, if the reply was not it, comes within the
    // longest answer time after the reply.
    Duration within = *longest + q.character + marginOf(*longest);
    if (!rate_.keepsRate()) within += q.crossing;
    return r.last + within;
}

void SerialLine::trusted(const Request &q, const Reply &r) {
    answers_.note(q.code, answeredAfter(q, r));
    // A refusal can answer any request: it tells nothing of the form.
    if (r.code < 0x65 || r.code > 0x69) answers_.noteReplyCode(q.code, r.code);
    state_ = State::InStep;
    owed_ = {};
    lastEnd_ = r.last;
    last_ = q;
}

}  // namespace orv
