// The custom window file (.CFG): the sixteen rows of a custom window, one
// line each, ended by carriage return and line feed, in the ANSI code page.
// A line holds the row's name in double quotes, then its kind and its number
// as number fields (a blank or "-", the digits, a blank), each item starting
// at the next print zone of 14 columns (column 1, 15, 29, ...):
//
//   "Flag 5"       1            5
//
// Nothing else is in the file.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>

#include "core/globals.h"

// The file's bytes for the rows. A double quote in a name is written as a
// single quote and a line end as a blank, so that the name cannot spill into
// the kind and number that follow it.
QByteArray CustomFileText(const std::array<CustomResourceRow, 16> &rows);

// The most bytes a custom window file may hold: sixteen lines of a name
// and two numbers are a few hundred.
inline constexpr qsizetype MaxCustomFileBytes = 64 * 1024;

struct CustomFileRead {
    int rows = 0;     // rows taken, from row 0 on
    int badLine = 0;  // line where the file was refused, 0 when it was not
    QString reason;   // why it was refused
};

// Reads rows from the file's bytes into rows, row 0 first, up to the end of
// the data: a file of fewer than sixteen rows fills the rows it has. A file
// it cannot take whole is refused, and then no row is changed: a row that
// is not a name, a kind 0..12 and a number 1..2147483647, a row cut off by
// the end of the data (also inside its number, which a line end, a blank
// or a comma ends), a NUL byte, anything but blanks after the sixteenth
// row, or more than MaxCustomFileBytes. Fields are separated by blanks,
// line ends or a comma; a name in double quotes runs to the next double
// quote on its line, one without quotes to a comma or the line end. A line
// ends at CR LF, LF or CR.
CustomFileRead ReadCustomFile(const QByteArray &bytes, std::array<CustomResourceRow, 16> &rows);

// "Line 3 of PATH is not a custom screen row (the kind 13 is not one of 0 to
// 12)": a refused file as a message names it.
QString CustomFileRefusal(const QString &path, const CustomFileRead &read);
