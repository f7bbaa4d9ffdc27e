#include "controller.h"

#include <algorithm>
#include <iterator>
#include <tuple>
#include <fcntl.h>
#include <unistd.h>

namespace orvemu {

Controller::Controller(int model) : model_(model) {
    installRegisterHandlers(*this);
    installVRegisterHandlers(*this);
    installIoHandlers(*this);
    installDataTableHandlers(*this);
    installStatusHandlers(*this);
    installRawCommandHandlers(*this);
    installTransferHandlers(*this);
    installModuleHandlers(*this);
    for (int *p : {release_, chatterPipe_})
        if (pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) p[0] = p[1] = -1;
}

Controller::~Controller() {
    for (int fd : {release_[0], release_[1], chatterPipe_[0], chatterPipe_[1]})
        if (fd >= 0) ::close(fd);
}

void Controller::setHandler(std::uint8_t code, Handler h) {
    std::lock_guard lock(mutex_);
    handlers_[code] = std::move(h);
}

Handler Controller::handler(std::uint8_t code) const {
    std::lock_guard lock(mutex_);
    auto it = handlers_.find(code);
    return it == handlers_.end() ? Handler{} : it->second;
}

void Controller::setTextHandler(TextHandler h) {
    std::lock_guard lock(mutex_);
    textHandler_ = std::move(h);
}

Response Controller::handleText(std::span<const std::uint8_t> text) {
    std::lock_guard lock(mutex_);
    Response r;
    r.logged = log(text);
    if (textHandler_) r.bytes = textHandler_(*this, text);
    else r.bytes.assign(text.begin(), text.end());
    if (auto f = takeFault(text)) {
        r.noise = f->noise;
        switch (f->kind) {
        case FaultKind::Drop: r.bytes.clear(); r.drop = true; break;
        case FaultKind::Garbage: r.bytes = f->garbage; r.onePiece = true; break;
        case FaultKind::Noise: break;
        default: applyTransportFault(*f, r); break;
        }
    }
    addReplyDelay(r);
    return r;
}

std::uint32_t Controller::lineBaud(std::uint32_t serverBaud) const {
    std::lock_guard lock(mutex_);
    const std::uint32_t b = memory_.module.lineBaud();
    return b != 0 ? b : serverBaud;
}

std::optional<std::chrono::milliseconds> Controller::quietOutputAfter() const {
    std::lock_guard lock(mutex_);
    if (!memory_.module.bootPending()) return std::nullopt;
    return std::chrono::milliseconds(ModuleState::kBootQuietMs);
}

std::vector<std::uint8_t> Controller::takeQuietOutput() {
    std::lock_guard lock(mutex_);
    return memory_.module.boot();
}

void Controller::setFault(Fault f) { setFaults({std::move(f)}); }

void Controller::setFaults(std::vector<Fault> faults) {
    std::lock_guard lock(mutex_);
    faults_.assign(std::make_move_iterator(faults.begin()), std::make_move_iterator(faults.end()));
}

void Controller::clearFault() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

void Controller::setReplyDelay(int minMs, int maxMs) { setTurnaround(Turnaround::between(minMs, maxMs)); }

void Controller::setTurnaround(const Turnaround &t) {
    std::lock_guard lock(mutex_);
    turnaround_ = t;
    answeredCount_ = 0;
    drawnSum_ = {};
    timedAnswers_ = lateAnswers_ = 0;
    slowerBy_ = {};
    slowerFor_ = 0;
    slowerTakes_.reset();
}

std::chrono::microseconds Controller::drawTurnaround(bool write) {
    std::lock_guard lock(mutex_);
    const Turnaround &t = turnaround_;
    Turnaround::Spread s = write ? t.writes : t.reads;
    if (t.stepAfter > 0 && answeredCount_ > static_cast<std::uint64_t>(t.stepAfter)) s = t.then;
    if (t.slowPercent > 0 && std::uniform_int_distribution<int>(0, 99)(delayRng_) < t.slowPercent) s = t.slow;
    return draw(s);
}

std::chrono::microseconds Controller::draw(Turnaround::Spread s) {
    if (s.maxUs <= 0) return {};
    return std::chrono::microseconds(std::uniform_int_distribution<int>(s.minUs, s.maxUs)(delayRng_));
}

void Controller::setDelivery(Delivery d, int burstMs) {
    std::lock_guard lock(mutex_);
    delivery_ = d;
    burstMs_ = std::max(1, burstMs);
}

Delivery Controller::delivery() const {
    std::lock_guard lock(mutex_);
    return delivery_;
}

int Controller::burstMs() const {
    std::lock_guard lock(mutex_);
    return burstMs_;
}


void Controller::setLineTiming(bool on) {
    std::lock_guard lock(mutex_);
    lineTiming_ = on;
}

bool Controller::lineTiming() const {
    std::lock_guard lock(mutex_);
    return lineTiming_;
}

void Controller::addReplyDelay(Response &r) {
    if (r.unheard) return;
    ++answeredCount_;
    const bool write = r.bytes.size() == 4 && r.bytes[1] == kAck;
    auto t = slowerFor_ != 0 && slowerTakes_ ? draw(*slowerTakes_) : drawTurnaround(write);
    if (slowerFor_ != 0) {
        t = std::max(t + slowerBy_, std::chrono::microseconds(0));
        if (slowerFor_ > 0) --slowerFor_;
    }
    drawnSum_ += t;
    r.delay += t;
}

std::pair<std::uint64_t, std::chrono::microseconds> Controller::turnaroundsDrawn() const {
    std::lock_guard lock(mutex_);
    return {answeredCount_, drawnSum_};
}

void Controller::noteAnswerLateBy(std::chrono::microseconds late) {
    std::lock_guard lock(mutex_);
    ++timedAnswers_;
    if (late > std::chrono::milliseconds(1)) ++lateAnswers_;
}

std::pair<std::uint64_t, std::uint64_t> Controller::lateAnswers() const {
    std::lock_guard lock(mutex_);
    return {lateAnswers_, timedAnswers_};
}

void Controller::applyTransportFault(const Fault &f, Response &r) {
    r.transportFault = f.kind;
    if (f.kind == FaultKind::Duplicate || f.kind == FaultKind::OldAnswerEarly)
        r.repeatAfter = std::chrono::milliseconds(f.delayMs);
    else r.delay = std::chrono::milliseconds(f.delayMs);
}

void Controller::setChatter(bool on) {
    std::lock_guard lock(mutex_);
    chatter_ = on;
    const char x = 0;
    if (chatterPipe_[1] >= 0) [[maybe_unused]] const auto n = ::write(chatterPipe_[1], &x, 1);
}

bool Controller::chattering() const {
    std::lock_guard lock(mutex_);
    return chatter_;
}

void Controller::releaseHeld() {
    const char x = 0;
    if (release_[1] >= 0) [[maybe_unused]] const auto n = ::write(release_[1], &x, 1);
}

bool Controller::takeRelease() {
    char x = 0;
    return release_[0] >= 0 && ::read(release_[0], &x, 1) == 1;
}

void Controller::noteHeldSent() {
    std::lock_guard lock(mutex_);
    ++heldSent_;
}

std::size_t Controller::heldSent() const {
    std::lock_guard lock(mutex_);
    return heldSent_;
}

bool Controller::passedOver(std::span<const std::uint8_t> request) const {
    return std::ranges::any_of(passOver_, [&](const auto &f) { return std::ranges::equal(f, request); });
}

void Controller::passOver(std::vector<std::vector<std::uint8_t>> frames) {
    std::lock_guard lock(mutex_);
    passOver_ = std::move(frames);
}

std::optional<Fault> Controller::takeFault(std::span<const std::uint8_t> request) {
    while (!faults_.empty() && faults_.front().kind == FaultKind::None) faults_.pop_front();
    if (faults_.empty()) return std::nullopt;
    Fault &front = faults_.front();
    // A fault that names its request lands on it, passed over or not.
    if (front.request.empty() && passedOver(request)) return std::nullopt;
    if (!front.request.empty() && !std::ranges::equal(front.request, request)) return std::nullopt;
    if (front.after > 0) {
        --front.after;
        return std::nullopt;
    }
    Fault f = front;
    if (front.count > 0 && --front.count == 0) faults_.pop_front();
    return f;
}

std::vector<std::uint8_t> Controller::dispatch(const Request &r) {
    std::lock_guard lock(mutex_);
    auto it = handlers_.find(r.code);
    return it == handlers_.end() ? shortReply(kUnknownPacket) : it->second(*this, r);
}

Response Controller::handle(std::span<const std::uint8_t> frame, std::optional<Clock::time_point> heard) {
    std::lock_guard lock(mutex_);
    Response r;
    r.logged = log(frame, heard);
    // The module's loader does not speak the binary protocol.
    if (memory_.module.programming()) {
        r.drop = true;
        return r;
    }
    Request req;
    switch (parseRequest(frame, req)) {
    case ParseResult::Ok: r.bytes = dispatch(req); break;
    case ParseResult::BadChecksum:
    case ParseResult::BadEnd: r.bytes = shortReply(kBadChecksum); break;
    default: r.bytes = shortReply(kUnknownPacket); break;
    }

    const auto f = takeFault(frame);
    if (f) {
        r.noise = f->noise;
        switch (f->kind) {
        case FaultKind::Drop: r.bytes.clear(); r.drop = true; break;
        case FaultKind::Unheard: r.bytes.clear(); r.drop = r.unheard = true; break;
        case FaultKind::Delay: r.delay = std::chrono::milliseconds(f->delayMs); break;
        case FaultKind::CorruptChecksum:
            if (r.bytes.size() >= 2) r.bytes[r.bytes.size() - 2] ^= 0x5A;
            break;
        case FaultKind::WrongLength:
            if (!r.bytes.empty()) ++r.bytes[0];
            break;
        case FaultKind::WrongCode:
            if (r.bytes.size() >= 2) {
                r.bytes[1] ^= 0x80;
                r.bytes[r.bytes.size() - 2] = checksum(std::span(r.bytes).subspan(1, r.bytes.size() - 3));
            }
            break;
        case FaultKind::ShortError: r.bytes = shortReply(f->errorCode); break;
        case FaultKind::Garbage: r.bytes = f->garbage; r.onePiece = true; break;
        case FaultKind::Noise: break;
        default: applyTransportFault(*f, r); break;
        }
    }
    addReplyDelay(r);
    // The answers after this one take longer (or as long as before again).
    if (f && (f->thenSlowerMs || f->thenTakes)) {
        slowerBy_ = std::chrono::milliseconds(f->thenSlowerMs.value_or(0));
        slowerTakes_ = f->thenTakes;
        slowerFor_ = f->thenSlowerFor;
    }
    return r;
}

std::size_t Controller::log(std::span<const std::uint8_t> request, std::optional<Clock::time_point> heard) {
    log_.emplace_back(request.begin(), request.end());
    answered_.push_back(false);
    heard_.push_back(heard.value_or(Clock::now()));
    return log_.size() - 1;
}

void Controller::noteAnswered(std::size_t logged) {
    std::lock_guard lock(mutex_);
    if (logged < answered_.size()) answered_[logged] = true;
}

bool Controller::answerSent(std::span<const std::uint8_t> request) const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = log_.size(); i-- > 0;)
        if (std::ranges::equal(log_[i], request)) return answered_[i];
    return false;
}

