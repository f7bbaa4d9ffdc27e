// The connection record, the process-wide connection table and its lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "frame.h"

namespace orv {

struct Connection;

// The V-register block one request carries: inside one ordinary frame on a
// serial line, behind an envelope that carries the length elsewhere.
inline constexpr std::size_t kSerialBlock = 244;
inline constexpr std::size_t kNetworkBlock = 1420;

// What the layers above a transport need to know of how it carries
// requests and replies. The defaults are those of UDP and TCP.
struct TransportTraits {
    std::size_t blockSize = kNetworkBlock;
    // The block rides in an ordinary frame: the L byte of request and reply
    // describes it, and bounds the reply.
    bool blockInFrame = false;
    // Block replies may come in the long form: FF, a 16-bit length, the
    // code at byte 3.
    bool longReplyForm = false;
    // A failed exchange still hands over what it received.
    bool keepsFailedReply = false;
    // Text requests run as text on the line itself (writeText, readText);
    // elsewhere they go out as binary requests.
    bool textExchange = false;
    // The connection lives on the process-wide raw-Ethernet adapter and
    // goes with it.
    bool onSharedAdapter = false;
};

// What a connection's type does with a request. Each transport is one file;
// only the platform layer under it touches descriptors.
class Transport {
public:
    explicit Transport(const TransportTraits &t = {}) : traits(t) {}
    virtual ~Transport() = default;
    const TransportTraits traits;
    // Sends c.request and leaves the reply in c.reply / c.replyLength.
    // On failure returns false with c's error set.
    virtual bool exchange(Connection &c) = 0;
    // Text exchange (serial lines only): write c.request as it stands, and
    // read a text reply up to the terminator into c.reply.
    virtual bool writeText(Connection &c);
    virtual bool readText(Connection &c, std::uint8_t terminator);
    // Releases the port, socket or station. On failure returns false with
    // c's error set (the connection then stays in the table).
    virtual bool close(Connection &c);
    // Applies a new reply timeout (c.timeout is already set). On failure
    // returns false; the serial line sets c's error.
    virtual bool setTimeout(Connection &c, std::int32_t ms);
    // Serial line settings; anything else refuses them with
    // "SetCommState error" and EBADF, as a port that is not open would.
    virtual bool applyLineSettings(Connection &c, std::int32_t baud, std::uint8_t parity,
                                   std::uint8_t dataBits, std::uint8_t stopBits);
    // After an exchange that succeeded: whether the caller takes the reply
    // for its request's answer (it is, or it is a refusal, or the caller
    // sets no test). True when the reply stands as this request's answer;
    // false, with c's error set, when a reply the caller does not take
    // answered another request (on a line that tells replies apart only by
    // their order). Called by SendData within the exchange, before the
    // connection is let go.
    virtual bool takeReply(Connection &, bool /*answers*/) { return true; }
};

// What the information calls show of a connection while another thread
// may be exchanging on it: the first bytes of the last request and reply.
inline constexpr std::size_t kShownBytes = 256;
struct ShownMessage {
    std::uint16_t requestLength = 0;
    std::uint8_t request[kShownBytes] = {};
    std::uint16_t replyLength = 0;
    std::uint8_t reply[kShownBytes] = {};
};

// A connection record. Its exchange buffers (request, reply, sequence) and
// its transport belong to the thread that holds exchangeLock; what other
// threads may read at any time (the error, the destination MAC, the shown
// message) is written and read under the record's own lock through the
// methods below, and the time-out is atomic.
//
// The error is kept twice: the connection's last error (errorCode,
// errorText), and, beside it, the error that each calling thread's last
// call on the connection left. Every write sets both. A lookup for a call
// (table::share, FindConnection) starts the calling thread's call afresh,
// and readError gives the calling thread the error of its own last call
// when that call left one, otherwise the connection's last error. With one
// thread the two are the same; with several, a call's error is never
// another thread's, while a thread whose last call left no error (it hands
// the connection to a worker and reads the outcome afterwards) reads the
// connection's last error as before.
struct Connection {
    std::int32_t type = 0;
    std::int32_t port = 0;
    std::int32_t address = 0;
    std::atomic<std::int32_t> timeout{0};
    std::int32_t status = 0;
    std::uint16_t requestLength = 0;
    std::uint8_t request[kMaxRequest] = {};
    std::uint16_t replyLength = 0;
    std::uint8_t reply[kMaxReply] = {};
    std::uint16_t packetClass = 0;
    std::uint8_t sourceMac[6] = {};
    std::uint8_t destinationMac[6] = {};
    std::uint16_t sequence = 0;
    std::uint16_t errorCode = 0;
    char errorText[256] = {};
    std::unique_ptr<Transport> transport;

    void setError(std::uint16_t code, const char *text);
    // printf-style text, cut to the record's buffer.
    void setErrorf(std::uint16_t code, const char *format, ...) __attribute__((format(printf, 3, 4)));
    // The code alone; the text stays.
    void setErrorCode(std::uint16_t code);
    // The error that the calling thread's last call left, or the
    // connection's last error when that call left none: the code and the
    // text up to its NUL, as they stand together.
    void readError(std::uint16_t &code, char (&text)[256]) const;
    // A call from this thread begins: the error of its earlier calls no
    // longer speaks for it.
    void beginCall();

    // Shows the request as it now stands, and the reply.
    void showRequest();
    void showReply();
    ShownMessage shownMessage() const;

    // The controller's MAC, as a reply taught it.
    void setDestinationMac(const std::uint8_t *mac);
    void readDestinationMac(std::uint8_t (&mac)[6]) const;

