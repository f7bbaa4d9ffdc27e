/*
 * orvcomm: the controller link library.
 *
 * Every export returns a 32-bit integer: 1 for success and 0 for failure
 * (the open calls return the new connection ID or 0). After a failure the
 * connection's error code and text are read with ZqGetErrorInfo; connection
 * ID 0 holds the error of a failed open.
 *
 * Several threads may make calls on one connection: the calls take turns,
 * and each returns the outcome of its own request. ZqGetErrorInfo gives the
 * calling thread the error that its own last call on the connection left,
 * so that a call's error is never another thread's; when that call left
 * none (it succeeded, or the thread made no call on the connection, as when
 * a worker thread ran the call), it gives the connection's last error, as
 * it always does with one thread.
 */
#ifndef ORVCOMM_H
#define ORVCOMM_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  define ZQ_CALL __stdcall
#  define ZQ_CALL_CALLER_CLEANS __cdecl
#  if defined(ORVCOMM_BUILDING)
#    define ZQ_API __declspec(dllexport)
#  else
#    define ZQ_API __declspec(dllimport)
#  endif
#else
/* Linux has one calling convention; the macros keep the Windows roles visible. */
#  define ZQ_CALL
#  define ZQ_CALL_CALLER_CLEANS
#  define ZQ_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Records ------------------------------------------------------------ */

#define ZQ_ERROR_TEXT_SIZE 256
#define ZQ_MESSAGE_INFO_BYTES 256

/* Connection types. */
#define ZQ_TYPE_SERIAL 1
#define ZQ_TYPE_RAW_ETHERNET 2
#define ZQ_TYPE_UDP 3
#define ZQ_TYPE_TCP 4

/* Packet class of every ordinary request. */
#define ZQ_PACKET_CLASS_REQUEST 20

typedef struct ZQ_ERROR_INFO {
    int32_t code;
    char text[ZQ_ERROR_TEXT_SIZE];
} ZQ_ERROR_INFO;

typedef struct ZQ_CONNECTION_INFO {
    int32_t type;
    int32_t port;
    int32_t address;
    int32_t timeout;
    int32_t status;
    uint8_t sourceMac[6];
    uint8_t destinationMac[6];
} ZQ_CONNECTION_INFO;

typedef struct ZQ_MESSAGE_INFO {
    int32_t requestLength;
    uint8_t request[ZQ_MESSAGE_INFO_BYTES];
    int32_t replyLength;
    uint8_t reply[ZQ_MESSAGE_INFO_BYTES];
} ZQ_MESSAGE_INFO;

/* ---- Exchange, information and errors ----------------------------------- */

/* One request/reply exchange. The request is at most 1484 bytes; the reply
 * buffer must hold the longest reply the request can draw (at most 1536). */
ZQ_API int32_t ZQ_CALL ZqSendData(int32_t id, int32_t packetClass, const uint8_t *request,
                                  uint32_t requestLength, uint8_t *reply);
/* A text exchange: on a serial line the request is written as it is and the
 * reply read up to the terminator byte; elsewhere it travels as a frame. */
ZQ_API int32_t ZQ_CALL ZqSendAscii(int32_t id, const uint8_t *request, uint32_t requestLength,
                                   uint8_t *reply, uint8_t terminator);
/* The error of the calling thread's last call on the connection when that
 * call left one, else the connection's last error (see the top of this
 * file); ID 0: the error of the last failed open. */
ZQ_API int32_t ZQ_CALL ZqGetErrorInfo(int32_t id, ZQ_ERROR_INFO *info);
ZQ_API int32_t ZQ_CALL ZqGetConnectionInfo(int32_t id, ZQ_CONNECTION_INFO *info);
ZQ_API int32_t ZQ_CALL ZqGetMessageInfo(int32_t id, ZQ_MESSAGE_INFO *info);

/* ---- Connections -------------------------------------------------------- */

