// The transports on which the emulator answers: each runs its own thread and
// stops when destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "controller.h"

namespace orvemu {

class Server {
public:
    virtual ~Server() = default;
    // Where a client reaches it: a device path, an address, an interface.
    virtual std::string endpoint() const = 0;
};

// A pseudo-terminal; endpoint() is the slave device path. The emulator keeps
// a descriptor of the slave side open, so that a client may close and
// reopen the port. Binary frames (01, L, ...) go to the controller's
// handlers; anything else is a text request, ended by a pause of 10 ms.
// The misbehaviour switches apply; SplitReply sends a reply in pieces, and
// the serial-line faults (noise ahead of a reply, a repeated or held reply,
// a line that keeps talking) are carried out here.
// With a baud rate given, the controller hears only a client whose line runs
// at that rate: what arrives while the line is set to another rate is noise
// and gets no answer. 0 answers at any rate. A module that has switched the
// line to its own rate (Controller::lineBaud) is heard at that rate, and the
// controller's own output (Controller::quietOutputAfter) goes out once the
// line has been quiet long enough.
std::unique_ptr<Server> startPty(Controller &c, std::uint32_t baud = 0);

// The line settings the client gave the pseudo-terminal. (Linux keeps a
// pseudo-terminal at 8 data bits without parity whatever it is told; rate,
// stop bits and the raw-mode flags read back as set.)
struct PtyLine {
    std::uint32_t baud = 0;
    int dataBits = 0;
    char parity = 'N';  // N, O, E, M (mark), S (space)
    bool twoStopBits = false;
    bool xonXoff = false;      // input or output XON/XOFF flow control
    bool translation = false;  // any CR/LF translation or output processing
    bool signalChars = false;      // signal characters or canonical input
    bool echo = false;
    bool stripEighthBit = false;
    bool rtsCts = false;
};
// nullopt when s is not a pseudo-terminal server.
std::optional<PtyLine> ptyLine(const Server &s);
// UDP port 3000 and TCP port 6000 on the given local IPv4 address (dotted
// digits; no name is looked up); nullptr when the address is none or is
// taken, and then `why` (when given) says why, with the system's reason.
// Each request is the frame behind an 8-byte header; the reply carries the
// request's header with the reply's length. Besides the controller's
// faults: WrongSequence answers with another sequence number, SplitReply
// sends a TCP reply in three pieces (its delay, or 20 ms, apart), PeerClose closes the TCP connection
// instead of answering (on UDP: no answer).
std::unique_ptr<Server> startUdp(Controller &c, const std::string &address, std::string *why = nullptr);
std::unique_ptr<Server> startTcp(Controller &c, const std::string &address, std::string *why = nullptr);
// Raw Ethernet on the named interface; `why` as above.
std::unique_ptr<Server> startRaw(Controller &c, const std::string &interface, std::string *why = nullptr);

}  // namespace orvemu
