#include "link_fixture.h"

#include <arpa/inet.h>

namespace orvtest {

const char *LinkName(Link l) {
    switch (l) {
    case Link::Serial: return "Serial";
    case Link::Udp: return "Udp";
    case Link::Tcp: return "Tcp";
    }
    return "?";
}

std::string NextLoopbackAddress() {
    static std::atomic<unsigned> counter{0};
    const unsigned key = ((static_cast<unsigned>(getpid()) & 0xFFFF) << 4) | (counter++ & 0xF);
    return "127." + std::to_string(64 + (key >> 16)) + "." + std::to_string((key >> 8) & 0xFF) + "." +
           std::to_string(1 + (key & 0xFF) % 254);
}

int NextComPort() {
    static std::atomic<int> next{101};
    return next++;
}

void SetComPort(int port, const std::string &device) {
    setenv(("ORVCOMM_COM" + std::to_string(port)).c_str(), device.c_str(), 1);
}

Bytes Request(std::uint8_t code, const Bytes &args) {
    Bytes f;
    f.reserve(args.size() + 5);
    f.push_back(0x01);
    f.push_back(static_cast<std::uint8_t>(args.size() + 3));
    f.push_back(code);
    for (auto b : args) f.push_back(b);
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < f.size(); ++i) sum = static_cast<std::uint8_t>(sum + f[i]);
    f.push_back(static_cast<std::uint8_t>(~sum));
    f.push_back(0xFF);
    return f;
}

Bytes ReadRegister(std::uint16_t n) {
    return Request(0x09, {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)});
}

Exchange Send(std::int32_t id, const Bytes &request) {
    std::vector<std::uint8_t> buf(1536, 0);
    Exchange e;
    e.result = ZqSendData(id, ZQ_PACKET_CLASS_REQUEST, request.data(), static_cast<std::uint32_t>(request.size()),
                          buf.data());
    ZQ_MESSAGE_INFO m{};
    if (ZqGetMessageInfo(id, &m)) e.reply.assign(buf.begin(), buf.begin() + std::clamp(m.replyLength, 0, 1536));
    return e;
}

std::int32_t RegisterValue(const Exchange &e) {
    if (e.result != 1 || e.reply.size() != 8) return -1;
    return static_cast<std::int32_t>(orvemu::u32(e.reply.data() + 2));
}

void SetRegister(orvemu::Controller &c, int n, std::int32_t v) {
    c.withMemory([&](orvemu::Memory &m) {
        m.registers[static_cast<std::size_t>(n)] = v;
        return 0;
    });
}

long MsSince(Clock::time_point t) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

EmulatorLink::EmulatorLink(Link kind, int model) : kind_(kind), controller_(std::make_unique<orvemu::Controller>(model)) {
    if (kind == Link::Serial) {
        // A pseudo-terminal carries bytes at once, whatever its rate. On a
        // busy machine enough answers come late to look like a line that
        // keeps its rate, and the library then refuses the next prompt one
        // as too soon. Answering as a real line does keeps the verdict the
        // same on any machine.
        controller_->setLineTiming(true);
        // The tests' faults are meant for their own requests, not for the
        // line's checks between them.
        controller_->passOver(orvemu::Controller::statusAndConfigReads());
        server_ = orvemu::startPty(*controller_);
        if (!server_) return;
        comPort_ = NextComPort();
        SetComPort(comPort_, server_->endpoint());
        return;
    }
    // UDP and TCP servers share the address, as on a controller.
    for (int tries = 0; tries < 64 && !server_; ++tries) {
        const std::string a = NextLoopbackAddress();
        auto udp = orvemu::startUdp(*controller_, a);
        auto tcp = udp ? orvemu::startTcp(*controller_, a) : nullptr;
        if (udp && tcp) {
            address_ = a;
            server_ = kind == Link::Udp ? std::move(udp) : std::move(tcp);
            other_ = kind == Link::Udp ? std::move(tcp) : std::move(udp);
        }
    }
}

EmulatorLink::~EmulatorLink() {
    close();
    server_.reset();
    other_.reset();
}

std::int32_t EmulatorLink::openAddress() const {
    return kind_ == Link::Serial ? 0 : static_cast<std::int32_t>(inet_addr(address_.c_str()));
}

}  // namespace orvtest
