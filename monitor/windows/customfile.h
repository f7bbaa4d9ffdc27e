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
#include <array>

#include "core/globals.h"

// The file's bytes for the rows. A double quote in a name is written as a
// single quote and a line end as a blank, so that the name cannot spill into
// the kind and number that follow it.
QByteArray CustomFileText(const std::array<CustomResourceRow, 16> &rows);

struct CustomFileRead {
    int rows = 0;     // rows taken, from row 0 on
    int badLine = 0;  // line of the row that could not be read, 0 when none
};

// Reads rows from the file's bytes into rows, row 0 first, and stops at the
// end of the data or at the first row that is not a name, a kind 0..12 and a
// number 1..2147483647. Only whole rows are taken: the row where the reading
// stopped and those after it keep what they held. Fields are separated by
// blanks, line ends or a comma; a name in double quotes runs to the next
// double quote on its line, one without quotes to a comma or the line end.
CustomFileRead ReadCustomFile(const QByteArray &bytes, std::array<CustomResourceRow, 16> &rows);
