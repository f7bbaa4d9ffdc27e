// The controller's side of a line for the reply fuzzers: a thread that
// answers every request the library sends with the next reply of a script,
// over a pseudo-terminal (serial), a UDP socket or a TCP socket, each on a
// loopback address or COM port of this process's own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace fuzz {

enum class Link { Serial, Udp, Tcp };

using Bytes = std::vector<std::uint8_t>;

class FakePeer {
public:
    // Starts the peer; exits the process when the line cannot be set up.
    explicit FakePeer(Link link);
    ~FakePeer();
    FakePeer(const FakePeer &) = delete;
    FakePeer &operator=(const FakePeer &) = delete;

    Link link() const { return link_; }

    // Replaces the script. fixFrames: each reply frame gets its length byte,
    // checksum and end byte made consistent; fixSequence: each network reply
    // carries the sequence number of the request it answers. When the
    // script runs out, the serial and UDP peers answer with a short error
    // reply and the TCP peer closes the connection. Returns once no reply
    // of the previous script is on its way any more.
    void play(std::vector<Bytes> replies, bool fixFrames, bool fixSequence);

    // Instead of the script: the frame of each request (the envelope taken
    // off) goes to this function, whose frame goes back (seed recording).
    void answerWith(std::function<Bytes(std::span<const std::uint8_t>)> answer);

    // A library connection to the peer with the given reply time-out; 0 when
    // the open fails.
    std::int32_t open(std::int32_t timeoutMs);

private:
    struct State;
    Link link_;
    std::unique_ptr<State> state_;
};

// The request/reply fuzz input: an operation byte, an argument byte, a flag
// byte (bit 0 fixFrames, bit 1 fixSequence), then the replies, each a 16-bit
// little-endian length and that many bytes (the last one cut short by the
// end of the input).
struct Script {
    std::uint8_t op = 0;
    std::uint8_t arg = 0;
    bool fixFrames = false;
    bool fixSequence = false;
    std::vector<Bytes> replies;
};
Script ParseScript(const std::uint8_t *data, std::size_t size);
Bytes FormatScript(const Script &s);

}  // namespace fuzz
