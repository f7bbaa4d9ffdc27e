// The firmware file reader of the firmware update window.
//
// A plain firmware file is read line by line. A compressed one starts with
// a header of symbol counts (runs of 16-bit little-endian integers: first,
// last, one count per symbol, ..., closed by 4095 where a run's first is
// expected); the tree built from the counts decodes the rest of the file
// bit by bit, most significant bit first, up to the end symbol 256. Both
// readers hand out lines through the same procedures.
//
// A corrupt or truncated compressed file is refused, never read past its
// end: a header that ends early or names a node outside the array, counts
// that overflow, and a coded stream that ends before its end symbol all fail
// the read.
#include <QtEndian>
#include <stdexcept>

#include "core/basics.h"
#include "core/eventpump.h"
#include "core/runtime_error.h"
#include "transfer/firmwarereader.h"

namespace {

constexpr int16_t HeaderEnd = 4095;
constexpr int Sentinel = 513;
constexpr int LastNode = 514;
constexpr int16_t MostCount = 32767;

[[noreturn]] void pastEnd() { throw RuntimeError(62, QStringLiteral("Input past end of file")); }
[[noreturn]] void overflow() { throw RuntimeError(RuntimeErrors::Overflow, QStringLiteral("Overflow")); }

int16_t checked16(int32_t v) {
    if (v > MostCount || v < -32768) overflow();
    return static_cast<int16_t>(v);
}

// Runs f and turns any run-time error into the failure value.
template <class F, class R> R trapped(F &&f, R failure) {
    try {
        return f();
    } catch (const std::exception &) {
        return failure;
    }
}

}  // namespace

bool FirmwareReader::openFirmwareFile(const QString &path) {
    closeFirmwareFile();
    firmwareFile_.setFileName(path);
    return firmwareFile_.open(QIODevice::ReadOnly);
}

void FirmwareReader::closeFirmwareFile() {
    if (firmwareFile_.isOpen()) firmwareFile_.close();
}

void FirmwareReader::CloseCompressedFile() { closeFirmwareFile(); }

// ---- The line interface ----------------------------------------------------------

bool FirmwareReader::OpenFile(const QString &path) {
    switch (FileMode) {
    case 0: return trapped([&] { return openFirmwareFile(path); }, false);
    case 1: return OpenCompressedFile(path);
    default: return false;
    }
}

bool FirmwareReader::GetLine(QString &line) {
    switch (FileMode) {
    case 0: return trapped([&] { return plainLine(line); }, false);
    case 1: return HufLineInput(line);
    default: return false;
    }
}

bool FirmwareReader::FileEOF() {
    switch (FileMode) {
    case 0: return !firmwareFile_.isOpen() || firmwareFile_.atEnd();
    case 1: return HufEOF;
    default: return true;
    }
}

bool FirmwareReader::ResetFile(const QString &path) {
    switch (FileMode) {
    case 0: return trapped([&] { return openFirmwareFile(path); }, false);
    case 1: return ResetCompressedFile(path);
    default: return false;
    }
}

// A line of a plain file ends at a carriage return, or at a carriage return
// and a line feed; neither belongs to the line.
bool FirmwareReader::plainLine(QString &line) {
    if (!firmwareFile_.isOpen() || firmwareFile_.atEnd()) return false;
    QByteArray bytes;
    char c = 0;
    while (firmwareFile_.getChar(&c)) {
        if (c == '\r') {
            char next = 0;
            if (firmwareFile_.peek(&next, 1) == 1 && next == '\n') firmwareFile_.getChar(&next);
            break;
        }
        bytes.append(c);
    }
    line = QString::fromLatin1(bytes);
    return true;
}

bool FirmwareReader::FindLine(const QString &key, QString &line) {
    return trapped(
        [&] {
            QString current;
            while (!current.contains(key) && !HufEOF) {
                if (!HufLineInput(current)) return false;
                DoEvents();
            }
            if (!current.contains(key)) return false;
            line = current;
            return true;
        },
        false);
}

bool FirmwareReader::SectionLength(const QString &key, int32_t &length) {
    const bool found = trapped(
        [&] {
            QString line;
            if (!FindLine(key, line)) return false;
            // From the second-to-last character towards the first; the last
            // is never examined, and an "L" in first place does not count.
            const qsizetype n = line.size();
            qsizetype at = -1;
            for (qsizetype k = 2; k < n; ++k) {
                if (line[n - k] == u'L') {
                    at = n - k;
                    break;
                }
                DoEvents();
            }
            if (at < 0) return false;
            length = boxNumber(line.mid(at + 1), BoxBits::Bits32);
            return true;
        },
        false);
    if (!found) length = 0;
    return found;
}

// ---- The compressed reader ---------------------------------------------------------------

