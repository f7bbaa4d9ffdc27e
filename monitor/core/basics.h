// Small shared rules of the monitor program: Booleans, colours, the numbers
// read from text boxes, and the message-box constants.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// Booleans that the program stores or hands on as numbers are 16-bit with
// True = -1.
inline constexpr int16_t BoolTrue = -1;
inline constexpr int16_t BoolFalse = 0;
inline int16_t boolValue(bool b) { return b ? BoolTrue : BoolFalse; }

// Colours as the program keeps them: 0x00BBGGRR.
inline constexpr int32_t ColourDarkGreen = 32768;  // 0x008000
inline constexpr int32_t ColourRed = 255;          // 0x0000FF
// The colour of "*" on a button or panel: no value, so in no value's colour.
inline constexpr int32_t ColourNoValue = 0;  // black

// The leading numeric part of a text, as a box number is read: blanks, tabs
// and line feeds are skipped anywhere, "&H" and "&O" introduce hexadecimal
// and octal numbers, and the first character that cannot continue a number
// ends it. Empty and non-numeric text reads as 0.
double leadingNumber(const QString &text);

// Width of a whole box number.
enum class BoxBits { Bits16 = 16, Bits32 = 32 };

// A box number rounded to a whole number, halves going to the even
// neighbour; nullopt when it does not fit the given width.
std::optional<int32_t> tryBoxNumber(const QString &text, BoxBits bits);
// The same, raising the run-time error "Overflow" when it does not fit.
int32_t boxNumber(const QString &text, BoxBits bits);
// Rounding of a number to a whole number, halves to even; nullopt when it
// does not fit the width.
std::optional<int32_t> roundToWhole(double value, BoxBits bits);

// Decimal text of a number with the leading blank of a number of zero or more
// (" 17", "-3").
QString numberWithBlank(double value);

// The fields of a text line split at blanks, commas and tabs: a run of them
// is one separator, and separators at the start or end of the line make no
// empty field; carriage returns and line feeds are dropped.
QStringList splitFields(const QString &line);
