#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include "objectfile.h"
#include "temp_dir.h"

using namespace orv;
using namespace orv::test;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Reads every item of a file; the status that ended the reading is returned
// in `end`.
struct Item {
    std::uint8_t type;
    std::int32_t address;
    Bytes data;
    bool operator==(const Item &) const = default;
};

std::vector<Item> ReadAll(const std::string &path, int &end) {
    int error = 0;
    auto file = ObjectFile::OpenExisting(path.c_str(), error);
    EXPECT_TRUE(file) << error;
    std::vector<Item> items;
    while (ZQ_OBJECT_RECORD *r = ReadObjectRecord(*file, end)) {
        EXPECT_EQ(end, kObjectRecordOk);
        const auto v = r->data->view();
        items.push_back({r->type, r->address, Bytes(v.begin(), v.end())});
    }
    return items;
}

int FirstFailure(const Bytes &content, std::size_t itemsBefore) {
    TempDir dir;
    WriteBytes(dir.file("x.obj"), content);
    int end = 0;
    EXPECT_EQ(ReadAll(dir.file("x.obj"), end).size(), itemsBefore);
    return end;
}

}  // namespace

TEST(ObjectFile, ReadsMagicStatusAndRecordsInFileOrder) {
    TempDir dir;
    WriteBytes(dir.file("a.obj"), {0xED, 0xFE, 0x00,
                                   0x03, 0x01, 0x34, 0x12, 0xAA, 0xBB, 0xCC,   // program at 0x1234
                                   0x02, 0x00, 0x00, 0x00, 0x03, 0x00,         // steplen at 0
                                   0x01, 0x06, 0x00, 0x00, 0x05});             // sysconf
    int end = 0;
    const auto items = ReadAll(dir.file("a.obj"), end);
    EXPECT_EQ(end, kObjectEndOfFile);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0], (Item{kRecordMagic, 0, {0xED, 0xFE}}));
    EXPECT_EQ(items[1], (Item{kRecordStatus, 0, {0x00}}));
    EXPECT_EQ(items[2], (Item{kRecordProgram, 0x1234, {0xAA, 0xBB, 0xCC}}));
    EXPECT_EQ(items[3], (Item{kRecordSteplen, 0, {0x03, 0x00}}));
    EXPECT_EQ(items[4], (Item{kRecordSysconf, 0, {0x05}}));
}

TEST(ObjectFile, ShortAndCutFilesGiveTheirStatus) {
    EXPECT_EQ(FirstFailure({}, 0), kObjectEndOfFile);
    EXPECT_EQ(FirstFailure({0xEF}, 0), kObjectShortRead);
    EXPECT_EQ(FirstFailure({0xEF, 0xBE}, 1), kObjectEndOfFile);     // no status byte
    EXPECT_EQ(FirstFailure({0xEF, 0xBE, 0x00}, 2), kObjectEndOfFile);
    // Cut inside a record header.
    EXPECT_EQ(FirstFailure({0xEF, 0xBE, 0x00, 0x02}, 2), kObjectShortRead);
    EXPECT_EQ(FirstFailure({0xEF, 0xBE, 0x00, 0x02, 0x01, 0x00}, 2), kObjectShortRead);
    // Cut inside a record's data, and right after a header that announces data.
    EXPECT_EQ(FirstFailure({0xEF, 0xBE, 0x00, 0x02, 0x01, 0x00, 0x00, 0x11}, 2), kObjectShortRead);
    EXPECT_EQ(FirstFailure({0xEF, 0xBE, 0x00, 0x02, 0x01, 0x00, 0x00}, 2), kObjectShortRead);
}

TEST(ObjectFile, ZeroLengthRecordEndsTheReadingEvenWithRecordsAfterIt) {
    EXPECT_EQ(FirstFailure({0xEF, 0xBE, 0x00,
                            0x01, 0x06, 0x00, 0x00, 0x01,
                            0x00, 0x01, 0x00, 0x00,
                            0x01, 0x06, 0x00, 0x00, 0x02}, 3),
              kObjectEndOfFile);
}

TEST(ObjectFile, ReadingAFolderFails) {
    TempDir dir;
    int error = 0;
    auto file = ObjectFile::OpenExisting(dir.file("").c_str(), error);
    ASSERT_TRUE(file);
    int status = 0;
    EXPECT_EQ(ReadObjectRecord(*file, status), nullptr);
    EXPECT_EQ(status, kObjectFileFailed);
}

