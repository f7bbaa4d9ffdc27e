#include "core/registerfile.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "core/basics.h"
#include "core/controls.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "core/msgbox.h"
#include "core/orvcomm_binding.h"
#include "core/runtime_error.h"

namespace {
constexpr int InputPastEnd = 62;
constexpr int TypeMismatch = 13;
}  // namespace

// ---- Format ---------------------------------------------------------------------

QString printZones(const QStringList &items) {
    QString line;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0) {
            const qsizetype next = (line.size() / PrintZoneWidth + 1) * PrintZoneWidth;
            line += QString(next - line.size(), u' ');
        }
        line += items[i];
    }
    return line;
}

QString shortestNumberText(double value) {
    if (std::isnan(value)) return QStringLiteral("nan");
    if (std::isinf(value)) return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    if (value == 0) return QStringLiteral("0");
    // The shortest digits that read back exactly, and their exponent.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    const std::string sci(buf, res.ptr);
    const auto e = sci.find('e');
    const bool negative = sci[0] == '-';
    std::string digits;
    for (size_t i = negative ? 1 : 0; i < e; ++i)
        if (sci[i] != '.') digits += sci[i];
    const int exponent = std::stoi(sci.substr(e + 1));
    if (exponent < -5 || exponent >= 15) return QString::fromStdString(sci);
    std::string text;
    if (exponent >= 0) {
        if (digits.size() < size_t(exponent) + 1) digits.append(size_t(exponent) + 1 - digits.size(), '0');
        text = digits.substr(0, size_t(exponent) + 1);
        if (digits.size() > size_t(exponent) + 1) text += "." + digits.substr(size_t(exponent) + 1);
    } else {
        text = "0." + std::string(size_t(-exponent - 1), '0') + digits;
    }
    return QString::fromStdString((negative ? "-" : "") + text);
}

QString printedNumber(double value) {
    if (value == 0) value = 0;  // no "-0"
    const QString t = shortestNumberText(value);
    return (std::signbit(value) ? t : QStringLiteral(" ") + t) + QStringLiteral(" ");
}

QString printedNumber(int32_t value) { return printedNumber(static_cast<double>(value)); }

// ---- Writer ---------------------------------------------------------------------

RegisterFileWriter::RegisterFileWriter(const QString &path) : path_(path) {}

RegisterFileWriter::~RegisterFileWriter() { discard(); }

void RegisterFileWriter::open() {
    hadEarlierFile_ = QFileInfo::exists(path_);
    file_ = std::make_unique<QSaveFile>(path_);
    if (!file_->open(QIODevice::WriteOnly)) {
        const QString reason = file_->errorString();
        file_.reset();
        throw RuntimeError(75, QStringLiteral("Path/File access error: ") + path_ + QStringLiteral(" (") + reason +
                                   QStringLiteral(")"));
    }
}

void RegisterFileWriter::writeLine(int32_t reg, const QString &line) {
    if (!file_) throw RuntimeError(52, QStringLiteral("Bad file name or number"));
    lines_ += line.toLatin1() + "\r\n";
    if (reg > 0) last_ = reg;
}

void RegisterFileWriter::writeHeader() {
    writeLine(0, printZones({QStringLiteral("Reg#"), QStringLiteral("Value")}));
    writeLine(0, QString());
}

void RegisterFileWriter::writeValueAsNumber(int32_t reg, int32_t value) {
    writeLine(reg, printZones({QString::number(reg), printedNumber(value)}));
    ++values_;
}

void RegisterFileWriter::writeValueAsNumber(int32_t reg, double value) {
    writeLine(reg, printZones({QString::number(reg), printedNumber(value)}));
    ++values_;
}

void RegisterFileWriter::writeValueAsText(int32_t reg, int32_t value) {
    writeLine(reg, printZones({QString::number(reg), QString::number(value)}));
    ++values_;
}

