// Run status, configuration, task banks, task status pages and the counts.
#include <algorithm>

#include "controller.h"

namespace orvemu {

namespace {

std::uint8_t countByte(int n) { return static_cast<std::uint8_t>(std::clamp(n, 0, 255)); }

void putHeader(const Memory &m, std::vector<std::uint8_t> &d) {
    d.push_back(static_cast<std::uint8_t>(m.status & 0x01));
    d.push_back(m.faultCode);
    put16(d, m.faultStep);
    put32(d, static_cast<std::uint32_t>(m.faultData));
}

// A task beyond the model's count does not run.
const Task &taskOf(const Memory &m, int t) {
    static const Task idle{};
    return t < m.counts.tasks && t < Memory::kTasks ? m.tasks[static_cast<std::size_t>(t)] : idle;
}

// The task bank: the header, then eight tasks with their step and either the
// low 32 bits of the child mask (short form) or all 64 (long form).
std::vector<std::uint8_t> taskBank(const Memory &m, int bank, bool longForm, std::uint8_t code) {
    std::vector<std::uint8_t> d;
    putHeader(m, d);
    for (int j = 0; j < 8; ++j) {
        const Task &t = taskOf(m, 8 * bank + j);
        put16(d, t.step);
        if (longForm) {
            put32(d, static_cast<std::uint32_t>(t.childLow));
            put32(d, static_cast<std::uint32_t>(t.childLow >> 32));
        } else {
            put32(d, static_cast<std::uint32_t>(t.childLow));
        }
    }
    return replyFrame(code, d);
}

}  // namespace

void installStatusHandlers(Controller &c) {
    // The model the controller was built for sets the model code and counts.
    c.memory().setModel(c.model());

    c.setHandler(0x3D, [](Controller &ctl, const Request &r) {
        if (!r.args.empty()) return shortReply(kUnknownPacket);
        const std::uint8_t s = ctl.memory().status;
        return replyFrame(0x3E, std::span(&s, 1));
    });
    c.setHandler(0x3F, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 1) return shortReply(kUnknownPacket);
        ctl.memory().writeStatus(r.args[0]);
        return shortReply(kAck);
    });
    c.setHandler(0x41, [](Controller &ctl, const Request &r) {
        if (!r.args.empty()) return shortReply(kUnknownPacket);
        const std::uint8_t v = ctl.memory().config;
        return replyFrame(0x42, std::span(&v, 1));
    });
    c.setHandler(0x43, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 1) return shortReply(kUnknownPacket);
        ctl.memory().config = r.args[0];
        return shortReply(kAck);
    });
    // 0D -> 0E flags(8) inputs(16) outputs(16) steppers servos analog in, out (8 each).
    c.setHandler(0x0D, [](Controller &ctl, const Request &r) {
        if (!r.args.empty()) return shortReply(kUnknownPacket);
        const ModelCounts &n = ctl.memory().counts;
        std::vector<std::uint8_t> d{countByte(n.flags)};
        put16(d, static_cast<std::uint16_t>(n.inputs));
        put16(d, static_cast<std::uint16_t>(n.outputs));
        for (int v : {n.steppers, n.servos, n.analogInputs, n.analogOutputs}) d.push_back(countByte(v));
        return replyFrame(0x0E, d);
    });
    c.setHandler(0x45, [](Controller &ctl, const Request &r) {
        if (!r.args.empty()) return shortReply(kUnknownPacket);
        const ModelCounts &n = ctl.memory().counts;
        std::vector<std::uint8_t> d;
        for (int v : {n.prototype, n.hsCounters, n.thumbwheels, n.displays}) d.push_back(countByte(v));
        return replyFrame(0x46, d);
    });
    // 23 bank: below 0x40 the short form of bank b, 0x40 and up the long
    // form of bank b - 0x40, FF the status header alone.
    c.setHandler(0x23, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 1) return shortReply(kUnknownPacket);
        const Memory &m = ctl.memory();
        const int b = r.args[0];
        if (b == 0xFF) {
            std::vector<std::uint8_t> d;
            putHeader(m, d);
            return replyFrame(0x2D, d);
        }
        const bool longForm = b >= 0x40;
        const int bank = longForm ? b - 0x40 : b;
        if (8 * bank >= Memory::kTasks) return shortReply(kOutOfRange);
        return taskBank(m, bank, longForm, 0x24);
    });
    // 6B first task, first-page flag -> 6C task count, first, eight records
    // of step(16), child flag and the child mask in (count - 1) / 8 + 1 bytes.
    c.setHandler(0x6B, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 2) return shortReply(kUnknownPacket);
        const Memory &m = ctl.memory();
        const int first = r.args[0];
        const int count = std::min(m.counts.tasks, 224);
        if (first >= count) return shortReply(kOutOfRange);
        const int maskBytes = (count - 1) / 8 + 1;
        std::vector<std::uint8_t> d{static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(first)};
        for (int j = 0; j < 8; ++j) {
            const Task &t = taskOf(m, first + j);
            put16(d, t.step);
            d.push_back(t.childLow || t.childHigh ? 1 : 0);
            // Tasks past 127 are never children here: their mask bytes are 0.
            for (int k = 0; k < maskBytes; ++k) {
                const std::uint64_t word = k < 8 ? t.childLow : k < 16 ? t.childHigh : 0;
                d.push_back(static_cast<std::uint8_t>(word >> (8 * (k % 8))));
            }
        }
        return replyFrame(0x6C, d);
    });
}

}  // namespace orvemu