TEST(ObjectFile, InputMustExistAndOutputMustNot) {
    TempDir dir;
    int error = 0;
    EXPECT_FALSE(ObjectFile::OpenExisting(dir.file("missing.obj").c_str(), error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(ObjectFile::OpenExisting(nullptr, error));

    WriteBytes(dir.file("old.obj"), {1, 2, 3, 4});
    EXPECT_FALSE(ObjectFile::CreateNew(dir.file("old.obj").c_str(), error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(ReadBytes(dir.file("old.obj")), (Bytes{1, 2, 3, 4}));
    EXPECT_FALSE(ObjectFile::CreateNew(nullptr, error));
}

TEST(ObjectFile, WriterLaysOutHeadersAndRewritesTheStatusByteInPlace) {
    TempDir dir;
    int error = 0;
    auto file = ObjectFile::CreateNew(dir.file("w.obj").c_str(), error);
    ASSERT_TRUE(file);
    ZQ_TRANSFER_STATS stats{};
    const Bytes magic{0xEB, 0xFE}, zero{0x00}, code{0x00, 0xCA}, sysconf{0x09}, errors{0x2C};
    EXPECT_TRUE(WriteObjectRecordCounted(*file, kRecordMagic, 0, magic, &stats));
    EXPECT_TRUE(WriteObjectRecordCounted(*file, kRecordStatus, 0, zero, &stats));
    EXPECT_TRUE(WriteObjectRecordCounted(*file, kRecordProgram, 0x10203, code, &stats));
    EXPECT_TRUE(WriteObjectRecordCounted(*file, kRecordSysconf, 0, sysconf, &stats));
    std::int64_t before = 0, after = 0;
    ASSERT_TRUE(file->position(before));
    EXPECT_TRUE(WriteObjectRecordCounted(*file, kRecordStatus, 0, errors, &stats));
    ASSERT_TRUE(file->position(after));
    EXPECT_EQ(after, before);
    ASSERT_TRUE(file->close());

    // The address keeps its low 16 bits; only byte 2 changed for the status.
    EXPECT_EQ(ReadBytes(dir.file("w.obj")),
              (Bytes{0xEB, 0xFE, 0x2C, 0x02, 0x01, 0x03, 0x02, 0x00, 0xCA, 0x01, 0x06, 0x00, 0x00, 0x09}));
    EXPECT_EQ(stats.bytes, 2 + 1 + 6 + 5 + 1);
    EXPECT_EQ(stats.errors, 0);
}

TEST(ObjectFile, LongDataIsSplitAndEmptyRecordsAreNotWritten) {
    TempDir dir;
    int error = 0;
    auto file = ObjectFile::CreateNew(dir.file("rows.obj").c_str(), error);
    ASSERT_TRUE(file);
    ZQ_TRANSFER_STATS stats{};
    Bytes row(300);
    for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<std::uint8_t>(i);
    const Bytes magic{0xEF, 0xBE}, zero{0};
    WriteObjectRecordCounted(*file, kRecordMagic, 0, magic, &stats);
    WriteObjectRecordCounted(*file, kRecordStatus, 0, zero, &stats);
    EXPECT_TRUE(WriteObjectRecordCounted(*file, kRecordDatatab, 0x100, row, &stats));
    EXPECT_TRUE(WriteObjectRecordCounted(*file, kRecordDatatab, 0x300, {}, &stats));
    const Bytes one{7};
    EXPECT_TRUE(WriteObjectRecordCounted(*file, kRecordSysconf, 0, one, &stats));
    file.reset();

    int end = 0;
    const auto items = ReadAll(dir.file("rows.obj"), end);
    EXPECT_EQ(end, kObjectEndOfFile);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[2].address, 0x100);
    EXPECT_EQ(items[2].data, Bytes(row.begin(), row.begin() + 255));
    EXPECT_EQ(items[3].address, 0x100 + 255);
    EXPECT_EQ(items[3].data, Bytes(row.begin() + 255, row.end()));
    EXPECT_EQ(items[4], (Item{kRecordSysconf, 0, {7}}));
    EXPECT_EQ(stats.bytes, 3 + 4 + 255 + 4 + 45 + 5);
    EXPECT_EQ(stats.errors, 0);
}

TEST(ObjectFile, WriterRefusesWhatItCannotStore) {
    TempDir dir;
    int error = 0;
    auto file = ObjectFile::CreateNew(dir.file("r.obj").c_str(), error);
    ASSERT_TRUE(file);
    int status = 0;
    ZQ_MEMORY_BUFFER none(4);
    const ZQ_OBJECT_RECORD noStatusByte{kRecordStatus, 0, &none};
    EXPECT_EQ(WriteObjectRecord(*file, noStatusByte, status), nullptr);
    EXPECT_EQ(status, kObjectFileFailed);
    ZQ_MEMORY_BUFFER big(300);
    big.length = 300;
    const ZQ_OBJECT_RECORD tooLong{kRecordDatatab, 0, &big};
    EXPECT_EQ(WriteObjectRecord(*file, tooLong, status), nullptr);
    file.reset();
    EXPECT_TRUE(ReadBytes(dir.file("r.obj")).empty());
}

TEST(ObjectFile, FailedWritesAreCounted) {
    TempDir dir;
    WriteBytes(dir.file("ro.obj"), {0xEF, 0xBE, 0x00});
    int error = 0;
    auto file = ObjectFile::OpenExisting(dir.file("ro.obj").c_str(), error);  // read-only
    ASSERT_TRUE(file);
    ZQ_TRANSFER_STATS stats{};
    const Bytes magic{0xEF, 0xBE}, data{1, 2, 3};
    EXPECT_FALSE(WriteObjectRecordCounted(*file, kRecordMagic, 0, magic, &stats));
    EXPECT_FALSE(WriteObjectRecordCounted(*file, kRecordProgram, 0, data, &stats));
    EXPECT_EQ(stats.errors, 2);
    EXPECT_EQ(stats.bytes, 2 + 4 + 3);
    EXPECT_EQ(ReadBytes(dir.file("ro.obj")), (Bytes{0xEF, 0xBE, 0x00}));
}

TEST(ObjectFile, CountedReaderCountsHeadersAndWrongTypes) {
    TempDir dir;
    WriteBytes(dir.file("c.obj"), {0xEF, 0xBE, 0x03, 0x02, 0x01, 0x00, 0x00, 0x11, 0x22});
    int error = 0, status = 0;
    auto file = ObjectFile::OpenExisting(dir.file("c.obj").c_str(), error);
    ASSERT_TRUE(file);
    ZQ_TRANSFER_STATS stats{};
    ASSERT_TRUE(ReadObjectRecordCounted(*file, kRecordMagic, status, &stats));
    EXPECT_EQ(stats.bytes, 2);
    ASSERT_TRUE(ReadObjectRecordCounted(*file, kRecordMagic, status, &stats));  // the status byte
    EXPECT_EQ(stats.errors, 1);
    EXPECT_EQ(stats.bytes, 3);
    ZQ_OBJECT_RECORD *r = ReadObjectRecordCounted(*file, kAnyRecordType, status, &stats);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data->length, 2);
    EXPECT_EQ(stats.bytes, 9);
    EXPECT_FALSE(ReadObjectRecordCounted(*file, kAnyRecordType, status, &stats));
    EXPECT_EQ(status, kObjectEndOfFile);
    EXPECT_EQ(stats.bytes, 9);
    EXPECT_EQ(stats.errors, 1);
}

TEST(ObjectFile, ProgramOffsetsWrapAt64K) {
    ProgramOffsetWrap wrap;
    EXPECT_EQ(wrap.full(0xFF00), 0xFF00u);
    EXPECT_EQ(wrap.full(0x0010), 0x10010u);
    EXPECT_EQ(wrap.full(0x0010), 0x10010u);  // equal is not lower
    EXPECT_EQ(wrap.full(0x0005), 0x20005u);
}

TEST(ObjectFile, MemoryBufferNeverGrowsPastItsCapacity) {
    ZQ_MEMORY_BUFFER b(4);
    const Bytes three{1, 2, 3}, two{4, 5};
    EXPECT_TRUE(b.append(three));
    EXPECT_FALSE(b.append(two));
    EXPECT_EQ(b.length, 3);
    EXPECT_FALSE(b.assign(Bytes(5)));
    EXPECT_EQ(b.length, 3);
    EXPECT_TRUE(b.assign(two));
    EXPECT_EQ(Bytes(b.view().begin(), b.view().end()), two);
    EXPECT_EQ(ZQ_MEMORY_BUFFER(100000).capacity(), 32767u);
}

TEST(ObjectFile, LargeFileReadsWholeAcrossBufferRefillsAndSeeks) {
    // Records of every length up to 255 bytes, more than 200 KB in all, so
    // that records straddle every refill of the reader's buffer.
    Bytes content{0xED, 0xFE, 0x00};
    std::vector<Item> written;
    for (int i = 0; content.size() < 200000; ++i) {
        const std::uint8_t length = static_cast<std::uint8_t>(1 + (i * 37) % 255);
        Item item{kRecordProgram, i & 0xFFFF, Bytes(length)};
        for (std::size_t k = 0; k < length; ++k) item.data[k] = static_cast<std::uint8_t>(i + k);
        content.insert(content.end(), {length, item.type, static_cast<std::uint8_t>(item.address),
                                       static_cast<std::uint8_t>(item.address >> 8)});
        content.insert(content.end(), item.data.begin(), item.data.end());
        written.push_back(item);
    }
    TempDir dir;
    WriteBytes(dir.file("big.obj"), content);
    int end = 0;
    const auto items = ReadAll(dir.file("big.obj"), end);
    EXPECT_EQ(end, kObjectEndOfFile);
    ASSERT_EQ(items.size(), written.size() + 2);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), items.begin() + 2));

    // Positions stay true to the file: back to an early record from far
    // on, then forward past what the buffer holds.
    int error = 0;
    auto file = ObjectFile::OpenExisting(dir.file("big.obj").c_str(), error);
    ASSERT_TRUE(file);
    std::vector<std::int64_t> starts;
    for (std::size_t i = 0; i < written.size() + 2; ++i) {
        std::int64_t at = -1;
        ASSERT_TRUE(file->position(at));
        starts.push_back(at);
        ASSERT_TRUE(ReadObjectRecord(*file, end));
    }
    EXPECT_EQ(starts.back() + 4 + static_cast<std::int64_t>(written.back().data.size()),
              static_cast<std::int64_t>(content.size()));
    for (std::size_t i : {std::size_t{5}, written.size() - 1, std::size_t{2}, std::size_t{4}, std::size_t{3},
                          written.size() / 2, written.size() / 2 - 1}) {
        ASSERT_TRUE(file->seek(starts[i]));
        const ZQ_OBJECT_RECORD *r = ReadObjectRecord(*file, end);
        ASSERT_TRUE(r) << i;
        EXPECT_EQ(Bytes(r->data->view().begin(), r->data->view().end()), written[i - 2].data) << i;
    }
}

