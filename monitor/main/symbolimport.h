// Reading a symbol file (.SYM) into the symbol database: the line parser,
// the progress window and the import itself.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "core/controls.h"
#include "core/forms.h"

// The longest line a symbol file may hold.
inline constexpr qsizetype MaxSymbolLineLength = 65536;

// Reads a text file line by line and splits each line into fields at blanks,
// commas and tabs (a run of them is one separator; separators at the start
// or end of a line make no empty field). A line ends at CR LF, LF or CR.
// Start() raises Begin once, Line once per line that has a field and End
// once, all before it returns; during Line, Field(k) is field k (from 1,
// empty past the last), LineNumber() its line and Percent() how much of the
// file has been read.
class SymbolFileParser {
public:
    QString FileName;
    std::function<void()> Begin;
    std::function<void()> Line;
    std::function<void()> End;

    // Raises RuntimeError when the file cannot be read, and for a line it
    // cannot take whole: a NUL byte, a line longer than MaxSymbolLineLength,
    // a last line cut off before its four fields. An error raised by Line
    // is raised again with the file and the line in front of its text.
    void Start();
    QString Field(int k) const;
    int NumFields() const { return int(fields_.size()); }
    int16_t Percent() const { return percent_; }
    qsizetype LineNumber() const { return line_; }

    static QStringList split(const QString &line);

private:
    void take(const QByteArray &bytes, bool ended);

    QStringList fields_;
    int16_t percent_ = 0;
    qsizetype line_ = 0;
};

// One symbol of a line: its code as the decimal text of field 1's number,
// the number and value as 32-bit integers, the name cut to 40 characters.
struct SymbolLine {
    QString code;
    int32_t number = 0;
    int32_t value = 0;
    QString name;
};
// Raises RuntimeError for a code longer than the Code field's 20
// characters, and for a number or value that does not fit in 32 bits.
SymbolLine ReadSymbolLine(const SymbolFileParser &parser);

// Reads the symbol file through, as the parse does, without the database:
// raises RuntimeError (with the file, the line and the reason) for a file
// the parse would not take whole.
void CheckSymbolFile(const QString &path);

// The progress window of a symbol file import.
class frmSymbol : public Form {
    Q_OBJECT
public:
    frmSymbol();
    SSPanel *VSElastic1 = nullptr;

protected:
    void buildControls() override;
};

// Parses the symbol file into the open symbol database: one row per code,
// number and value, the file's last name for them winning. Raises
// RuntimeError on a file or database failure, leaving nothing of this parse
// in the database.
void ParseSymbolFile(const QString &path);
