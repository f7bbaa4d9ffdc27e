// One firmware update of a controller module, from the file choice to the
// result line: the file checks and the confirmation, the reset, the module
// put into programming mode (or, when the controller no longer answers its
// reset properly, the variant named by the user), the XON handshake and the
// switch to the transfer rate, then the line exchange: each line of the
// firmware file goes out under the module's XOFF/XON pacing, busy periods are
// waited out, data messages shown, and the boot confirmation read.
//
// Everything is reported in the window's log, newest first. The update runs
// on serial connections of its own in ConnectionHandle and leaves the last
// one open at the transfer rate; the start button's handler restores the
// link and polling afterwards.
#include <QComboBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <algorithm>
#include <optional>

#include "core/codeORVmain.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "core/runtime_error.h"
#include "core/mainwindow.h"
#include "transfer/frmFlashSelect.h"
#include "transfer/frmProgFlash.h"

namespace {

const QString CRLF = QStringLiteral("\r\n");
constexpr char XON = 17;
constexpr char XOFF = 19;
constexpr char LF = 10;
constexpr int32_t ModelCodeRegister = 13008;
constexpr std::size_t AsciiReplySize = 255;
constexpr std::size_t BinaryReplySize = 512;
// What the library may copy into a reply buffer at most.
constexpr std::size_t LibraryReplySize = 1536;

const QString Filter1 = QStringLiteral(
    "SR Files, SR1 Files, CSR Files (*.sr; *.sr1; *.csr)|*.sr; *.sr1; *.csr|All Files (*.*)|*.*");
const QString Filter2 = QStringLiteral("SR Files, CSR Files (*.sr; *.csr)|*.sr; *.csr|All Files (*.*)|*.*");

// The module types of the list.
struct ModuleKind {
    QString family;  // what the file's path must contain
    QString filter;
    QString ending;  // of the confirmation text
    QByteArray request;  // the programming-mode request before its checksum
    QString successLine;
};
const ModuleKind &kindOf(int moduleType) {
    static const ModuleKind kinds[] = {
        {QStringLiteral("Q40"), Filter1, QStringLiteral("the Q40 CPU module to be updated and press OK."),
         QByteArray("\x01\x05\x69\x86\x03", 5), QStringLiteral("COMPLETED")},
        {QStringLiteral("Q90"), Filter2, QStringLiteral("Comm 1 on the Q90/Q91 module to be updated and press OK."),
         QByteArray("\x01\x04\x69\x06", 4), QStringLiteral("COMPLETED: START CONTROLLER TO CONTINUE")},
        {QStringLiteral("Q60"), Filter1, QStringLiteral("the Q600 Series Controller to be updated and press OK."),
         QByteArray("\x01\x05\x69\x86\x03", 5), QStringLiteral("COMPLETED")},
    };
    return kinds[moduleType];
}

// The model codes of the controller's model code register: the key that
// marks the model's section in a compressed file, and its name.
struct Model {
    int32_t code;
    const char *key;
    const char *name;
};
const Model Models[] = {{11, "Q41R", "Q41 CPU Module"},
                        {12, "Q42R", "Q42 CPU Module"},
                        {14, "Q43R", "Q43 CPU Module"},
                        {15, "Q600R", "Q600 Series Controller"},
                        {16, "Q44R", "Q44 CPU Module"}};
const QString CommModuleKey = QStringLiteral("Q90");
const QString CommModuleName = QStringLiteral("Q90/Q91 Comm/DeviceNet Module");

}  // namespace

// The procedure's state, released when it returns.
class FirmwareUpdate {
public:
    explicit FirmwareUpdate(frmProgFlash &window) : w(window) {}
    void run();

private:
    // How a stretch of the procedure ends: go on, go to the result step, or
    // return without a result line.
    enum class Go { On, Result, Quietly };

    Go procedure();
    Go firstConnection();
    Go pathA();
    Go pathB();
    Go handshake();
    Go lineTransfer();
    void busyWait();
    Go finish();

