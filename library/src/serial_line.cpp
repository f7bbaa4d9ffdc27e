#include "serial_line.h"

#include <algorithm>

namespace orv {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

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
    // looks soon finds, on a busy machine a few milliseconds late), over
    // about the time they take on the line. An adapter that collects them
    // hands them over in one piece, one with a latency timer in pieces of
    // all that crossed in its 16 ms or so.
    const auto fewBytes = 2 + static_cast<std::size_t>(milliseconds(4) / character);
    const bool paced = largestChunk < rest && largestChunk <= fewBytes && span >= onLine / 2 - character / 2 &&
                       span <= onLine + milliseconds(4);
    paced_ = paced ? paced_ + 1 : 0;
}

void SerialLine::AnswerTimes::Kept::note(Duration d) {
    times[seen % kRecent] = d;
    ++seen;
    if (seen % kRecent == 0) earlier[(seen / kRecent - 1) % kEarlier] = *std::max_element(times.begin(), times.end());
}

SerialLine::Duration SerialLine::AnswerTimes::Kept::most() const {
    const auto recent = std::min(seen, kRecent);
    Duration m = *std::max_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(recent));
    const auto runs = std::min(seen / kRecent, kEarlier);
    for (std::size_t i = 0; i < runs; ++i) m = std::max(m, earlier[i]);
    return m;
}

SerialLine::Duration SerialLine::AnswerTimes::Kept::least() const {
    const auto recent = std::min(seen, kRecent);
    return *std::min_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(recent));
}

void SerialLine::AnswerTimes::note(std::uint8_t code, Duration took) {
    all_.note(took);
    byCode_[code].note(took);
}

const SerialLine::AnswerTimes::Kept *SerialLine::AnswerTimes::forLongest(std::uint8_t code) const {
    if (const auto it = byCode_.find(code); it != byCode_.end() && it->second.seen >= kOwnLongest) return &it->second;
    return all_.seen > 0 ? &all_ : nullptr;
}

const SerialLine::AnswerTimes::Kept *SerialLine::AnswerTimes::forQuickest(std::uint8_t code) const {
    if (const auto it = byCode_.find(code); it != byCode_.end()) return &it->second;
    return all_.seen > 0 ? &all_ : nullptr;
}

std::optional<SerialLine::Duration> SerialLine::AnswerTimes::longest(std::uint8_t code) const {
    const Kept *k = forLongest(code);
    if (!k) return std::nullopt;
    return k->most();
}

std::optional<SerialLine::Duration> SerialLine::AnswerTimes::quickest(std::uint8_t code) const {
    const Kept *k = forQuickest(code);
    if (!k) return std::nullopt;
    return k->least();
}

