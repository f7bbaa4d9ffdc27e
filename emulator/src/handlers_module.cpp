// The module in programming mode: request 69 and the loader's text protocol.
#include <cctype>

#include "controller.h"

namespace orvemu {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::vector<std::uint8_t> bytesOf(const std::string &s) { return {s.begin(), s.end()}; }

// Data records carry 2, 3 or 4 address bytes by their type.
int addressBytes(char type) {
    switch (type) {
    case '1': return 2;
    case '2': return 3;
    case '3': return 4;
    default: return 0;
    }
}

}  // namespace

bool ValidSRecord(const std::string &line) {
    if (line.size() < 4 || line[0] != 'S' || !std::isdigit(static_cast<unsigned char>(line[1])) || line.size() % 2 != 0)
        return false;
    unsigned sum = 0;
    std::vector<int> bytes;
    for (std::size_t i = 2; i < line.size(); i += 2) {
        const int hi = hexValue(line[i]), lo = hexValue(line[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(hi * 16 + lo);
        sum += static_cast<unsigned>(hi * 16 + lo);
    }
    // The count covers address, data and checksum; the checksum makes the
    // sum of count to checksum FF.
    return bytes[0] == static_cast<int>(bytes.size()) - 1 && (sum & 0xFF) == 0xFF;
}

std::uint8_t ModuleState::programmingRequest(std::span<const std::uint8_t> args) {
    const bool cpuRequest = args.size() == 2 && args[0] == 0x86 && args[1] == 0x03;
    const bool commRequest = args.size() == 1 && args[0] == 0x06;
    if ((port == Port::CpuModule && cpuRequest) || (port == Port::CommModule && commRequest)) {
        start(Phase::Handshake);
        return 0x64;
    }
    return 0x67;
}

void ModuleState::stuck(bool q600) {
    start(q600 ? Phase::WakeUp : Phase::Handshake);
    lineBaud_ = q600 ? 57600 : 0;
}

void ModuleState::start(Phase phase) {
    phase_ = phase;
    greeted_ = false;
    erased_ = false;
    bootPending_ = false;
    lastAddress_.clear();
    records_.clear();
    broken_ = 0;
}

void ModuleState::leave() {
    phase_ = Phase::Off;
    lineBaud_ = 0;
    bootPending_ = false;
}

std::vector<std::uint8_t> ModuleState::text(std::span<const std::uint8_t> request) {
    const std::string s(request.begin(), request.end());
    if (phase_ == Phase::Off) return bytesOf(s);  // the controller echoes text
    if (s.size() == 1 && static_cast<std::uint8_t>(s[0]) == kXon) {
        std::string reply;
        if (phase_ == Phase::Handshake && !greeted_) {
            reply = greeting;
            greeted_ = true;
            phase_ = Phase::BaudCode;
        } else if (phase_ == Phase::Records && !lastAddress_.empty()) {
            reply = "DATA " + lastAddress_ + "\r";
            lastAddress_.clear();
        }
        reply.push_back(static_cast<char>(kXon));
        return bytesOf(reply);
    }
    switch (phase_) {
    case Phase::WakeUp:
        if (s != "3") return {};
        phase_ = Phase::Handshake;
        lineBaud_ = 38400;
        return bytesOf("Q600 Loader");
    case Phase::BaudCode: {
        std::uint32_t rate = 0;
        if (s == "3") rate = 38400;
        else if (s == "9") rate = 9600;
        else if (s == "1") rate = 19200;
        if (rate == 0) return {};
        phase_ = Phase::Records;
        lineBaud_ = rate;
        return bytesOf(s);
    }
    case Phase::Records: return record(s);
    default: return {};
    }
}

std::vector<std::uint8_t> ModuleState::record(const std::string &line) {
    records_.push_back(line);
    lastAddress_.clear();
    std::string reply = "K1";
    if (!ValidSRecord(line)) {
        ++broken_;
        reply = "KE";
    } else if (const int n = addressBytes(line[1]); n > 0) {
        lastAddress_ = line.substr(4, static_cast<std::size_t>(2 * n));
        if (!erased_) {
            // The first data record waits for the flash to be erased.
            erased_ = true;
            reply = "K0";
            reply.push_back(static_cast<char>(kXoff));
            for (int i = 1; i <= busyLines; ++i)
                reply += i < busyLines ? "Flash Status 00000001\n" : "Flash Status 00000010\n";
            return bytesOf(reply);
        }
    } else if (line[1] == '7' || line[1] == '8' || line[1] == '9') {
        bootPending_ = true;
    }
    reply.push_back(static_cast<char>(kXoff));
    return bytesOf(reply);
}

std::vector<std::uint8_t> ModuleState::boot() {
    if (!bootPending_) return {};
    const bool good = broken_ == 0;
    leave();
    ++boots_;
    return bytesOf(good ? "Flash Verified\r\nBoot Done\r\n" : "Verify Failed\r\nBoot Aborted\r\n");
}

void installModuleHandlers(Controller &c) {
    // Request 69 without arguments reads the remote I/O data; with a
    // module's request bytes it asks that module into programming mode.
    Handler remoteIoData = c.handler(0x69);
    c.setHandler(0x69, [remoteIoData](Controller &ctl, const Request &r) {
        if (r.args.empty() && remoteIoData) return remoteIoData(ctl, r);
        return shortReply(ctl.memory().module.programmingRequest(r.args));
    });
    c.setTextHandler([](Controller &ctl, std::span<const std::uint8_t> text) { return ctl.memory().module.text(text); });
}

}  // namespace orvemu
