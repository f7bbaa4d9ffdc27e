// Reading a symbol file (.SYM) into the symbol database: the line parser,
// the progress window and the import itself.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "core/controls.h"
#include "core/forms.h"

// Reads a text file line by line and splits each line into fields at blanks,
// commas and tabs (a run of them is one separator; separators at the start
// or end of a line make no empty field). Start() raises Begin once, Line once
// per line that has a field and End once, all before it returns; during Line, Field(k) is
// field k (from 1, empty past the last) and Percent() how much of the file
// has been read.
class SymbolFileParser {
public:
    QString FileName;
    std::function<void()> Begin;
    std::function<void()> Line;
    std::function<void()> End;

    // Raises RuntimeError when the file cannot be read.
    void Start();
    QString Field(int k) const;
    int NumFields() const { return int(fields_.size()); }
    int16_t Percent() const { return percent_; }

    static QStringList split(const QString &line);

private:
    QStringList fields_;
    int16_t percent_ = 0;
};

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
