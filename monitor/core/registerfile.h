// The register text file: a controller's register values as plain text,
// read from the controller into a file and written back from one.
//
// The file is a header line ("Reg#" and "Value"), an empty line, then one
// line per register: its number and its value in print zones of 14 columns,
// lines ended by carriage return and line feed. A value printed as a number
// carries a blank before it when it is not negative and one blank after it;
// a value printed as text carries neither; "*" marks a register whose read
// failed. The sections (registers 1 to 1000, the non-volatile banks of 1000
// registers each, the V-registers) are told apart by their line counts.
//
// The writer and the reader are shared by the main window's File menu
// commands (main/registercommands.h) and the program transfer,
// which keeps a register file beside each object file.
#pragma once

#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

#include "core/textlines.h"

// ---- Format ---------------------------------------------------------------------

inline constexpr int PrintZoneWidth = 14;

// The items laid out in print zones: each item after the first starts at
// the next zone boundary behind the text so far.
QString printZones(const QStringList &items);
// A number printed as a number: " 123 ", "-5 ", " 1.5 ".
QString printedNumber(int32_t value);
QString printedNumber(double value);
// The shortest decimal text that reads back as exactly this double, in
// plain notation for magnitudes from 1E-5 up to 1E+15 ("100000", "0.1",
// "1e+20").
QString shortestNumberText(double value);

// The value field of a register whose read failed.
inline const QString FailedReadMark = QStringLiteral("*");

// ---- Writer ---------------------------------------------------------------------

// Writes a register file. The lines are gathered in memory (a worker thread
// may write them: nothing but the gathering happens there) and go to a
// temporary file beside the target when the file is finished; the target is
// replaced only then, so an unfinished file never touches an earlier file of
// that name and never leaves a new one that looks whole.
class RegisterFileWriter {
public:
    explicit RegisterFileWriter(const QString &path);
    ~RegisterFileWriter();  // an open file is discarded
    RegisterFileWriter(const RegisterFileWriter &) = delete;
    RegisterFileWriter &operator=(const RegisterFileWriter &) = delete;

    // Raises RuntimeError when the file cannot be created.
    void open();
    // The "Reg#"/"Value" line and the empty line.
    void writeHeader();
    // The value printed as a number (blank before a non-negative value, one after).
    void writeValueAsNumber(int32_t reg, int32_t value);
    void writeValueAsNumber(int32_t reg, double value);
    // The value as text ("123", "-5").
    void writeValueAsText(int32_t reg, int32_t value);
    // "*" in place of the value.
    void writeFailedRead(int32_t reg);

    // The register lines so far: those with a value, those with "*", and
    // the register of the last line (0 before the first).
    int valueLines() const { return values_; }
    int failedLines() const { return failed_; }
    int32_t lastRegister() const { return last_; }
    const QString &path() const { return path_; }
    // Whether a file of the name existed when this one was opened.
    bool hadEarlierFile() const { return hadEarlierFile_; }

    // The file replaces any earlier one; raises RuntimeError when it cannot
    // be written. Finishing a file that is not open does nothing.
    void finish();
    // Writes the lines into another file (a new one, beside the target)
    // instead of the target, which stays as it was; raises RuntimeError
    // when it cannot be written.
    void finishAs(const QString &other);
    // Drops what was written: no file is made and an earlier one stays.
    void discard();

private:
    void writeLine(int32_t reg, const QString &line);
    static void commit(QSaveFile &file, const QByteArray &bytes, const QString &path);

    QString path_;
    std::unique_ptr<QSaveFile> file_;
    QByteArray lines_;
    bool hadEarlierFile_ = false;
    int values_ = 0;
    int failed_ = 0;
    int32_t last_ = 0;
};

// ---- Reader ---------------------------------------------------------------------

// The most register lines the format holds: registers 1 to 1000, eight
// non-volatile banks of 1000 and the 700 V-registers.
inline constexpr qsizetype MaxRegisterLines = 1000 + 8 * 1000 + 700;
// The most lines, blank ones included (which are passed over), and the
// longest line a register file may hold; its lines are a few dozen
// characters.
inline constexpr qsizetype MaxRegisterFileLines = 4 * MaxRegisterLines;
inline constexpr qsizetype MaxRegisterLineLength = 1024;

// One register line: the register number and the value as they stand.
struct RegisterFileEntry {
    QString number;
    QString value;
    bool failedRead() const { return value == FailedReadMark; }
};

// Reads a register file a line at a time. Blank lines between the entries
// and after the last are passed over. A line ends at CR LF, LF or CR.
class RegisterFileReader {
public:
    RegisterFileReader() : lines_(MaxRegisterLineLength) {}
    // Opens the file and looks it over whole before anything is taken from
    // it: raises RuntimeError when it cannot be read (FileNotFound), and
    // when a line is longer than MaxRegisterLineLength or the file holds
    // more than MaxRegisterLines register lines or MaxRegisterFileLines
    // lines in all (lineNumber() then names the line).
    void open(const QString &path);
    // Passes over the header line and the empty line without examining them;
    // raises RuntimeError when the file has fewer than two lines.
    void skipHeader();
    // True when no register line is left.
    bool atEnd();
    // How many register lines are left.
    qsizetype entriesLeft() const { return entries_ - taken_; }
    // The next register line; raises RuntimeError at the end of the file and
    // for a line that is not two fields separated by blanks or a comma.
    RegisterFileEntry next();
    void close();
    // The line (from 1) of the register line read last; 0 before the first.
    qsizetype lineNumber() const { return lastLine_; }

    // A field as a 32-bit whole number (halves rounded to even); raises
    // RuntimeError for a field that is not a number or does not fit.
    static int32_t wholeNumber(const QString &field);
    // A field as a 64-bit floating-point number; raises RuntimeError for a
    // field that is not a number.
    static double realNumber(const QString &field);

private:
    // The next line, or false at the end; raises RuntimeError for a line
    // that is too long or a file that cannot be read.
    bool nextLine(QByteArray &line);
    // Reads ahead to the next register line.
    bool fetch();

    TextLineReader lines_;
    QString path_;
    QByteArray pending_;
    bool hasPending_ = false;
    qsizetype pendingLine_ = 0;
    qsizetype entries_ = 0;
    qsizetype taken_ = 0;
    qsizetype lastLine_ = 0;
};

// What a register download did, for the text at its end: the lines
// written, and the writes the controller refused with the first of them.
struct RegisterWrites {
    int written = 0;
    int refused = 0;
    int32_t firstRegister = 0;
    qsizetype firstLine = 0;
    QString firstReason;

    void refusal(int32_t reg, qsizetype line, const QString &reason);
    bool clean() const { return refused == 0; }

    // Makes one write (`call`, the library's, 1 for success) of the line
    // and counts it: written, refused by the controller (a register number
    // beyond 16 bits, which would reach another register on the wire, is
    // refused without being sent), or failed for want of the link, which
    // is not counted: the download ends there (lostReason says why).
    enum class Outcome { Written, Refused, LinkLost };
    Outcome write(int32_t connection, int32_t reg, qsizetype line, const std::function<int32_t()> &call);
    QString lostReason;
    // "5200 lines written, 500 refused (the first: register 501 at line 503,
    // Illegal register number specified.)."
    QString summary() const;
};

// A register file command that failed on its file: the words, a line feed,
// and the file (with the line, when one was read) and the error.
QString RegisterFileFailure(const QString &words, const QString &path, qsizetype line, const std::exception &e);