// A file whose size tells nothing (a pipe) is read a record at a time and
// stopped at the record that takes it past the largest program any
// controller holds.
TEST(ObjectFile, ReaderStopsAFileThatGoesOnPastTheLargestProgram) {
    TempDir dir;
    const std::string path = dir.file("pipe.obj");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    // Records of 259 bytes: the last one written crosses the limit.
    const std::int64_t records = (kMostObjectFileBytes - 3) / 259 + 1;
    std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early ends the writer
    // Joined however the test ends: once the reader has closed, a write fails.
    std::jthread writer([&] {
        const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return;
        Bytes chunk{0xED, 0xFE, 0x00};
        Bytes record(259, 0x5A);
        record[0] = 255;
        record[1] = kRecordProgram;
        for (std::int64_t i = 0; i < records; ++i) {
            chunk.insert(chunk.end(), record.begin(), record.end());
            if (chunk.size() < 65536 && i + 1 < records) continue;
            if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) break;
            chunk.clear();
        }
        close(fd);
    });
    std::int64_t read = 0;
    ZQ_TRANSFER_STATS stats{};
    {
        // (Declared after the writer, so closed before it is joined.)
        ObjectFileReader reader;
        std::uint16_t magic = 0;
        std::uint8_t status = 0;
        ASSERT_TRUE(reader.open(path.c_str(), &stats));
        ASSERT_TRUE(reader.readMagic(magic));
        ASSERT_TRUE(reader.readStatus(status));
        while (reader.next()) ++read;
        EXPECT_EQ(reader.fault().code, 184);
        EXPECT_EQ(reader.fault().text, "Bad object file: it goes on past byte " + std::to_string(kMostObjectFileBytes) +
                                           ", larger than any controller's program");
        EXPECT_EQ(reader.recordNumber(), records);
    }
    writer.join();
    EXPECT_EQ(read, records - 1);
    EXPECT_EQ(stats.bytes, 3 + 259 * records);
}
