// The library's error codes and their texts, exactly as callers and the
// monitor compare them. Besides these, a code may be an operating-system
// error number (errno) with one of the "platform" texts below.
#pragma once

#include <cstdint>

namespace orv::err {

// Codes.
inline constexpr std::uint16_t kNone = 0;
inline constexpr std::uint16_t kWrongArchitectureQ42 = 157;
inline constexpr std::uint16_t kStepLengthUpload = 160;
inline constexpr std::uint16_t kTimeout = 170;
inline constexpr std::uint16_t kBadObjectRecord = 183;
inline constexpr std::uint16_t kBadObjectFile = 184;
inline constexpr std::uint16_t kWrongArchitecture = 185;
inline constexpr std::uint16_t kObjectFileNotFound = 187;
inline constexpr std::uint16_t kConnection = 194;
inline constexpr std::uint16_t kNotBinaryReply = 205;
inline constexpr std::uint16_t kPacket = 206;
inline constexpr std::uint16_t kChecksum = 215;
inline constexpr std::uint16_t kDataError = 216;
inline constexpr std::uint16_t kSocketTimeout = 236;

// Texts.
inline constexpr const char kAckText[] = "                                              ";  // 46 spaces
inline constexpr const char kNdisSend[] = "NDIS send error";
inline constexpr const char kNoAdapter[] = "No Network Adapter found error";
inline constexpr const char kOpenFailed[] = "ORV_Open failed?";
inline constexpr const char kQ42OnQ43[] = "Attempting to run Q42 code on Q43.";
inline constexpr const char kStepLengthTable[] = "Failed to upload Step Length Table";
inline constexpr const char kTimedOut[] = "Timed out waiting for response from controller";
inline constexpr const char kBadObjectRecordText[] = "Bad object record";
inline constexpr const char kBadObjectFileText[] = "Bad object file";
inline constexpr const char kNotObjectFile[] = "Not an object file";
inline constexpr const char kNonEaFileEaController[] =
    "Wrong object file architecture - non-EA object file and EA controller.";
inline constexpr const char kEaFileNonEaController[] =
    "Wrong object file architecture - EA object file and non-EA controller.";
inline constexpr const char kObjectNotFound[] = "Object file not found";
inline constexpr const char kInvalidStatus[] = "Invalid connection status";
inline constexpr const char kUnknownType[] = "Unknown connection type";
inline constexpr const char kNotBinary[] = "Not a valid binary protocol response.";
inline constexpr const char kIncomplete[] = "Incomplete packet";
inline constexpr const char kIllegalSize[] = "Illegal packet size";
inline constexpr const char kChecksumFailedFmt[] = "Packet checksum failed (0x%02x != 0x%02x)";
inline constexpr const char kEndOfPacketFmt[] = "Failed to get End-Of-Packet (0x%02x != 0xFF)";
inline constexpr const char kUnknownPacket[] = "Unknown packet error.";
inline constexpr const char kChecksumOrEnd[] = "Checksum error, or end of packet <> FFH.";
inline constexpr const char kIllegalRegister[] = "Illegal register number specified.";
inline constexpr const char kOutOfRange[] = "Resource value out of range.";
inline constexpr const char kSocketTimeoutText[] = "Windows socket timeout";

// Texts that go with an operating-system error number.
inline constexpr const char kFileError[] = "Windows file error";
inline constexpr const char kSetCommState[] = "SetCommState error";
inline constexpr const char kSocketError[] = "Windows socket error";
inline constexpr const char kCloseSerial[] = "Failed to close serial port";
inline constexpr const char kSerialTimeout[] = "Failed to set Serial timeout.";
inline constexpr const char kSendFailed[] = "Failed to send message.";
inline constexpr const char kCannotCreateObject[] = "Cannot create object file";
inline constexpr const char kCannotCreateFile[] = "Cannot create file";

// Our own: a request that does not fit the connection's buffer is refused
// before anything is sent.
inline constexpr const char kRequestTooLong[] = "Request too long";
// A serial text reply that fills the reply buffer before its terminator.
inline constexpr const char kTextTooLong[] = "Text reply too long";
// A serial reply followed at once by more bytes, which leaves it unclear
// whose answer it was; and a serial line that never went quiet enough for a
// request to go out (both with 206).
inline constexpr const char kBytesAfterReply[] = "More bytes followed the reply";
inline constexpr const char kLineNotQuiet[] = "Serial line does not go quiet";
// A serial reply followed, within the time an answer may take, by the
// answer its line still owed: it answered another request (with 206).
inline constexpr const char kReplyOutOfStep[] = "Reply out of step with its request";
// On a serial line, a reply of another form than its request's answer: a
// late answer to an earlier request as likely as this one's (with 206).
inline constexpr const char kAckWhereDataWasDue[] =
    "Acknowledgement where data was due: it may answer an earlier request";
inline constexpr const char kReplyOfAnotherForm[] = "Reply of another form than its request's answer";
// A serial reply that began to arrive before its request could have crossed
// a line that keeps its rate: it answered an earlier request (with 206).
inline constexpr const char kReplyTooSoon[] = "Reply came before the request could reach the controller";
// What the serial line's check found (with 206): the line is not known to
// be in step, and the call fails without taking a reply.
inline constexpr const char kOutOfStep[] = "Serial line out of step: ";
inline constexpr const char kCheckUnanswered[] = "no answer to the line's check within";
inline constexpr const char kCheckAnsweredLate[] = "the reply's own answer came after it, before the line's check";
inline constexpr const char kCheckKeptAnswering[] = "the line kept answering before the line's check";
inline constexpr const char kCheckFollowed[] = "more bytes followed the answer to the line's check";
// A TCP controller that closed the connection instead of answering (with
// ECONNRESET), and a network reply that never carried the request's
// sequence number (with 206).
inline constexpr const char kPeerClosed[] = "Connection closed by controller";
inline constexpr const char kSequenceMismatch[] = "Reply sequence number mismatch";
// An object file that could not be written to the end (with errno): the
// upload ends rather than leave a cut file behind it as a success.
inline constexpr const char kCannotWriteObject[] = "Cannot write object file";
// A "datatab" size that no object file's records can carry (with 183).
inline constexpr const char kTableTooLarge[] = "Data table too large for an object file";

static_assert(sizeof(kAckText) == 47, "the acknowledgement text is 46 spaces");

}  // namespace orv::err