SerialLine::Duration SerialLine::AnswerTimes::margin(std::uint8_t code) const {
    const auto most = longest(code), least = quickest(code);
    if (!most || !least) return milliseconds(1);
    return milliseconds(1) + std::max(*most, Duration{}) / 16 + std::max(*most - *least, Duration{}) / 16;
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

std::optional<SerialLine::Duration> SerialLine::answerWithin(const Request &q) const {
    const auto longest = answers_.longest(q.code);
    if (!longest) return std::nullopt;
    // An answer goes out its turnaround after the reply before it was out,
    // and its first byte crosses. On a line that does not keep its rate the
    // times learnt may leave out a crossing that took no time.
    Duration within = *longest + q.character + answers_.margin(q.code);
    if (!rate_.keepsRate()) within += q.crossing;
    return within;
}

std::optional<SerialLine::TimePoint> SerialLine::trustedAfter(std::chrono::milliseconds quietPeriod) const {
    if (state_ != State::InStep || twoMayBeOwed_) return std::nullopt;
    // Quiet for the whole quiet period, the line owes nothing; no learnt
    // time asks for more.
    if (proofDue()) return lastEnd_ + quietPeriod;
    const auto within = answerWithin(last_);
    if (!within) return std::nullopt;
    return lastEnd_ + std::min<Duration>(*within, quietPeriod);
}

bool SerialLine::answeredApart(std::uint8_t code) const {
    const int mine = answers_.replyCode(code), owed = answers_.replyCode(last_.code);
    return state_ == State::InStep && mine >= 0 && owed >= 0 && mine != owed;
}

std::optional<SerialLine::TimePoint> SerialLine::sendNoSooner(const Request &r,
                                                              std::chrono::milliseconds quietPeriod) const {
    if (answeredApart(r.code)) return std::nullopt;
    const auto after = trustedAfter(quietPeriod);
    const auto quickest = answers_.quickest(r.code);
    if (!after || !quickest) return std::nullopt;
    // The request's own answer comes no sooner than its bytes' time, the
    // quickest answer and its first byte's time after it goes out.
    return *after - (r.crossing + r.character + *quickest) + kSendSlack;
}

bool SerialLine::tooSoon(const Request &q, const Reply &r) const {
    return rate_.keepsRate() && r.first - r.sent < q.crossing;
}

SerialLine::Verdict SerialLine::judge(const Request &q, const Reply &r, std::chrono::milliseconds quietPeriod) const {
    // Watched for the whole quiet period, a reply proves the line in step
    // whatever the controller's times: an answer still owed comes within it.
    const Verdict watchWhole{r.last + quietPeriod, true};
    // After a fault (or before anything is known) the controller has just
    // exceeded what was learnt, or nothing is: learnt times bound nothing.
    // After a time-out the reply may be the late answer, and its request's
    // own as late; after two in a row, the reply may be the first's and the
    // second's held past the watch.
    if (state_ != State::InStep) return timedOut_ > 0 ? Verdict{r.last + 2 * quietPeriod, timedOut_ < 2} : watchWhole;
    if (twoMayBeOwed_) return watchWhole;
    const auto longest = answers_.longest(q.code), quickest = answers_.quickest(q.code);
    if (!longest || !quickest) return watchWhole;
    const Duration margin = answers_.margin(q.code), took = answeredAfter(q, r);
    // Sooner than any answer this controller gave to this request: an old
    // answer come again, or one the line still owed; its form proves
    // nothing, and the learnt times do not hold for it. (Judged by when its
    // first byte came at the latest: a late look must not make it slower.)
    const TimePoint firstAtLatest = r.firstBy && rate_.keepsRate() ? std::min(r.first, *r.firstBy) : r.first;
    if (took - (r.first - firstAtLatest) < *quickest - margin) return watchWhole;
    // Slower than any it gave: the longest answer time is not known to
    // hold for it (nor, after a wait of the quiet period, that the
    // controller kept to the time-out meanwhile).
    if (took > *longest + margin) return watchWhole;
    const auto quietFor = r.quietUntil ? *r.quietUntil - lastEnd_ : Duration::min();
    // Nothing was owed once the line had been quiet for the quiet period.
    if (quietFor >= quietPeriod) return {std::nullopt, true};
    // Another form than the last request's answer: not the answer still
    // owed, if any. (Nor sooner than any, unless the machine looked so late
    // that the reply's time cannot be told: then the learnt times watch it.)
    const bool timeTold = !(r.cameAtOnce && rate_.keepsRate());
    if (timeTold && answeredApart(q.code) && r.code == answers_.replyCode(q.code)) return {std::nullopt, true};
    // A proof was due and the reply came before it could be had.
    if (proofDue()) return watchWhole;
    // This request's own answer, if the reply was not it, comes within the
    // longest answer time after the reply.
    const Duration within = std::min<Duration>(*answerWithin(last_), quietPeriod);
    if (quietFor >= within) return {};
    return {r.last + std::min<Duration>(*answerWithin(q), quietPeriod), false};
}

void SerialLine::trusted(const Request &q, const Reply &r, bool proof) {
    answers_.note(q.code, answeredAfter(q, r));
    // A refusal can answer any request: it tells nothing of the form.
    if (r.code < 0x65 || r.code > 0x69) answers_.noteReplyCode(q.code, r.code);
    state_ = State::InStep;
    owed_ = {};
    lastEnd_ = r.last;
    last_ = q;
    sinceProof_ = proof ? 0 : sinceProof_ + 1;
    twoMayBeOwed_ = timedOut_ >= 2;
    timedOut_ = 0;
}

}  // namespace orv
