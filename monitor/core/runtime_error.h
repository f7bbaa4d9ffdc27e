// The run-time error of the monitor program: a number and a description.
//
// Procedures that the program runs under an error trap (the start-up, the
// polling tick, the about window's system-information button) catch it and
// report the description; the library binding raises it for a missing
// library or function.
#pragma once

#include <QString>
#include <stdexcept>

class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const QString &description)
        : std::runtime_error(description.toStdString()), number_(number), description_(description) {}

    int number() const { return number_; }
    const QString &description() const { return description_; }

private:
    int number_;
    QString description_;
};

// Error numbers the program raises itself.
namespace RuntimeErrors {
inline constexpr int Overflow = 6;
inline constexpr int FileNotFound = 53;
inline constexpr int CannotLoadLibrary = 48;
inline constexpr int EntryPointMissing = 453;
inline constexpr int DatabaseError = 3000;
}  // namespace RuntimeErrors

// The description of any exception, for the handlers that show one.
inline QString describeException(const std::exception &e) {
    if (auto *r = dynamic_cast<const RuntimeError *>(&e)) return r->description();
    return QString::fromLocal8Bit(e.what());
}
