// The serial transport over the platform's serial port.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

#include "connection.h"
#include "platform/serial_port.h"

namespace orv {

// A serial line carries the block in one ordinary frame, hands over what
// arrived even when the exchange failed, and runs text exchanges.
inline constexpr TransportTraits kSerialTraits{
    .blockSize = kSerialBlock, .blockInFrame = true, .keepsFailedReply = true, .textExchange = true};

class SerialTransport : public Transport {
public:
    SerialTransport() : Transport(kSerialTraits) {}
    ~SerialTransport() override;
    // Opens COM port n with the given read time-out; 0 or an errno value.
    int open(std::int32_t portNumber, std::uint32_t readTimeout);
    // The line settings of a new connection: 9600 8N1, raw, DTR and RTS on.
    int applyDefaults();

    bool exchange(Connection &c) override;
    bool writeText(Connection &c) override;
    bool readText(Connection &c, std::uint8_t terminator) override;
    bool close(Connection &c) override;
    bool setTimeout(Connection &c, std::int32_t ms) override;
    bool applyLineSettings(Connection &c, std::int32_t baud, std::uint8_t parity, std::uint8_t dataBits,
                           std::uint8_t stopBits) override;

    const platform::SerialSettings &settings() const { return settings_; }
    const platform::SerialPort &port() const { return port_; }

private:
    using Clock = std::chrono::steady_clock;

    void prepareText();
    bool writeRequest(Connection &c);
    // How a reply read ended: whole and sound, cut short by the time-out
    // (the rest may still come), or whole but broken.
    enum class Read { Ok, Short, Broken };
    Read readReply(Connection &c);
    // Notes a reply that the line may still deliver, and forgets those
    // that are too late to come.
    void owe();
    void forgetExpired();
    // The replies still owed stay with the line when the port is closed,
    // for the next connection that opens it.
    void leaveOwedWithLine();

    platform::SerialPort port_;
    std::string path_;
    platform::SerialSettings settings_;
    // A binary exchange failed: the next text request waits for a quiet line.
    bool discardPending_ = false;
    // Until when each reply of an exchange that ended without it may still
    // arrive, oldest first.
    std::deque<Clock::time_point> owed_;
};

}  // namespace orv