/* type: ZQ_TYPE_SERIAL (port = COM port number), ZQ_TYPE_RAW_ETHERNET
 * (port = own node, address = controller node), ZQ_TYPE_UDP (port = local
 * port, 0 for any; address = controller IPv4 address in network byte order),
 * ZQ_TYPE_TCP (address as for UDP). Returns the connection ID, or 0. */
ZQ_API int32_t ZQ_CALL ZqOpenConnection(int32_t type, int32_t port, int32_t address);
/* As ZqOpenConnection; serialReadTimeout is the serial read time-out in ms
 * (1000 or less gives 1000, above 20000 gives 5000). */
ZQ_API int32_t ZQ_CALL ZqOpenNetConnection(int32_t type, int32_t port, int32_t address,
                                           uint32_t serialReadTimeout);
/* parity 0 none, 1 odd, 2 even, 3 mark, 4 space; stopBits 0 one, 1 one and a half, 2 two. */
ZQ_API int32_t ZQ_CALL ZqInitConnection(int32_t id, int32_t baudRate, int32_t parity, int32_t dataBits,
                                        int32_t stopBits);
ZQ_API int32_t ZQ_CALL ZqCloseConnection(int32_t id);
ZQ_API int32_t ZQ_CALL ZqSetConnectionTimeout(int32_t id, int32_t milliseconds);

/* ---- Raw-Ethernet adapters ---------------------------------------------- */

/* At most this many adapters are listed. */
#define ZQ_MAX_ADAPTERS 10

/* What ZqGetAvailableAdaptersIPList fills: per usable Ethernet adapter its
 * IPv4 address (first dotted part in the top byte) and its index in the
 * adapter table, and the number of entries. */
typedef struct ZQ_ADAPTER_IP_LIST {
    uint32_t addresses[ZQ_MAX_ADAPTERS];
    int32_t indexes[ZQ_MAX_ADAPTERS];
    int32_t count;
} ZQ_ADAPTER_IP_LIST;

/* Chooses the adapter for raw Ethernet by its index in the adapter table;
 * 0 or less chooses the first usable one. Choosing another adapter closes
 * the open one: raw-Ethernet connections still open on it then fail with
 * "Invalid connection status" until they are closed. Always 1. */
ZQ_API int32_t ZQ_CALL ZqSetAdapter(int32_t index);
/* Fills up to ZQ_MAX_ADAPTERS entries of each array and the count. Always 1. */
ZQ_API int32_t ZQ_CALL ZqGetAvailableAdaptersIPList(uint32_t *addresses, int32_t *indexes, int32_t *count);
/* Closes the adapter (and stops its receive thread) if it is open. Always 1. */
ZQ_API int32_t ZQ_CALL ZqUnload(void);

/* ---- Registers ---------------------------------------------------------- */

/* Registers are the controller's numbered 32-bit values. Register numbers go
 * out as their low 16 bits. A read answered by a bare acknowledgement returns
 * 1 and leaves its outputs unwritten. */
ZQ_API int32_t ZQ_CALL ZqGetRegister(int32_t id, int32_t reg, int32_t *value);
/* Sixteen registers from `first` (1-based). */
ZQ_API int32_t ZQ_CALL ZqGetRegister16(int32_t id, int32_t first, int32_t *values);
/* Block `block` (1-based) of fifty registers. */
ZQ_API int32_t ZQ_CALL ZqGetRegister50(int32_t id, int32_t block, int32_t *values);
/* The `count` (at most 50) registers named in `registers`. */
ZQ_API int32_t ZQ_CALL ZqGetNRegisters(int32_t id, int32_t count, const int32_t *registers, int32_t *values);
ZQ_API int32_t ZQ_CALL ZqPutRegister(int32_t id, int32_t reg, int32_t value);

/* ---- V-registers -------------------------------------------------------- */

