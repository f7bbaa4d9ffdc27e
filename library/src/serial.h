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
    // Whether the line is not known to be in step (the next request goes
    // after a check, or its reply is watched).
    bool lineUnconfirmed() const { return line_.state() != SerialLine::State::InStep; }
    // How long the line must stay quiet to be trusted: the time-out, or the
    // longest one that a request went out under since the line was last in
    // step, when that is longer.
    std::chrono::milliseconds quietPeriod() const;

private:
    // Before a request: a dirty line, or (without checks) one behind or
    // holding bytes nobody asked for, must first be quiet for a whole quiet
    // period. False (with the error set) when it does not go quiet.
    bool settle(Connection &c, bool checks);
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
    // Writes a request whose code byte is `code`.
    bool writeBytes(Connection &c, const std::uint8_t *bytes, std::size_t count, std::uint8_t code);
    // One frame read whole into `buffer`, its length byte by `deadline`
    // (none: no limit); or nothing at all, or a broken frame (the reason in
    // `why`). `length` counts what was read, as a reply's length does.
    enum class Frame { Whole, Nothing, Broken };
    struct FrameFault {
        std::uint16_t code = 0;
        char text[96] = {};
    };
    Frame readFrame(std::uint8_t *buffer, std::uint16_t &length, SerialLine::Reply &r,
                    std::optional<std::chrono::steady_clock::time_point> deadline, FrameFault &why);
    // The reply to c's request into c, its error set on c.
    bool readReply(Connection &c, SerialLine::Reply &r,
                   std::optional<std::chrono::steady_clock::time_point> deadline);
    // A check: sent, and read until its own answer (`proof`), throwing
    // away the answers the line owed before it. `next`: the code of the
    // request that follows it (0: it follows a reply). Silent: nothing came
    // at all; OwnCameLate: after a reply, the first answer was of another
    // form (the reply's own, come after it). Otherwise the error is set.
    enum class CheckEnd { Proved, OwnCameLate, Silent, Broken, Failed };
    struct CheckProof {
        SerialLine::Request request;
        SerialLine::Reply reply;
    };
    CheckEnd runCheck(Connection &c, std::uint8_t next, CheckProof &proof);
    // The check before a request; once more after a quiet line when bytes
    // that make no frame were in the way.
    bool checkBefore(Connection &c, std::uint8_t next);
    // The check after the reply just taken: whether it proves the reply
    // its request's own.
    bool checkAfter(Connection &c, const SerialLine::Request &q, const SerialLine::Reply &r);
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
        bool proof = false, check = false;
    };
    std::optional<Taken> taken_;
};

}  // namespace orv
