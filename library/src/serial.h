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
    // Whether the next reply is watched before it is trusted.
    bool lineUnconfirmed() const { return unconfirmed_; }
    // How long the line must stay quiet to be trusted: the time-out, or the
    // longest one that a request went out under since the line was last in
    // step, when that is longer.
    std::chrono::milliseconds quietPeriod() const;

    using Duration = std::chrono::steady_clock::duration;

    // Whether this line has shown that it keeps its rate: its answers came
    // no sooner than their requests could cross it, eight in a row. Only
    // then is an answer that came sooner refused. A pseudo-terminal or a
    // device that ignores the rate answers at once and is never judged by
    // it. A refused reply that proves to have been its request's answer
    // (nothing followed it) ends the judgement until the line has shown its
    // rate again, 64 answers in a row: one such event (which a stale reply
    // whose own request was lost looks like too) does not end it for good.
    class RateJudge {
    public:
        bool keepsRate() const { return onTime_ >= needed_; }
        void note(bool early);
        void foundIgnoringRate();

    private:
        static constexpr std::uint32_t kSeen = 8, kSeenAgain = 64;
        std::uint32_t onTime_ = 0, needed_ = kSeen;
    };

    // How soon this controller answers: the time from its request's last
    // byte on the line to its reply's first byte going out, as its recent
    // trusted replies showed it. A reply that comes clearly sooner than the
    // quickest of them may be another request's answer.
    class AnswerTimes {
    public:
        void note(Duration answeredAfter);
        // False until a reply has been seen.
        bool clearlySooner(Duration answeredAfter) const;

    private:
        static constexpr std::size_t kKept = 32;
        Duration kept_[kKept] = {};
        std::size_t seen_ = 0;
    };

private:
    // Before a request: a dirty line, or one that holds bytes nobody asked
    // for, must first be quiet for a whole quiet period. False (with the
    // error set) when it does not go quiet.
    bool settle(Connection &c);
    // Throws away what arrives until the line has been quiet for a whole
    // quiet period: the number of bytes thrown away, or -1 (with the error
    // set) when the line does not go quiet.
    long waitForQuiet(Connection &c);
    // Watches the line for a quiet period after a reply that may be out of
    // step: true when nothing came, and the line is in step; false (with
    // the error set, the line dirty) when bytes came.
    bool watchAfterReply(Connection &c);
    // The exchange did not end cleanly.
    void markDirty();
    bool writeRequest(Connection &c);
    bool readReply(Connection &c);
    // The line as the port's close leaves it, for the next open of the device.
    void leaveLine();

    platform::SerialPort port_;
    std::string path_;
    std::string device_;
    platform::SerialSettings settings_;
    // An exchange did not end cleanly: bytes that belong to no request of
    // ours (a late, cut-short or repeated reply, noise) may still be on
    // their way, so no request goes out before the line has been quiet.
    bool dirty_ = false;
    // The line may be out of step: a controller that works off requests one
    // after another may still owe an answer that comes only after the next
    // request has gone out. The next reply is watched before it is trusted.
    // So is the first reply of a connection.
    bool unconfirmed_ = true;
    // The last reply was watched and trusted: a confirmation asked for it
    // has been given already.
    bool confirmed_ = false;
    // The longest time-out that a request went out under since the line
    // was last in step: an answer owed may take that long.
    std::chrono::milliseconds owedWithin_{0};
    // The same before the text request under way.
    std::chrono::milliseconds owedBeforeText_{0};
    RateJudge rate_;
    AnswerTimes answers_;
    // The last reply was refused for coming too soon: whether anything
    // follows it (its request's own answer) tells whether it was stale.
    bool refusedEarly_ = false;
    // When the first byte of the last reply was read.
    std::chrono::steady_clock::time_point firstByte_{};
};

}  // namespace orv
