#include "datatable/tablefile.h"

#include <QFile>
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/basics.h"

namespace {

bool blank(QChar c) { return c == u' ' || c == u'\t'; }
bool asciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// The whole number that follows position `from` of the text (blanks before
// it skipped) when a "]" (blanks before it skipped) closes it.
std::optional<int32_t> bracketNumber(const QString &text, qsizetype from) {
    qsizetype i = from;
    while (i < text.size() && blank(text.at(i))) ++i;
    const qsizetype start = i;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+')) ++i;
    const qsizetype digitsFrom = i;
    while (i < text.size() && asciiDigit(text.at(i))) ++i;
    if (i == digitsFrom || i - digitsFrom > 9) return std::nullopt;
    const int32_t value = text.mid(start, i - start).toInt();
    while (i < text.size() && blank(text.at(i))) ++i;
    if (i >= text.size() || text.at(i) != u']') return std::nullopt;
    return value;
}

}  // namespace

std::optional<double> decimalNumber(QStringView text) {
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && blank(text[i])) ++i;
    const qsizetype start = i;
    const bool negative = i < n && text[i] == u'-';
    if (i < n && (text[i] == u'-' || text[i] == u'+')) ++i;
    // A whole number of up to 15 digits is taken as it is; any other through
    // the text's conversion.
    qint64 whole = 0;
    qsizetype digits = 0;
    for (; i < n && asciiDigit(text[i]); ++i, ++digits)
        if (digits < 15) whole = whole * 10 + (text[i].unicode() - u'0');
    qsizetype fraction = 0;
    const bool point = i < n && text[i] == u'.';
    if (point)
        for (++i; i < n && asciiDigit(text[i]); ++i) ++fraction;
    if (digits == 0 && fraction == 0) return std::nullopt;
    const qsizetype end = i;
    while (i < n && blank(text[i])) ++i;
    if (i != n) return std::nullopt;
    if (!point && digits <= 15) return negative ? -double(whole) : double(whole);
    bool ok = false;
    const double v = text.sliced(start, end - start).toDouble(&ok);
    if (!ok) return std::nullopt;
    return v;
}

std::optional<int32_t> tableCellValue(double number) {
    const double whole = std::nearbyint(number);
    if (whole < 0 || whole > MaxCellValue) return std::nullopt;
    return static_cast<int32_t>(whole);
}

std::optional<int32_t> tableCellValue(QStringView text) {
    const auto v = decimalNumber(text);
    return v ? tableCellValue(*v) : std::nullopt;
}

QString DataTableHeader(int32_t rows, int32_t dataColumns) {
    return QStringLiteral("data_table[%1][%2] =").arg(rows).arg(dataColumns);
}

QByteArray DataTableRowLine(const std::vector<int32_t> &cells) {
    QByteArray line;
    line.reserve(9 * qsizetype(cells.size()));
    for (size_t i = 0; i < cells.size(); ++i) {
        const int32_t v = cells[i];
        // The value with its sign position, right-aligned in 8 characters.
        char field[16] = {' '};
        const auto [end, ec] = std::to_chars(field + (v >= 0 ? 1 : 0), field + sizeof field, v);
        const qsizetype width = end - field;
        const qsizetype start = i == 0 ? 1 : 9 * qsizetype(i);  // print position of column i + 1
        while (line.size() < start - 1) line += ' ';
        const char front = width < 8 ? ' ' : field[0];
        if (!line.isEmpty() && line.back() != ' ' && front != ' ') line += ' ';
        if (width < 8) line.append(8 - width, ' ');
        line.append(field, width);
    }
    return line;
}

void LineScanner::add(const char *from, const char *to) {
    for (const char *c = from; c < to; ++c) {
        const bool separator = *c == ' ' || *c == '\t';
        if (!separator && !inField_) ++counted_;
        inField_ = !separator;
    }
    const qsizetype room = MaxKept - kept_.size();
    if (to - from > room) cut_ = true;
    kept_.append(from, std::min<qsizetype>(room, to - from));
}

void LineScanner::takeLine(const QByteArray &text, qint64 fields, bool cut) {
    // The file is text in the ANSI code page; its numbers are plain ASCII.
    line_ = QString::fromLatin1(text);
    numFields_ = fields;
    lineCut_ = cut;
    fields_.clear();
    for (qsizetype i = 0; i < line_.size() && qint64(fields_.size()) < FieldLimit;) {
        while (i < line_.size() && blank(line_.at(i))) ++i;
        const qsizetype start = i;
        while (i < line_.size() && !blank(line_.at(i))) ++i;
        if (i > start) fields_.push_back({start, i - start});
    }
}

bool LineScanner::endLine(const std::function<bool()> &perLine) {
    ++lineNumber_;
    const bool pass = PassBlankLines && counted_ == 0 && !cut_;
    if (pass) passedText_.swap(kept_);  // handed over at the end of the piece, if it is the last
    else takeLine(kept_, counted_, cut_);
    passed_ = pass;
    kept_.clear();
    counted_ = 0;
    inField_ = cut_ = false;
    return pass || perLine();
}

bool LineScanner::handOverPassed(const std::function<bool()> &perLine) {
    if (!passed_) return true;
    passed_ = false;
    // The line under way (a piece may end inside it) is left as it is.
    takeLine(passedText_, 0, false);
    return perLine();
}

