// The open, close, initialise and timeout calls.
#include <cerrno>
#include <memory>

#include "connection.h"
#include "errors.h"
#include "orvcomm.h"
#include "transports.h"

namespace orv {

namespace {

std::int32_t open(std::int32_t type, std::int32_t port, std::int32_t address, const OpenRequest &how) {
    libraryError().code = err::kNone;
    if (type < ZQ_TYPE_SERIAL || type > ZQ_TYPE_TCP) return 0;

    auto c = std::make_unique<Connection>();
    c->type = type;
    c->port = port;
    c->address = address;
    c->timeout = how.call == OpenCall::Connection ? 333 : 250;

    switch (type) {
    case ZQ_TYPE_SERIAL:
        if (!OpenSerial(*c, how)) return 0;
        break;
    case ZQ_TYPE_UDP:
        if (!OpenUdp(*c, how)) return 0;
        break;
    case ZQ_TYPE_TCP:
        if (!OpenTcp(*c, how)) return 0;
        break;
    case ZQ_TYPE_RAW_ETHERNET:
        if (how.call == OpenCall::Connection) {
            // The adapter object and the station are made under the table
            // lock, so that two opens at once cannot make two adapters.
            TableGuard guard;
            if (!OpenRawEthernet(*c, how)) return 0;
            return table::insert(std::move(c));
        }
        if (!OpenRawEthernet(*c, how)) return 0;
        break;
    }
    TableGuard guard;
    return table::insert(std::move(c));
}

std::uint32_t clampSerialTimeout(std::uint32_t ms) {
    if (ms <= 1000) return 1000;
    if (ms > 20000) return 5000;
    return ms;
}

}  // namespace

}  // namespace orv

using namespace orv;

extern "C" {

ZQ_API std::int32_t ZQ_CALL ZqOpenConnection(std::int32_t type, std::int32_t port, std::int32_t address) {
    return Guarded([&] { return open(type, port, address, {OpenCall::Connection, 250}); });
}

ZQ_API std::int32_t ZQ_CALL ZqOpenNetConnection(std::int32_t type, std::int32_t port, std::int32_t address,
                                                std::uint32_t serialReadTimeout) {
    return Guarded([&] {
        return open(type, port, address, {OpenCall::NetConnection, clampSerialTimeout(serialReadTimeout)});
    });
}

ZQ_API std::int32_t ZQ_CALL ZqInitConnection(std::int32_t id, std::int32_t baudRate, std::int32_t parity,
                                             std::int32_t dataBits, std::int32_t stopBits) {
    return Guarded([&]() -> std::int32_t {
        TableGuard guard;
        Connection *c = table::lookup(id, false);
        if (!c) return 0;
        if (!c->transport) {
            c->setError(EBADF, err::kSetCommState);
            return 0;
        }
        return c->transport->applyLineSettings(*c, baudRate, static_cast<std::uint8_t>(parity),
                                               static_cast<std::uint8_t>(dataBits),
                                               static_cast<std::uint8_t>(stopBits))
                   ? 1
                   : 0;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqCloseConnection(std::int32_t id) {
    return Guarded([&]() -> std::int32_t {
        TableGuard guard;
        Connection *c = table::lookup(id, false);
        if (!c) return 0;
        if (c->status == 0) {
            // A half-open serial connection still holds its port: erasing the
            // record releases it.
            table::erase(id);
            return 1;
        }
        if (c->type < ZQ_TYPE_SERIAL || c->type > ZQ_TYPE_TCP) return 0;
        // A close the transport refused leaves the connection open and usable
        // (a serial port that would not close).
        if (c->transport && !c->transport->close(*c)) return 0;
        table::erase(id);
        return 1;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqSetConnectionTimeout(std::int32_t id, std::int32_t milliseconds) {
    return Guarded([&]() -> std::int32_t {
        // A socket given 0 waits for ever and a negative value turns into
        // weeks: such a time-out is refused and the current one stays.
        if (milliseconds < 1) return 0;
        Connection *c = nullptr;
        {
            TableGuard guard;
            c = table::lookup(id, false);
            if (!c) return 0;
        }
        c->timeout = milliseconds;
        if (!c->transport) return 1;
        return c->transport->setTimeout(*c, milliseconds) ? 1 : 0;
    });
}

}  // extern "C"
