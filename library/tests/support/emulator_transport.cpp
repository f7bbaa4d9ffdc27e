#include "emulator_transport.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

#include "raw_ethernet.h"
#include "serial.h"

namespace orvtest {

namespace {

class EmulatorTransport : public orv::Transport {
public:
    // It carries requests as the transport of `type` would.
    EmulatorTransport(orvemu::Controller &c, std::int32_t type) : orv::Transport(traitsOf(type)), controller_(c) {}
    bool exchange(orv::Connection &c) override {
        auto r = controller_.handle({c.request, c.requestLength});
        if (r.delay.count() > 0) std::this_thread::sleep_for(r.delay);
        if (r.drop || r.bytes.empty()) {
            c.setError(orv::err::kTimeout, orv::err::kTimedOut);
            return false;
        }
        const std::size_t n = std::min(r.bytes.size(), orv::kMaxReply);
        std::memcpy(c.reply, r.bytes.data(), n);
        c.replyLength = static_cast<std::uint16_t>(n);
        return true;
    }

private:
    static orv::TransportTraits traitsOf(std::int32_t type) {
        if (type == ZQ_TYPE_SERIAL) return orv::kSerialTraits;
        if (type == ZQ_TYPE_RAW_ETHERNET) return orv::kRawEthernetTraits;
        return {};
    }

    orvemu::Controller &controller_;
};

}  // namespace

std::int32_t AddEmulatedConnection(orvemu::Controller &ctl, std::int32_t type, std::int32_t status) {
    auto c = std::make_unique<orv::Connection>();
    c->type = type;
    c->status = status;
    c->timeout = 333;
    c->transport = std::make_unique<EmulatorTransport>(ctl, type);
    orv::TableGuard guard;
    return orv::table::insert(std::move(c));
}

void RemoveConnection(std::int32_t id) {
    orv::TableGuard guard;
    orv::table::erase(id);
}

}  // namespace orvtest
