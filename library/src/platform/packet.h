// Raw Ethernet frames on Linux: AF_PACKET sockets bound to one interface and
// one frame type, the list of Ethernet interfaces, and a wake-up descriptor
// for threads that wait on a socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orv::platform {

struct EthernetInterface {
    int index = 0;           // kernel interface index
    std::string name;
    std::uint8_t mac[6] = {};
    bool hasIpv4 = false;
    std::uint32_t ipv4 = 0;  // first IPv4 address, first dotted part in the top byte
};

// The non-loopback interfaces of hardware type Ethernet, in interface-index
// order, at most `max` of them.
std::vector<EthernetInterface> ListEthernetInterfaces(std::size_t max);

// The MAC address of the interface with this index; false if it has none.
bool InterfaceMac(int index, std::uint8_t (&mac)[6]);

// Raises the calling thread's scheduling priority if the process may.
void RaiseThreadPriority();

// An eventfd that wakes a waiting thread.
class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent &) = delete;
    WakeEvent &operator=(const WakeEvent &) = delete;
    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void signal();
    void clear();

private:
    int fd_ = -1;
};

class PacketSocket {
public:
    PacketSocket() = default;
    ~PacketSocket();
    PacketSocket(const PacketSocket &) = delete;
    PacketSocket &operator=(const PacketSocket &) = delete;

    // Opens a socket that sends and receives frames of `etherType` (the value
    // as the two bytes on the wire read big-endian) on one interface, in
    // promiscuous mode when asked. False with errno set on failure.
    bool open(int ifindex, std::uint16_t etherType, bool promiscuous);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Sends one whole frame (from the destination MAC on); false with errno
    // set when the kernel refuses it.
    bool send(std::span<const std::uint8_t> frame);

    enum class Received { Frame, Outgoing, Nothing, Error };
    // Reads one waiting frame without blocking. `length` is the frame's full
    // length, which may exceed the buffer (then only the buffer is filled).
    // Frames that we sent ourselves come back as Outgoing.
    Received receive(std::span<std::uint8_t> buffer, std::size_t &length);

    enum class Wait { Readable, Woken, Timeout, Error };
    // Waits until a frame is waiting or `wake` is signalled, up to ms
    // milliseconds (-1: no limit).
    Wait wait(const WakeEvent &wake, int ms) const;

private:
    int fd_ = -1;
    int ifindex_ = 0;
};

}  // namespace orv::platform
