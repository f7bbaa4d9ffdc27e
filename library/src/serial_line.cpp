#include "serial_line.h"

#include <algorithm>

namespace orv {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// How near two answer times must come to be alike, at the least: what a
// reader that looks promptly may misjudge one by. A time is the
// controller's once this many answers are alike to it.
constexpr microseconds kUsualWithin{500};
constexpr std::size_t kSeenAlike = 3;
// What the quickest answer learnt may still be beaten by, in the time a
// request is held back: an answer alike to the quickest still comes once
// the line has been quiet long enough; one sooner than that comes early,
// and is proven.
constexpr microseconds kSendSlack = kUsualWithin;
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
    times[seen++ % times.size()] = d;
    const std::size_t count = std::min(seen, (kRuns - 1) * kRun + seen % kRun);
    sorted.resize(count);
    for (std::size_t i = 0; i < count; ++i) sorted[i] = times[(seen - 1 - i) % times.size()];
    std::sort(sorted.begin(), sorted.end());
    alike = std::max<Duration>(kUsualWithin, (sorted.back() - sorted.front()) / 64);
    // The longest and quickest answers with two others alike; while none
    // has, the longest and quickest of all.
    most = sorted.back();
    least = sorted.front();
    twice = Duration::min();
    bool anyAlike = false;
    for (std::size_t i = 0, lo = 0, hi = 0; i < count; ++i) {
        while (sorted[i] - sorted[lo] > alike) ++lo;
        while (hi < count && sorted[hi] - sorted[i] <= alike) ++hi;
        if (hi - lo >= 2) twice = sorted[i];
        if (hi - lo < kSeenAlike) continue;
        if (!anyAlike) least = sorted[i];
        most = sorted[i];
        anyAlike = true;
    }
    twice = std::max(twice, most);
}

std::size_t SerialLine::AnswerTimes::Kept::near(Duration d) const {
    const auto from = std::lower_bound(sorted.begin(), sorted.end(), d - alike);
    const auto to = std::upper_bound(sorted.begin(), sorted.end(), d + alike);
    return static_cast<std::size_t>(to - from);
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
    return k->most;
}

std::optional<SerialLine::Duration> SerialLine::AnswerTimes::quickest(std::uint8_t code) const {
    const Kept *k = forQuickest(code);
    if (!k) return std::nullopt;
    return k->least;
}

std::optional<SerialLine::Duration> SerialLine::AnswerTimes::slowest(std::uint8_t code) const {
    const Kept *k = forLongest(code);
    if (!k) return std::nullopt;
    // While a code has few answers of its own, its slow ones may not have
    // shown twice yet though other codes' have: the controller's own.
    const auto it = byCode_.find(code);
    if (it != byCode_.end() && it->second.seen < kOwnSlowest) return std::max(k->twice, all_.twice);
    return k->twice;
}

