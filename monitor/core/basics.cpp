#include "core/basics.h"

#include <cmath>

#include "core/runtime_error.h"

namespace {
bool skippable(QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }
}  // namespace

double leadingNumber(const QString &text) {
    // Collect the characters that matter, dropping the blanks first.
    QString s;
    s.reserve(text.size());
    for (QChar c : text)
        if (!skippable(c)) s.append(c);
    if (s.startsWith(u'&') && s.size() > 1) {
        const QChar kind = s.at(1).toUpper();
        int base = 0;
        int pos = 2;
        if (kind == u'H') base = 16;
        else if (kind == u'O') base = 8;
        else if (kind.isDigit()) { base = 8; pos = 1; }
        if (base == 0) return 0;
        uint64_t v = 0;
        int digits = 0;
        for (; pos < s.size(); ++pos) {
            const int d = s.at(pos).isDigit() ? s.at(pos).digitValue()
                          : (base == 16 && s.at(pos).toUpper() >= u'A' && s.at(pos).toUpper() <= u'F')
                              ? s.at(pos).toUpper().unicode() - 'A' + 10
                              : -1;
            if (d < 0 || d >= base) break;
            v = v * base + static_cast<uint64_t>(d);
            ++digits;
            if (v > 0xFFFFFFFFull) return 0;  // too long to be a number at all
        }
        if (digits == 0) return 0;
        // Short numbers are 16-bit, longer ones 32-bit, both signed.
        if (v <= 0xFFFF && ((base == 16 && digits <= 4) || (base == 8 && v <= 0xFFFF)))
            return static_cast<int16_t>(static_cast<uint16_t>(v));
        return static_cast<int32_t>(static_cast<uint32_t>(v));
    }
    int i = 0;
    QString num;
    if (i < s.size() && (s.at(i) == u'-' || s.at(i) == u'+')) num.append(s.at(i++));
    bool any = false;
    while (i < s.size() && s.at(i).isDigit() && s.at(i).unicode() < 128) { num.append(s.at(i++)); any = true; }
    if (i < s.size() && s.at(i) == u'.') {
        num.append(s.at(i++));
        while (i < s.size() && s.at(i).isDigit() && s.at(i).unicode() < 128) { num.append(s.at(i++)); any = true; }
    }
    if (!any) return 0;
    if (i < s.size() && (s.at(i).toUpper() == u'E' || s.at(i).toUpper() == u'D')) {
        int j = i + 1;
        QString exp = QStringLiteral("e");
        if (j < s.size() && (s.at(j) == u'-' || s.at(j) == u'+')) exp.append(s.at(j++));
        bool expDigits = false;
        while (j < s.size() && s.at(j).isDigit() && s.at(j).unicode() < 128) { exp.append(s.at(j++)); expDigits = true; }
        if (expDigits) num.append(exp);
    }
    bool ok = false;
    const double v = num.toDouble(&ok);
    if (!ok || !std::isfinite(v)) return 0;
    return v;
}

std::optional<int32_t> roundToWhole(double value, BoxBits bits) {
    if (!std::isfinite(value)) return std::nullopt;
    const double r = std::nearbyint(value);  // the default rounding mode: halves to even
    const double lo = bits == BoxBits::Bits16 ? -32768.0 : -2147483648.0;
    const double hi = bits == BoxBits::Bits16 ? 32767.0 : 2147483647.0;
    if (r < lo || r > hi) return std::nullopt;
    return static_cast<int32_t>(r);
}

std::optional<int32_t> tryBoxNumber(const QString &text, BoxBits bits) {
    return roundToWhole(leadingNumber(text), bits);
}

int32_t boxNumber(const QString &text, BoxBits bits) {
    if (auto v = tryBoxNumber(text, bits)) return *v;
    throw RuntimeError(RuntimeErrors::Overflow, QStringLiteral("Overflow"));
}

QString numberWithBlank(double value) {
    const QString t = QString::number(value, 'g', 15);
    return value >= 0 ? QStringLiteral(" ") + t : t;
}

QStringList splitFields(const QString &line) {
    QStringList out;
    QString field;
    for (QChar c : line) {
        if (c == u' ' || c == u',' || c == u'\t') {
            if (!field.isEmpty()) out << field;
            field.clear();
        } else if (c != u'\r' && c != u'\n') {
            field += c;
        }
    }
    if (!field.isEmpty()) out << field;
    return out;
}
