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
#include "core/link.h"
#include "core/msgbox.h"
#include "core/orvcomm_binding.h"
#include "core/runtime_error.h"

namespace {
constexpr int InputPastEnd = 62;
constexpr int TypeMismatch = 13;
constexpr int DeviceError = 57;
constexpr int BadFileFormat = 321;
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
    close();
    path_ = path;
    lastLine_ = 0;
    if (!lines_.open(path))
        throw RuntimeError(RuntimeErrors::FileNotFound, QStringLiteral("File not found: ") + path);
    // The whole file is looked over first, a line at a time: one that
    // cannot be a register file is refused before anything is taken.
    QByteArray line;
    qsizetype entries = 0;
    while (nextLine(line)) {
        if (lines_.lineNumber() > MaxRegisterFileLines) {
            lastLine_ = lines_.lineNumber();
            throw RuntimeError(BadFileFormat,
                               QStringLiteral("More lines than a register file holds (%1)").arg(MaxRegisterFileLines));
        }
        if (lines_.lineNumber() <= 2 || BlankLine(line)) continue;
        if (++entries > MaxRegisterLines) {
            lastLine_ = lines_.lineNumber();
            throw RuntimeError(BadFileFormat, QStringLiteral("More register lines than a register file holds (%1)")
                                                  .arg(MaxRegisterLines));
        }
    }
    if (!lines_.rewind()) throw RuntimeError(DeviceError, QStringLiteral("Device I/O error: ") + path);
    entries_ = entries;
}

bool RegisterFileReader::nextLine(QByteArray &line) {
    switch (lines_.next(line)) {
    case TextLineReader::Read::Line: return true;
    case TextLineReader::Read::End: return false;
    case TextLineReader::Read::TooLong:
        lastLine_ = lines_.lineNumber();
        throw RuntimeError(BadFileFormat, QStringLiteral("Line longer than %1 characters: ").arg(MaxRegisterLineLength) +
                                              QuotedLine(line));
    case TextLineReader::Read::Error: break;
    }
    lastLine_ = lines_.lineNumber() + 1;
    throw RuntimeError(DeviceError, QStringLiteral("Device I/O error: ") + path_ + QStringLiteral(" (") +
                                        lines_.errorString() + QStringLiteral(")"));
}

void RegisterFileReader::skipHeader() {
    QByteArray line;
    for (int i = 0; i < 2; ++i)
        if (!nextLine(line)) throw RuntimeError(InputPastEnd, QStringLiteral("Input past end of file"));
}

bool RegisterFileReader::fetch() {
    if (hasPending_) return true;
    while (nextLine(pending_)) {
        if (BlankLine(pending_)) continue;
        // The file has grown since it was looked over.
        if (taken_ >= entries_) {
            lastLine_ = lines_.lineNumber();
            throw RuntimeError(BadFileFormat, QStringLiteral("The file changed while it was read"));
        }
        hasPending_ = true;
        pendingLine_ = lines_.lineNumber();
        return true;
    }
    return false;
}

bool RegisterFileReader::atEnd() { return !fetch(); }

RegisterFileEntry RegisterFileReader::next() {
    if (!fetch()) throw RuntimeError(InputPastEnd, QStringLiteral("Input past end of file"));
    hasPending_ = false;
    ++taken_;
    lastLine_ = pendingLine_;
    const QString line = QString::fromLatin1(pending_);
    const QStringList fields = splitFields(line);
    if (fields.size() != 2) throw RuntimeError(TypeMismatch, QStringLiteral("Not a register line: ") + QuotedLine(line));
    return {fields[0], fields[1]};
}

void RegisterFileReader::close() {
    lines_.close();
    pending_.clear();
    hasPending_ = false;
    entries_ = taken_ = 0;
    pendingLine_ = 0;
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
    if (!ok) throw RuntimeError(TypeMismatch, QStringLiteral("Type mismatch: ") + QuotedLine(field));
    return v;
}

int32_t RegisterFileReader::wholeNumber(const QString &field) {
    if (const auto v = roundToWhole(realNumber(field), BoxBits::Bits32)) return *v;
    throw RuntimeError(RuntimeErrors::Overflow, QStringLiteral("Overflow"));
}

// ---- What a download did ------------------------------------------------------------

void RegisterWrites::refusal(int32_t reg, qsizetype line, const QString &reason) {
    if (refused++ > 0) return;
    firstRegister = reg;
    firstLine = line;
    firstReason = reason;
}

RegisterWrites::Outcome RegisterWrites::write(int32_t connection, int32_t reg, qsizetype line,
                                              const std::function<int32_t()> &call) {
    if (reg < 1 || reg > 65535) {
        refusal(reg, line, QStringLiteral("no such register, not sent"));
        return Outcome::Refused;
    }
    if (call() == 1) {
        ++written;
        return Outcome::Written;
    }
    ControllerLink &link = controllerLink();
    if (link.failureLosesLink(connection)) {
        lostReason = link.lastFailure();
        return Outcome::LinkLost;
    }
    refusal(reg, line, link.lastFailure());
    return Outcome::Refused;
}

QString RegisterWrites::summary() const {
    QString text = QStringLiteral("%1 %2 written, %3 refused")
                       .arg(written)
                       .arg(written == 1 ? QStringLiteral("line") : QStringLiteral("lines"))
                       .arg(refused);
    if (refused > 0)
        text += QStringLiteral(" (the first: register %1 at line %2, %3)").arg(firstRegister).arg(firstLine).arg(firstReason);
    return text + QLatin1Char('.');
}