void RegisterFileWriter::writeFailedRead(int32_t reg) {
    writeLine(reg, printZones({QString::number(reg), FailedReadMark}));
    ++failed_;
}

void RegisterFileWriter::commit(QSaveFile &file, const QByteArray &bytes, const QString &path) {
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw RuntimeError(57, QStringLiteral("Device I/O error: ") + path + QStringLiteral(" (") + file.errorString() +
                                   QStringLiteral(")"));
}

void RegisterFileWriter::finish() {
    if (!file_) return;
    const std::unique_ptr<QSaveFile> file = std::move(file_);
    commit(*file, lines_, path_);
}

void RegisterFileWriter::finishAs(const QString &other) {
    discard();
    QSaveFile file(other);
    if (!file.open(QIODevice::WriteOnly))
        throw RuntimeError(75, QStringLiteral("Path/File access error: ") + other + QStringLiteral(" (") +
                                   file.errorString() + QStringLiteral(")"));
    commit(file, lines_, other);
}

void RegisterFileWriter::discard() {
    if (!file_) return;
    std::unique_ptr<QSaveFile> file = std::move(file_);
    file->cancelWriting();
}

// ---- Reader ---------------------------------------------------------------------

void RegisterFileReader::open(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw RuntimeError(RuntimeErrors::FileNotFound, QStringLiteral("File not found: ") + path);
    QString text = QString::fromLatin1(f.readAll());
    if (text.endsWith(u'\n')) text.chop(1);
    lines_ = text.isEmpty() ? QStringList() : text.split(u'\n');
    for (QString &line : lines_)
        if (line.endsWith(u'\r')) line.chop(1);
    pos_ = lastLine_ = 0;
}

void RegisterFileReader::skipHeader() {
    if (lines_.size() - pos_ < 2) throw RuntimeError(InputPastEnd, QStringLiteral("Input past end of file"));
    pos_ += 2;
}

bool RegisterFileReader::atEnd() {
    while (pos_ < lines_.size() && lines_[pos_].trimmed().isEmpty()) ++pos_;
    return pos_ >= lines_.size();
}

qsizetype RegisterFileReader::entriesLeft() const {
    qsizetype n = 0;
    for (qsizetype i = pos_; i < lines_.size(); ++i)
        if (!lines_[i].trimmed().isEmpty()) ++n;
    return n;
}

RegisterFileEntry RegisterFileReader::next() {
    if (atEnd()) throw RuntimeError(InputPastEnd, QStringLiteral("Input past end of file"));
    const QString &line = lines_[pos_++];
    lastLine_ = pos_;
    const QStringList fields = splitFields(line);
    if (fields.size() != 2)
        throw RuntimeError(TypeMismatch, QStringLiteral("Not a register line: ") + line);
    return {fields[0], fields[1]};
}

void RegisterFileReader::close() {
    lines_.clear();
    pos_ = 0;
}

QString RegisterFileFailure(const QString &words, const QString &path, qsizetype line, const std::exception &e) {
    const QString error = describeException(e);
    QString where = path;
    if (line > 0) where += QStringLiteral(", line ") + QString::number(line);
    // A file error names its file itself.
    if (where.isEmpty() || (line == 0 && error.contains(path))) return words + QLatin1Char('\n') + error;
    return words + QLatin1Char('\n') + where + QStringLiteral(": ") + error;
}

double RegisterFileReader::realNumber(const QString &field) {
    bool ok = false;
    const double v = QLocale::c().toDouble(field, &ok);
    if (!ok) throw RuntimeError(TypeMismatch, QStringLiteral("Type mismatch: ") + field);
    return v;
}

int32_t RegisterFileReader::wholeNumber(const QString &field) {
    if (const auto v = roundToWhole(realNumber(field), BoxBits::Bits32)) return *v;
    throw RuntimeError(RuntimeErrors::Overflow, QStringLiteral("Overflow"));
}
