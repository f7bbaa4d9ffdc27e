// The monitor's binding of the controller link library.
//
// liborvcomm.so is loaded by name on the first call of any of these
// functions, and each function is looked up on its own first call. A missing
// library or function raises RuntimeError with a readable text; nothing is
// resolved at program start. The records come from the library's public
// header; the functions are bound by name, with the header's signatures.
#pragma once

#include <QString>
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

// Connection kinds of ZqOpenConnection.
inline constexpr int32_t TypeSerial = 1;
inline constexpr int32_t TypeRawEthernet = 2;
inline constexpr int32_t TypeUdp = 3;
inline constexpr int32_t TypeTcp = 4;
inline constexpr int32_t PacketClass = 20;

// Connections.
int32_t ZqOpenConnection(int32_t type, int32_t port, int32_t address);
int32_t ZqOpenNetConnection(int32_t type, int32_t port, int32_t address, uint32_t serialReadTimeout);
int32_t ZqInitConnection(int32_t id, int32_t baudRate, int32_t parity, int32_t dataBits, int32_t stopBits);
int32_t ZqCloseConnection(int32_t id);
int32_t ZqSetConnectionTimeout(int32_t id, int32_t milliseconds);
int32_t ZqSetAdapter(int32_t adapterIndex);
int32_t ZqGetAvailableAdaptersIPList(uint32_t *addresses, int32_t *adapterIndexes, int32_t *count);
int32_t ZqUnload();
// Exchange and errors.
int32_t ZqSendData(int32_t id, int32_t packetClass, const uint8_t *request, uint32_t length, uint8_t *reply);
int32_t ZqSendAscii(int32_t id, const uint8_t *text, uint32_t length, uint8_t *reply, uint8_t terminator);
int32_t ZqGetErrorInfo(int32_t id, ZQ_ERROR_INFO *info);
// Registers.
int32_t ZqGetRegister(int32_t id, int32_t reg, int32_t *value);
int32_t ZqGetRegister16(int32_t id, int32_t firstReg, int32_t *values16);
int32_t ZqGetRegister50(int32_t id, int32_t block, int32_t *values50);
int32_t ZqPutRegister(int32_t id, int32_t reg, int32_t value);
// V-registers.
int32_t ZqGetVRegister(int32_t id, ZQ_VREGISTER *record);
int32_t ZqSetVRegister(int32_t id, ZQ_VREGISTER *record);
// Flags.
int32_t ZqPutFlag(int32_t id, int32_t flag, int32_t value);
// Data table.
int32_t ZqGetDataTableDim(int32_t id, int32_t *rows, int32_t *columns);
int32_t ZqGetDataTableRow(int32_t id, int32_t row, int32_t firstColumn, int32_t count, int32_t *values);
int32_t ZqPutDataTableRow(int32_t id, int32_t row, int32_t firstColumn, int32_t count, int32_t *values);
// Status, configuration, model and counts.
int32_t ZqGetStatus(int32_t id, int32_t *status);
int32_t ZqPutStatus(int32_t id, int32_t status);
int32_t ZqGetConfig(int32_t id, int32_t *configuration);
int32_t ZqPutConfig(int32_t id, int32_t configuration);
int32_t ZqGetTaskBank(int32_t id, int32_t bank, ZQ_TASK_BANK *record);
int32_t ZqGetModel(int32_t id, int32_t *model, int32_t *eaFlag);
int32_t ZqGetIoCount(int32_t id, ZQ_IO_COUNT *counts);
int32_t ZqGetMiscIoCount(int32_t id, ZQ_MISC_IO_COUNT *counts);
// Program transfer.
int32_t ZqDownload(int32_t id, const char *objectFile, ZQ_TRANSFER_STATS *stats);
int32_t ZqUpload(int32_t id, const char *objectFile, ZQ_TRANSFER_STATS *stats);

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
