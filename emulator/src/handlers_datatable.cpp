// The data table: its size, single cells and runs of cells of one row. The
// cells are the bytes of program memory (Memory::cell), so a program
// download and upload see the same table.
#include "controller.h"

namespace orvemu {

namespace {

// Cells column..column + n - 1 of the row all exist.
bool runExists(const Memory &m, std::uint32_t row, std::uint32_t column, std::uint32_t n) {
    return n > 0 && m.cellExists(row, column) && m.cellExists(row, column + n - 1);
}

}  // namespace

void installDataTableHandlers(Controller &c) {
    // 31 -> 32 rows(16) columns(8).
    c.setHandler(0x31, [](Controller &ctl, const Request &r) {
        if (!r.args.empty()) return shortReply(kUnknownPacket);
        std::vector<std::uint8_t> d;
        put16(d, ctl.memory().tableRows());
        d.push_back(ctl.memory().tableColumns());
        return replyFrame(0x32, d);
    });
    // 33 rows(16) columns(8) -> acknowledgement. A legacy controller's table
    // must fit below its base in the memory window.
    c.setHandler(0x33, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 3) return shortReply(kUnknownPacket);
        Memory &m = ctl.memory();
        const std::uint16_t rows = u16(r.args.data());
        const std::uint8_t columns = r.args[2];
        if (columns == 0) return shortReply(kOutOfRange);
        if (!IsEaModel(m.model) && 2u * rows * columns > m.legacySize() - 8) return shortReply(kOutOfRange);
        m.setTableDimensions(rows, columns);
        return shortReply(kAck);
    });
    // 35 row(16) column(8) -> 36 value(16).
    c.setHandler(0x35, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 3) return shortReply(kUnknownPacket);
        const Memory &m = ctl.memory();
        const std::uint16_t row = u16(r.args.data());
        if (!m.cellExists(row, r.args[2])) return shortReply(kOutOfRange);
        std::vector<std::uint8_t> d;
        put16(d, m.cell(row, r.args[2]));
        return replyFrame(0x36, d);
    });
    // 37 row(16) column(8) value(16) -> acknowledgement.
    c.setHandler(0x37, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 5) return shortReply(kUnknownPacket);
        Memory &m = ctl.memory();
        const std::uint16_t row = u16(r.args.data());
        if (!m.cellExists(row, r.args[2])) return shortReply(kOutOfRange);
        m.setCell(row, r.args[2], u16(r.args.data() + 3));
        return shortReply(kAck);
    });
    // 39 row(16) column(8) k(8) -> 3A count, then k + 1 cells from the column.
    c.setHandler(0x39, [](Controller &ctl, const Request &r) {
        if (r.args.size() != 4) return shortReply(kUnknownPacket);
        const Memory &m = ctl.memory();
        const std::uint16_t row = u16(r.args.data());
        const std::uint32_t column = r.args[2];
        const std::uint32_t n = std::uint32_t{r.args[3]} + 1;
        if (n > 28 || !runExists(m, row, column, n)) return shortReply(kOutOfRange);
        std::vector<std::uint8_t> d{static_cast<std::uint8_t>(n)};
        for (std::uint32_t j = 0; j < n; ++j) put16(d, m.cell(row, column + j));
        return replyFrame(0x3A, d);
    });
    // 3B row(16) column(8) m(8), m values(16) -> acknowledgement.
    c.setHandler(0x3B, [](Controller &ctl, const Request &r) {
        if (r.args.size() < 4 || r.args.size() != 4 + 2 * std::size_t{r.args[3]}) return shortReply(kUnknownPacket);
        Memory &m = ctl.memory();
        const std::uint16_t row = u16(r.args.data());
        const std::uint32_t column = r.args[2];
        const std::uint32_t n = r.args[3];
        if (n > 27 || !runExists(m, row, column, n)) return shortReply(kOutOfRange);
        for (std::uint32_t j = 0; j < n; ++j) m.setCell(row, column + j, u16(r.args.data() + 4 + 2 * j));
        return shortReply(kAck);
    });
}

}  // namespace orvemu