std::vector<std::vector<std::uint8_t>> Controller::requests() const {
    std::lock_guard lock(mutex_);
    std::vector<std::vector<std::uint8_t>> shown;
    std::ranges::copy_if(log_, std::back_inserter(shown), [&](const auto &r) { return !passedOver(r); });
    return shown;
}

std::vector<std::vector<std::uint8_t>> Controller::requestsSince(std::size_t from) const {
    std::lock_guard lock(mutex_);
    if (from >= log_.size()) return {};
    return {log_.begin() + static_cast<std::ptrdiff_t>(from), log_.end()};
}

std::optional<Controller::Clock::time_point> Controller::heardAt(std::size_t logged) const {
    std::lock_guard lock(mutex_);
    if (logged >= heard_.size()) return std::nullopt;
    return heard_[logged];
}

std::vector<std::uint8_t> Controller::lastRequest() const {
    const auto shown = requests();
    return shown.empty() ? std::vector<std::uint8_t>{} : shown.back();
}

std::size_t Controller::requestCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::ranges::count_if(log_, [&](const auto &r) { return !passedOver(r); }));
}

void Controller::clearLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
    answered_.clear();
    heard_.clear();
}

std::optional<std::pair<Delivery, int>> parseDelivery(const std::string &text) {
    if (text == "paced") return std::pair{Delivery::Paced, 0};
    if (text == "once") return std::pair{Delivery::AtOnce, 0};
    const std::string ms = text.rfind("bursts:", 0) == 0 ? text.substr(7) : std::string();
    if (ms.empty() || ms.size() > 4 || ms.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const int n = std::stoi(ms);
    if (n < 1 || n > 1000) return std::nullopt;
    return std::pair{Delivery::Bursts, n};
}

Turnaround Turnaround::between(int minMs, int maxMs) {
    Turnaround t;
    const int low = std::max(0, minMs), high = std::max(low, maxMs);
    t.reads = t.writes = {low * 1000, high * 1000};
    return t;
}

int Turnaround::longestUs() const {
    int most = std::max(reads.maxUs, writes.maxUs);
    if (slowPercent > 0) most = std::max(most, slow.maxUs);
    if (stepAfter > 0) most = std::max(most, then.maxUs);
    return most;
}

namespace {

// "MS" or "MIN-MAX", whole milliseconds up to a minute.
std::optional<Turnaround::Spread> parseSpread(const std::string &text) {
    constexpr long kLongest = 60000;
    const auto dash = text.find('-');
    auto number = [&](const std::string &s) -> long {
        if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos) return -1;
        const long n = std::stol(s);
        return n <= kLongest ? n : -1;
    };
    const long low = number(text.substr(0, dash));
    const long high = dash == std::string::npos ? low : number(text.substr(dash + 1));
    if (low < 0 || high < low) return std::nullopt;
    return Turnaround::Spread{static_cast<int>(low * 1000), static_cast<int>(high * 1000)};
}

}  // namespace

