// ZqSendData, ZqSendAscii and the information and error exports.
#include <cstring>
#include <vector>

#include "connection.h"
#include "errors.h"
#include "orvcomm.h"

namespace orv {

namespace {
bool knownType(std::int32_t type) { return type >= ZQ_TYPE_SERIAL && type <= ZQ_TYPE_TCP; }

// Runs the exchange of c's type on the request already stored in c.
bool runExchange(Connection &c) {
    if (!knownType(c.type) || !c.transport) {
        c.setError(err::kConnection, err::kUnknownType);
        return false;
    }
    c.replyLength = 0;
    const bool ok = c.transport->exchange(c);
    if (c.replyLength > kMaxReply) c.replyLength = kMaxReply;
    return ok;
}
}  // namespace

std::int32_t SendData(std::int32_t id, std::int32_t packetClass, const std::uint8_t *request,
                      std::uint32_t requestLength, std::uint8_t *reply) {
    Connection *c = nullptr;
    {
        TableGuard guard;
        c = table::lookup(id, true);
        if (!c) return 0;
        const std::uint16_t length = static_cast<std::uint16_t>(requestLength & 0xFFFF);
        if (length > kMaxRequest || (length > 0 && !request)) {
            c->setError(err::kConnection, err::kRequestTooLong);
            return 0;
        }
        if (length > 0) std::memcpy(c->request, request, length);
        c->requestLength = length;
        c->packetClass = static_cast<std::uint16_t>(packetClass);
    }
    const bool ok = runExchange(*c);
    // Some transports hand over what they received even when the exchange
    // failed (a serial line); the others only a reply they accepted.
    if ((ok || c->traits().keepsFailedReply) && reply && c->replyLength > 0)
        std::memcpy(reply, c->reply, c->replyLength);
    return ok ? 1 : 0;
}

std::int32_t CheckShortReply(Connection &c) {
    const auto reply = c.replyBytes();
    // A refusal is a proper answer to any request. Anything else here (an
    // acknowledgement where data was due, a reply of another form) may have
    // answered another request, which the transport may find out.
    const bool refusal = reply.size() == 4 && reply[0] == 3 && reply[3] == kFrameEnd && reply[1] > kReplyAck &&
                         reply[1] <= 0x69;
    if (!refusal && c.transport && !c.transport->confirmReply(c)) return 0;
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
    return Guarded([&] { return SendData(id, packetClass, request, requestLength, reply); });
}

ZQ_API std::int32_t ZQ_CALL ZqSendAscii(std::int32_t id, const std::uint8_t *request, std::uint32_t requestLength,
                                        std::uint8_t *reply, std::uint8_t terminator) {
    return Guarded([&]() -> std::int32_t {
        Connection *c = GetConnection(id);
        if (!c) return 0;
        if (!c->traits().textExchange) {
            std::vector<std::uint8_t> scratch(kMaxReply);
            if (!SendData(id, ZQ_PACKET_CLASS_REQUEST, request, requestLength, scratch.data())) return 0;
            if (reply) std::memcpy(reply, c->reply, c->replyLength);
            return 1;
        }
        const std::uint16_t length = static_cast<std::uint16_t>(requestLength & 0xFFFF);
        if (length > 256 || (length > 0 && !request)) {
            c->setError(err::kConnection, err::kRequestTooLong);
            return 0;
        }
        if (length > 0) std::memcpy(c->request, request, length);
        c->requestLength = length;
        c->replyLength = 0;
        if (!c->transport || !c->transport->writeText(*c)) return 0;
        if (!c->transport->readText(*c, terminator)) return 0;
        if (c->replyLength > kMaxReply) c->replyLength = kMaxReply;
        if (reply) std::memcpy(reply, c->reply, c->replyLength);
        return 1;
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
        info->code = c->errorCode;
        std::memset(info->text, 0, sizeof info->text);
        std::memcpy(info->text, c->errorText, strnlen(c->errorText, sizeof c->errorText - 1));
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
            std::memcpy(info->destinationMac, c->destinationMac, sizeof info->destinationMac);
        }
        return 1;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetMessageInfo(std::int32_t id, ZQ_MESSAGE_INFO *info) {
    return Guarded([&]() -> std::int32_t {
        if (!info) return 0;
        TableGuard guard;
        Connection *c = table::lookup(id, false);
        if (!c) return 0;
        info->requestLength = c->requestLength;
        std::memcpy(info->request, c->request, sizeof info->request);
        info->replyLength = c->replyLength;
        std::memcpy(info->reply, c->reply, sizeof info->reply);
        return 1;
    });
}

}  // extern "C"
