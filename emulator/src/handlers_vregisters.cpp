// V-register requests: properties (5B), one V-register (5D read, 5F write),
// a run of V-registers in one block (6D read, 6F write) and a random read of
// chosen entries (71).
//
// The block requests carry a block of 244 bytes on a serial line and of 1420
// bytes on the network, where their L byte (5) does not describe the frame:
// the block size is taken from the frame as the transport delivered it.
#include <algorithm>
#include <cstring>

#include "controller.h"

namespace orvemu {

namespace {

constexpr std::size_t kSingleBlock = 244;
constexpr std::size_t kSerialBlock = 244;
constexpr std::size_t kNetworkBlock = 1420;
constexpr std::size_t kValueArea = 20;   // of the single block
constexpr std::size_t kBlockValues = 36; // of the multi-value block
constexpr std::size_t kEntryBytes = 12;

bool knownType(std::int32_t t) {
    return t == VRegisters::kInteger || t == VRegisters::kWord || t == VRegisters::kString ||
           t == VRegisters::kFloat || t == VRegisters::kDouble;
}

void put32at(std::uint8_t *p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16at(std::uint8_t *p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

// The single block of one V-register as a read returns it.
void encodeSingle(const VRegister &r, std::uint8_t *b) {
    std::memset(b, 0, kSingleBlock);
    put32at(b, static_cast<std::uint32_t>(r.type));
    b[4] = r.headerA;
    b[5] = r.headerB;
    b[6] = r.headerC;
    put16at(b + 8, r.headerD);
    if (r.type == VRegisters::kString) put16at(b + 10, r.stringLength);
    put32at(b + 12, r.headerE);
    put32at(b + 16, r.headerF);
    std::memcpy(b + kValueArea, r.value.data(), r.value.size());
}

void decodeHeader(const std::uint8_t *b, VRegister &r) {
    r.type = static_cast<std::int32_t>(u32(b));
    r.headerA = b[4];
    r.headerB = b[5];
    r.headerC = b[6];
    r.headerD = u16(b + 8);
    r.headerE = u32(b + 12);
    r.headerF = u32(b + 16);
}

// The block size of a multi-value request, from the frame's own length; 0
// when the arguments are neither form.
std::size_t blockSize(const Request &r) {
    if (r.args.size() == 2 + kSerialBlock) return kSerialBlock;
    if (r.args.size() == 2 + kNetworkBlock) return kNetworkBlock;
    return 0;
}

// The reply to a multi-value request: code, number, block. On a serial line
// L describes the frame; the network form starts 03 and the code.
// A write replaces type, headers and value; the stored properties stay.
void storeKeepingProperties(VRegister &stored, VRegister reg) {
    reg.property1 = stored.property1;
    reg.property2 = stored.property2;
    reg.property3 = stored.property3;
    stored = reg;
}

std::vector<std::uint8_t> blockReply(std::uint8_t code, std::uint16_t number, const std::vector<std::uint8_t> &block) {
    std::vector<std::uint8_t> data;
    data.reserve(block.size() + 2);
    put16(data, number);
    data.insert(data.end(), block.begin(), block.end());
    if (block.size() == kSerialBlock) return replyFrame(code, data);
    std::vector<std::uint8_t> f;
    f.reserve(data.size() + 4);
    f.push_back(0x03);
    f.push_back(code);
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(checksum(std::span(f).subspan(1)));
    f.push_back(0xFF);
    return f;
}

// The header of a multi-value reply: the request's, with the count returned.
std::vector<std::uint8_t> replyBlock(const std::uint8_t *request, std::size_t size, std::uint16_t countReturned) {
    std::vector<std::uint8_t> block(size, 0);
    std::memcpy(block.data(), request, kBlockValues);
    put16at(block.data() + 10, countReturned);
    return block;
}

std::vector<std::uint8_t> properties(Controller &ctl, const Request &r) {
    if (r.args.size() != 2) return shortReply(kUnknownPacket);
    const std::uint16_t n = u16(r.args.data());
    VRegisters &v = ctl.memory().vregs;
    if (!v.legal(n)) return shortReply(kIllegalRegister);
    VRegister reg;
    if (auto it = v.entries.find(n); it != v.entries.end()) reg = it->second;
    std::vector<std::uint8_t> data;
    put16(data, n);
    put16(data, reg.property1);
    put16(data, reg.property2);
    data.push_back(reg.property3);
    return replyFrame(0x5C, data);
}

std::vector<std::uint8_t> readOne(Controller &ctl, const Request &r) {
    if (r.args.size() != 2 + kSingleBlock) return shortReply(kUnknownPacket);
    const std::uint16_t n = u16(r.args.data());
    const std::uint8_t *b = r.args.data() + 2;
    VRegisters &v = ctl.memory().vregs;
    if (!v.legal(n)) return shortReply(kIllegalRegister);
    VRegister reg;
    if (auto it = v.entries.find(n); it != v.entries.end()) {
        reg = it->second;
    } else {
        decodeHeader(b, reg);
        if (!knownType(reg.type)) return shortReply(kOutOfRange);
    }
    std::vector<std::uint8_t> data(2 + kSingleBlock);
    put16at(data.data(), n);
    encodeSingle(reg, data.data() + 2);
    return replyFrame(0x5E, data);
}

std::vector<std::uint8_t> writeOne(Controller &ctl, const Request &r) {
    if (r.args.size() != 2 + kSingleBlock) return shortReply(kUnknownPacket);
    const std::uint16_t n = u16(r.args.data());
    const std::uint8_t *b = r.args.data() + 2;
    VRegisters &v = ctl.memory().vregs;
    if (!v.legal(n)) return shortReply(kIllegalRegister);
    VRegister reg;
    decodeHeader(b, reg);
    if (!knownType(reg.type)) return shortReply(kOutOfRange);
    std::memcpy(reg.value.data(), b + kValueArea, reg.value.size());
    if (reg.type == VRegisters::kString) {
        const auto *text = reg.value.data();
        const auto *end = std::find(text, text + reg.value.size(), std::uint8_t{0});
        reg.stringLength = static_cast<std::uint16_t>(end - text);
    }
    storeKeepingProperties(v.entries[n], reg);
    return shortReply(kAck);
}

std::vector<std::uint8_t> readBlock(Controller &ctl, const Request &r) {
    const std::size_t size = blockSize(r);
    if (size == 0) return shortReply(kUnknownPacket);
    const std::uint16_t first = u16(r.args.data());
    const std::uint8_t *b = r.args.data() + 2;
    const auto type = static_cast<std::int32_t>(u32(b));
    const std::size_t each = VRegisters::valueSize(type);
    if (each == 0) return shortReply(kOutOfRange);
    VRegisters &v = ctl.memory().vregs;
    if (!v.legal(first)) return shortReply(kIllegalRegister);
    // As many as were asked for, fit the value area and exist.
    std::size_t count = u32(b + 20);
    count = std::min<std::size_t>(count, (size - kBlockValues) / each);
    count = std::min<std::size_t>(count, v.last - first + 1);
    auto block = replyBlock(b, size, static_cast<std::uint16_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        auto it = v.entries.find(static_cast<std::uint16_t>(first + i));
        if (it != v.entries.end()) std::memcpy(block.data() + kBlockValues + i * each, it->second.value.data(), each);
    }
    return blockReply(0x6E, first, block);
}

std::vector<std::uint8_t> writeBlock(Controller &ctl, const Request &r) {
    const std::size_t size = blockSize(r);
    if (size == 0) return shortReply(kUnknownPacket);
    const std::uint16_t first = u16(r.args.data());
    const std::uint8_t *b = r.args.data() + 2;
    VRegister header;
    decodeHeader(b, header);
    const std::size_t each = VRegisters::valueSize(header.type);
    if (each == 0) return shortReply(kOutOfRange);
    const std::uint32_t count = u32(b + 20);
    if (count > (size - kBlockValues) / each) return shortReply(kOutOfRange);
    VRegisters &v = ctl.memory().vregs;
    if (count > 0 && (!v.legal(first) || !v.legal(first + count - 1))) return shortReply(kIllegalRegister);
    for (std::uint32_t i = 0; i < count; ++i) {
        VRegister reg = header;
        std::memcpy(reg.value.data(), b + kBlockValues + i * each, each);
        storeKeepingProperties(v.entries[static_cast<std::uint16_t>(first + i)], reg);
    }
    return shortReply(kAck);
}

std::vector<std::uint8_t> readRandom(Controller &ctl, const Request &r) {
    const std::size_t size = blockSize(r);
    if (size == 0) return shortReply(kUnknownPacket);
    const std::uint16_t first = u16(r.args.data());
    const std::uint8_t *b = r.args.data() + 2;
    const auto type = static_cast<std::int32_t>(u32(b));
    const std::size_t each = VRegisters::valueSize(type);
    if (each == 0) return shortReply(kOutOfRange);
    // Only the entries that fit the value area arrived. The first word of
    // an entry names the V-register; the other two are carried along.
    const std::size_t count = std::min<std::size_t>(u32(b + 20), (size - kBlockValues) / kEntryBytes);
    VRegisters &v = ctl.memory().vregs;
    auto block = replyBlock(b, size, static_cast<std::uint16_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t n = u32(b + kBlockValues + i * kEntryBytes);
        if (!v.legal(n)) return shortReply(kIllegalRegister);
        auto it = v.entries.find(static_cast<std::uint16_t>(n));
        if (it != v.entries.end()) std::memcpy(block.data() + kBlockValues + i * each, it->second.value.data(), each);
    }
    return blockReply(0x72, first, block);
}

}  // namespace

void installVRegisterHandlers(Controller &c) {
    c.setHandler(0x5B, properties);
    c.setHandler(0x5D, readOne);
    c.setHandler(0x5F, writeOne);
    c.setHandler(0x6D, readBlock);
    c.setHandler(0x6F, writeBlock);
    c.setHandler(0x71, readRandom);
}

}  // namespace orvemu