std::optional<Turnaround> Turnaround::parse(const std::string &text) {
    Turnaround t;
    auto both = [](const std::string &s) -> std::optional<std::pair<Spread, Spread>> {
        const auto slash = s.find('/');
        const auto reads = parseSpread(s.substr(0, slash));
        const auto writes = slash == std::string::npos ? reads : parseSpread(s.substr(slash + 1));
        if (!reads || !writes) return std::nullopt;
        return std::pair{*reads, *writes};
    };
    const auto at = text.find('@');
    const auto comma = text.find(',');
    if (at == std::string::npos) {
        const auto rw = both(text);
        if (!rw) return std::nullopt;
        std::tie(t.reads, t.writes) = *rw;
        return t;
    }
    if (comma == std::string::npos || comma > at) return std::nullopt;
    const auto first = both(text.substr(0, comma));
    const auto second = parseSpread(text.substr(comma + 1, at - comma - 1));
    std::string count = text.substr(at + 1);
    const bool percent = !count.empty() && count.back() == '%';
    if (percent) count.pop_back();
    if (!first || !second || count.empty() || count.size() > 6 ||
        count.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int n = std::stoi(count);
    std::tie(t.reads, t.writes) = *first;
    if (percent) {
        if (n > 100) return std::nullopt;
        t.slowPercent = n;
        t.slow = *second;
    } else {
        t.stepAfter = n;
        t.then = *second;
    }
    return t;
}

}  // namespace orvemu