/* V-registers are the controller's typed variables. Each travels as a fixed
 * block of bytes: a type, a few header values the library carries unchanged,
 * and the value. The records below are packed exactly as they cross, so a
 * double in them may lie off its natural alignment: read and write such
 * fields directly or copy them, rather than taking their address. */

/* Value types (the `type` field). Type 2 is a further 4-byte type: block
 * reads take it as 4-byte values and ZqGetVRegisters stores it as an integer;
 * ZqGetVRegister, ZqSetVRegister and ZqSetVRegisters refuse it. */
#define ZQ_VTYPE_INTEGER 1
#define ZQ_VTYPE_WORD 2
#define ZQ_VTYPE_STRING 4
#define ZQ_VTYPE_FLOAT 8
#define ZQ_VTYPE_DOUBLE 16

#define ZQ_VREGISTER_TEXT_SIZE 224      /* at most 223 characters and a NUL */
#define ZQ_VREGISTER_VALUE_BYTES 1384   /* value area of a block record */
#define ZQ_VREGISTER_RANDOM_ENTRIES 115 /* random entries of three words each */

#pragma pack(push, 1)

/* One V-register (276 bytes). */
typedef struct ZQ_VREGISTER {
    int32_t number;
    int32_t type;
    int32_t headerA;
    int32_t headerB;
    int32_t headerC;
    int32_t headerD;
    int32_t stringLength;
    int32_t headerE;
    int32_t headerF;
    int32_t intValue;
    float floatValue;
    double doubleValue;
    char text[ZQ_VREGISTER_TEXT_SIZE];
} ZQ_VREGISTER;

/* The values behind a block header: packed 4-byte values (types 1, 2, 8),
 * 8-byte values (type 16), or for ZqGetVRegisterRandomBlock the entries that
 * the reply's values then overwrite. */
typedef union ZQ_VREGISTER_VALUES {
    int32_t intValues[ZQ_VREGISTER_VALUE_BYTES / 4];
    float floatValues[ZQ_VREGISTER_VALUE_BYTES / 4];
    double doubleValues[ZQ_VREGISTER_VALUE_BYTES / 8];
    int32_t entries[ZQ_VREGISTER_RANDOM_ENTRIES][3];
    uint8_t bytes[ZQ_VREGISTER_VALUE_BYTES];
} ZQ_VREGISTER_VALUES;

/* A run of V-registers (1436 bytes: a 52-byte header and the values). */
typedef struct ZQ_VREGISTER_BLOCK {
    int32_t firstNumber;
    int32_t type;
    int32_t headerA;
    int32_t headerB;
    int32_t headerC;
    int32_t headerD;
    int32_t countReturned;
    int32_t headerE;
    int32_t headerF;
    int32_t countRequested;
    int32_t headerG;
    int32_t headerH;
    int32_t headerI;
    ZQ_VREGISTER_VALUES values;
} ZQ_VREGISTER_BLOCK;

/* A random read of doubles (2352 bytes): the block header, the values read,
 * then the entries asked for. */
typedef struct ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE {
    int32_t firstNumber;
    int32_t type;
    int32_t headerA;
    int32_t headerB;
    int32_t headerC;
    int32_t headerD;
    int32_t countReturned;
    int32_t headerE;
    int32_t headerF;
    int32_t countRequested;
    int32_t headerG;
    int32_t headerH;
    int32_t headerI;
    double values[ZQ_VREGISTER_RANDOM_ENTRIES];
    int32_t entries[ZQ_VREGISTER_RANDOM_ENTRIES][3];
} ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE;

#pragma pack(pop)

