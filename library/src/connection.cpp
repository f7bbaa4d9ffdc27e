#include "connection.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "errors.h"

namespace orv {

namespace {
std::atomic<std::uint32_t> g_lockWord{0};
std::map<std::int32_t, ConnectionRef> g_table;
std::int32_t g_lastId = 0;
Connection *g_current = nullptr;
LibraryError g_libraryError;
std::mutex g_libraryErrorText;

// The text up to its NUL (at most 255 characters), the rest cleared.
void copyText(char (&dst)[256], const char *text) {
    const char *from = text ? text : "";
    const std::size_t n = strnlen(from, sizeof dst - 1);
    std::memmove(dst, from, n);
    std::memset(dst + n, 0, sizeof dst - n);
}
}  // namespace

const TransportTraits &Connection::traits() const {
    static constexpr TransportTraits kNone{};
    return transport ? transport->traits : kNone;
}

bool Transport::writeText(Connection &) { return false; }
bool Transport::readText(Connection &, std::uint8_t) { return false; }
bool Transport::close(Connection &) { return true; }
bool Transport::setTimeout(Connection &, std::int32_t) { return true; }
bool Transport::applyLineSettings(Connection &c, std::int32_t, std::uint8_t, std::uint8_t, std::uint8_t) {
    c.setError(EBADF, err::kSetCommState);
    return false;
}

namespace {
// A number for the calling thread, never given to another one (a thread ID
// may be reused once its thread has ended).
std::uint64_t ThisThread() {
    static std::atomic<std::uint64_t> next{1};
    thread_local const std::uint64_t mine = next.fetch_add(1, std::memory_order_relaxed);
    return mine;
}
}  // namespace

void Connection::noteForThisThread() {
    const std::uint64_t me = ThisThread();
    ThreadError *own = nullptr;
    for (ThreadError &e : threadErrors_)
        if (e.thread == me) own = &e;
    if (!own && threadErrors_.size() < kThreadErrors) own = &threadErrors_.emplace_back();
    if (!own) {
        // Full: the thread that wrote longest ago gives up its place.
        own = &*std::min_element(threadErrors_.begin(), threadErrors_.end(),
                                 [](const ThreadError &a, const ThreadError &b) { return a.written < b.written; });
    }
    own->thread = me;
    own->written = ++writes_;
    own->code = errorCode;
    std::memcpy(own->text, errorText, sizeof own->text);
}

void Connection::beginCall() {
    const std::uint64_t me = ThisThread();
    std::lock_guard lock(recordLock_);
    std::erase_if(threadErrors_, [me](const ThreadError &e) { return e.thread == me; });
}

void Connection::setError(std::uint16_t code, const char *text) {
    std::lock_guard lock(recordLock_);
    errorCode = code;
    copyText(errorText, text);
    noteForThisThread();
}

void Connection::setErrorf(std::uint16_t code, const char *format, ...) {
    // Formatted apart first: the arguments may be this record's own text.
    char text[sizeof errorText];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    setError(code, text);
}

void Connection::setErrorCode(std::uint16_t code) {
    std::lock_guard lock(recordLock_);
    errorCode = code;
    noteForThisThread();
}

void Connection::readError(std::uint16_t &code, char (&text)[256]) const {
    const std::uint64_t me = ThisThread();
    std::lock_guard lock(recordLock_);
    const char *from = errorText;
    code = errorCode;
    for (const ThreadError &e : threadErrors_) {
        if (e.thread != me) continue;
        code = e.code;
        from = e.text;
    }
    std::memset(text, 0, sizeof text);
    std::memcpy(text, from, strnlen(from, sizeof text - 1));
}

void Connection::showRequest() {
    std::lock_guard lock(recordLock_);
    shown_.requestLength = requestLength;
    std::memcpy(shown_.request, request, sizeof shown_.request);
}

void Connection::showReply() {
    std::lock_guard lock(recordLock_);
    shown_.replyLength = replyLength;
    std::memcpy(shown_.reply, reply, sizeof shown_.reply);
}

ShownMessage Connection::shownMessage() const {
    std::lock_guard lock(recordLock_);
    return shown_;
}

void Connection::setDestinationMac(const std::uint8_t *mac) {
    std::lock_guard lock(recordLock_);
    std::memcpy(destinationMac, mac, sizeof destinationMac);
}

void Connection::readDestinationMac(std::uint8_t (&mac)[6]) const {
    std::lock_guard lock(recordLock_);
    std::memcpy(mac, destinationMac, sizeof mac);
}

void LibraryError::set(std::uint16_t c, const char *t) {
    std::lock_guard lock(g_libraryErrorText);
    code = c;
    copyText(text, t);
}

void LibraryError::read(std::int32_t &c, char (&t)[256]) const {
    std::lock_guard lock(g_libraryErrorText);
    c = code;
    std::memcpy(t, text, sizeof t);
}

LibraryError &libraryError() { return g_libraryError; }

// The lock word: 0 free, 1 held, 2 held with a taker asleep on it.
namespace {
constexpr std::uint32_t kFree = 0, kHeld = 1, kContended = 2;
constexpr int kSpins = 100;

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}
}  // namespace