    // Held for an exchange, and for what must not run beside one on the
    // same connection: closing it, changing its line, handing its transport
    // a new time-out.
    std::mutex exchangeLock;
    // A time-out set while an exchange ran: handed to the transport before
    // the next one.
    std::atomic<bool> timeoutPending{false};
    // The exchange under way may have the serial line's checks beside it:
    // a command's request, whose reply the caller tests, outside a program
    // load. Set for each exchange.
    bool checkable = false;
    // A program load is under way: no check goes between its requests,
    // which a controller loading its program would take amiss.
    std::atomic<int> checksHeld{0};
    // The reply as received, bounded by the record's buffer.
    std::span<const std::uint8_t> replyBytes() const { return {reply, replyLength}; }
    // What its transport answers for (the defaults when it has none).
    const TransportTraits &traits() const;

private:
    // The error of one thread's last call. Threads are told apart by a
    // number of their own that is never reused; the record keeps the
    // errors of the threads that wrote last, at most kThreadErrors.
    struct ThreadError {
        std::uint64_t thread = 0;
        std::uint64_t written = 0;  // the order of the writes
        std::uint16_t code = 0;
        char text[256] = {};
    };
    static constexpr std::size_t kThreadErrors = 16;
    // Copies the connection's error, as a write of this thread has just
    // left it, to this thread's own. Under recordLock_.
    void noteForThisThread();

    mutable std::mutex recordLock_;
    ShownMessage shown_;
    std::vector<ThreadError> threadErrors_;
    std::uint64_t writes_ = 0;
};
using ConnectionRef = std::shared_ptr<Connection>;

// The error of a failed open, read with connection ID 0. Opens on several
// threads may write it while others read it: the code is atomic on its own,
// and the text is written and read only under the error's own lock (never
// the table lock, which an open may hold while it sets the error).
struct LibraryError {
    std::atomic<std::uint16_t> code{0};
    char text[256] = {};
    void set(std::uint16_t c, const char *t);
    // The code and all 256 text bytes, as they stand together.
    void read(std::int32_t &c, char (&t)[256]) const;
};
LibraryError &libraryError();

// The process-wide lock over the table: a lock word, 0 free. A taker that
// finds it held spins for a moment and then sleeps on the word until the
// holder's release wakes it, so that a contended acquisition costs
// microseconds. The lock is held only for work on the table, never while
// a thread waits for a controller.
class TableLock {
public:
    static void lock();
    static void unlock();
    // Whether a taker has given up spinning and sleeps until the release.
    static bool hasSleeper();
};
class TableGuard {
public:
    TableGuard() { TableLock::lock(); }
    ~TableGuard() { if (held_) TableLock::unlock(); }
    void release() { if (held_) { held_ = false; TableLock::unlock(); } }
    TableGuard(const TableGuard &) = delete;
    TableGuard &operator=(const TableGuard &) = delete;
private:
    bool held_ = true;
};

// The table itself. Every function here expects the table lock held.
namespace table {
// Finds the ID and makes it the current connection. With checkStatus a
// record whose status is 0 gets "Invalid connection status" and is refused.
Connection *lookup(std::int32_t id, bool checkStatus);
// The same for a call on the connection, sharing the record: it lives on
// while the caller holds it, also when the connection is closed meanwhile.
// The calling thread's call begins on the record (Connection::beginCall).
ConnectionRef share(std::int32_t id, bool checkStatus);
// Adds a record under the next ID and returns that ID.
std::int32_t insert(ConnectionRef record);
// Puts a record taken out back under its own ID.
void putBack(std::int32_t id, ConnectionRef record);
// Removes the record and hands it over (nothing when the ID is unknown),
// so that it can be closed and freed after the lock is released.
ConnectionRef take(std::int32_t id);
// Removes (and frees) the record.
void erase(std::int32_t id);
Connection *current();
// Calls f for each connection in ID order.
template <typename F> void forEach(F f);
std::map<std::int32_t, ConnectionRef> &all();
}  // namespace table

template <typename F> void table::forEach(F f) {
    for (auto &[id, c] : all()) f(id, *c);
}

// Lookup with the status check under the lock, for the command exports and
// the transfers: the record is shared, so a close from another thread never
// frees it under a caller that still holds it.
ConnectionRef FindConnection(std::int32_t id);

// What a caller takes for the answer to its request.
using ReplyTest = std::function<bool(std::span<const std::uint8_t>)>;

// ZqSendData's work, for the library's own callers; `delivered` tells how
// many bytes went to `reply`. With `expected`, a reply that is neither what
// it accepts nor a refusal may have answered another request: the
// transport is told (Transport::takeReply) before the connection is let
// go, and may fail the exchange with the error set.
std::int32_t SendData(std::int32_t id, std::int32_t packetClass, const std::uint8_t *request,
                      std::uint32_t requestLength, std::uint8_t *reply, std::size_t &delivered,
                      const ReplyTest *expected = nullptr);

// Decodes a call's own reply as a short reply (03, code, checksum, FF) into
// the record's error; 1 for an acknowledgement, else 0.
std::int32_t CheckShortReply(Connection &c, std::span<const std::uint8_t> reply);

// Work to run when the library is unloaded (the raw-Ethernet adapter).
void AtUnload(void (*fn)());

// Runs f and turns any escaping exception into the export's 0 result, so
// that nothing crosses the C boundary.
template <typename F> std::int32_t Guarded(F f) noexcept {
    try {
        return f();
    } catch (...) {
        return 0;
    }
}

}  // namespace orv