#ifdef __cplusplus
#  define ZQ_VREGISTER_LAYOUT(e) static_assert(e, "V-register record layout")
#else
#  define ZQ_VREGISTER_LAYOUT(e) _Static_assert(e, "V-register record layout")
#endif
ZQ_VREGISTER_LAYOUT(sizeof(ZQ_VREGISTER) == 276);
ZQ_VREGISTER_LAYOUT(offsetof(ZQ_VREGISTER, stringLength) == 24);
ZQ_VREGISTER_LAYOUT(offsetof(ZQ_VREGISTER, intValue) == 36);
ZQ_VREGISTER_LAYOUT(offsetof(ZQ_VREGISTER, floatValue) == 40);
ZQ_VREGISTER_LAYOUT(offsetof(ZQ_VREGISTER, doubleValue) == 44);
ZQ_VREGISTER_LAYOUT(offsetof(ZQ_VREGISTER, text) == 52);
ZQ_VREGISTER_LAYOUT(sizeof(ZQ_VREGISTER_VALUES) == 1384);
ZQ_VREGISTER_LAYOUT(sizeof(ZQ_VREGISTER_BLOCK) == 1436);
ZQ_VREGISTER_LAYOUT(offsetof(ZQ_VREGISTER_BLOCK, countReturned) == 24);
ZQ_VREGISTER_LAYOUT(offsetof(ZQ_VREGISTER_BLOCK, countRequested) == 36);
ZQ_VREGISTER_LAYOUT(offsetof(ZQ_VREGISTER_BLOCK, headerI) == 48);
ZQ_VREGISTER_LAYOUT(offsetof(ZQ_VREGISTER_BLOCK, values) == 52);
ZQ_VREGISTER_LAYOUT(sizeof(ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE) == 2352);
ZQ_VREGISTER_LAYOUT(offsetof(ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE, values) == 52);
ZQ_VREGISTER_LAYOUT(offsetof(ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE, entries) == 972);
#undef ZQ_VREGISTER_LAYOUT

/* Three properties of V-register `number`. */
ZQ_API int32_t ZQ_CALL ZqGetVProperties(int32_t id, int32_t number, int32_t *property1, int32_t *property2,
                                        int32_t *property3);
/* Reads the V-register whose number, type and header the record holds; the
 * returned type and the value of that type are written into the record. */
ZQ_API int32_t ZQ_CALL ZqGetVRegister(int32_t id, ZQ_VREGISTER *record);
/* Writes one V-register of type 1, 4, 8 or 16 from the record. */
ZQ_API int32_t ZQ_CALL ZqSetVRegister(int32_t id, const ZQ_VREGISTER *record);
/* One request per record, in order; `done` receives the number of records
 * completed so far. */
ZQ_API int32_t ZQ_CALL ZqGetVRegisters(int32_t id, int32_t count, int32_t *done, ZQ_VREGISTER *records);
ZQ_API int32_t ZQ_CALL ZqSetVRegisters(int32_t id, int32_t count, int32_t *done, const ZQ_VREGISTER *records);
/* countRequested V-registers from firstNumber in one request. On a serial
 * connection at most 50 (25 of type 16) travel in one block; on the others
 * 346 (173 of type 16). The Integer, Float and Double reads refuse a block of
 * another type; the typed writes send their own type. */
ZQ_API int32_t ZQ_CALL ZqGetVRegisterBlock(int32_t id, ZQ_VREGISTER_BLOCK *block);
ZQ_API int32_t ZQ_CALL ZqGetVRegisterBlockInteger(int32_t id, ZQ_VREGISTER_BLOCK *block);
ZQ_API int32_t ZQ_CALL ZqGetVRegisterBlockFloat(int32_t id, ZQ_VREGISTER_BLOCK *block);
ZQ_API int32_t ZQ_CALL ZqGetVRegisterBlockDouble(int32_t id, ZQ_VREGISTER_BLOCK *block);
ZQ_API int32_t ZQ_CALL ZqSetVRegisterBlock(int32_t id, const ZQ_VREGISTER_BLOCK *block);
ZQ_API int32_t ZQ_CALL ZqSetVRegisterBlockInteger(int32_t id, const ZQ_VREGISTER_BLOCK *block);
ZQ_API int32_t ZQ_CALL ZqSetVRegisterBlockFloat(int32_t id, const ZQ_VREGISTER_BLOCK *block);
ZQ_API int32_t ZQ_CALL ZqSetVRegisterBlockDouble(int32_t id, const ZQ_VREGISTER_BLOCK *block);
/* Reads the countRequested entries held in block->values.entries (at most 17
 * on a serial connection, 115 on the others); the values read replace them.
 * The caller removes the arguments from the stack after this call. */
