#include "connection.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

#include "errors.h"

namespace orv {

namespace {
std::atomic<std::uint32_t> g_lockWord{0};
std::map<std::int32_t, std::unique_ptr<Connection>> g_table;
std::int32_t g_lastId = 0;
Connection *g_current = nullptr;
LibraryError g_libraryError;

void copyText(char (&dst)[256], const char *text) {
    std::strncpy(dst, text ? text : "", sizeof dst - 1);
    dst[sizeof dst - 1] = '\0';
}
}  // namespace

bool Transport::writeText(Connection &) { return false; }
bool Transport::readText(Connection &, std::uint8_t) { return false; }
bool Transport::close(Connection &) { return true; }
bool Transport::setTimeout(Connection &, std::int32_t) { return true; }
bool Transport::applyLineSettings(Connection &c, std::int32_t, std::uint8_t, std::uint8_t, std::uint8_t) {
    c.setError(EBADF, err::kSetCommState);
    return false;
}

void Connection::setError(std::uint16_t code, const char *text) {
    errorCode = code;
    copyText(errorText, text);
}

void Connection::setErrorf(std::uint16_t code, const char *format, ...) {
    errorCode = code;
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(errorText, sizeof errorText, format, ap);
    va_end(ap);
}

void LibraryError::set(std::uint16_t c, const char *t) {
    code = c;
    copyText(text, t);
}

LibraryError &libraryError() { return g_libraryError; }

void TableLock::lock() {
    while (g_lockWord.exchange(1, std::memory_order_acquire) == 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void TableLock::unlock() { g_lockWord.store(0, std::memory_order_release); }

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

std::int32_t insert(std::unique_ptr<Connection> record) {
    const std::int32_t id = ++g_lastId;
    g_table[id] = std::move(record);
    return id;
}

void erase(std::int32_t id) {
    auto it = g_table.find(id);
    if (it == g_table.end()) return;
    if (g_current == it->second.get()) g_current = nullptr;
    g_table.erase(it);
}

Connection *current() { return g_current; }

std::map<std::int32_t, std::unique_ptr<Connection>> &all() { return g_table; }

}  // namespace table

Connection *GetConnection(std::int32_t id) {
    TableGuard guard;
    return table::lookup(id, true);
}

}  // namespace orv
