// The data table: its size, single cells, and runs of cells of one row,
// read in chunks of up to 28 cells and written in chunks of up to 27.
#include "command.h"
#include "orvcomm.h"

namespace orv {
namespace {

constexpr std::int32_t kMostCells = 65535;
constexpr std::int32_t kReadChunk = 28;
constexpr std::int32_t kWriteChunk = 27;

}  // namespace
}  // namespace orv

using namespace orv;

extern "C" {

ZQ_API std::int32_t ZQ_CALL ZqGetDataTableDim(std::int32_t id, std::int32_t *rows, std::int32_t *columns) {
    return Guarded([&] {
        return RunRead(id, BuildRequest(0x31), Expect(0x32, 6), [&](Command &cmd) -> std::int32_t {
            if (!cmd.has(5)) return 0;
            if (rows) *rows = cmd.u16(2);
            if (columns) *columns = cmd.u8(4);
            return 1;
        });
    });
}

ZQ_API std::int32_t ZQ_CALL ZqPutDataTableDim(std::int32_t id, std::int32_t rows, std::int32_t columns) {
    return Guarded([&]() -> std::int32_t {
        if (!InRange(columns, 1, 255)) return 0;
        // The size is a count of rows: nothing below 0.
        return RunWrite(id, BuildRequest(0x33, Args().number(rows, 2).u8(static_cast<std::uint8_t>(columns))));
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetDataTableLoc(std::int32_t id, std::int32_t row, std::int32_t column,
                                              std::int32_t *value) {
    return Guarded([&]() -> std::int32_t {
        if (!InRange(column, 1, 255)) return 0;
        const auto request = BuildRequest(0x35, Args().number(row, 2).u8(static_cast<std::uint8_t>(column)));
        return RunRead(id, request, Expect(0x36, 5), [&](Command &cmd) -> std::int32_t {
            if (!cmd.has(4)) return 0;
            if (value) *value = cmd.u16(2);
            return 1;
        });
    });
}

ZQ_API std::int32_t ZQ_CALL ZqPutDataTableLoc(std::int32_t id, std::int32_t row, std::int32_t column,
                                              std::int32_t value) {
    return Guarded([&]() -> std::int32_t {
        if (!InRange(column, 1, 255)) return 0;
        return RunWrite(
            id, BuildRequest(0x37, Args().number(row, 2).u8(static_cast<std::uint8_t>(column)).value(value, 2)));
    });
}

ZQ_API std::int32_t ZQ_CALL ZqGetDataTableRow(std::int32_t id, std::int32_t row, std::int32_t first,
                                              std::int32_t count, std::int32_t *cells) {
    return Guarded([&]() -> std::int32_t {
        if (!cells) return 0;
        cells[0] = row;
        // A count beyond the 16-bit cell counting, or a negative first
        // column, would run past the caller's array; a row or a run of
        // columns that its fields cannot carry would read other cells.
        if (!InRange(count, 0, kMostCells) || first < 0) return 0;
        if (!Fits(row, 16) || (count > 0 && !Fits(std::int64_t{first} + count - 1, 8))) return 0;
        Command cmd(id);
        if (!cmd.ok()) return 0;
        std::int32_t done = 0;
        while (done != count) {
            const std::int32_t k = std::min(count - 1 - done, kReadChunk - 1);
            const auto request = BuildRequest(0x39, Args()
                                                        .u16(static_cast<std::uint16_t>(row))
                                                        .u8(static_cast<std::uint8_t>(first + done))
                                                        .u8(static_cast<std::uint8_t>(k)));
            std::int32_t result = 0;
            if (!cmd.run(request, ExpectCode(0x3A), result)) return result;
            if (!cmd.has(3)) return 0;
            const std::int32_t c = cmd.u8(2);
            // No cells, or more than are still wanted: refused without an error.
            if (c == 0 || c > count - done) return 0;
            if (!cmd.has(3 + 2 * static_cast<std::size_t>(c))) return 0;
            for (std::int32_t j = 0; j < c; ++j)
                cells[static_cast<std::size_t>(first) + static_cast<std::size_t>(done + j)] =
                    cmd.u16(3 + 2 * static_cast<std::size_t>(j));
            done += c;
        }
        return 1;
    });
}

ZQ_API std::int32_t ZQ_CALL ZqPutDataTableRow(std::int32_t id, std::int32_t row, std::int32_t first,
                                              std::int32_t count, const std::int32_t *cells) {
    return Guarded([&]() -> std::int32_t {
        if (!RunInRange(first, count, 255)) return 0;
        if (count > 0 && !cells) return 0;
        if (!Fits(row, 16)) return 0;
        for (std::int32_t c = first; c < first + count; ++c)
            if (!Fits(cells[c], 16, FieldUse::Value)) return 0;
        Command cmd(id);
        if (!cmd.ok()) return 0;
        std::int32_t done = 0;
        while (done != count) {
            const std::int32_t m = std::min(count - done, kWriteChunk);
            Args args;
            args.u16(static_cast<std::uint16_t>(row))
                .u8(static_cast<std::uint8_t>(first + done))
                .u8(static_cast<std::uint8_t>(m));
            for (std::int32_t j = 0; j < m; ++j) args.u16(static_cast<std::uint16_t>(cells[first + done + j]));
            std::int32_t result = 0;
            if (!cmd.run(BuildRequest(0x3B, args), kExpectAck, result)) return result;
            done += m;
        }
        return 1;
    });
}

}  // extern "C"