ZQ_API int32_t ZQ_CALL_CALLER_CLEANS ZqGetVRegisterRandomBlock(int32_t id, ZQ_VREGISTER_BLOCK *block);
ZQ_API int32_t ZQ_CALL ZqGetVRegisterRandomBlockDouble(int32_t id, ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE *block);

/* ---- Flags, I/O and servos ---------------------------------------------- */

/* Resource numbers are 1-based: flag 1-256, digital module 1-8 (eight points),
 * digital group 1-8 (128 points, as four 32-bit words), analog channel 1-256,
 * analog group 1-8 (32 channels), servo axis 1-16. A number out of range
 * returns 0 at once, sends nothing and leaves the error as it was. */
ZQ_API int32_t ZQ_CALL ZqGetFlag(int32_t id, int32_t flag, int32_t *value);
/* Sets the flag when value is not 0, else clears it. */
ZQ_API int32_t ZQ_CALL ZqPutFlag(int32_t id, int32_t flag, int32_t value);
ZQ_API int32_t ZQ_CALL ZqGetDigitalInput8(int32_t id, int32_t module, int32_t *value);
ZQ_API int32_t ZQ_CALL ZqGetDigitalOutput8(int32_t id, int32_t module, int32_t *value);
ZQ_API int32_t ZQ_CALL ZqGetDigitalInput128(int32_t id, int32_t group, int32_t *words);
ZQ_API int32_t ZQ_CALL ZqGetDigitalOutput128(int32_t id, int32_t group, int32_t *words);
/* Analog values are read as unsigned 16 bits and written as the low 16 bits. */
ZQ_API int32_t ZQ_CALL ZqGetAnalogInput(int32_t id, int32_t channel, int32_t *value);
ZQ_API int32_t ZQ_CALL ZqGetAnalogOutput(int32_t id, int32_t channel, int32_t *value);
ZQ_API int32_t ZQ_CALL ZqPutAnalogOutput(int32_t id, int32_t channel, int32_t value);
ZQ_API int32_t ZQ_CALL ZqGetAnalogInput32(int32_t id, int32_t group, int32_t *values);
ZQ_API int32_t ZQ_CALL ZqGetAnalogOutput32(int32_t id, int32_t group, int32_t *values);
/* count (1-64) outputs from channel first; first + count - 1 at most 256. */
ZQ_API int32_t ZQ_CALL ZqPutAnalogOutputN(int32_t id, int32_t first, int32_t count, const int32_t *values);
ZQ_API int32_t ZQ_CALL ZqGetServoPosition(int32_t id, int32_t axis, int32_t *value);
ZQ_API int32_t ZQ_CALL ZqGetServoError(int32_t id, int32_t axis, int32_t *value);
ZQ_API int32_t ZQ_CALL ZqGetServoInputs(int32_t id, int32_t axis, int32_t *value);

/* ---- Data table --------------------------------------------------------- */

/* A grid of 16-bit cells; rows and columns are numbered from 1. Row arrays are
 * indexed by column number (element c is the cell of column c), so a run from
 * column f of n cells needs f + n elements. */
