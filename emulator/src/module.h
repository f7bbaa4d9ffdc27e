// The controller module that takes new firmware over the serial line.
//
// Normal mode: the module is the controller, and a text request is echoed.
// A binary request 69 puts it into programming mode: 69 86 03 on the port of
// a CPU module or Q600 controller, 69 06 on the port of a communication
// module; the other request is refused with 67. In programming mode the line
// carries the loader's text protocol and binary frames get no answer:
//
//   XON                  the loader's greeting (first XON only), then XON
//   "3", "9" or "1"      (after the greeting) the digit echoed; the line then
//                        runs at 38400, 9600 or 19200 baud
//   a record             an S-record without line end: "K", a state and XOFF.
//                        State "0": busy erasing (the first data record), and
//                        the status lines "Flash Status 0000000x" + LF follow,
//                        the last with 00000010. State "1": taken. State "E":
//                        a broken record (not a valid S-record).
//   XON after a record   "DATA " and the address of a data record, CR and
//                        XON; XON alone after any other record.
//
// After the termination record (S7, S8 or S9) the module boots once the
// line has been quiet for kBootQuietMs: "Flash Verified" and "Boot Done", or
// "Verify Failed" and "Boot Aborted" after a broken record, each with CR LF;
// then it is the controller again, at its normal rate.
//
// A module left in programming mode by an interrupted download (stuck())
// answers no binary frame. A Q600 controller left so listens at 57600 baud
// for its wake-up "3", answers "Q600 Loader" and then waits for the XON of
// the handshake at 38400.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvemu {

class ModuleState {
public:
    static constexpr int kBootQuietMs = 250;
    static constexpr std::uint8_t kXon = 0x11;
    static constexpr std::uint8_t kXoff = 0x13;

    enum class Port { CpuModule, CommModule };
    enum class Phase { Off, WakeUp, Handshake, BaudCode, Records };

    // The kind of module behind this port.
    Port port = Port::CpuModule;
    // Status lines of a busy period, the last one 00000010 (at least 1).
    int busyLines = 2;
    // The loader's greeting, sent before the XON of the handshake.
    std::string greeting = "ORV Loader 2.1";

    // Request 69 with its arguments: the reply code (64 taken, 67 refused).
    std::uint8_t programmingRequest(std::span<const std::uint8_t> args);
    // A text request: the reply bytes.
    std::vector<std::uint8_t> text(std::span<const std::uint8_t> request);

    // Left in programming mode by an interrupted download: a CPU module at
    // the controller's own rate, a Q600 controller waiting for its wake-up.
    void stuck(bool q600);

    bool programming() const { return phase_ != Phase::Off; }
    Phase phase() const { return phase_; }
    // The rate the line runs at: the one the module switched to, or 0 for the
    // controller's own.
    std::uint32_t lineBaud() const { return lineBaud_; }
    // The boot report, once the line has been quiet after the last record.
    bool bootPending() const { return bootPending_; }
    std::vector<std::uint8_t> boot();

    // What the module has taken since programming mode began: the records in
    // order and the broken ones; and how often it has booted new firmware.
    const std::vector<std::string> &records() const { return records_; }
    int brokenRecords() const { return broken_; }
    int boots() const { return boots_; }

private:
    // A new download begins: nothing taken yet.
    void start(Phase phase);
    std::vector<std::uint8_t> record(const std::string &line);
    void leave();

    Phase phase_ = Phase::Off;
    std::uint32_t lineBaud_ = 0;
    bool greeted_ = false;
    bool erased_ = false;
    bool bootPending_ = false;
    std::string lastAddress_;  // of the last data record, empty after another record
    std::vector<std::string> records_;
    int broken_ = 0;
    int boots_ = 0;
};

// True when the line is a well-formed S-record: "S", a type digit, the byte
// count and that many bytes in hexadecimal, the last the checksum.
bool ValidSRecord(const std::string &line);

}  // namespace orvemu
