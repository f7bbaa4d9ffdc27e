// Reading the monitor's text files a line at a time, in memory bounded by
// the longest line a file may hold, and quoting a line in a message.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The lines of a text file, one at a time. A line ends at a line feed, at a
// carriage return, or at both together (CR LF): a file with carriage
// returns only is read line by line, never as one line.
class TextLineReader {
public:
    // maxLength: the most bytes a line may hold (without its end).
    explicit TextLineReader(qsizetype maxLength) : max_(maxLength) {}

    // False when the file cannot be opened (errorString() says why).
    bool open(const QString &path);
    QString errorString() const { return file_.errorString(); }
    void close();
    // Back to the first line.
    bool rewind();

    enum class Read {
        Line,     // `line` holds the next line
        End,      // no line is left
        TooLong,  // the next line is longer than maxLength: `line` holds its start
        Error,    // the file could not be read
    };
    Read next(QByteArray &line);
    // The line (from 1) that next() gave last.
    qsizetype lineNumber() const { return line_; }
    // Whether that line had its line end (false: the file ends inside it).
    bool lineEnded() const { return ended_; }
    // Bytes read so far, and the file's size.
    qint64 position() const { return file_.pos() - (buf_.size() - pos_); }
    qint64 size() const { return file_.size(); }

private:
    bool fill();

    qsizetype max_;
    QFile file_;
    QByteArray buf_;
    qsizetype pos_ = 0;
    qsizetype line_ = 0;
    bool ended_ = true;
    bool failed_ = false;
};

// The most characters a quoted line takes in a message.
inline constexpr qsizetype MaxQuotedLength = 40;

// A line (or a field) of a file as a message quotes it: control characters
// as \xNN, and cut to at most MaxQuotedLength characters, "..." ending a
// line that was cut. A message never grows with what a file holds.
QString QuotedLine(const QString &text);
QString QuotedLine(const QByteArray &bytes);

// True for a line of nothing but blanks and tabs.
bool BlankLine(const QByteArray &line);
