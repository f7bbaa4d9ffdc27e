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
        ConnectionRef c;
        {
            TableGuard guard;
            c = table::share(id, false);
        }
        if (!c) return 0;
        // The line changes between exchanges, never under one; the other
        // connections go on meanwhile.
        std::lock_guard line(c->exchangeLock);
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
        // The record leaves the table under the lock, so that no call finds
        // it any more; its port, socket or station is closed after the
        // lock is released, once an exchange still running on it is over.
        ConnectionRef c;
        {
            TableGuard guard;
            Connection *found = table::lookup(id, false);
            if (!found) return 0;
            // A half-open serial connection still holds its port: freeing the
            // record releases it.
            if (found->status != 0 && (found->type < ZQ_TYPE_SERIAL || found->type > ZQ_TYPE_TCP)) return 0;
            c = table::take(id);
        }
        if (c->status == 0) return 1;
        std::unique_lock line(c->exchangeLock);
        if (c->transport && !c->transport->close(*c)) {
            // A close the transport refused leaves the connection open and
            // usable (a serial port that would not close).
            line.unlock();
            TableGuard guard;
            table::putBack(id, std::move(c));
            return 0;
        }
        return 1;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqSetConnectionTimeout(std::int32_t id, std::int32_t milliseconds) {
    return Guarded([&]() -> std::int32_t {
        // A socket given 0 waits for ever and a negative value turns into
        // weeks: such a time-out is refused and the current one stays.
        if (milliseconds < 1) return 0;
        ConnectionRef c;
        {
            TableGuard guard;
            c = table::share(id, false);
            if (!c) return 0;
        }
        c->timeout = milliseconds;
        if (!c->transport) return 1;
        // An exchange under way keeps the transport: the new time-out is
        // handed to it before the next exchange (the network transports
        // take it up at their next wait anyway).
        std::unique_lock line(c->exchangeLock, std::try_to_lock);
        if (!line.owns_lock()) {
            c->timeoutPending = true;
            return 1;
        }
        c->timeoutPending = false;
        return c->transport->setTimeout(*c, milliseconds) ? 1 : 0;
    });
}

}  // extern "C"