ZQ_API int32_t ZQ_CALL ZqGetDataTableDim(int32_t id, int32_t *rows, int32_t *columns);
/* rows 0 to 65535, columns 1 to 255. */
ZQ_API int32_t ZQ_CALL ZqPutDataTableDim(int32_t id, int32_t rows, int32_t columns);
ZQ_API int32_t ZQ_CALL ZqGetDataTableLoc(int32_t id, int32_t row, int32_t column, int32_t *value);
ZQ_API int32_t ZQ_CALL ZqPutDataTableLoc(int32_t id, int32_t row, int32_t column, int32_t value);
/* Reads n cells from column f in chunks of up to 28; element 0 receives the
 * row number, even when the call fails. A failed chunk ends the call; cells
 * of earlier chunks stay written. */
ZQ_API int32_t ZQ_CALL ZqGetDataTableRow(int32_t id, int32_t row, int32_t first, int32_t count, int32_t *cells);
/* Writes n cells from column f (f >= 1, f + n - 1 <= 255) in chunks of up to 27. */
ZQ_API int32_t ZQ_CALL ZqPutDataTableRow(int32_t id, int32_t row, int32_t first, int32_t count,
                                         const int32_t *cells);

/* ---- Status, configuration, model and counts ---------------------------- */

typedef struct ZQ_IO_COUNT {
    int32_t flags;
    int32_t inputs;
    int32_t outputs;
    int32_t steppers;
    int32_t servos;
    int32_t analogInputs;
    int32_t analogOutputs;
} ZQ_IO_COUNT;

typedef struct ZQ_MISC_IO_COUNT {
    int32_t prototype;
    int32_t hsCounters;
    int32_t thumbwheels;
    int32_t displays;
} ZQ_MISC_IO_COUNT;

/* One bank of eight tasks, 28 values: the controller's stopped flag, fault
 * code, fault step and fault data; then for each task of the bank its step
 * number plus one (0x10000: not running) and the low and high 32 bits of its
 * child-task mask (the high words are 0 in the controller's short form). */
typedef struct ZQ_TASK_BANK {
    int32_t stopped;
    int32_t faultCode;
    int32_t faultStep;
    int32_t faultData;
    int32_t steps[8];
    int32_t childLow[8];
    int32_t childHigh[8];
} ZQ_TASK_BANK;

#ifdef __cplusplus
static_assert(sizeof(ZQ_IO_COUNT) == 28, "ZQ_IO_COUNT layout");
static_assert(sizeof(ZQ_MISC_IO_COUNT) == 16, "ZQ_MISC_IO_COUNT layout");
static_assert(sizeof(ZQ_TASK_BANK) == 112, "ZQ_TASK_BANK layout");
static_assert(offsetof(ZQ_TASK_BANK, childHigh) == 80, "ZQ_TASK_BANK layout");
#else
_Static_assert(sizeof(ZQ_IO_COUNT) == 28, "ZQ_IO_COUNT layout");
_Static_assert(sizeof(ZQ_MISC_IO_COUNT) == 16, "ZQ_MISC_IO_COUNT layout");
_Static_assert(sizeof(ZQ_TASK_BANK) == 112, "ZQ_TASK_BANK layout");
#endif

/* The status and configuration bytes, zero-extended; writes take 0 to 255. */
ZQ_API int32_t ZQ_CALL ZqGetStatus(int32_t id, int32_t *status);
ZQ_API int32_t ZQ_CALL ZqPutStatus(int32_t id, int32_t status);
ZQ_API int32_t ZQ_CALL ZqGetConfig(int32_t id, int32_t *config);
ZQ_API int32_t ZQ_CALL ZqPutConfig(int32_t id, int32_t config);
/* bank from 1; the request carries the low 8 bits of bank - 1. */
ZQ_API int32_t ZQ_CALL ZqGetTaskBank(int32_t id, int32_t bank, ZQ_TASK_BANK *taskBank);
/* The model code (register 13008) and whether it is an EA controller (model 3
 * or above 4). On failure both outputs are -1. */