    void log(const QString &text) { w.log(text); }
    void setLog(const QString &text) { w.setLogText(text); }
    // A serial connection of the update at rate: false when it cannot be
    // opened; the texts for failed settings.
    bool openConnection();
    void closeConnection();
    void modelFromTable();
    // The tags of the sections a compressed file may hold for the module.
    QStringList sectionTags() const;
    // The library's exchanges with the procedure's reply buffers: a reply
    // overwrites the buffer's beginning, cut to the buffer, and leaves the
    // rest as it was.
    bool sendAscii(const QByteArray &text, char terminator);
    bool sendData(const QByteArray &request);
    bool fetchError() { return OrvComm::ZqGetErrorInfo(ConnectionHandle, &error) == 1; }
    QString errorCodeAndText() const {
        return QString::number(error.code) + QStringLiteral(" ") +
               frmProgFlash::ErrMessage(QString::fromLatin1(error.text, sizeof error.text));
    }
    QString reply() const { return QString::fromLatin1(ascii); }
    // Positions of a character in the ASCII reply, from 1; 0 when absent.
    int positionIn(char c) const { return int(ascii.indexOf(c)) + 1; }

    frmProgFlash &w;
    const ModuleKind *kind = nullptr;
    QString path;
    int32_t modelCode = 0;
    QString modelKey;
    QString modelName;
    QByteArray ascii = QByteArray(AsciiReplySize, ' ');
    QByteArray binary = QByteArray(BinaryReplySize, '\0');
    OrvComm::ZQ_ERROR_INFO error{};
    bool success = false;
    // Something was sent to the controller (from the reset request on).
    bool touched = false;

    // The line transfer.
    QString line;
    QString logBase;
    QString waitMessage;
    int32_t charsSent = 0;
    int32_t total = 0;
};

void frmProgFlash::UpdateFirmware() { FirmwareUpdate(*this).run(); }

void FirmwareUpdate::run() {
    Go end = Go::Result;
    std::optional<QString> runtimeError;
    try {
        end = procedure();
    } catch (const std::exception &e) {
        runtimeError = describeException(e);
    }
    if (end == Go::Quietly && !runtimeError) return;
    // The result. Only a controller that was sent something needs its power
    // cycled.
    if (success) log(kind->successLine + CRLF);
    else if (touched) log(QStringLiteral("DOWNLOAD FAILED, CYCLE CONTROLLER POWER BEFORE RETRYING DOWNLOAD") + CRLF);
    else log(QStringLiteral("DOWNLOAD NOT STARTED, NOTHING WAS SENT TO THE CONTROLLER") + CRLF);
    if (runtimeError) MsgBox(*runtimeError, mbExclamation);
}

bool FirmwareUpdate::sendAscii(const QByteArray &text, char terminator) {
    QByteArray scratch = ascii;
    scratch.resize(LibraryReplySize, '\0');
    const int32_t rc = OrvComm::ZqSendAscii(ConnectionHandle, reinterpret_cast<const uint8_t *>(text.constData()),
                                            uint32_t(text.size()), reinterpret_cast<uint8_t *>(scratch.data()),
                                            uint8_t(terminator));
    ascii = scratch.left(AsciiReplySize);
    return rc == 1;
}

bool FirmwareUpdate::sendData(const QByteArray &request) {
    QByteArray scratch = binary;
    scratch.resize(LibraryReplySize, '\0');
    const int32_t rc = OrvComm::ZqSendData(ConnectionHandle, ZQ_PACKET_CLASS_REQUEST,
                                           reinterpret_cast<const uint8_t *>(request.constData()),
                                           uint32_t(request.size()), reinterpret_cast<uint8_t *>(scratch.data()));
    binary = scratch.left(BinaryReplySize);
    return rc == 1;
}

bool FirmwareUpdate::openConnection() {
    return controllerLink().open([] { return OrvComm::ZqOpenConnection(ZQ_TYPE_SERIAL, CommPort - 2, 0); });
}

void FirmwareUpdate::closeConnection() {
    controllerLink().close();
}

QStringList FirmwareUpdate::sectionTags() const {
    if (w.ModuleType == 1) return {CommModuleKey};
    QStringList tags;
    for (const Model &m : Models)
        if ((m.code == 15) == (w.ModuleType == 2)) tags << QLatin1String(m.key);
    return tags;
}

void FirmwareUpdate::modelFromTable() {
    modelKey.clear();
    modelName.clear();
    for (const Model &m : Models) {
        if (m.code == modelCode) {
            modelKey = QLatin1String(m.key);
            modelName = QLatin1String(m.name);
        }
    }
}

