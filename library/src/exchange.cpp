// ZqSendData, ZqSendAscii and the information and error exports.
#include <cstring>
#include <vector>

#include "connection.h"
#include "errors.h"
#include "orvcomm.h"

namespace orv {

namespace {
bool knownType(std::int32_t type) { return type >= ZQ_TYPE_SERIAL && type <= ZQ_TYPE_TCP; }

// Holds the connection for one exchange. A time-out set while another
// exchange ran is handed to the transport first.
class ExchangeScope {
public:
    explicit ExchangeScope(Connection &c) : c_(c), lock_(c.exchangeLock) {
        if (c.timeoutPending.exchange(false) && c.transport) c.transport->setTimeout(c, c.timeout);
    }
    // Stores the request (length already checked) and shows it.
    void store(const std::uint8_t *request, std::uint16_t length) {
        if (length > 0) std::memcpy(c_.request, request, length);
        c_.requestLength = length;
        c_.showRequest();
    }
    // Shows the reply whatever became of the exchange, and copies it out
    // when `copy` says so; the number of bytes copied.
    std::size_t deliver(bool copy, std::uint8_t *reply) {
        if (c_.replyLength > kMaxReply) c_.replyLength = kMaxReply;
        c_.showReply();
        if (!copy || !reply) return 0;
        std::memcpy(reply, c_.reply, c_.replyLength);
        return c_.replyLength;
    }

private:
    Connection &c_;
    std::lock_guard<std::mutex> lock_;
};

// Runs the exchange of c's type on the request already stored in c.
bool runExchange(Connection &c) {
    if (!knownType(c.type) || !c.transport) {
        c.setError(err::kConnection, err::kUnknownType);
        return false;
    }
    c.replyLength = 0;
    return c.transport->exchange(c);
}

std::uint16_t requestBytes(std::uint32_t requestLength) { return static_cast<std::uint16_t>(requestLength & 0xFFFF); }

// Whether a request of `length` bytes at `request` fits `most`; when not,
// "Request too long" is set on the record.
bool requestFits(Connection &c, const std::uint8_t *request, std::uint16_t length, std::size_t most) {
    if (length <= most && (length == 0 || request)) return true;
    c.setError(err::kConnection, err::kRequestTooLong);
    return false;
}

// The looked-up record, or none (with the error set) when the request does
// not fit it.
ConnectionRef lookupFor(std::int32_t id, const std::uint8_t *request, std::uint16_t length) {
    TableGuard guard;
    ConnectionRef c = table::share(id, true);
    return c && requestFits(*c, request, length, kMaxRequest) ? c : nullptr;
}

// A refusal (03, code 0x65 to 0x69, checksum, FF): a proper answer to any
// request.
bool isRefusal(std::span<const std::uint8_t> reply) {
    return reply.size() == 4 && reply[0] == 3 && reply[3] == kFrameEnd && reply[1] > kReplyAck && reply[1] <= 0x69;
}

}  // namespace

std::int32_t SendData(std::int32_t id, std::int32_t packetClass, const std::uint8_t *request,
                      std::uint32_t requestLength, std::uint8_t *reply, std::size_t &delivered,
                      const ReplyTest *expected) {
    delivered = 0;
    const std::uint16_t length = requestBytes(requestLength);
    const ConnectionRef c = lookupFor(id, request, length);
    if (!c) return 0;
    // The exchange runs without the table lock: it holds the connection
    // (which stays alive through the reference) instead.
    ExchangeScope scope(*c);
    scope.store(request, length);
    c->packetClass = static_cast<std::uint16_t>(packetClass);
    c->checkable = expected && c->checksHeld.load() == 0;
    const bool ok = runExchange(*c);
    // Some transports hand over what they received even when the exchange
    // failed (a serial line); the others only a reply they accepted.
    delivered = scope.deliver(ok || c->traits().keepsFailedReply, reply);
    if (!ok) return 0;
    // A reply that the caller does not take for its answer, and that is no
    // refusal (an acknowledgement where data was due, a reply of another
    // form), may have answered another request, which the transport may
    // find out; it does so now, while the connection is still this call's.
    if (c->transport) {
        const auto got = c->replyBytes();
        const bool answers = !expected || (*expected)(got) || isRefusal(got);
        if (!c->transport->takeReply(*c, answers)) return 0;
    }
    return 1;
}

std::int32_t CheckShortReply(Connection &c, std::span<const std::uint8_t> reply) {
    if (reply.size() < 4 || reply[3] != kFrameEnd) {
        c.setError(err::kNotBinaryReply, err::kNotBinary);
        return 0;
    }
    switch (reply[1]) {
    case 0x64: c.setError(err::kNone, err::kAckText); return 1;
    case 0x65: c.setError(err::kChecksum, err::kChecksumOrEnd); return 0;
    case 0x66: c.setError(err::kDataError, err::kIllegalRegister); return 0;
    case 0x68: c.setError(err::kDataError, err::kOutOfRange); return 0;
    case 0x69: c.setError(err::kWrongArchitectureQ42, err::kQ42OnQ43); return 0;
    default: c.setError(err::kPacket, err::kUnknownPacket); return 0;
    }
}

namespace {
using UnloadFn = void (*)();
// Never destroyed: at process exit the static destructors run before the
// library's destructor function, which still walks this list.
std::vector<UnloadFn> &unloadWork() {
    static auto *work = new std::vector<UnloadFn>;
    return *work;
}
__attribute__((destructor)) void onLibraryUnload() {
    for (auto fn : unloadWork()) fn();
}
}  // namespace

void AtUnload(void (*fn)()) { unloadWork().push_back(fn); }

}  // namespace orv