bool SerialLine::AnswerTimes::usual(std::uint8_t code, Duration took) const {
    const Kept *k = forQuickest(code);
    return k && k->near(took) >= kSeenAlike;
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

int SerialLine::checkOf(std::uint8_t requestCode) const {
    for (std::size_t i = 0; i < kChecks.size(); ++i)
        if (kChecks[i].request == requestCode) return static_cast<int>(i);
    return -1;
}

void SerialLine::sending(std::uint8_t code, std::chrono::milliseconds timeout) {
    owed_ = std::max(owed_, timeout);
    ++requests_;
    recent_[1] = recent_[0];
    recent_[0] = code;
    if (const int i = checkOf(code); i >= 0 && checkOwed_[static_cast<std::size_t>(i)] == 0)
        checkOwed_[static_cast<std::size_t>(i)] = requests_;
}

void SerialLine::seen(const Reply &r) {
    if (r.length != kCheckReplyLength) return;
    for (std::size_t i = 0; i < kChecks.size(); ++i)
        if (kChecks[i].reply == r.code) checkOwed_[i] = 0;
}

std::chrono::milliseconds SerialLine::quietPeriod(std::chrono::milliseconds timeout) const {
    return std::max(timeout, owed_);
}

const SerialLine::Check &SerialLine::checkFor(std::uint8_t next) const {
    // What speaks against each: an answer of its form owed (it would pass
    // for the check's own), the request that follows being of its form (a
    // check answered by an old answer of its form leaves its own owed,
    // which then shows by its form against that request's), and a request
    // of its form among the last two (a copy of an answer comes as the
    // next request goes).
    const auto against = [&](std::size_t i) {
        const std::uint8_t code = kChecks[i].request;
        return (checkOwed_[i] != 0 ? 4 : 0) + (code == next ? 2 : 0) + (recent_[0] == code || recent_[1] == code);
    };
    const int a = against(0), b = against(1);
    // Both owed: the one owed longer is the likelier to have come or gone.
    if (a == b && checkOwed_[0] != 0) return kChecks[checkOwed_[1] < checkOwed_[0] ? 1 : 0];
    return kChecks[b < a ? 1 : 0];
}

void SerialLine::proved(const Request &check, const Reply &r) {
    trusted(check, r, true);
    lastProved_ = true;
    twoMayBeOwed_ = false;
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

std::optional<SerialLine::Duration> SerialLine::watchAfterReply(const Request &q) const {
    const auto within = answerWithin(q), slowest = answers_.slowest(q.code), quickest = answers_.quickest(q.code);
    if (!within || !slowest || !quickest) return std::nullopt;
    // A controller that answers quickly and now and then slowly: a copy
    // sent again near its quick time looks usual, and only its request's
    // own answer, which follows, shows it. The line's rate does not enter:
    // at a slow rate the watch costs the request's crossing more than the
    // hold it replaces, but the copy is as likely.
    // The slowest is never below the longest the answers owed are bounded by.
    const Duration watch = *within + (*slowest - *answers_.longest(q.code));
    if (4 * (*quickest + q.character) > watch) return std::nullopt;
    return watch;
}

std::optional<SerialLine::TimePoint> SerialLine::trustedAfter(std::chrono::milliseconds quietPeriod,
                                                              bool checks) const {
    if (state_ != State::InStep) return std::nullopt;
    // Right after a check's own answer nothing is owed.
    if (checks && lastProved_) return std::nullopt;
    if (!checks && twoMayBeOwed_) return std::nullopt;
    // Without checks, quiet for the whole quiet period the line owes
    // nothing (as long as the controller keeps to the time-out).
    if (!checks && proofDue(false)) return lastEnd_ + quietPeriod;
    const auto within = answerWithin(last_);
    if (!within) return std::nullopt;
    return lastEnd_ + std::min<Duration>(*within, quietPeriod);
}

std::optional<SerialLine::TimePoint> SerialLine::sendNoSooner(const Request &r, std::chrono::milliseconds quietPeriod,
                                                              bool checks) const {
    const auto after = trustedAfter(quietPeriod, checks);
    const auto quickest = answers_.quickest(r.code);
    if (!after || !quickest) return std::nullopt;
    // The request's own answer comes no sooner than its bytes' time, the
    // quickest answer and its first byte's time after it goes out.
    return *after - (r.crossing + r.character + *quickest) + kSendSlack;
}

bool SerialLine::tooSoon(const Request &q, const Reply &r) const {
    return rate_.keepsRate() && r.first - r.sent < q.crossing;
}

SerialLine::Verdict SerialLine::byQuietLine(const Reply &r, std::chrono::milliseconds quietPeriod) const {
    // After a time-out the reply may be the late answer, and its request's
    // own as late; after two in a row, the reply may be the first's and the
    // second's held past the watch.
    if (state_ != State::InStep && timedOut_ > 0) return {r.last + 2 * quietPeriod, false, timedOut_ < 2};
    return {r.last + quietPeriod, false, true};
}

SerialLine::Verdict SerialLine::judge(const Request &q, const Reply &r, std::chrono::milliseconds quietPeriod,
                                      bool checks) const {
    // Where the learnt times do not hold, a check proves the reply; without
    // checks, a watch of the whole quiet period does (while the controller
    // keeps to the time-out).
    const Verdict prove = checks ? Verdict{std::nullopt, true, false} : byQuietLine(r, quietPeriod);
    // After a fault (or before anything is known) the controller has just
    // exceeded what was learnt, or nothing is: learnt times bound nothing.
    if (state_ != State::InStep) return prove;
    if (!checks && twoMayBeOwed_) return prove;
    // Too little learnt of this request's answers to judge it by: right
    // after a check's own answer nothing was owed (a copy of that answer
    // has the check's form), and the reply is taken; otherwise it is proven.
    if (answers_.count(q.code) < kSeenAlike) return checks && lastProved_ ? Verdict{} : prove;
    const auto longest = answers_.longest(q.code), quickest = answers_.quickest(q.code);
    if (!longest || !quickest) return prove;
    const Duration margin = answers_.margin(q.code), took = answeredAfter(q, r);
    // Sooner than any answer this controller gave to this request: an old
    // answer come again, or one the line still owed; its form proves
    // nothing, and the learnt times do not hold for it. Sooner by less than
    // two answers count alike is the quickest time as a reader tells it
    // (the request was held back as much more, so that such a reply still
    // comes once the line has been quiet long enough). The rule of the
    // time-out leaves it the margin.
    if (took < *quickest - (checks ? Duration{kUsualWithin} : margin)) return prove;
    // Slower than any it gave: the longest answer time is not known to
    // hold for it.
    if (took > *longest + margin) return prove;
    // At a time this controller never answered in, between the times it
    // keeps to.
    if (checks && !answers_.usual(q.code, took)) return prove;
    const auto quietFor = r.quietUntil ? *r.quietUntil - lastEnd_ : Duration::min();
    // Without checks: nothing was owed once the line had been quiet for the
    // quiet period.
    if (!checks && quietFor >= quietPeriod) return {std::nullopt, false, true};
    if (proofDue(checks)) return prove;
    const auto watchFor = [&](Duration d) { return Verdict{r.last + std::min<Duration>(d, quietPeriod), false, false}; };
    // A controller that answers quickly, and now and then slowly: the watch
    // shows any answer the reply was not, an old one sent again at a usual
    // time included.
    if (const auto slow = checks ? watchAfterReply(q) : std::nullopt) return watchFor(*slow);
    // A check's own answer came last: nothing was owed.
    if (checks && lastProved_) return {};
    const Duration within = std::min<Duration>(*answerWithin(last_), quietPeriod);
    if (quietFor >= within) return {};
    // This request's own answer, if the reply was not it, comes within the
    // longest answer time after the reply.
    return watchFor(*answerWithin(q));
}

void SerialLine::trusted(const Request &q, const Reply &r, bool proof) {
    answers_.note(q.code, answeredAfter(q, r));
    state_ = State::InStep;
    owed_ = {};
    lastEnd_ = r.last;
    last_ = q;
    lastProved_ = false;
    sinceProof_ = proof ? 0 : sinceProof_ + 1;
    if (proof) checkOwed_ = {};
    twoMayBeOwed_ = timedOut_ >= 2;
    timedOut_ = 0;
}

}  // namespace orv
