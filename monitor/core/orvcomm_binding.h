// The monitor's binding of the controller link library.
//
// liborvcomm.so is loaded by name on the first call of any of these
// functions, and each function is looked up on its own first call. A missing
// library or function raises RuntimeError with a readable text; nothing is
// resolved at program start. The records come from the library's public
// header; the functions are bound by name, with the header's signatures.
#pragma once

#include <QString>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "orvcomm.h"

namespace OrvComm {

// The records are the library's own, from its public header.
using ::ZQ_ERROR_INFO;
using ::ZQ_IO_COUNT;
using ::ZQ_MISC_IO_COUNT;
using ::ZQ_TASK_BANK;
using ::ZQ_TRANSFER_STATS;
using ::ZQ_VREGISTER;

namespace detail {
// One library function: its name and, once looked up, its address.
struct Slot {
    const char *name = nullptr;
    std::atomic<void *> fn{nullptr};  // a transfer calls from its own thread
    std::atomic<int> calls{0};        // how often the program called it
    std::atomic<int> windowCalls{0};  // how many of these calls the window thread made
    bool listed = false;
    Slot *next = nullptr;
};
// The function's address, loading the library first when needed; raises
// RuntimeError when the library or the function is missing.
void *resolve(Slot &s);
// The caller runs on the window thread (the application's own).
bool onWindowThread();

// A library function called through the binding, with the type of its
// declaration in orvcomm.h: the signature is written only there.
template <typename F> class Binding;
template <typename R, typename... A> class Binding<R(A...)> {
public:
    constexpr explicit Binding(const char *name) { slot_.name = name; }
    R operator()(A... args) {
        slot_.calls.fetch_add(1, std::memory_order_relaxed);
        if (onWindowThread()) slot_.windowCalls.fetch_add(1, std::memory_order_relaxed);
        return reinterpret_cast<R (*)(A...)>(resolve(slot_))(args...);
    }
    // How often the program has called the function so far.
    int calls() const { return slot_.calls.load(std::memory_order_relaxed); }
    // How many of them the window thread made.
    int windowCalls() const { return slot_.windowCalls.load(std::memory_order_relaxed); }

private:
    Slot slot_;
};
}  // namespace detail

#define ORV_BINDING(name) inline detail::Binding<decltype(::name)> name{#name};
// Connections.
ORV_BINDING(ZqOpenConnection)
ORV_BINDING(ZqOpenNetConnection)
ORV_BINDING(ZqInitConnection)
ORV_BINDING(ZqCloseConnection)
ORV_BINDING(ZqSetConnectionTimeout)
ORV_BINDING(ZqSetAdapter)
ORV_BINDING(ZqGetAvailableAdaptersIPList)
ORV_BINDING(ZqUnload)
// Exchange and errors.
ORV_BINDING(ZqSendData)
ORV_BINDING(ZqSendAscii)
ORV_BINDING(ZqGetErrorInfo)
// Registers.
ORV_BINDING(ZqGetRegister)
ORV_BINDING(ZqGetRegister16)
ORV_BINDING(ZqGetRegister50)
ORV_BINDING(ZqPutRegister)
// V-registers.
ORV_BINDING(ZqGetVRegister)
ORV_BINDING(ZqSetVRegister)
// Flags.
ORV_BINDING(ZqPutFlag)
// Data table.
ORV_BINDING(ZqGetDataTableDim)
ORV_BINDING(ZqGetDataTableRow)
ORV_BINDING(ZqPutDataTableRow)
// Status, configuration, model and counts.
ORV_BINDING(ZqGetStatus)
ORV_BINDING(ZqPutStatus)
ORV_BINDING(ZqGetConfig)
ORV_BINDING(ZqPutConfig)
ORV_BINDING(ZqGetTaskBank)
ORV_BINDING(ZqGetModel)
ORV_BINDING(ZqGetIoCount)
ORV_BINDING(ZqGetMiscIoCount)
// Program transfer.
ORV_BINDING(ZqCheckDownload)
ORV_BINDING(ZqDownload)
ORV_BINDING(ZqUpload)
#undef ORV_BINDING

// The library file that was loaded (empty before the first call).
QString loadedLibraryPath();
// Loads the library now if it is not loaded yet; raises RuntimeError when it
// cannot be found or loaded.
void ensureLoaded();
// Tests: names another library file to load (a path, or a bare name searched
// as the loader does) and forgets the library and every function bound so
// far. An empty name restores the program's own search.
void useLibraryFile(const QString &fileName);

}  // namespace OrvComm