using namespace orv;

extern "C" {

ZQ_API std::int32_t ZQ_CALL ZqSendData(std::int32_t id, std::int32_t packetClass, const std::uint8_t *request,
                                       std::uint32_t requestLength, std::uint8_t *reply) {
    return Guarded([&] {
        std::size_t delivered = 0;
        return SendData(id, packetClass, request, requestLength, reply, delivered);
    });
}

ZQ_API std::int32_t ZQ_CALL ZqSendAscii(std::int32_t id, const std::uint8_t *request, std::uint32_t requestLength,
                                        std::uint8_t *reply, std::uint8_t terminator) {
    return Guarded([&]() -> std::int32_t {
        ConnectionRef c = FindConnection(id);
        if (!c) return 0;
        if (!c->traits().textExchange) {
            // A binary request; the reply it draws is the record's reply.
            std::vector<std::uint8_t> scratch(kMaxReply);
            std::size_t delivered = 0;
            if (!SendData(id, ZQ_PACKET_CLASS_REQUEST, request, requestLength, scratch.data(), delivered)) return 0;
            if (reply) std::memcpy(reply, scratch.data(), delivered);
            return 1;
        }
        const std::uint16_t length = requestBytes(requestLength);
        if (!requestFits(*c, request, length, 256)) return 0;
        ExchangeScope scope(*c);
        scope.store(request, length);
        c->replyLength = 0;
        const bool ok = c->transport && c->transport->writeText(*c) && c->transport->readText(*c, terminator);
        scope.deliver(ok, reply);
        return ok ? 1 : 0;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetErrorInfo(std::int32_t id, ZQ_ERROR_INFO *info) {
    return Guarded([&]() -> std::int32_t {
        if (!info) return 0;
        if (id == 0) {
            libraryError().read(info->code, info->text);
            return 1;
        }
        TableGuard guard;
        Connection *c = table::lookup(id, false);
        if (!c) return 0;
        std::uint16_t code = 0;
        c->readError(code, info->text);
        info->code = code;
        return 1;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetConnectionInfo(std::int32_t id, ZQ_CONNECTION_INFO *info) {
    return Guarded([&]() -> std::int32_t {
        if (!info) return 0;
        TableGuard guard;
        Connection *c = table::lookup(id, false);
        if (!c) return 0;
        info->type = c->type;
        info->port = c->port;
        info->address = c->address;
        info->timeout = c->timeout;
        info->status = c->status;
        if (c->type == ZQ_TYPE_SERIAL) {
            std::memset(info->sourceMac, 0, sizeof info->sourceMac);
            std::memset(info->destinationMac, 0, sizeof info->destinationMac);
        } else {
            std::memcpy(info->sourceMac, c->sourceMac, sizeof info->sourceMac);
            std::uint8_t mac[6];
            c->readDestinationMac(mac);
            std::memcpy(info->destinationMac, mac, sizeof info->destinationMac);
        }
        return 1;
    });
}

static_assert(kShownBytes == ZQ_MESSAGE_INFO_BYTES, "the shown message is what the information call copies out");

ZQ_API std::int32_t ZQ_CALL ZqGetMessageInfo(std::int32_t id, ZQ_MESSAGE_INFO *info) {
    return Guarded([&]() -> std::int32_t {
        if (!info) return 0;
        TableGuard guard;
        Connection *c = table::lookup(id, false);
        if (!c) return 0;
        const ShownMessage shown = c->shownMessage();
        info->requestLength = shown.requestLength;
        std::memcpy(info->request, shown.request, sizeof info->request);
        info->replyLength = shown.replyLength;
        std::memcpy(info->reply, shown.reply, sizeof info->reply);
        return 1;
    });
}

}  // extern "C"