bool LineScanner::Scan(const std::function<bool()> &perLine) {
    error_.clear();
    lineNumber_ = -1;
    kept_.clear();
    counted_ = 0;
    inField_ = cut_ = passed_ = false;
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error_ = file.errorString();
        return false;
    }
    // A line ends in a line feed, with a carriage return before it taken
    // off; so does the last line of a file, which may end without either.
    bool started = false;         // something of a line since the last line feed
    bool carriageReturn = false;  // one held back until the next character
    while (!file.atEnd()) {
        const QByteArray piece = file.read(PieceBytes);
        if (file.error() != QFileDevice::NoError) {
            error_ = file.errorString();
            return false;
        }
        for (const char *p = piece.constData(), *end = p + piece.size(); p < end;) {
            const auto *feed = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
            const char *text = feed ? feed : end;
            if (text > p) {
                started = true;
                static constexpr char held = '\r';
                if (carriageReturn) add(&held, &held + 1);
                carriageReturn = text[-1] == '\r';
                add(p, carriageReturn ? text - 1 : text);
            }
            p = text;
            if (!feed) break;
            ++p;
            started = carriageReturn = false;
            if (!endLine(perLine)) return true;
        }
        // Lines passed over still give the event a turn once a piece.
        if (!handOverPassed(perLine)) return true;
    }
    if (started && !endLine(perLine)) return true;
    handOverPassed(perLine);
    return true;
}

bool DataTableFileReader::fail(qint64 lineNumber, const QString &why) {
    errorLine_ = lineNumber + 1;
    error_ = why;
    return false;
}

bool DataTableFileReader::header(const QString &text) {
    const qsizetype first = text.indexOf(u'[');
    const qsizetype last = text.lastIndexOf(u'[');
    if (first < 0 || last == first) return false;
    const auto rows = bracketNumber(text, first + 1);
    const auto columns = bracketNumber(text, last + 1);
    if (!rows || !columns) return false;
    // A table without columns is saved with -1 of them.
    if (*rows < 0 || *rows > MaxTableRows || *columns < -1 || *columns > MaxTableColumns) return false;
    rows_ = *rows;
    cols_ = *columns + 1;
    cells_.redim(0, rows_, 0, cols_);
    return true;
}

bool DataTableFileReader::line(LineScanner &s) {
    const bool goOn = takeLine(s);
    // No row line holds more fields than the table has columns: a line
    // with more is refused on their count, so more need not be kept.
    s.FieldLimit = expect_ == Expect::Row ? std::max(0, cols_ - 1) : 1;
    // After the table only blank lines may follow: they need no look each.
    s.PassBlankLines = expect_ == Expect::End;
    return goOn;
}

bool DataTableFileReader::takeLine(const LineScanner &s) {
    const qint64 n = s.LineNumber();
    const int dataColumns = std::max(0, cols_ - 1);
    // Every field of a row line is counted, however long the line: a wrong
    // count is what is wrong with it.
    if (expect_ == Expect::Row && s.NumFields() != dataColumns)
        return fail(n, QStringLiteral("%1 values expected, %2 found").arg(dataColumns).arg(s.NumFields()));
    // Of a longer line only the start was kept.
    if (s.LineCut()) return fail(n, QStringLiteral("the line is longer than %1 characters").arg(LineScanner::MaxKept));
    const QString trimmed = s.Line().trimmed();
    switch (expect_) {
    case Expect::Header:
        if (!header(s.Line()))
            return fail(n, QStringLiteral("the header does not give the table's rows and columns"));
        expect_ = Expect::OpenBrace;
        return true;
    case Expect::OpenBrace:
        if (trimmed != QStringLiteral("{")) return fail(n, QStringLiteral("\"{\" expected"));
        expect_ = rows_ > 0 ? Expect::Row : Expect::CloseBrace;
        return true;
    case Expect::Row: {
        ++rowsRead_;
        for (int c = 1; c <= dataColumns; ++c) {
            const auto v = decimalNumber(s.Field(c));
            if (!v) return fail(n, QStringLiteral("\"%1\" is not a number").arg(s.Field(c)));
            // Nothing that a cell cannot hold reaches the table: a download
            // would send its low 16 bits.
            const auto cell = tableCellValue(*v);
            if (!cell)
                return fail(n, QStringLiteral("row %1, column %2: %3 is out of range (0 to %4)")
                                   .arg(rowsRead_)
                                   .arg(c)
                                   .arg(s.Field(c))
                                   .arg(MaxCellValue));
            cells_(rowsRead_, c) = *cell;
        }
        if (rowsRead_ == rows_) expect_ = Expect::CloseBrace;
        return true;
    }
    case Expect::CloseBrace:
        if (trimmed != QStringLiteral("}"))
            return fail(n, QStringLiteral("\"}\" expected after row %1").arg(rows_));
        expect_ = Expect::End;
        return true;
    case Expect::End:
        if (!trimmed.isEmpty()) return fail(n, QStringLiteral("text after \"}\""));
        return true;
    }
    return false;
}

bool DataTableFileReader::finish() {
    if (!error_.isEmpty()) return false;
    if (expect_ != Expect::End) {
        errorLine_ = 0;
        error_ = QStringLiteral("the file ends before the table does");
        return false;
    }
    return true;
}
