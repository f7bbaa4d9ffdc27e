// The firmware file reader: one firmware file open at a time, a plain text
// file read line by line or a compressed file decoded through its Huffman
// tree, behind one line interface (firmwarereader.cpp).
#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class FirmwareReader {
public:
    int16_t FileMode = 0;  // 0 plain firmware file, 1 compressed
    bool HufEOF = false;   // the compressed reader has decoded the end symbol
    // Where the reader reports a fatal error of a compressed file's header.
    std::function<void(const QString &)> log;
    // Whether pending window events run while the reader decodes (the
    // update's reads); a check of the whole file reads without them.
    bool yields = true;
    // What made the last procedure fail, when it raised an error.
    QString errorText() const { return error_; }

    // Every procedure fails (False, or True for FileEOF) instead of raising.
    bool OpenFile(const QString &path);
    bool GetLine(QString &line);
    bool FileEOF();
    bool ResetFile(const QString &path);
    // The number after the last "L" of the next line that contains key.
    bool SectionLength(const QString &key, int32_t &length);
    bool OpenCompressedFile(const QString &path);
    bool ResetCompressedFile(const QString &path);
    void CloseCompressedFile();
    bool HufLineInput(QString &line);
    // These raise their errors to the caller.
    int16_t InputCounts();
    int16_t BuildTree();
    bool InputBit();

    // A node of the Huffman tree: indexes 0..255 the bytes, 256 the end of
    // the stream, 257..512 the inner nodes, 513 the sentinel.
    struct HufNode {
        int16_t count = 0;
        int16_t savedCount = 0;
        int16_t child0 = 0;
        int16_t child1 = 0;
    };
    static constexpr int EndSymbol = 256;
    static constexpr int NodeCount = 515;
    const std::array<HufNode, NodeCount> &nodes() const { return Nodes; }
    int16_t headerLength() const { return HeaderLength; }
    int16_t rootNode() const { return RootNode; }

    bool FindLine(const QString &key, QString &line);
    void closeFirmwareFile();
    qint64 fileSize() const { return firmwareFile_.size(); }
    qint64 filePosition() const { return firmwareFile_.pos(); }

    // The number after the last "L" of a section's length line; the last
    // character is never taken for that "L", nor the first.
    static std::optional<int32_t> LengthInLine(const QString &line);

private:
    // Runs f; a run-time error gives the failure value, its text kept.
    template <class F, class R> R trapped(F &&f, R failure);
    void yield();
    bool openFirmwareFile(const QString &path);
    // Reads a 16-bit integer of the compressed file; false at its end.
    bool readInteger(int16_t &value);
    bool plainLine(QString &line);

    QFile firmwareFile_;
    int16_t HeaderLength = 0;
    int16_t RootNode = 0;
    uint8_t BitMask = 0;
    uint8_t BitBuffer = 0;
    std::array<HufNode, NodeCount> Nodes{};
    QString error_;
};

// Checks a whole firmware file the way the update reads and sends it, before
// anything reaches the controller: a plain file (fileMode 0) from its first
// line to a line holding "END" or its end; a compressed one (fileMode 1)
// decoded to its end mark, and each section of the module's tags that it
// holds (at least one): its length line with a length above 0, the line
// that opens it, and its lines to "END". Every line sent must be a
// well-formed S-record (count, hexadecimal bytes, checksum) and the last a
// termination record (S7, S8 or S9). Returns why the file cannot be sent
// and where, or an empty text.
QString FirmwareFileFault(const QString &path, int16_t fileMode, const QStringList &sectionTags);
