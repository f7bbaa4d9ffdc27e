// Program memory transfers: the bracket of a program load, block writes and
// block reads. EA controllers address their memory by segment (the object
// record type) and offset; the others through one window from 0x9800.
#include <algorithm>

#include "controller.h"

namespace orvemu {

namespace {

// Most bytes one read reply carries (L is one byte).
constexpr std::size_t kMostReplyBytes = 252;
// How many bytes a legacy read answers with: a run up to the window's end.
constexpr std::size_t kLegacyRun = 16;
// Where the program checksum lies: segment 5, or the window's last byte
// but one.
constexpr std::uint32_t kChecksumSegment = 5;

bool isEa(Controller &ctl) { return IsEaModel(ctl.memory().model); }

// Writes bytes into a segment from offset; false when they would leave it.
bool writeSegment(Memory &m, std::uint32_t segment, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (segment >= Memory::kSegments || offset + bytes.size() > Memory::kSegmentLimit) return false;
    for (std::size_t i = 0; i < bytes.size(); ++i) m.setSegmentByte(static_cast<int>(segment), offset + i, bytes[i]);
    return true;
}

std::vector<std::uint8_t> readSegment(const Memory &m, std::uint32_t segment, std::uint64_t offset, std::size_t k,
                                      std::uint8_t code) {
    if (segment >= Memory::kSegments || k > kMostReplyBytes || offset + k > Memory::kSegmentLimit)
        return shortReply(kOutOfRange);
    std::vector<std::uint8_t> d;
    for (std::size_t i = 0; i < k; ++i) d.push_back(m.segmentByte(static_cast<int>(segment), offset + i));
    if (segment == kChecksumSegment && offset == 0 && k > 0) d[0] = m.programChecksum();
    return replyFrame(code, d);
}

// Offset of a window address, when it lies inside the window.
std::optional<std::size_t> legacyOffset(const Memory &m, std::uint16_t address) {
    if (address < Memory::kLegacyWindow) return std::nullopt;
    const std::size_t at = address - Memory::kLegacyWindow;
    if (at >= m.legacy.size()) return std::nullopt;
    return at;
}

}  // namespace

void installTransferHandlers(Controller &c) {
    // 01 -> acknowledgement: a program load begins.
    c.setHandler(0x01, [](Controller &ctl, const Request &r) {
        if (!r.args.empty()) return shortReply(kUnknownPacket);
        Memory &m = ctl.memory();
        m.programLoading = true;
        ++m.programLoadBegins;
        return shortReply(kAck);
    });
    // 02 -> acknowledgement: the program load ends.
    c.setHandler(0x02, [](Controller &ctl, const Request &r) {
        if (!r.args.empty()) return shortReply(kUnknownPacket);
        Memory &m = ctl.memory();
        m.programLoading = false;
        ++m.programLoadEnds;
        return shortReply(kAck);
    });
    // 29 segment, address(16), bytes -> acknowledgement (EA controllers).
    c.setHandler(0x29, [](Controller &ctl, const Request &r) {
        if (!isEa(ctl) || r.args.size() < 3) return shortReply(kUnknownPacket);
        const bool ok = writeSegment(ctl.memory(), r.args[0], u16(r.args.data() + 1), r.args.subspan(3));
        return shortReply(ok ? kAck : kOutOfRange);
    });
    // 59 segment, address (32 bits for segment 1, else 16), bytes ->
    // acknowledgement (EA controllers).
    c.setHandler(0x59, [](Controller &ctl, const Request &r) {
        if (!isEa(ctl) || r.args.empty()) return shortReply(kUnknownPacket);
        const std::uint8_t segment = r.args[0];
        const std::size_t width = segment == 1 ? 4 : 2;
        if (r.args.size() < 1 + width) return shortReply(kUnknownPacket);
        const std::uint32_t address = width == 4 ? u32(r.args.data() + 1) : u16(r.args.data() + 1);
        const bool ok = writeSegment(ctl.memory(), segment, address, r.args.subspan(1 + width));
        return shortReply(ok ? kAck : kOutOfRange);
    });
    // 00 address(16), bytes -> acknowledgement (the window of the others).
    c.setHandler(0x00, [](Controller &ctl, const Request &r) {
        if (isEa(ctl) || r.args.size() < 2) return shortReply(kUnknownPacket);
        Memory &m = ctl.memory();
        const auto bytes = r.args.subspan(2);
        const auto at = legacyOffset(m, u16(r.args.data()));
        if (!at || *at + bytes.size() > m.legacy.size()) return shortReply(kOutOfRange);
        std::copy(bytes.begin(), bytes.end(), m.legacy.begin() + static_cast<std::ptrdiff_t>(*at));
        return shortReply(kAck);
    });
    // 2B segment, address(16), k -> 2C and k bytes (EA controllers).
    c.setHandler(0x2B, [](Controller &ctl, const Request &r) {
        if (!isEa(ctl) || r.args.size() != 4) return shortReply(kUnknownPacket);
        return readSegment(ctl.memory(), r.args[0], u16(r.args.data() + 1), r.args[3], 0x2C);
    });
    // 63 segment, address(32), k -> 64 and k bytes (EA controllers).
    c.setHandler(0x63, [](Controller &ctl, const Request &r) {
        if (!isEa(ctl) || r.args.size() != 6) return shortReply(kUnknownPacket);
        return readSegment(ctl.memory(), r.args[0], u32(r.args.data() + 1), r.args[5], kAck);
    });
    // 03 address(16) -> 04 and a run of bytes from there (the window of the
    // others).
    c.setHandler(0x03, [](Controller &ctl, const Request &r) {
        if (isEa(ctl) || r.args.size() != 2) return shortReply(kUnknownPacket);
        const Memory &m = ctl.memory();
        const auto at = legacyOffset(m, u16(r.args.data()));
        if (!at) return shortReply(kOutOfRange);
        const std::size_t n = std::min(kLegacyRun, m.legacy.size() - *at);
        std::vector<std::uint8_t> run(m.legacy.begin() + static_cast<std::ptrdiff_t>(*at),
                                      m.legacy.begin() + static_cast<std::ptrdiff_t>(*at + n));
        const std::size_t checksumAt = m.legacySize() - 2;
        if (checksumAt >= *at && checksumAt < *at + n) run[checksumAt - *at] = m.programChecksum();
        return replyFrame(0x04, run);
    });
}

}  // namespace orvemu
