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

[[noreturn]] void pastEnd() {
    throw RuntimeError(62, QStringLiteral("Input past end of file: the coded text ends before its end mark"));
}
[[noreturn]] void overflow(const QString &what) {
    throw RuntimeError(RuntimeErrors::Overflow, QStringLiteral("Overflow: ") + what);
}

int16_t checked16(int32_t v) {
    if (v > MostCount || v < -32768) overflow(QStringLiteral("the symbol counts add up to more than 32767"));
    return static_cast<int16_t>(v);
}

}  // namespace

template <class F, class R> R FirmwareReader::trapped(F &&f, R failure) {
    try {
        return f();
    } catch (const std::exception &e) {
        error_ = describeException(e);
        return failure;
    }
}

void FirmwareReader::yield() {
    if (yields) DoEvents();
}

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
                yield();
            }
            if (!current.contains(key)) return false;
            line = current;
            return true;
        },
        false);
}

std::optional<int32_t> FirmwareReader::LengthInLine(const QString &line) {
    // From the second-to-last character towards the first; the last is
    // never examined, and an "L" in first place does not count.
    const qsizetype n = line.size();
    for (qsizetype k = 2; k < n; ++k)
        if (line[n - k] == u'L') return boxNumber(line.mid(n - k + 1), BoxBits::Bits32);
    return std::nullopt;
}