ZQ_API int32_t ZQ_CALL ZqGetModel(int32_t id, int32_t *model, int32_t *ea);
ZQ_API int32_t ZQ_CALL ZqGetIoCount(int32_t id, ZQ_IO_COUNT *counts);
ZQ_API int32_t ZQ_CALL ZqGetMiscIoCount(int32_t id, ZQ_MISC_IO_COUNT *counts);

/* ---- Raw command, Q80 data and remote I/O ------------------------------- */

/* ZqRunCommand takes at most this many command bytes, and hands back at most
 * this many data bytes (the caller's out buffer must hold them). */
#define ZQ_RUN_COMMAND_MAX_BYTES 251
#define ZQ_RUN_COMMAND_REPLY_BYTES 252

#define ZQ_REMOTE_IO_VALUES 376

/* The Q80 data block and the remote I/O configuration and data, passed on
 * unchanged from the controller's long reply: values 0-127 and 128-255 are
 * unsigned 16-bit words, values 256-265, 266-275 and 276-375 32-bit words. */
typedef struct ZQ_REMOTE_IO_DATA {
    int32_t values[ZQ_REMOTE_IO_VALUES];
} ZQ_REMOTE_IO_DATA;

/* Sends 0x61 followed by the `count` command bytes (the library adds the
 * frame around them) and hands back the data bytes of the 0x62 reply:
 * *replyCount of them into `reply`. A count above 251 is refused at once. */
ZQ_API int32_t ZQ_CALL ZqRunCommand(int32_t id, const uint8_t *command, int32_t count, uint8_t *reply,
                                    int32_t *replyCount);
/* The three reads need the controller's long reply, which only the
 * raw-Ethernet transport carries whole; on the other transports they fail
 * with "Incomplete packet" rather than hand back values that never arrived.
 * A bare acknowledgement returns 1 and leaves the record unwritten. */
ZQ_API int32_t ZQ_CALL ZqGetQ80Data(int32_t id, ZQ_REMOTE_IO_DATA *data);
/* The second argument is not used. */
ZQ_API int32_t ZQ_CALL ZqLoadRemoteIOConfig(int32_t id, int32_t unused);
ZQ_API int32_t ZQ_CALL ZqUnloadRemoteIOConfig(int32_t id, ZQ_REMOTE_IO_DATA *data);
ZQ_API int32_t ZQ_CALL ZqGetRemoteIOData(int32_t id, ZQ_REMOTE_IO_DATA *data);

/* ---- Program transfer --------------------------------------------------- */

/* What ZqDownload, ZqUpload and ZqUncompile count; each sets all four to 0
 * on entry. */
typedef struct ZQ_TRANSFER_STATS {
    int32_t steps;    /* steps handled */
    int32_t bytes;    /* object-file bytes read or written */
    int32_t errors;
    int32_t warnings;
} ZQ_TRANSFER_STATS;

/* Lists the program of an object file as text, without a controller: the
 * steps, the data table (no file when the object file has none) and the
 * system configuration of a controller of the given model code, each into a
 * new file (existing files are never replaced). An object file that
 * cannot be read to its end (too large, no magic or status byte, a record
 * that breaks off) fails the call with the error ZqCheckDownload gives it,
 * and leaves no listing. The
 * error of a failure goes to the connection of the latest lookup, or to ID 0
 * when there is none. */
ZQ_API int32_t ZQ_CALL ZqUncompile(int32_t model, const char *objectFile, const char *stepFile,
                                   const char *dataTableFile, const char *configFile, ZQ_TRANSFER_STATS *stats);
/* Writes the program of an existing object file into the controller inside
 * one program load. 1 when the whole file was sent. The connection stays
 * open. */
