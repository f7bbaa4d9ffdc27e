// The serial transport over the platform's serial port.
#pragma once

#include <chrono>
#include <cstdint>
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
    bool confirmReply(Connection &c) override;

    const platform::SerialSettings &settings() const { return settings_; }
    const platform::SerialPort &port() const { return port_; }
    // Whether the next request waits for a quiet line first.
    bool lineDirty() const { return dirty_; }

    // Whether this line has shown that it keeps its rate: most of its
    // answers came no sooner than their requests could cross it. Only then
    // is an answer that came sooner refused. A pseudo-terminal or a device
    // that ignores the rate answers at once and is never judged by it; one
    // that answers in time mostly but not always is judged no more once a
    // reply refused for coming too soon proves to have been its answer.
    class RateJudge {
    public:
        bool keepsRate() const {
            return !ignoresRate_ && onTime_ + early_ >= kSeen && onTime_ * 4 >= (onTime_ + early_) * 3;
        }
        void note(bool early);
        void foundIgnoringRate() { ignoresRate_ = true; }

    private:
        static constexpr std::uint32_t kSeen = 8, kMost = 256;
        std::uint32_t onTime_ = 0, early_ = 0;
        bool ignoresRate_ = false;
    };

private:
    // Before a request: a dirty line, or one that holds bytes nobody asked
    // for, must first be quiet for a whole time-out. False (with the error
    // set) when it does not go quiet.
    bool settle(Connection &c);
    // Throws away what arrives until the line has been quiet for a whole
    // time-out: the number of bytes thrown away, or -1 (with the error set)
    // when the line does not go quiet.
    long waitForQuiet(Connection &c);
    bool writeRequest(Connection &c);
    bool readReply(Connection &c);
    // Whether a reply whose first byte came `took` after its request was
    // handed to the port can be its answer; false (with the error set)
    // when it came too soon on a line that keeps its rate.
    bool cameAfterCrossing(Connection &c, std::chrono::steady_clock::duration took);
    // The line as the port's close leaves it, for the next open of the device.
    void leaveLine();

    platform::SerialPort port_;
    std::string path_;
    platform::SerialSettings settings_;
    // An exchange did not end cleanly: bytes that belong to no request of
    // ours (a late, cut-short or repeated reply, noise) may still be on
    // their way, so no reply is trusted before the line has been quiet.
    bool dirty_ = false;
    RateJudge rate_;
    // The last reply was refused for coming too soon: whether anything
    // follows it (its request's own answer) tells whether it was stale.
    bool refusedEarly_ = false;
    // When the first byte of the last reply was read.
    std::chrono::steady_clock::time_point firstByte_{};
};

}  // namespace orv
