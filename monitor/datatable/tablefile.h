// The data table text file (.tab) and the number rules of the table's texts.
//
// A file holds the header "data_table[R][C] =", a line "{", one line per
// table row with its C cells in decimal at fixed print positions, and a line
// "}"; lines end in carriage return and line feed. The reader also takes
// lines ended by a line feed alone and any run of blanks or tabs between the
// fields, so that tables listed by the controller link library's uncompiler
// load as well.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "core/globals.h"

// The largest table the editor holds: its row counters are 16-bit, and the
// controller counts its columns in 8 bits.
inline constexpr int32_t MaxTableRows = 32767;
inline constexpr int32_t MaxTableColumns = 255;

// A text that is one decimal number and nothing else: blanks around it, an
// optional sign, digits, and an optional decimal point with more digits.
std::optional<double> decimalNumber(QStringView text);

// The value a table cell takes from a text: a decimal number, rounded to
// the nearest whole number (halves to even), from 0 to 65535; nothing for
// any other text. The grid editor and the file reader take the same values.
inline constexpr int32_t MaxCellValue = 65535;
std::optional<int32_t> tableCellValue(QStringView text);
std::optional<int32_t> tableCellValue(double number);

// The header line of a table of rows x dataColumns.
QString DataTableHeader(int32_t rows, int32_t dataColumns);
// A row line: the cell of column c (1-based) right-aligned in the 8
// characters from print position 1 (c = 1) or 9 (c - 1), with a space in
// front of a value of 0 or more. A value too wide for its field is written
// whole, and a field never touches the one before it, so that the reader
// always gets back every value.
QByteArray DataTableRowLine(const std::vector<int32_t> &cells);

// The text-parsing control: reads a file line by line and raises its
// per-line event for each line, in which the line's number (from 0), its
// fields (separated by runs of blanks or tabs) and the whole line can be
// asked for. The event returns False to end the scan.
//
// What a line costs does not grow with the line: the file is read a piece
// at a time, every field is counted, but only the first FieldLimit fields
// and the first MaxKept characters of a line are kept.
class LineScanner {
public:
    QString FileName;
    // The most fields of a line that are kept; the per-line event may
    // change it for the lines that follow.
    qint64 FieldLimit = std::numeric_limits<qint64>::max();
    // While set, lines of nothing but blanks and tabs are counted but the
    // event is raised only for the last of them in each piece read (and
    // at the end of the file), not for each; the per-line event may change
    // it for the lines that follow.
    bool PassBlankLines = false;
    // The most characters of a line that are kept.
    static constexpr qsizetype MaxKept = 65536;
    // The file is read this much at a time.
    static constexpr qint64 PieceBytes = 64 * 1024;

    // Reads FileName and raises the event for every line; False, with
    // errorString(), when the file cannot be read.
    bool Scan(const std::function<bool()> &perLine);

    qint64 LineNumber() const { return lineNumber_; }
    // Every field of the line, kept or not.
    qint64 NumFields() const { return numFields_; }
    // The fields kept: at most FieldLimit, and only those within the
    // characters kept.
    int KeptFields() const { return static_cast<int>(fields_.size()); }
    // Kept field i, from 1; it lasts until the next line.
    QStringView Field(int i) const {
        return i >= 1 && i <= KeptFields()
                   ? QStringView(line_).sliced(fields_[size_t(i - 1)].first, fields_[size_t(i - 1)].second)
                   : QStringView();
    }
    // The line, or its first MaxKept characters when it is longer.
    QString Line() const { return line_; }
    // The line is longer than MaxKept characters: Line() and the fields
    // kept hold only its start.
    bool LineCut() const { return lineCut_; }
    QString errorString() const { return error_; }

private:
    // Ends the line held so far and raises the event for it (or passes over
    // a blank line); False when the event ends the scan.
    bool endLine(const std::function<bool()> &perLine);
    // Raises the event for the blank line passed over last, if any.
    bool handOverPassed(const std::function<bool()> &perLine);
    // Makes the text the current line.
    void takeLine(const QByteArray &text, qint64 fields, bool cut);
    // Characters of the line (not its end).
    void add(const char *from, const char *to);

    qint64 lineNumber_ = -1;
    QString line_;
    std::vector<std::pair<qsizetype, qsizetype>> fields_;  // where each field kept starts, and its length
    QString error_;
    qint64 numFields_ = 0;
    bool lineCut_ = false;
    // The line being read: the characters kept, the fields counted.
    QByteArray kept_;
    qint64 counted_ = 0;
    bool inField_ = false;
    bool cut_ = false;
    // The last line passed over, not yet handed to the event.
    bool passed_ = false;
    QByteArray passedText_;
};

// Reads a table file line by line, as the scanner hands the lines over, into
// a table of its own; the editor's table is replaced only by a file read
// whole. Any line that does not belong in a table file stops the reading.
class DataTableFileReader {
public:
    // The per-line event: True to go on with the next line. It sets how
    // many fields the scanner keeps of the next line (no more than the
    // table's row can take), and has the blank lines after the table passed
    // over.
    bool line(LineScanner &scanner);
    // After the last line: True when the file held a whole table.
    bool finish();

    // The table read: TableRows, TableCols (data columns plus one) and the
    // cells, allocated (0..rows, 0..cols).
    int32_t rows() const { return rows_; }
    int32_t cols() const { return cols_; }
    TableCells &cells() { return cells_; }

    // Why the file was refused: the line (from 1) and what is wrong with it.
    qint64 errorLine() const { return errorLine_; }
    const QString &error() const { return error_; }

private:
    bool takeLine(const LineScanner &scanner);
    bool fail(qint64 lineNumber, const QString &why);
    bool header(const QString &text);

    enum class Expect { Header, OpenBrace, Row, CloseBrace, End };
    Expect expect_ = Expect::Header;
    int32_t rows_ = 0;
    int32_t cols_ = 0;
    int32_t rowsRead_ = 0;
    TableCells cells_;
    qint64 errorLine_ = 0;
    QString error_;
};