FirmwareUpdate::Go FirmwareUpdate::procedure() {
    // Preparation.
    if (CommPort < 3) {
        setLog(QStringLiteral("Please Configure a Serial Connection to the Module"));
        return Go::Quietly;
    }
    if (w.ModuleType < 0 || w.ModuleType > 2) return Go::Quietly;
    kind = &kindOf(w.ModuleType);
    mainWindow().setStatusText(QStringLiteral("Updating Firmware"));
    w.pause(1);

    w.CMDialog1.Filter = kind->filter;
    w.CMDialog1.FileName.clear();
    w.CMDialog1.ShowOpen(&w);
    path = w.CMDialog1.FileName;
    if (path.isEmpty()) return Go::Quietly;

    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String(".sr1"))) {
        w.FileMode = 0;
    } else if (lower.endsWith(QLatin1String(".csr"))) {
        w.FileMode = 1;
    } else if (lower.endsWith(QLatin1String(".sr"))) {
        w.FileMode = 0;
    } else {
        log(QStringLiteral("Invalid File Type Selected") + CRLF);
        return Go::Result;
    }
    if (!path.contains(kind->family)) {
        setLog(QStringLiteral("Error: Invalid File Selected"));
        return Go::Result;
    }
    setLog(QString());
    w.repaint();
    // The whole file is read and checked before the controller is touched.
    if (const QString fault = FirmwareFileFault(path, w.FileMode, sectionTags()); !fault.isEmpty()) {
        log(QStringLiteral("Invalid Firmware File: ") + fault + CRLF);
        return Go::Result;
    }
    if (!w.OpenFile(path)) {
        log(QStringLiteral("Invalid Firmware File: the file cannot be read") + CRLF);
        return Go::Result;
    }
    TimeoutMs = 2500;

    const QString confirm =
        QStringLiteral("Continuing will Reset and Stop the controller and begin firmware download. ") + CRLF +
        QStringLiteral("Ensure that the communications cable is connected directly to ") + kind->ending + CRLF +
        QStringLiteral("Connecting to the wrong Comm Port can result in corrupting controller memory.") + CRLF +
        QStringLiteral("Doing a firmware update may cause you to lose your Movrel Program.");
    if (MsgBox(confirm, mbOKCancel) == mbCancel) return Go::Result;

    if (Go g = firstConnection(); g != Go::On) return g;

    // Reset: a controller that answers it is stopped and asked for its model
    // code; one that answers with no reply or a broken one is taken to be in
    // programming mode already, and the user names the variant.
    bool variantFromUser = false;
    touched = true;
    if (OrvComm::ZqPutStatus(ConnectionHandle, 8) == 1) {
        int32_t status = 0;
        if (OrvComm::ZqGetStatus(ConnectionHandle, &status) == 1 && (status & 4) != 0 &&
            OrvComm::ZqPutStatus(ConnectionHandle, 0) != 1 && fetchError())
            log(QStringLiteral("Stop Error: ") + errorCodeAndText() + CRLF);
    } else if (fetchError()) {
        log(QStringLiteral("Reset Error: ") + errorCodeAndText() + CRLF);
        variantFromUser = error.code == 206 || error.code == 170;
    }
    if (Go g = variantFromUser ? pathA() : pathB(); g != Go::On) return g;
    if (Go g = handshake(); g != Go::On) return g;
    return lineTransfer();
}

FirmwareUpdate::Go FirmwareUpdate::firstConnection() {
    closeConnection();
    if (!openConnection()) return Go::Result;
    if (OrvComm::ZqInitConnection(ConnectionHandle, BaudRate, 0, 8, 0) != 1) {
        log(QStringLiteral("Failed to Initialize Connection") + CRLF);
        return Go::Result;
    }
    setScreenMousePointer(PointerHourglass);
    if (OrvComm::ZqSetConnectionTimeout(ConnectionHandle, w.FlashTimeoutMs) != 1) {
        log(QStringLiteral("Failed to Set Timeout") + CRLF);
        return Go::Result;
    }
    return Go::On;
}