bool FirmwareReader::readInteger(int16_t &value) {
    char b[2];
    if (firmwareFile_.read(b, 2) != 2) return false;
    value = qFromLittleEndian<int16_t>(b);
    return true;
}

bool FirmwareReader::OpenCompressedFile(const QString &path) {
    const bool opened = trapped(
        [&] {
            if (!openFirmwareFile(path)) return false;
            Nodes.fill(HufNode{});
            RootNode = 0;
            BitMask = 0;
            BitBuffer = 0;
            HeaderLength = 0;
            HeaderLength = InputCounts();
            if (HeaderLength == 0) return false;
            RootNode = BuildTree();
            BitMask = 128;
            HufEOF = false;
            return true;
        },
        false);
    // A failed open leaves no tree to decode with: the reader refuses to
    // read or rewind until a file opens.
    if (!opened) HeaderLength = 0;
    return opened;
}

int16_t FirmwareReader::InputCounts() {
    int32_t length = 0;
    auto next = [&](int16_t &v) {
        // A header that ends early, even by one byte, is not read past.
        if (!readInteger(v)) return false;
        length += 2;
        if (length > MostCount) overflow();
        return true;
    };
    auto fatal = [&] {
        if (log) log(QStringLiteral("Fatal error reading counts\r\n"));
        return int16_t(0);
    };
    int16_t first = 0;
    if (!next(first)) return fatal();
    for (;;) {
        int16_t last = 0;
        if (!next(last)) return fatal();
        for (int32_t i = first; i <= last; ++i) {
            int16_t count = 0;
            if (!next(count)) return fatal();
            if (i < 0 || i > LastNode) throw RuntimeError(9, QStringLiteral("Subscript out of range"));
            Nodes[size_t(i)].count = count;
        }
        if (!next(first)) return fatal();
        if (first == HeaderEnd) {
            Nodes[EndSymbol].count = 1;
            return int16_t(length);
        }
    }
}

int16_t FirmwareReader::BuildTree() {
    Nodes[Sentinel].count = MostCount;
    int n = EndSymbol + 1;
    for (; n <= LastNode; ++n) {
        // The two lightest free nodes, the lower index first among equals.
        int min1 = Sentinel, min2 = Sentinel;
        for (int i = 0; i < n; ++i) {
            const int16_t c = Nodes[size_t(i)].count;
            if (c == 0) continue;
            if (c < Nodes[size_t(min1)].count) {
                min2 = min1;
                min1 = i;
            } else if (c < Nodes[size_t(min2)].count) {
                min2 = i;
            }
        }
        if (min2 == Sentinel) break;
        HufNode &a = Nodes[size_t(min1)], &b = Nodes[size_t(min2)];
        Nodes[size_t(n)].count = checked16(int32_t(a.count) + b.count);
        a.savedCount = a.count;
        a.count = 0;
        b.savedCount = b.count;
        b.count = 0;
        Nodes[size_t(n)].child0 = int16_t(min1);
        Nodes[size_t(n)].child1 = int16_t(min2);
    }
    const int root = n - 1;
    Nodes[size_t(root)].savedCount = Nodes[size_t(root)].count;
    return int16_t(root);
}

bool FirmwareReader::InputBit() {
    if (BitMask == 128) {
        char c = 0;
        // The coded stream ends before its end symbol: a failed read.
        if (!firmwareFile_.getChar(&c)) pastEnd();
        BitBuffer = uint8_t(c);
    }
    const bool bit = (BitBuffer & BitMask) != 0;
    BitMask = BitMask == 1 ? 128 : uint8_t(BitMask / 2);
    return bit;
}

bool FirmwareReader::HufLineInput(QString &line) {
    return trapped(
        [&] {
            if (HufEOF || HeaderLength == 0) return false;
            QString text;
            for (;;) {
                int node = RootNode;
                // A tree of the end symbol alone takes no bits.
                while (node > EndSymbol) node = InputBit() ? Nodes.at(size_t(node)).child1 : Nodes.at(size_t(node)).child0;
                if (node == EndSymbol) {
                    HufEOF = true;
                    line = text;
                    return true;
                }
                if (node != 13 && node != 10) text.append(QChar::fromLatin1(char(node)));
                if (node == 10) {
                    line = text;
                    return true;
                }
                DoEvents();
            }
        },
        false);
}

bool FirmwareReader::ResetCompressedFile(const QString &path) {
    return trapped(
        [&] {
            if (HeaderLength == 0 || !openFirmwareFile(path)) return false;
            for (int k = 0; k < HeaderLength / 2; ++k) {
                int16_t skipped = 0;
                if (!readInteger(skipped)) return false;
            }
            BitMask = 128;
            HufEOF = false;
            return true;
        },
        false);
}
