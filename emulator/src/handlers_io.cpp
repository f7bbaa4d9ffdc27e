// Flags, digital and analog I/O and servo axes. Numbers arrive as the
// 1-based number less one; a number beyond what the model has is refused as
// out of range.
#include <functional>

#include "controller.h"

namespace orvemu {

namespace {

// Bits of points first..first + 8 * bytes - 1, eight to a byte, lowest first.
void packBits(const std::array<std::uint8_t, Memory::kDigitalPoints> &points, int first, int bytes,
              std::vector<std::uint8_t> &data) {
    for (int i = 0; i < bytes; ++i) {
        std::uint8_t b = 0;
        for (int bit = 0; bit < 8; ++bit) {
            const std::size_t at = static_cast<std::size_t>(first - 1 + i * 8 + bit);
            if (at < points.size() && points[at]) b = static_cast<std::uint8_t>(b | (1u << bit));
        }
        data.push_back(b);
    }
}

// A read whose one argument byte is a resource number less one.
struct NumberedRead {
    std::uint8_t code;
    std::uint8_t replyCode;
    // The highest number the model answers for.
    std::function<int(const Memory &)> highest;
    std::function<void(const Memory &, int n, std::vector<std::uint8_t> &)> answer;
    // Bytes echoed in front of the answer: the argument itself, for the block reads.
    bool echo = false;
};

int modules(int points) { return (points + 7) / 8; }
int groups(int points, int size) { return (points + size - 1) / size; }

}  // namespace

void installIoHandlers(Controller &c) {
    const NumberedRead reads[] = {
        {0x11, 0x12, [](const Memory &m) { return m.counts.flags; },
         [](const Memory &m, int n, auto &d) { d.push_back(m.flag(n) ? 0xFF : 0x00); }},
        {0x0F, 0x10, [](const Memory &m) { return std::min(8, modules(m.counts.inputs)); },
         [](const Memory &m, int n, auto &d) { packBits(m.digitalInputs, 8 * (n - 1) + 1, 1, d); }},
        {0x15, 0x16, [](const Memory &m) { return std::min(8, modules(m.counts.outputs)); },
         [](const Memory &m, int n, auto &d) { packBits(m.digitalOutputs, 8 * (n - 1) + 1, 1, d); }},
        {0x4F, 0x50, [](const Memory &m) { return std::min(8, groups(m.counts.inputs, 128)); },
         [](const Memory &m, int n, auto &d) { packBits(m.digitalInputs, 128 * (n - 1) + 1, 16, d); }, true},
        {0x51, 0x52, [](const Memory &m) { return std::min(8, groups(m.counts.outputs, 128)); },
         [](const Memory &m, int n, auto &d) { packBits(m.digitalOutputs, 128 * (n - 1) + 1, 16, d); }, true},
        {0x1D, 0x1E, [](const Memory &m) { return m.counts.analogInputs; },
         [](const Memory &m, int n, auto &d) { put16(d, m.analogInputs[static_cast<std::size_t>(n - 1)]); }},
        {0x1F, 0x20, [](const Memory &m) { return m.counts.analogOutputs; },
         [](const Memory &m, int n, auto &d) { put16(d, m.analogOutputs[static_cast<std::size_t>(n - 1)]); }},
        {0x47, 0x48, [](const Memory &m) { return std::min(8, groups(m.counts.analogInputs, 32)); },
         [](const Memory &m, int n, auto &d) {
             for (int i = 0; i < 32; ++i) put16(d, m.analogInputs[static_cast<std::size_t>(32 * (n - 1) + i)]);
         }, true},
        {0x49, 0x4A, [](const Memory &m) { return std::min(8, groups(m.counts.analogOutputs, 32)); },
         [](const Memory &m, int n, auto &d) {
             for (int i = 0; i < 32; ++i) put16(d, m.analogOutputs[static_cast<std::size_t>(32 * (n - 1) + i)]);
         }, true},
        {0x17, 0x18, [](const Memory &m) { return std::min(16, m.counts.servos); },
         [](const Memory &m, int n, auto &d) { put32(d, static_cast<std::uint32_t>(m.servoPosition[static_cast<std::size_t>(n - 1)])); }},
        {0x2F, 0x30, [](const Memory &m) { return std::min(16, m.counts.servos); },
         [](const Memory &m, int n, auto &d) { put32(d, static_cast<std::uint32_t>(m.servoError[static_cast<std::size_t>(n - 1)])); }},
        {0x1B, 0x1C, [](const Memory &m) { return std::min(16, m.counts.servos); },
         [](const Memory &m, int n, auto &d) { d.push_back(m.servoInputs[static_cast<std::size_t>(n - 1)]); }},
    };
    for (const auto &spec : reads) {
        c.setHandler(spec.code, [spec](Controller &ctl, const Request &r) {
            if (r.args.size() != 1) return shortReply(kUnknownPacket);
            const Memory &m = ctl.memory();
            const int n = r.args[0] + 1;
            if (n > spec.highest(m)) return shortReply(kOutOfRange);
            std::vector<std::uint8_t> data;
            if (spec.echo) data.push_back(r.args[0]);
            spec.answer(m, n, data);
            return replyFrame(spec.replyCode, data);
        });
    }

    // 13 (flag - 1), FF or 00 -> acknowledgement.
    c.setHandler(0x13, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 2) return shortReply(kUnknownPacket);
        const int n = r.args[0] + 1;
        if (n > ctl.memory().counts.flags) return shortReply(kOutOfRange);
        ctl.memory().setFlag(n, r.args[1] != 0);
        return shortReply(kAck);
    });
    // 21 (channel - 1), value(16) -> acknowledgement.
    c.setHandler(0x21, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 3) return shortReply(kUnknownPacket);
        const int n = r.args[0] + 1;
        if (n > ctl.memory().counts.analogOutputs) return shortReply(kOutOfRange);
        ctl.memory().analogOutputs[static_cast<std::size_t>(n - 1)] = u16(r.args.data() + 1);
        return shortReply(kAck);
    });
    // 55 first channel (unchanged; 0 stands for 256), n, n values(16) -> acknowledgement.
    c.setHandler(0x55, [](Controller &ctl, const Request &r) {
        if (r.args.size() < 2 || r.args.size() != 2 + 2 * std::size_t{r.args[1]}) return shortReply(kUnknownPacket);
        const int first = r.args[0] == 0 ? 256 : r.args[0];
        const int n = r.args[1];
        Memory &m = ctl.memory();
        if (n == 0 || first + n - 1 > m.counts.analogOutputs) return shortReply(kOutOfRange);
        for (int i = 0; i < n; ++i)
            m.analogOutputs[static_cast<std::size_t>(first - 1 + i)] = u16(r.args.data() + 2 + 2 * i);
        return shortReply(kAck);
    });
}

}  // namespace orvemu