FirmwareUpdate::Go FirmwareUpdate::pathA() {
    FirmwareFilePath = path;
    // Only this question's answer counts, not one left from an earlier update.
    w.SelectionOK = false;
    frmFlashSelect &select = FormRegistry::object<frmFlashSelect>();
    select.Load();
    if (select.loaded()) select.ShowModal();
    if (!w.SelectionOK) return Go::Result;
    modelCode = w.SelectedModel;
    if (!w.ResetFile(path)) return Go::Result;
    if (w.ModuleType == 1) {
        modelKey = CommModuleKey;
        modelName = CommModuleName;
    } else {
        modelFromTable();
    }
    if (w.FileMode == 1 && !w.FindLine(modelKey, line)) {
        log(QStringLiteral("Invalid Firmware File, does not support ") + modelName + QStringLiteral(" Module") + CRLF);
        return Go::Result;
    }
    if (w.ModuleType == 2) {
        // The Q600 controller's wake-up, straight through the port.
        closeConnection();
        w.MSComm1.Settings = QStringLiteral("57600,n,8,1");
        w.MSComm1.CommPort = int16_t(CommPort - 2);
        w.MSComm1.setPortOpen(true);
        w.MSComm1.Output(QByteArrayLiteral("3"));
        w.pause(0.5);
        log(QStringLiteral("MSComm Response: ") + QString::fromLatin1(w.MSComm1.Input()) + CRLF);
        BaudRate = 38400;
        w.MSComm1.setPortOpen(false);
    }
    // Reconnect; no programming-mode request on this path.
    closeConnection();
    if (!openConnection()) return Go::Result;
    if (OrvComm::ZqInitConnection(ConnectionHandle, BaudRate, 0, 8, 0) != 1) {
        log(QStringLiteral("Failed to Initialize Connection") + CRLF);
        return Go::Result;
    }
    if (OrvComm::ZqSetConnectionTimeout(ConnectionHandle, w.FlashTimeoutMs) != 1) {
        log(QStringLiteral("Failed to Set Connection Timeout") + CRLF);
        return Go::Result;
    }
    return Go::On;
}

FirmwareUpdate::Go FirmwareUpdate::pathB() {
    int32_t value = 0;
    if (w.ModuleType == 0) {
        if (OrvComm::ZqGetRegister(ConnectionHandle, ModelCodeRegister, &value) == 1) {
            static const int32_t cpuModels[] = {11, 12, 14, 16};
            if (std::find(std::begin(cpuModels), std::end(cpuModels), value) != std::end(cpuModels)) {
                modelCode = value;
            } else {
                // Not a CPU model: the first code the register takes.
                const auto taken = std::find_if(std::begin(cpuModels), std::end(cpuModels), [](int32_t v) {
                    return OrvComm::ZqPutRegister(ConnectionHandle, ModelCodeRegister, v) == 1;
                });
                if (taken == std::end(cpuModels)) {
                    log(QStringLiteral("Invalid Controller Model Code"));
                    return Go::Result;
                }
                modelCode = *taken;
            }
        } else {
            log(QStringLiteral("Unable to Read Model Code"));
        }
        modelFromTable();
    } else if (w.ModuleType == 2) {
        if (OrvComm::ZqGetRegister(ConnectionHandle, ModelCodeRegister, &value) == 1) {
            if (value != 15 && OrvComm::ZqPutRegister(ConnectionHandle, ModelCodeRegister, 15) != 1) {
                log(QStringLiteral("Invalid Controller Model Code"));
                return Go::Result;
            }
            modelCode = 15;
            modelFromTable();
        } else {
            log(QStringLiteral("Unable to Read Model Code"));
        }
    } else {
        modelKey = CommModuleKey;
        modelName = CommModuleName;
    }
    if (w.FileMode == 1 && !w.FindLine(modelKey, line)) {
        log(w.ModuleType == 1 ? QStringLiteral("Invalid File, Does Not Support") + CRLF
                              : QStringLiteral("Invalid File, Does Not Support ") + modelName + CRLF);
        return Go::Result;
    }

    // Programming mode.
    QByteArray request = kind->request;
    AppendChecksum(request);
    w.pause(0.5);
    if (!sendData(request) && fetchError()) log(QStringLiteral("Error: ") + errorCodeAndText() + CRLF);
    if (uint8_t(binary[0]) == 3 && binary[1] == 'd') return Go::On;
    if (uint8_t(binary[0]) == 3 && binary[1] == 'g')
        log(QStringLiteral("Connected to Incorrect ORV Port") + CRLF);
    else
        log(QStringLiteral("Failed to put into programming mode, Invalid Response") + CRLF);
    return Go::Result;
}

