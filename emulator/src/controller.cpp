#include "controller.h"

#include <algorithm>

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
    log_.emplace_back(text.begin(), text.end());
    Response r;
    if (textHandler_) r.bytes = textHandler_(*this, text);
    else r.bytes.assign(text.begin(), text.end());
    if (auto f = takeFault(text)) {
        switch (f->kind) {
        case FaultKind::Drop: r.bytes.clear(); r.drop = true; break;
        case FaultKind::Garbage: r.bytes = f->garbage; break;
        default: r.transportFault = f->kind; r.delay = std::chrono::milliseconds(f->delayMs); break;
        }
    }
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

void Controller::setFault(Fault f) {
    std::lock_guard lock(mutex_);
    fault_ = std::move(f);
}

void Controller::clearFault() {
    std::lock_guard lock(mutex_);
    fault_.reset();
}

std::optional<Fault> Controller::takeFault(std::span<const std::uint8_t> request) {
    if (!fault_ || fault_->kind == FaultKind::None) return std::nullopt;
    if (!fault_->request.empty() && !std::ranges::equal(fault_->request, request)) return std::nullopt;
    if (fault_->after > 0) {
        --fault_->after;
        return std::nullopt;
    }
    Fault f = *fault_;
    if (fault_->count > 0 && --fault_->count == 0) fault_.reset();
    return f;
}

std::vector<std::uint8_t> Controller::dispatch(const Request &r) {
    std::lock_guard lock(mutex_);
    auto it = handlers_.find(r.code);
    return it == handlers_.end() ? shortReply(kUnknownPacket) : it->second(*this, r);
}

Response Controller::handle(std::span<const std::uint8_t> frame) {
    std::lock_guard lock(mutex_);
    log_.emplace_back(frame.begin(), frame.end());

    Response r;
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
        default: r.transportFault = f->kind; r.delay = std::chrono::milliseconds(f->delayMs); break;
        }
    }
    return r;
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
}

}  // namespace orvemu
