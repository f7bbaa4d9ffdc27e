// The firmware update window: the module list, the start button, the log and
// the progress bar of an update, and two buttons below the visible area that
// answer only to their access keys (transfer baud rate and support code).
//
// The window holds the firmware file reader (FirmwareReader), whose
// procedures it offers as its own, and it runs the update itself
// (firmwareupdate.cpp): reset, programming mode, baud switch and the line
// exchange with the module.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <array>
#include <cstdint>

#include "core/forms.h"
#include "core/msgbox.h"
#include "transfer/firmwarereader.h"
#include "transfer/mscomm.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class SSCommand;

// The screen's mouse pointer as the firmware windows set it.
inline constexpr int PointerDefault = 0;
inline constexpr int PointerHourglass = 11;
void setScreenMousePointer(int pointer);
int screenMousePointer();

class frmProgFlash : public Form {
    Q_OBJECT
    // Declared first: FileMode and HufEOF below refer into it.
    FirmwareReader reader_;

public:
    frmProgFlash();

    // Controls.
    QComboBox *Combo1 = nullptr;  // the module list
    QLabel *lblModule = nullptr;
    SSCommand *SSCommand1 = nullptr;  // "Start Update"
    QPlainTextEdit *Text1 = nullptr;  // the log
    QProgressBar *ProgressBar1 = nullptr;
    QPushButton *Command1 = nullptr;  // "&B", transfer baud rate
    QPushButton *Command2 = nullptr;  // "&F", support code
    CommonDialog CMDialog1;
    MSComm MSComm1;
    QWidget *VideoSoftElastic1 = nullptr;

    // The log's text exactly as written, line ends CR LF (the box shows it
    // with plain line breaks).
    QString logText() const { return log_; }
    void setLogText(const QString &text);

    // Shared with the variant-selection window and the update procedure.
    int16_t SelectedModel = 0;  // CPU module variant: 11, 12, 14 or 16; 0 until chosen
    bool SelectionOK = false;
    int16_t &FileMode = reader_.FileMode;  // 0 plain firmware file, 1 compressed
    int16_t ModuleType = 0;  // 0 CPU module, 1 communication module, 2 Q600 series controller
    bool &HufEOF = reader_.HufEOF;         // the compressed reader has decoded the end symbol

    // The transfer baud rate and the module's code for it.
    int32_t FlashBaudRate = 38400;
    uint8_t BaudCode = 3;
    int16_t BaudCodeChar = 51;

    // Timing of an update: the fixed delays are multiplied by DelayScale and
    // every read of the update waits at most FlashTimeoutMs. Tests shorten
    // both.
    double DelayScale = 1.0;
    int32_t FlashTimeoutMs = 5500;

    // ---- The firmware file reader (reader_) ---------------------------------------
    // Every procedure fails (False, or True for FileEOF) instead of raising.
    bool OpenFile(const QString &path) { return reader_.OpenFile(path); }
    bool GetLine(QString &line) { return reader_.GetLine(line); }
    bool FileEOF() { return reader_.FileEOF(); }
    bool ResetFile(const QString &path) { return reader_.ResetFile(path); }
    // The number after the last "L" of the next line that contains key.
    bool SectionLength(const QString &key, int32_t &length) { return reader_.SectionLength(key, length); }
    bool OpenCompressedFile(const QString &path) { return reader_.OpenCompressedFile(path); }
    bool ResetCompressedFile(const QString &path) { return reader_.ResetCompressedFile(path); }
    void CloseCompressedFile() { reader_.CloseCompressedFile(); }
    bool HufLineInput(QString &line) { return reader_.HufLineInput(line); }
    // These raise their errors to the caller.
    int16_t InputCounts() { return reader_.InputCounts(); }
    int16_t BuildTree() { return reader_.BuildTree(); }
    bool InputBit() { return reader_.InputBit(); }

    using HufNode = FirmwareReader::HufNode;
    static constexpr int EndSymbol = FirmwareReader::EndSymbol;
    static constexpr int NodeCount = FirmwareReader::NodeCount;
    const std::array<HufNode, NodeCount> &nodes() const { return reader_.nodes(); }
    int16_t headerLength() const { return reader_.headerLength(); }
    int16_t rootNode() const { return reader_.rootNode(); }

    // The text before the first control character; empty when there is none.
    static QString ErrMessage(const QString &text);

    // ---- Event handlers ------------------------------------------------------------
    void SSCommand1_Click();
    void Command1_Click();
    void Command2_Click();

protected:
    void buildControls() override;
    void Form_Load() override;

private:
    // Puts text in front of the log.
    void log(const QString &text);
    void pause(double seconds);
    bool FindLine(const QString &key, QString &line) { return reader_.FindLine(key, line); }
    void closeFirmwareFile() { reader_.closeFirmwareFile(); }

    void UpdateFirmware();
    friend class FirmwareUpdate;

    QString log_;
    bool settingLog_ = false;
    bool updating_ = false;
};