FirmwareUpdate::Go FirmwareUpdate::handshake() {
    w.pause(0.5);
    if (!sendAscii(QByteArray(1, XON), XON) && fetchError())
        log(QStringLiteral("Failed to Get XON response: ") + errorCodeAndText() + CRLF);
    if (const int p = positionIn(XON); p >= 2) log(reply().left(p - 1) + CRLF);

    // The baud switch: the module echoes its code's digit, then listens at
    // the transfer rate.
    w.pause(0.5);
    BaudRate = w.FlashBaudRate;
    if (!sendAscii(QByteArray(1, char('0' + w.BaudCode)), char(w.BaudCodeChar))) {
        if (fetchError()) log(QStringLiteral("Baud Error: ") + errorCodeAndText() + CRLF);
        return Go::Result;
    }
    log(QStringLiteral("Baud: ") + QString::number(w.FlashBaudRate) + CRLF);
    if (!controllerLink().close(true)) return Go::Result;
    if (!openConnection()) return Go::Result;
    if (OrvComm::ZqInitConnection(ConnectionHandle, BaudRate, 0, 8, 0) != 1) return Go::Result;
    OrvComm::ZqSetConnectionTimeout(ConnectionHandle, w.FlashTimeoutMs);
    w.pause(0.5);
    sendAscii(QByteArray(1, XON), XON);
    w.pause(0.5);
    return Go::On;
}

FirmwareUpdate::Go FirmwareUpdate::lineTransfer() {
    // Position the file and find the progress total.
    if (w.FileMode == 0) {
        total = int32_t(w.reader_.fileSize());
    } else {
        if (!w.ResetFile(path) || !w.SectionLength(modelKey, total) || !w.FindLine(modelKey, line))
            return Go::Result;
        log(line + CRLF);
    }
    w.ProgressBar1->setValue(0);
    w.ProgressBar1->show();
    w.repaint();
    if (!w.GetLine(line)) return Go::Result;

    for (;;) {
        if ((line.isEmpty() && w.FileEOF()) || line.contains(QLatin1String("END"))) return finish();
        // The line goes out without its end; the module answers up to XOFF.
        if (!sendAscii(line.toLatin1(), XOFF)) {
            fetchError();
            log(QStringLiteral("Failed to get XOFF response. ") + QString::number(error.code) + CRLF);
            return Go::Result;
        }
        if (ascii[1] == '0') busyWait();
        if (w.FileEOF()) return finish();
        if (!w.GetLine(line)) return Go::Result;
        DoEvents();
        // The next line goes out only when the module has answered an XON.
        if (!sendAscii(QByteArray(1, XON), XON)) {
            log(QStringLiteral("Failed to get XON response.") + CRLF);
            return Go::Result;
        }
        if (reply().toUpper().contains(QLatin1String("DATA"))) {
            // The latest data message stands on top of the log, replacing the one before.
            const int xon = positionIn(XON);
            const int p = xon > 0 ? xon : int(AsciiReplySize);
            if (p > 3) {
                setLog(reply().left(p - 2) + CRLF + logBase);
                w.Text1->repaint();
            } else {
                setLog(QStringLiteral("Failed to get Data Message") + CRLF + logBase);
                logBase = w.logText();
            }
        }
        charsSent += int32_t(line.size());
        if (total == 0) throw RuntimeError(11, QStringLiteral("Division by zero"));
        const float progress = float(charsSent) / float(total) * 100.0f;
        w.ProgressBar1->setValue(int(std::clamp(progress, 0.0f, 100.0f)));
    }
}

void FirmwareUpdate::busyWait() {
    // The module is busy: read its status lines, one a second, until it
    // reports 00000010.
    for (;;) {
        w.pause(1);
        ascii.fill(' ');
        if (!sendAscii(QByteArray(), LF)) {
            if (fetchError())
                log(QStringLiteral("Failed to get CRLF response.") + QString::number(error.code) + CRLF);
            else
                log(QStringLiteral("Failed to get CRLF response. (Not Fatal)"));
            break;
        }
        const int p = positionIn(LF);
        if (p == 0) waitMessage = QStringLiteral("Failed to find LF in message.");
        else if (p > 1) waitMessage = reply().left(p - 1) + CRLF;
        log(waitMessage);
        w.Text1->repaint();
        if (waitMessage.contains(QLatin1String("00000010"))) break;
        DoEvents();
    }
    logBase = w.logText();
}

FirmwareUpdate::Go FirmwareUpdate::finish() {
    setLog(logBase);
    success = true;
    // The module's boot confirmation: two lines, unless it has come already.
    for (int i = 0; i < 2; ++i) {
        if (!reply().contains(QLatin1String("Done")) && !sendAscii(QByteArray(), LF)) {
            log(QStringLiteral("Failed to get Boot confirmation.") + CRLF);
            return Go::Result;
        }
        const int p = positionIn(LF);
        if (p < 3) throw RuntimeError(5, QStringLiteral("Invalid procedure call or argument"));
        log(reply().left(p - 2) + CRLF);
        w.Text1->repaint();
    }
    return Go::Result;
}
