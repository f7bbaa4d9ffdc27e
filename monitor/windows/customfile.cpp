#include "windows/customfile.h"

#include <cstdlib>

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

// The fields of the file, one after the other, with the line each began on.
class FieldReader {
public:
    explicit FieldReader(const QByteArray &bytes) : b_(bytes) {}

    enum Result { Ok, End, Bad };

    // Skips blanks and line ends; false at the end of the data.
    bool atField() {
        while (pos_ < b_.size() && (isBlank(b_[pos_]) || isLineEnd(b_[pos_]))) {
            if (b_[pos_] == '\n') ++line_;
            ++pos_;
        }
        return pos_ < b_.size();
    }
    int line() const { return line_; }

    Result text(QString &out) {
        if (!atField()) return End;
        if (b_[pos_] == '"') {
            qsizetype end = pos_ + 1;
            while (end < b_.size() && b_[end] != '"' && !isLineEnd(b_[end])) ++end;
            if (end >= b_.size() || b_[end] != '"') return Bad;
            out = QString::fromLatin1(b_.mid(pos_ + 1, end - pos_ - 1));
            pos_ = end + 1;
        } else {
            qsizetype end = pos_;
            while (end < b_.size() && b_[end] != ',' && !isLineEnd(b_[end])) ++end;
            out = QString::fromLatin1(b_.mid(pos_, end - pos_)).trimmed();
            pos_ = end;
        }
        return separator();
    }

    Result number(int64_t &out) {
        if (!atField()) return End;
        qsizetype end = pos_;
        while (end < b_.size() && !isBlank(b_[end]) && b_[end] != ',' && !isLineEnd(b_[end])) ++end;
        const QByteArray token = b_.mid(pos_, end - pos_);
        pos_ = end;
        bool digits = !token.isEmpty();
        for (qsizetype i = (token.startsWith('-') || token.startsWith('+')) ? 1 : 0; i < token.size(); ++i)
            digits = digits && token[i] >= '0' && token[i] <= '9';
        bool ok = false;
        out = digits ? token.toLongLong(&ok) : 0;
        if (!ok) return Bad;
        return separator();
    }

private:
    // After a field: blanks, then at most one comma.
    Result separator() {
        while (pos_ < b_.size() && isBlank(b_[pos_])) ++pos_;
        if (pos_ < b_.size() && b_[pos_] == ',') ++pos_;
        return Ok;
    }

    const QByteArray &b_;
    qsizetype pos_ = 0;
    int line_ = 1;
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
    CustomFileRead read;
    FieldReader fields(bytes);
    for (CustomResourceRow &row : rows) {
        if (!fields.atField()) break;  // a shorter file: the rest stays
        const int line = fields.line();
        CustomResourceRow next;
        int64_t kind = 0, number = 0;
        FieldReader::Result r = fields.text(next.name);
        if (r == FieldReader::Ok) r = fields.number(kind);
        if (r == FieldReader::Ok) r = fields.number(number);
        if (r == FieldReader::End) break;  // a row cut off by the end of the file is not taken
        if (r == FieldReader::Bad || kind < 0 || kind > 12 || number < 1 || number > INT32_MAX) {
            read.badLine = line;
            break;
        }
        next.kind = static_cast<int16_t>(kind);
        next.number = static_cast<int32_t>(number);
        row = next;
        ++read.rows;
    }
    return read;
}
