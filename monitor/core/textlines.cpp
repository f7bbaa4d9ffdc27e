#include "core/textlines.h"

#include <QStringList>

namespace {
constexpr qint64 ChunkBytes = 64 * 1024;
}  // namespace

bool TextLineReader::open(const QString &path) {
    close();
    file_.setFileName(path);
    return file_.open(QIODevice::ReadOnly);
}

void TextLineReader::close() {
    if (file_.isOpen()) file_.close();
    buf_.clear();
    pos_ = line_ = 0;
    ended_ = true;
    failed_ = false;
}

bool TextLineReader::rewind() {
    buf_.clear();
    pos_ = line_ = 0;
    ended_ = true;
    failed_ = false;
    return file_.seek(0);
}

bool TextLineReader::fill() {
    if (failed_ || file_.atEnd()) return false;
    buf_ = file_.read(ChunkBytes);
    pos_ = 0;
    if (buf_.isEmpty()) {
        failed_ = file_.error() != QFileDevice::NoError;
        return false;
    }
    return true;
}

TextLineReader::Read TextLineReader::next(QByteArray &line) {
    line.clear();
    bool any = false;
    for (;;) {
        if (pos_ == buf_.size() && !fill()) {
            if (failed_) return Read::Error;
            if (!any) return Read::End;
            ++line_;
            ended_ = false;
            return Read::Line;
        }
        const char *d = buf_.constData();
        qsizetype i = pos_;
        while (i < buf_.size() && d[i] != '\n' && d[i] != '\r') ++i;
        if (line.size() + (i - pos_) > max_) {
            line.append(d + pos_, max_ - line.size());
            ++line_;
            ended_ = false;
            return Read::TooLong;
        }
        line.append(d + pos_, i - pos_);
        any = any || i > pos_;
        pos_ = i;
        if (pos_ == buf_.size()) continue;
        const bool cr = d[pos_] == '\r';
        ++pos_;
        // CR LF is one line end, also when the chunk ends between the two.
        if (cr && (pos_ < buf_.size() || fill()) && buf_[pos_] == '\n') ++pos_;
        if (failed_) return Read::Error;
        ++line_;
        ended_ = true;
        return Read::Line;
    }
}

QString QuotedLine(const QString &text) {
    // The pieces up to the first one past the room: a long line costs no more.
    QStringList pieces;
    qsizetype total = 0;
    for (qsizetype i = 0; i < text.size() && total <= MaxQuotedLength; ++i) {
        const char16_t c = text[i].unicode();
        pieces << (c < 0x20 || (c >= 0x7F && c < 0xA0)
                       ? QStringLiteral("\\x") + QString::number(c, 16).rightJustified(2, QLatin1Char('0')).toUpper()
                       : QString(QChar(c)));
        total += pieces.back().size();
    }
    if (total <= MaxQuotedLength) return pieces.join(QString());
    QString out;
    for (const QString &piece : pieces) {
        if (out.size() + piece.size() > MaxQuotedLength - 3) break;
        out += piece;
    }
    return out + QStringLiteral("...");
}

QString QuotedLine(const QByteArray &bytes) { return QuotedLine(QString::fromLatin1(bytes)); }

bool BlankLine(const QByteArray &line) {
    for (const char c : line)
        if (c != ' ' && c != '\t') return false;
    return true;
}