ZQ_API int32_t ZQ_CALL ZqDownload(int32_t id, const char *objectFile, ZQ_TRANSFER_STATS *stats);
/* Makes every check that ZqDownload makes before its first write, and
 * writes nothing: the controller's model is read (the one request sent),
 * the object file is read to its end a record at a time, its records must
 * have known types and must not break off, its architecture must fit the
 * controller's model and its data table the transfer. 1 when ZqDownload
 * would go ahead with this file on this controller; 0 with the error code
 * and text that ZqDownload would give, in the order the checks run:
 *   - the model read's own error;
 *   - 187 "Object file not found" for a file that cannot be opened;
 *   - 184 "Bad object file: it is N bytes, larger than any controller's
 *     program (at most 33554432)", before anything of it is read;
 *   - 184 "Bad object file" for a file without its magic, 184 "Not an
 *     object file" for a magic of no object file;
 *   - 185 for an architecture that does not fit the controller's model;
 *   - 183 "Bad object record" for a file without its status byte;
 *   - 184 "Bad object file: " and what is wrong, for records of an unknown
 *     type or records that break off;
 *   - 183 for a data table too large for the transfer.
 * ZqDownload runs the same checks itself. */
ZQ_API int32_t ZQ_CALL ZqCheckDownload(int32_t id, const char *objectFile);
/* Reads the controller's program into a new object file; a file of that
 * name already there is left alone and the call fails. 1 when the file was
 * written to the end: steps or rows that could not be read are counted in
 * `errors`, leave their place in the file empty and mark the file's status
 * byte. A file that cannot be written to the end fails the call. */
ZQ_API int32_t ZQ_CALL ZqUpload(int32_t id, const char *objectFile, ZQ_TRANSFER_STATS *stats);

#ifdef __cplusplus
}

static_assert(sizeof(ZQ_ERROR_INFO) == 260, "ZQ_ERROR_INFO layout");
static_assert(sizeof(ZQ_CONNECTION_INFO) == 32, "ZQ_CONNECTION_INFO layout");
static_assert(offsetof(ZQ_CONNECTION_INFO, sourceMac) == 20, "ZQ_CONNECTION_INFO layout");
static_assert(offsetof(ZQ_CONNECTION_INFO, destinationMac) == 26, "ZQ_CONNECTION_INFO layout");
static_assert(sizeof(ZQ_MESSAGE_INFO) == 520, "ZQ_MESSAGE_INFO layout");
static_assert(offsetof(ZQ_MESSAGE_INFO, replyLength) == 260, "ZQ_MESSAGE_INFO layout");
static_assert(sizeof(ZQ_ADAPTER_IP_LIST) == 84, "ZQ_ADAPTER_IP_LIST layout");
static_assert(offsetof(ZQ_ADAPTER_IP_LIST, indexes) == 40, "ZQ_ADAPTER_IP_LIST layout");
static_assert(offsetof(ZQ_ADAPTER_IP_LIST, count) == 80, "ZQ_ADAPTER_IP_LIST layout");
static_assert(sizeof(ZQ_REMOTE_IO_DATA) == 1504, "ZQ_REMOTE_IO_DATA layout");
static_assert(sizeof(ZQ_TRANSFER_STATS) == 16, "ZQ_TRANSFER_STATS layout");
static_assert(offsetof(ZQ_TRANSFER_STATS, warnings) == 12, "ZQ_TRANSFER_STATS layout");
#else
_Static_assert(sizeof(ZQ_ERROR_INFO) == 260, "ZQ_ERROR_INFO layout");
_Static_assert(sizeof(ZQ_CONNECTION_INFO) == 32, "ZQ_CONNECTION_INFO layout");
_Static_assert(sizeof(ZQ_MESSAGE_INFO) == 520, "ZQ_MESSAGE_INFO layout");
_Static_assert(sizeof(ZQ_ADAPTER_IP_LIST) == 84, "ZQ_ADAPTER_IP_LIST layout");
_Static_assert(sizeof(ZQ_REMOTE_IO_DATA) == 1504, "ZQ_REMOTE_IO_DATA layout");
_Static_assert(sizeof(ZQ_TRANSFER_STATS) == 16, "ZQ_TRANSFER_STATS layout");
#endif

#endif /* ORVCOMM_H */
