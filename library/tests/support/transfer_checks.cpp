#include "transfer_checks.h"

namespace orvtest {

std::uint16_t MagicOfModel(int model) {
    if (!orvemu::IsEaModel(model)) return 0xBEEF;
    if (model == 5) return 0xFEEC;
    if (model == 14 || model == 16) return 0xFEEB;
    return 0xFEED;
}

ProgramImage SampleProgram(int model) {
    ProgramImage p;
    p.model = model;
    p.stepLengths.assign(StepTableEntries(model), 0);
    const std::size_t lengths[][2] = {{0, 5}, {1, 1}, {3, 40}, {4, 16}, {9, 255}, {17, 7}, {40, 33}};
    std::uint8_t next = 0x10;
    for (const auto &[step, length] : lengths) {
        p.stepLengths[step] = static_cast<std::uint8_t>(length);
        Bytes c;
        for (std::size_t i = 0; i < length; ++i) c.push_back(next++);
        p.code.push_back(c);
    }
    // The last step of the table is used too.
    p.stepLengths.back() = 3;
    p.code.push_back({0xE1, 0xE2, 0xE3});
    p.rows = 3;
    p.columns = 4;
    for (int i = 0; i < 12; ++i) p.cells.push_back(static_cast<std::uint16_t>(0x0102 * (i + 1) + 0x8000 * (i % 2)));
    p.options = {0xA1, 0xB2, 0xC3, 0xD4};
    p.sysconf = 0x05;
    return p;
}

void LoadProgram(orvemu::Controller &emu, const ProgramImage &p) {
    emu.withMemory([&](orvemu::Memory &m) {
        m.setModel(p.model);
        const Bytes program = p.programBytes();
        if (orvemu::IsEaModel(p.model)) {
            m.segments[0] = p.stepLengths;
            m.segments[1] = program;
            m.segments[4].assign(p.options.begin(), p.options.end());
            m.segments[5] = {p.checksum()};
            m.segments[6] = {p.sysconf};
        } else {
            std::copy(p.stepLengths.begin(), p.stepLengths.end(), m.legacy.begin());
            std::copy(program.begin(), program.end(), m.legacy.begin() + 0x100);
            m.legacy[m.legacySize() - 2] = p.checksum();
            m.legacy[m.legacySize() - 1] = p.sysconf;
        }
        m.setTableDimensions(p.rows, p.columns);
        for (std::uint32_t r = 0; r < p.rows; ++r)
            for (std::uint32_t c = 0; c < p.columns; ++c) m.setCell(r + 1, c + 1, p.cells[r * p.columns + c]);
        return 0;
    });
}

MemorySnapshot Snapshot(orvemu::Controller &emu) {
    return emu.withMemory([](orvemu::Memory &m) { return MemorySnapshot{m.segments, m.legacy}; });
}

void ClearProgram(orvemu::Controller &emu) {
    emu.withMemory([](orvemu::Memory &m) {
        m.setModel(m.model);
        return 0;
    });
}

Bytes ObjectHeader(std::uint16_t magic, std::uint8_t status) {
    return {static_cast<std::uint8_t>(magic), static_cast<std::uint8_t>(magic >> 8), status};
}

void AddRecord(Bytes &file, std::uint8_t type, std::uint16_t address, const Bytes &data) {
    for (std::size_t at = 0; at < data.size() || at == 0; at += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - at);
        const auto a = static_cast<std::uint16_t>(address + at);
        file.push_back(static_cast<std::uint8_t>(n));
        file.push_back(type);
        file.push_back(static_cast<std::uint8_t>(a));
        file.push_back(static_cast<std::uint8_t>(a >> 8));
        file.insert(file.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                    data.begin() + static_cast<std::ptrdiff_t>(at + n));
        if (data.empty()) break;
    }
}

Bytes ExpectedObjectFile(const ProgramImage &p) {
    Bytes f = ObjectHeader(MagicOfModel(p.model));
    std::uint32_t offset = 0;
    for (const auto &c : p.code) {
        AddRecord(f, 1, static_cast<std::uint16_t>(offset), c);
        offset += static_cast<std::uint32_t>(c.size());
    }
    for (std::size_t at = 0; at < p.stepLengths.size(); at += 16) {
        const std::size_t n = std::min<std::size_t>(16, p.stepLengths.size() - at);
        AddRecord(f, 0, static_cast<std::uint16_t>(at),
                  Bytes(p.stepLengths.begin() + static_cast<std::ptrdiff_t>(at),
                        p.stepLengths.begin() + static_cast<std::ptrdiff_t>(at + n)));
    }
    AddRecord(f, 3, 0, p.sizeBytes());
    const Bytes table = p.tableBytes();
    const std::size_t row = 2u * p.columns;
    for (std::size_t r = 0; r < p.rows; ++r)
        AddRecord(f, 2, static_cast<std::uint16_t>(r * row),
                  Bytes(table.begin() + static_cast<std::ptrdiff_t>(r * row),
                        table.begin() + static_cast<std::ptrdiff_t>((r + 1) * row)));
    if (orvemu::IsEaModel(p.model)) AddRecord(f, 4, 0, Bytes(p.options.begin(), p.options.end()));
    AddRecord(f, 6, 0, {p.sysconf});
    AddRecord(f, 5, 0, {p.checksum()});
    return f;
}

void CheckRoundTrip(std::int32_t id, orvemu::Controller &emu, const ProgramImage &p, const orv::test::TempDir &dir) {
    LoadProgram(emu, p);
    const MemorySnapshot loaded = Snapshot(emu);
    const std::string first = dir.file("first.dso");
    const std::string second = dir.file("second.dso");

    ZQ_TRANSFER_STATS up{-1, -1, -1, -1};
    ASSERT_EQ(ZqUpload(id, first.c_str(), &up), 1) << ErrorText(id);
    const Bytes file = orv::test::ReadBytes(first);
    EXPECT_EQ(file, ExpectedObjectFile(p));
    EXPECT_EQ(up.steps, static_cast<std::int32_t>(p.code.size()));
    EXPECT_EQ(up.bytes, static_cast<std::int32_t>(file.size()));
    EXPECT_EQ(up.errors, 0);
    EXPECT_EQ(up.warnings, 0);

    ClearProgram(emu);
    emu.clearLog();
    ZQ_TRANSFER_STATS down{-1, -1, -1, -1};
    ASSERT_EQ(ZqDownload(id, first.c_str(), &down), 1) << ErrorText(id);
    EXPECT_EQ(down.steps, 0);
    EXPECT_EQ(down.bytes, static_cast<std::int32_t>(file.size()));
    EXPECT_EQ(down.errors, 0);
    EXPECT_EQ(down.warnings, 0);
    // Inside one program load.
    const auto log = emu.requests();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1], (Bytes{0x01, 0x03, 0x01, 0xFE, 0xFF}));
    EXPECT_EQ(log.back(), (Bytes{0x01, 0x03, 0x02, 0xFD, 0xFF}));
    EXPECT_EQ(Snapshot(emu), loaded);

    ZQ_TRANSFER_STATS again{};
    ASSERT_EQ(ZqUpload(id, second.c_str(), &again), 1) << ErrorText(id);
    EXPECT_EQ(orv::test::ReadBytes(second), file);
}
}  // namespace orvtest
