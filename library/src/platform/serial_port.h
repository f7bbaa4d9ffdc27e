// A serial port over Linux termios: raw 8-bit lines at any baud rate, read
// and write with a total read time-out, opened exclusively.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace orv::platform {

// The line settings of a port, in the encoding the open and initialise calls
// use (parity 0 none, 1 odd, 2 even, 3 mark, 4 space; stop bits 0 one, 1 one
// and a half, 2 two).
struct SerialSettings {
    std::uint32_t baudRate = 9600;
    std::uint8_t byteSize = 8;
    std::uint8_t parity = 0;
    std::uint8_t stopBits = 0;
    bool parityCheck = false;
    bool ctsFlow = false;  // output held while CTS is low (RTS/CTS handshake)
    bool dtrOn = true;
    bool rtsOn = true;
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    std::uint8_t xonChar = 0x11;
    std::uint8_t xoffChar = 0x13;
};

// How long one character takes on a line with settings s: a start bit, the
// data bits, the parity bit if any and the stop bits, at the line's rate.
std::chrono::nanoseconds CharacterTime(const SerialSettings &s);

// COM port n is the device named by ORVCOMM_COM<n> when that is set and not
// empty, else /dev/ttyS<n-1>.
std::string SerialDevicePath(std::int32_t port);

class SerialPort {
public:
    static constexpr int kNoPort = -1;

    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Opens the device for reading and writing, exclusively (a second open,
    // also by root, fails with EBUSY). Returns 0 or an errno value.
    int open(const std::string &path);
    bool isOpen() const { return fd_ != kNoPort; }
    // What the open port is, whatever name it was opened under: its device
    // number (or, for anything but a device, its file); empty when closed.
    std::string deviceKey() const;
    // Drops DTR, discards both directions and closes. 0 or an errno value.
    int close();

    // 0 or an errno value. apply() sets the whole line: raw 8-bit mode (no
    // XON/XOFF unless asked, no signal characters, no CR/LF translation),
    // the character size, parity, stop bits and baud rate (any rate), the
    // flow control and the DTR and RTS lines (refused by a pseudo-terminal,
    // which is tolerated).
    int get(SerialSettings &out) const;
    int apply(const SerialSettings &s);
    // How long one character takes on the line as the driver set it after
    // the last apply() (zero before any).
    std::chrono::nanoseconds characterTime() const { return characterTime_; }

    // Total time a read may take; 0 waits until every byte asked for came.
    void setReadTimeout(std::uint32_t ms) { readTimeoutMs_ = ms; }
    std::uint32_t readTimeout() const { return readTimeoutMs_; }

    // Writes every byte, waiting at most `most` in all for the line to take
    // them. 0, ETIMEDOUT when the line did not take them in time, or an
    // errno value.
    int write(const std::uint8_t *bytes, std::size_t count, std::chrono::milliseconds most);
    // What a read saw of its bytes coming: the most that one look found
    // waiting, and when the last came.
    struct ReadTrace {
        std::size_t largestChunk = 0;
        std::chrono::steady_clock::time_point last{};
        // On a line at its rate, the latest the byte before the read's first
        // can have come: at each look, the bytes read so far came after it,
        // each a character later at the least.
        std::optional<std::chrono::steady_clock::time_point> byteBeforeBy;
    };
    // Reads up to count bytes, returning when all came or the read time-out
    // expired; returns the number read.
    std::size_t read(std::uint8_t *buffer, std::size_t count, ReadTrace *trace = nullptr);
    // The same, giving up at `deadline` instead (none: never).
    std::size_t readUntil(std::uint8_t *buffer, std::size_t count,
                          std::optional<std::chrono::steady_clock::time_point> deadline, ReadTrace *trace = nullptr);
    // True when input waits to be read (nothing is taken).
    bool hasInput();
    // Watches the line until `end` without taking anything: true as soon as
    // input is there. Ends on time rather than a timer slack later.
    bool inputBefore(std::chrono::steady_clock::time_point end);
    // Throws away pending input, then whatever arrives until the line has
    // been quiet for `quiet`: counted from `quietSince` when nothing was
    // pending (the line has been quiet since then), else from now. Returns
    // the number of bytes thrown away, or -1 when the line had not gone
    // quiet within `most` in all (it keeps talking).
    long discardUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds most,
                           std::optional<std::chrono::steady_clock::time_point> quietSince = std::nullopt);

private:
    int fd_ = kNoPort;
    std::uint32_t readTimeoutMs_ = 250;
    std::chrono::nanoseconds characterTime_{0};
};

}  // namespace orv::platform
