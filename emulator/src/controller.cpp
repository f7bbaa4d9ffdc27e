#include "controller.h"

#include <algorithm>
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
        case FaultKind::Garbage: r.bytes = f->garbage; break;
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

void Controller::setReplyDelay(int minMs, int maxMs) {
    std::lock_guard lock(mutex_);
    delayMin_ = std::max(0, minMs);
    delayMax_ = std::max(delayMin_, maxMs);
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
    if (delayMax_ <= 0) return;
    r.delay += std::chrono::milliseconds(std::uniform_int_distribution<int>(delayMin_, delayMax_)(delayRng_));
}

void Controller::applyTransportFault(const Fault &f, Response &r) {
    r.transportFault = f.kind;
    if (f.kind == FaultKind::Duplicate) r.repeatAfter = std::chrono::milliseconds(f.delayMs);
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

std::optional<Fault> Controller::takeFault(std::span<const std::uint8_t> request) {
    while (!faults_.empty() && faults_.front().kind == FaultKind::None) faults_.pop_front();
    if (faults_.empty()) return std::nullopt;
    Fault &front = faults_.front();
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

Response Controller::handle(std::span<const std::uint8_t> frame) {
    std::lock_guard lock(mutex_);
    Response r;
    r.logged = log(frame);
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

    if (auto f = takeFault(frame)) {
        r.noise = f->noise;
        switch (f->kind) {
        case FaultKind::Drop: r.bytes.clear(); r.drop = true; break;
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
        case FaultKind::Garbage: r.bytes = f->garbage; break;
        case FaultKind::Noise: break;
        default: applyTransportFault(*f, r); break;
        }
    }
    addReplyDelay(r);
    return r;
}

std::size_t Controller::log(std::span<const std::uint8_t> request) {
    log_.emplace_back(request.begin(), request.end());
    answered_.push_back(false);
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
    return log_;
}

std::vector<std::uint8_t> Controller::lastRequest() const {
    std::lock_guard lock(mutex_);
    return log_.empty() ? std::vector<std::uint8_t>{} : log_.back();
}

std::size_t Controller::requestCount() const {
    std::lock_guard lock(mutex_);
    return log_.size();
}

void Controller::clearLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
    answered_.clear();
}

}  // namespace orvemu
