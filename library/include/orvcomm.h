/*
 * orvcomm: the controller link library.
 *
 * Every export returns a 32-bit integer: 1 for success and 0 for failure
 * (the open calls return the new connection ID or 0). After a failure the
 * connection's error code and text are read with ZqGetErrorInfo; connection
 * ID 0 holds the error of a failed open.
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

/* ---- V-registers -------------------------------------------------------- */

/* ---- Flags, I/O and servos ---------------------------------------------- */

/* ---- Data table --------------------------------------------------------- */

/* ---- Status, configuration, model and counts ---------------------------- */

/* ---- Raw command, Q80 data and remote I/O ------------------------------- */

/* ---- Program transfer --------------------------------------------------- */

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
#else
_Static_assert(sizeof(ZQ_ERROR_INFO) == 260, "ZQ_ERROR_INFO layout");
_Static_assert(sizeof(ZQ_CONNECTION_INFO) == 32, "ZQ_CONNECTION_INFO layout");
_Static_assert(sizeof(ZQ_MESSAGE_INFO) == 520, "ZQ_MESSAGE_INFO layout");
_Static_assert(sizeof(ZQ_ADAPTER_IP_LIST) == 84, "ZQ_ADAPTER_IP_LIST layout");
#endif

#endif /* ORVCOMM_H */