void TableLock::lock() {
    std::uint32_t seen = kFree;
    if (g_lockWord.compare_exchange_strong(seen, kHeld, std::memory_order_acquire)) return;
    // Held: the holder only works on the table, so it is usually gone soon.
    for (int i = 0; i < kSpins; ++i) {
        cpuRelax();
        seen = g_lockWord.load(std::memory_order_relaxed);
        if (seen == kFree && g_lockWord.compare_exchange_weak(seen, kHeld, std::memory_order_acquire)) return;
    }
    // Still held: mark the word contended and sleep on it until a release.
    if (seen != kContended) seen = g_lockWord.exchange(kContended, std::memory_order_acquire);
    while (seen != kFree) {
        g_lockWord.wait(kContended, std::memory_order_relaxed);
        seen = g_lockWord.exchange(kContended, std::memory_order_acquire);
    }
}

bool TableLock::hasSleeper() { return g_lockWord.load(std::memory_order_relaxed) == kContended; }

void TableLock::unlock() {
    if (g_lockWord.exchange(kFree, std::memory_order_release) == kContended) g_lockWord.notify_one();
}

namespace table {

Connection *lookup(std::int32_t id, bool checkStatus) {
    auto it = g_table.find(id);
    if (it == g_table.end()) {
        g_current = nullptr;
        return nullptr;
    }
    g_current = it->second.get();
    if (checkStatus && g_current->status == 0) {
        g_current->setError(err::kConnection, err::kInvalidStatus);
        return nullptr;
    }
    return g_current;
}

ConnectionRef share(std::int32_t id, bool checkStatus) {
    auto it = g_table.find(id);
    if (it == g_table.end()) {
        g_current = nullptr;
        return nullptr;
    }
    it->second->beginCall();
    if (!lookup(id, checkStatus)) return nullptr;
    return it->second;
}

std::int32_t insert(ConnectionRef record) {
    const std::int32_t id = ++g_lastId;
    g_table[id] = std::move(record);
    return id;
}

void putBack(std::int32_t id, ConnectionRef record) { g_table[id] = std::move(record); }

ConnectionRef take(std::int32_t id) {
    auto it = g_table.find(id);
    if (it == g_table.end()) return nullptr;
    if (g_current == it->second.get()) g_current = nullptr;
    ConnectionRef record = std::move(it->second);
    g_table.erase(it);
    return record;
}

void erase(std::int32_t id) { take(id); }

Connection *current() { return g_current; }

std::map<std::int32_t, ConnectionRef> &all() { return g_table; }

}  // namespace table

ConnectionRef FindConnection(std::int32_t id) {
    TableGuard guard;
    return table::share(id, true);
}

}  // namespace orv