bool FirmwareReader::SectionLength(const QString &key, int32_t &length) {
    const bool found = trapped(
        [&] {
            QString line;
            if (!FindLine(key, line)) return false;
            const std::optional<int32_t> n = LengthInLine(line);
            if (!n) return false;
            length = *n;
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
        if (length > MostCount) overflow(QStringLiteral("the count header is longer than 32767 bytes"));
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
            if (i < 0 || i > LastNode)
                throw RuntimeError(9, QStringLiteral("Subscript out of range: the count header names symbol %1, "
                                                     "outside 0 to %2")
                                          .arg(i)
                                          .arg(LastNode));
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
                yield();
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

// ---- The whole file, before an update --------------------------------------------------

namespace {

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    return -1;
}

QString hexByte(int b) { return QString::number(b, 16).rightJustified(2, u'0').toUpper(); }

// Address bytes of an S-record type; 0 for the reserved type 4.
int addressBytes(QChar type) {
    switch (type.unicode()) {
    case u'2':
    case u'6':
    case u'8': return 3;
    case u'3':
    case u'7': return 4;
    case u'4': return 0;
    default: return 2;
    }
}

bool terminationRecord(const QString &line) {
    return line.size() > 1 && (line[1] == u'7' || line[1] == u'8' || line[1] == u'9');
}

// What is wrong with a line as an S-record: "S", the type digit, then pairs
// of hexadecimal digits: the count of the bytes after it (address, data and
// checksum), and the checksum that makes the 8-bit sum of them all FF.
QString sRecordFault(const QString &line) {
    if (line.size() < 4 || line[0] != u'S' || !line[1].isDigit()) return QStringLiteral("not an S-record");
    if (line.size() % 2 != 0) return QStringLiteral("an S-record of an odd number of hexadecimal digits");
    QList<int> bytes;
    for (qsizetype i = 2; i < line.size(); i += 2) {
        const int hi = hexDigit(line[i]), lo = hexDigit(line[i + 1]);
        if (hi < 0 || lo < 0) return QStringLiteral("\"%1\" in an S-record is not hexadecimal").arg(line.mid(i, 2));
        bytes.append(hi * 16 + lo);
    }
    const int count = bytes.front();
    if (count != bytes.size() - 1)
        return QStringLiteral("the S-record's count gives %1 bytes, it holds %2").arg(count).arg(bytes.size() - 1);
    const int address = addressBytes(line[1]);
    if (address == 0) return QStringLiteral("S4 is not a record type");
    if (count < address + 1)
        return QStringLiteral("an S%1 record holds at least %2 bytes, this one %3").arg(line[1]).arg(address + 1).arg(count);
    int sum = 0;
    for (qsizetype i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
    const int expected = 0xFF - (sum & 0xFF);
    if (bytes.back() != expected)
        return QStringLiteral("checksum %1, the record's bytes give %2").arg(hexByte(bytes.back()), hexByte(expected));
    return QString();
}

// The lines the update sends from index `first` (0-based) of the text: up
// to a line holding "END", an empty last line, or the end. Each must be an
// S-record and the last a termination record. `what` names the part of the
// file for the texts.
QString recordsFault(const QStringList &lines, qsizetype first, const QString &what) {
    qsizetype last = -1;
    for (qsizetype i = first; i < lines.size(); ++i) {
        const QString &line = lines[i];
        if (line.contains(QLatin1String("END")) || (line.isEmpty() && i + 1 == lines.size())) break;
        if (last >= 0 && terminationRecord(lines[last]))
            return QStringLiteral("line %1: %2 goes on after its termination record").arg(i + 1).arg(what);
        if (const QString fault = sRecordFault(line); !fault.isEmpty())
            return QStringLiteral("line %1: %2").arg(i + 1).arg(fault);
        last = i;
    }
    if (last < 0) return QStringLiteral("%1 holds no record to send").arg(what);
    if (!terminationRecord(lines[last]))
        return QStringLiteral("line %1: %2 ends without a termination record (S7, S8 or S9)").arg(last + 1).arg(what);
    return QString();
}

}  // namespace

QString FirmwareFileFault(const QString &path, int16_t fileMode, const QStringList &sectionTags) {
    FirmwareReader reader;
    reader.FileMode = fileMode;
    reader.yields = false;
    QString headerFault;
    reader.log = [&](const QString &) { headerFault = QStringLiteral("the count header ends early"); };
    if (!reader.OpenFile(path)) {
        if (fileMode != 1) return QStringLiteral("the file cannot be read");
        if (!headerFault.isEmpty()) return headerFault;
        return reader.errorText().isEmpty() ? QStringLiteral("the file cannot be read") : reader.errorText();
    }
    QStringList lines;
    QString line;
    while (!reader.FileEOF()) {
        if (!reader.GetLine(line)) {
            if (fileMode != 1) return QStringLiteral("line %1 cannot be read").arg(lines.size() + 1);
            return QStringLiteral("%1 (byte %2, in line %3 of its text)")
                .arg(reader.errorText())
                .arg(reader.filePosition())
                .arg(lines.size() + 1);
        }
        lines.append(line);
    }
    if (fileMode != 1) return recordsFault(lines, 0, QStringLiteral("the file"));

    // A compressed file: the sections of the module's tags that it holds.
    int sections = 0;
    for (const QString &tag : sectionTags) {
        const auto holding = [&](qsizetype from) {
            for (qsizetype i = from; i < lines.size(); ++i)
                if (lines[i].contains(tag)) return i;
            return qsizetype(-1);
        };
        const qsizetype lengthLine = holding(0);
        if (lengthLine < 0) continue;
        ++sections;
        std::optional<int32_t> length;
        try {
            length = FirmwareReader::LengthInLine(lines[lengthLine]);
        } catch (const std::exception &) {
            // A length beyond 32 bits.
        }
        if (!length || *length <= 0)
            return QStringLiteral("line %1: section %2 has no length above 0 after its \"L\"").arg(lengthLine + 1).arg(tag);
        const qsizetype opening = holding(lengthLine + 1);
        if (opening < 0)
            return QStringLiteral("line %1: no line after it opens section %2").arg(lengthLine + 1).arg(tag);
        if (const QString fault = recordsFault(lines, opening + 1, QStringLiteral("section ") + tag); !fault.isEmpty())
            return fault;
    }
    if (sections == 0) return QStringLiteral("no section for %1").arg(sectionTags.join(QStringLiteral(", ")));
    return QString();
}
