// The serial transport over the platform's serial port.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "connection.h"
#include "platform/serial_port.h"
#include "serial_line.h"

namespace orv {

// A serial line carries the block in one ordinary frame, hands over what
// arrived even when the exchange failed, and runs text exchanges.
inline constexpr TransportTraits kSerialTraits{
    .blockSize = kSerialBlock, .blockInFrame = true, .keepsFailedReply = true, .textExchange = true};

class SerialTransport : public Transport {
public:
    SerialTransport() : Transport(kSerialTraits) {}
    ~SerialTransport() override;
    // Opens the device with the given read time-out; 0 or an errno value.
    int open(const std::string &path, std::uint32_t readTimeout);
    // The line settings of a new connection: 9600 8N1, raw, DTR and RTS on.
    int applyDefaults();

    bool exchange(Connection &c) override;
    bool writeText(Connection &c) override;
    bool readText(Connection &c, std::uint8_t terminator) override;
    bool close(Connection &c) override;
    bool setTimeout(Connection &c, std::int32_t ms) override;
    bool applyLineSettings(Connection &c, std::int32_t baud, std::uint8_t parity, std::uint8_t dataBits,
                           std::uint8_t stopBits) override;
    bool takeReply(Connection &c, bool answers) override;

    const platform::SerialSettings &settings() const { return settings_; }
    const platform::SerialPort &port() const { return port_; }
    // The line's state and what it has learnt of the controller.
    const SerialLine &line() const { return line_; }
    // Whether the next request waits for a quiet line first.
    bool lineDirty() const { return line_.state() == SerialLine::State::Dirty; }
    // Whether the next reply is watched before it is trusted.
    bool lineUnconfirmed() const { return line_.state() != SerialLine::State::InStep; }
    // How long the line must stay quiet to be trusted: the time-out, or the
    // longest one that a request went out under since the line was last in
    // step, when that is longer.
    std::chrono::milliseconds quietPeriod() const;

private:
    // Before a request: a dirty line, or one that holds bytes nobody asked
    // for, must first be quiet for a whole quiet period. False (with the
    // error set) when it does not go quiet.
    bool settle(Connection &c);
    // Throws away what arrives until the line has been quiet for a whole
    // quiet period: true, or false (with the error set) when the line does
    // not go quiet.
    bool waitForQuiet(Connection &c);
    // Nothing arrives until `end`, nor is waiting then.
    bool quietUntil(std::chrono::steady_clock::time_point end);
    // Bytes went out on the line at `t`, or came from it.
    void sent(std::chrono::steady_clock::time_point t);
    void heard(std::chrono::steady_clock::time_point t);
    // A request had no reply at all within its time-out.
    void timedOut();
    bool writeRequest(Connection &c);
    // Reads one reply whole; its first byte by `deadline` (none: no limit).
    bool readReply(Connection &c, SerialLine::Reply &r,
                   std::optional<std::chrono::steady_clock::time_point> deadline);
    // The request in c as the line's rule sees it.
    SerialLine::Request requestOf(const Connection &c) const;
    // The line as the port's close leaves it, for the next open of the device.
    void leaveLine();

    platform::SerialPort port_;
    std::string path_;
    std::string device_;
    platform::SerialSettings settings_;
    SerialLine line_;
    // When the last byte went either way on the line (none: not known),
    // and when the first time-out since a byte came ended.
    std::optional<std::chrono::steady_clock::time_point> lastSeen_, silentSince_;
    // The last exchange's reply, until the caller takes it or not.
    struct Taken {
        SerialLine::Request request;
        SerialLine::Reply reply;
        bool proof = false;
    };
    std::optional<Taken> taken_;
};

}  // namespace orv
