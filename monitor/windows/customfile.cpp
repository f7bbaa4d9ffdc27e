#include "windows/customfile.h"

#include <cstdlib>

#include "core/textlines.h"

namespace {

constexpr int PrintZone = 14;

// A number as the file writes it: the sign position, the digits, a blank.
QByteArray numberField(int64_t v) {
    return (v < 0 ? QByteArray("-") : QByteArray(" ")) + QByteArray::number(v < 0 ? -v : v) + ' ';
}

// Puts an item at the next print zone of the line.
void appendItem(QByteArray &line, const QByteArray &item) {
    line.append(QByteArray((PrintZone - line.size() % PrintZone) % PrintZone, ' '));
    line.append(item);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

// Whether the byte at i ends a line: a line feed, or a carriage return not
// followed by one (CR LF is one line end).
bool endsLine(const QByteArray &b, qsizetype i) {
    return b[i] == '\n' || (b[i] == '\r' && (i + 1 == b.size() || b[i + 1] != '\n'));
}

// The line (from 1) of the byte at pos.
int lineAt(const QByteArray &b, qsizetype pos) {
    int line = 1;
    for (qsizetype i = 0; i < pos && i < b.size(); ++i)
        if (endsLine(b, i)) ++line;
    return line;
}

// The fields of the file, one after the other, with the line each began on.
class FieldReader {
public:
    explicit FieldReader(const QByteArray &bytes) : b_(bytes) {}

    enum Result { Ok, Cut, Bad };

    // Skips blanks and line ends; false at the end of the data.
    bool atField() {
        while (pos_ < b_.size() && (isBlank(b_[pos_]) || isLineEnd(b_[pos_]))) {
            if (endsLine(b_, pos_)) ++line_;
            ++pos_;
        }
        return pos_ < b_.size();
    }
    int line() const { return line_; }
    // Why the last field was Bad.
    const QString &reason() const { return reason_; }

    Result text(QString &out) {
        if (!atField()) return Cut;
        if (b_[pos_] == '"') {
            qsizetype end = pos_ + 1;
            while (end < b_.size() && b_[end] != '"' && !isLineEnd(b_[end])) ++end;
            if (end >= b_.size()) return Cut;
            if (b_[end] != '"') return bad(QStringLiteral("the name has no closing quote: ") + QuotedLine(b_.mid(pos_, end - pos_)));
            out = QString::fromLatin1(b_.mid(pos_ + 1, end - pos_ - 1));
            pos_ = end + 1;
        } else {
            qsizetype end = pos_;
            while (end < b_.size() && b_[end] != ',' && !isLineEnd(b_[end])) ++end;
            out = QString::fromLatin1(b_.mid(pos_, end - pos_)).trimmed();
            pos_ = end;
        }
        separator();
        return Ok;
    }

    // A whole number from `lowest` to `highest`; `what` names it in the reason.
    Result number(int64_t &out, const char *what, int64_t lowest, int64_t highest) {
        if (!atField()) return Cut;
        qsizetype end = pos_;
        while (end < b_.size() && !isBlank(b_[end]) && b_[end] != ',' && !isLineEnd(b_[end])) ++end;
        // A number the end of the data cuts may have lost digits.
        if (end == b_.size()) return Cut;
        const QByteArray token = b_.mid(pos_, end - pos_);
        pos_ = end;
        bool digits = !token.isEmpty();
        for (qsizetype i = (token.startsWith('-') || token.startsWith('+')) ? 1 : 0; i < token.size(); ++i)
            digits = digits && token[i] >= '0' && token[i] <= '9';
        bool ok = false;
        out = digits ? token.toLongLong(&ok) : 0;
        if (!digits) return bad(QStringLiteral("the %1 is not a number: ").arg(QLatin1String(what)) + QuotedLine(token));
        if (!ok || out < lowest || out > highest)
            return bad(QStringLiteral("the %1 %2 is not one of %3 to %4")
                           .arg(QLatin1String(what), QuotedLine(token))
                           .arg(lowest)
                           .arg(highest));
        separator();
        return Ok;
    }

private:
    Result bad(const QString &why) {
        reason_ = why;
        return Bad;
    }
    // After a field: blanks, then at most one comma.
    void separator() {
        while (pos_ < b_.size() && isBlank(b_[pos_])) ++pos_;
        if (pos_ < b_.size() && b_[pos_] == ',') ++pos_;
    }

    const QByteArray &b_;
    qsizetype pos_ = 0;
    int line_ = 1;
    QString reason_;
};

}  // namespace

QByteArray CustomFileText(const std::array<CustomResourceRow, 16> &rows) {
    QByteArray out;
    for (const CustomResourceRow &row : rows) {
        QString name = row.name;
        name.replace(QLatin1Char('"'), QLatin1Char('\'')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        name.replace(QLatin1Char('\n'), QLatin1Char(' '));
        QByteArray line = '"' + name.toLatin1() + '"';
        appendItem(line, numberField(row.kind));
        appendItem(line, numberField(row.number));
        out.append(line).append("\r\n");
    }
    return out;
}

CustomFileRead ReadCustomFile(const QByteArray &bytes, std::array<CustomResourceRow, 16> &rows) {
    const auto refused = [](int line, const QString &why) { return CustomFileRead{0, line, why}; };
    if (bytes.size() > MaxCustomFileBytes)
        return refused(lineAt(bytes, MaxCustomFileBytes),
                       QStringLiteral("the file is longer than a custom screen file can be (%1 bytes)")
                           .arg(MaxCustomFileBytes));
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0)
        return refused(lineAt(bytes, nul), QStringLiteral("a NUL byte"));
    // The rows change only when the file is taken whole.
    std::array<CustomResourceRow, 16> next = rows;
    FieldReader fields(bytes);
    int taken = 0;
    for (; taken < 16 && fields.atField(); ++taken) {
        const int line = fields.line();
        CustomResourceRow &row = next[size_t(taken)];
        int64_t kind = 0, number = 0;
        FieldReader::Result r = fields.text(row.name);
        if (r == FieldReader::Ok) r = fields.number(kind, "kind", 0, 12);
        if (r == FieldReader::Ok) r = fields.number(number, "number", 1, INT32_MAX);
        if (r == FieldReader::Cut) return refused(line, QStringLiteral("the row is cut off by the end of the file"));
        if (r == FieldReader::Bad) return refused(line, fields.reason());
        row.kind = static_cast<int16_t>(kind);
        row.number = static_cast<int32_t>(number);
    }
    if (fields.atField()) return refused(fields.line(), QStringLiteral("more than the 16 rows of a custom screen"));
    rows = next;
    return {taken, 0, {}};
}

QString CustomFileRefusal(const QString &path, const CustomFileRead &read) {
    return QStringLiteral("Line %1 of ").arg(read.badLine) + path + QStringLiteral(" is not a custom screen row (") +
           read.reason + QStringLiteral(")");
}
