#include "main/registerfile.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "core/basics.h"
#include "core/controls.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "core/msgbox.h"
#include "core/orvcomm_binding.h"
#include "core/runtime_error.h"
#include "main/frmMain.h"
#include "main/symbolimport.h"

namespace {
constexpr int InputPastEnd = 62;
constexpr int TypeMismatch = 13;
}  // namespace

// ---- Format ---------------------------------------------------------------------

QString printZones(const QStringList &items) {
    QString line;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0) {
            const qsizetype next = (line.size() / PrintZoneWidth + 1) * PrintZoneWidth;
            line += QString(next - line.size(), u' ');
        }
        line += items[i];
    }
    return line;
}

QString shortestNumberText(double value) {
    if (std::isnan(value)) return QStringLiteral("nan");
    if (std::isinf(value)) return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    if (value == 0) return QStringLiteral("0");
    // The shortest digits that read back exactly, and their exponent.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    const std::string sci(buf, res.ptr);
    const auto e = sci.find('e');
    const bool negative = sci[0] == '-';
    std::string digits;
    for (size_t i = negative ? 1 : 0; i < e; ++i)
        if (sci[i] != '.') digits += sci[i];
    const int exponent = std::stoi(sci.substr(e + 1));
    if (exponent < -5 || exponent >= 15) return QString::fromStdString(sci);
    std::string text;
    if (exponent >= 0) {
        if (digits.size() < size_t(exponent) + 1) digits.append(size_t(exponent) + 1 - digits.size(), '0');
        text = digits.substr(0, size_t(exponent) + 1);
        if (digits.size() > size_t(exponent) + 1) text += "." + digits.substr(size_t(exponent) + 1);
    } else {
        text = "0." + std::string(size_t(-exponent - 1), '0') + digits;
    }
    return QString::fromStdString((negative ? "-" : "") + text);
}

QString printedNumber(double value) {
    if (value == 0) value = 0;  // no "-0"
    const QString t = shortestNumberText(value);
    return (std::signbit(value) ? t : QStringLiteral(" ") + t) + QStringLiteral(" ");
}

QString printedNumber(int32_t value) { return printedNumber(static_cast<double>(value)); }

// ---- Writer ---------------------------------------------------------------------

RegisterFileWriter::RegisterFileWriter(const QString &path) : path_(path) {}

RegisterFileWriter::~RegisterFileWriter() { finish(false); }

void RegisterFileWriter::open() {
    hadEarlierFile_ = QFileInfo::exists(path_);
    file_ = std::make_unique<QSaveFile>(path_);
    if (!file_->open(QIODevice::WriteOnly)) {
        const QString reason = file_->errorString();
        file_.reset();
        throw RuntimeError(75, QStringLiteral("Path/File access error: ") + path_ + QStringLiteral(" (") + reason +
                                   QStringLiteral(")"));
    }
}

void RegisterFileWriter::writeLine(const QString &line) {
    if (!file_) throw RuntimeError(52, QStringLiteral("Bad file name or number"));
    file_->write(line.toLatin1() + "\r\n");
}

void RegisterFileWriter::writeHeader() {
    writeLine(printZones({QStringLiteral("Reg#"), QStringLiteral("Value")}));
    writeLine(QString());
}

void RegisterFileWriter::writeValueAsNumber(int32_t reg, int32_t value) {
    writeLine(printZones({QString::number(reg), printedNumber(value)}));
}

void RegisterFileWriter::writeValueAsNumber(int32_t reg, double value) {
    writeLine(printZones({QString::number(reg), printedNumber(value)}));
}

void RegisterFileWriter::writeValueAsText(int32_t reg, int32_t value) {
    writeLine(printZones({QString::number(reg), QString::number(value)}));
}

void RegisterFileWriter::writeFailedRead(int32_t reg) { writeLine(printZones({QString::number(reg), FailedReadMark})); }

void RegisterFileWriter::finish(bool complete) {
    if (!file_) return;
    std::unique_ptr<QSaveFile> file = std::move(file_);
    if (complete) {
        if (!file->commit())
            throw RuntimeError(57, QStringLiteral("Device I/O error: ") + path_ + QStringLiteral(" (") +
                                       file->errorString() + QStringLiteral(")"));
        return;
    }
    // What was written of a new file stays; an earlier file is left alone.
    if (!hadEarlierFile_) file->commit();
    else file->cancelWriting();
}

void RegisterFileWriter::discard() {
    if (!file_) return;
    std::unique_ptr<QSaveFile> file = std::move(file_);
    file->cancelWriting();
}

// ---- Reader ---------------------------------------------------------------------

void RegisterFileReader::open(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw RuntimeError(RuntimeErrors::FileNotFound, QStringLiteral("File not found: ") + path);
    QString text = QString::fromLatin1(f.readAll());
    if (text.endsWith(u'\n')) text.chop(1);
    lines_ = text.isEmpty() ? QStringList() : text.split(u'\n');
    for (QString &line : lines_)
        if (line.endsWith(u'\r')) line.chop(1);
    pos_ = 0;
}

void RegisterFileReader::skipHeader() {
    if (lines_.size() - pos_ < 2) throw RuntimeError(InputPastEnd, QStringLiteral("Input past end of file"));
    pos_ += 2;
}

bool RegisterFileReader::atEnd() {
    while (pos_ < lines_.size() && lines_[pos_].trimmed().isEmpty()) ++pos_;
    return pos_ >= lines_.size();
}

qsizetype RegisterFileReader::entriesLeft() const {
    qsizetype n = 0;
    for (qsizetype i = pos_; i < lines_.size(); ++i)
        if (!lines_[i].trimmed().isEmpty()) ++n;
    return n;
}

RegisterFileEntry RegisterFileReader::next() {
    if (atEnd()) throw RuntimeError(InputPastEnd, QStringLiteral("Input past end of file"));
    const QString &line = lines_[pos_++];
    const QStringList fields = SymbolFileParser::split(line);
    if (fields.size() != 2)
        throw RuntimeError(TypeMismatch, QStringLiteral("Not a register line: ") + line);
    return {fields[0], fields[1]};
}

void RegisterFileReader::close() {
    lines_.clear();
    pos_ = 0;
}

double RegisterFileReader::realNumber(const QString &field) {
    bool ok = false;
    const double v = QLocale::c().toDouble(field, &ok);
    if (!ok) throw RuntimeError(TypeMismatch, QStringLiteral("Type mismatch: ") + field);
    return v;
}

int32_t RegisterFileReader::wholeNumber(const QString &field) {
    if (const auto v = roundToWhole(realNumber(field), BoxBits::Bits32)) return *v;
    throw RuntimeError(RuntimeErrors::Overflow, QStringLiteral("Overflow"));
}

// ---- The File menu commands -------------------------------------------------------------

namespace {

const QString TextFilter = QStringLiteral("Text Files(*.TXT)|*.TXT|All Files(*.*)|*.*");

// The highest register of the controller's map.
constexpr int32_t HighestRegister = 40000;

bool eaController() { return ControllerModel == 3 || ControllerModel > 4; }
bool bigNonVolatileModel() { return ControllerModel >= 14 && ControllerModel <= 16; }

void showStatus(const QString &text) {
    frmMain &m = form<frmMain>();
    m.Message->setText(text);
    m.RefreshMessage();
}

// A read that still fails after three retries.
struct ReadsGaveUp {};

// Retries a read while it fails; gives up when `retries` passes 3.
template <class Read> void readWithRetries(int &retries, Read read) {
    while (read() != 1)
        if (++retries > 3) throw ReadsGaveUp{};
}

// Register 128 of an EA controller is never read, and never written from a
// file: its line carries "0".
constexpr int32_t UntouchedRegister = 128;

// Registers 1 to 1000 of an EA controller: blocks of 50, the third one
// register by register.
void uploadEaRegisters(RegisterFileWriter &file) {
    int retries = 0;
    for (int32_t block = 1; block <= 20; ++block) {
        // Block 4 follows the single reads of block 3 with their count.
        if (block != 4) retries = 0;
        if (block == 3) {
            for (int32_t reg = 101; reg <= 150; ++reg) {
                int32_t value = 0;
                if (reg == UntouchedRegister) {
                    file.writeValueAsText(reg, 0);
                    continue;
                }
                readWithRetries(retries, [&] { return OrvComm::ZqGetRegister(ConnectionHandle, reg, &value); });
                file.writeValueAsText(reg, value);
            }
            continue;
        }
        readWithRetries(retries,
                        [&] { return OrvComm::ZqGetRegister50(ConnectionHandle, block, Block50Buffer.data()); });
        for (int32_t i = 1; i <= 50; ++i) file.writeValueAsText(50 * (block - 1) + i, Block50Buffer[size_t(i - 1)]);
    }
}

// The non-volatile banks of 1000 registers from 32001: four, or eight on the
// models that have them; a bank whose first register does not read is left
// out.
void uploadNonVolatileBanks(RegisterFileWriter &file) {
    int32_t probe = 0;
    int32_t lastBank = 0;
    if (OrvComm::ZqGetRegister(ConnectionHandle, 32001, &probe) == 1) lastBank = 3;
    const bool upperBanks = OrvComm::ZqGetRegister(ConnectionHandle, 36001, &probe) == 1;
    if (upperBanks && bigNonVolatileModel()) lastBank = 7;
    for (int32_t bank = 0; bank <= lastBank; ++bank) {
        const int32_t base = 32000 + 1000 * bank;
        if (OrvComm::ZqGetRegister(ConnectionHandle, base + 1, &probe) != 1) continue;
        for (int32_t group = 0; group <= 62; ++group) {
            // The last group of a bank runs past it; where that would pass
            // the highest register, the group ends at it instead.
            const int32_t first = std::min(base + 1 + 16 * group, HighestRegister - 15);
            int retries = 0;
            readWithRetries(retries,
                            [&] { return OrvComm::ZqGetRegister16(ConnectionHandle, first, Block50Buffer.data()); });
            for (int32_t i = 1; i <= 16; ++i) {
                const int32_t position = 16 * group + i;
                if (position > 1000) break;
                const int32_t reg = base + position;
                file.writeValueAsText(reg, Block50Buffer[size_t(reg - first)]);
            }
        }
    }
}

// The V-registers 36101 to 36800 as doubles.
void uploadVRegisters(RegisterFileWriter &file) {
    for (int32_t v = 36101; v <= 36800; ++v) {
        OrvComm::ZQ_VREGISTER &record = form<frmMain>().VRegRecord;
        record = OrvComm::ZQ_VREGISTER{};
        record.number = v;
        record.type = 16;
        record.headerA = 6;
        if (OrvComm::ZqGetVRegister(ConnectionHandle, &record) == 1) file.writeValueAsNumber(v, record.doubleValue);
        else file.writeFailedRead(v);
    }
}

// Register numbers beyond 16 bits would reach another register on the wire:
// such a write fails without being sent.
bool putRegister(int32_t reg, int32_t value) {
    if (reg < 1 || reg > 65535) return false;
    return OrvComm::ZqPutRegister(ConnectionHandle, reg, value) == 1;
}

// The shared dialog prepared for a register file: no name, text files first.
void prepareDialog(CommonDialog &dialog, bool cancelError) {
    dialog.CancelError = cancelError;
    dialog.FileName.clear();
    dialog.DefaultExt = QStringLiteral("TXT");
    dialog.Filter = TextFilter;
    dialog.FilterIndex = 1;
}

QString registersDownloaded(int64_t from, int64_t to) {
    return QStringLiteral("Registers") + numberWithBlank(double(from)) + QStringLiteral(" to") +
           numberWithBlank(double(to)) + QStringLiteral(" downloaded!");
}

}  // namespace

void ReadRegistersToFile() {
    frmMain &m = form<frmMain>();
    CommonDialog &dialog = m.CMDialog1;
    // Cancelling the upload's dialog ends it quietly, whatever an earlier
    // command set.
    prepareDialog(dialog, false);
    dialog.DialogTitle = QStringLiteral("Upload Register from controller");
    dialog.ShowSave(&m);
    const QString path = dialog.FileName;
    if (path.isEmpty()) return;
    // Without an identified controller the file's layout is not known: an
    // existing file is not replaced by a guess.
    if (!ControllerIdentified && QFileInfo::exists(path)) {
        showStatus(QStringLiteral("Failed to get registers!"));
        MsgBox(QStringLiteral("No controller has been identified, so its registers cannot be uploaded.\n") + path +
                   QStringLiteral(" was left as it was."),
               mbExclamation);
        return;
    }
    if (MsgBox(QStringLiteral("Are you sure you want to Upload register values to file: ") + path +
                   QStringLiteral(" from the controller?"),
               mbYesNo) != mbYes)
        return;

    std::optional<Hourglass> wait(std::in_place);
    showStatus(QStringLiteral("Reading registers, please wait ..."));
    RegisterFileWriter file(path);
    try {
        file.open();
        file.writeHeader();
        if (!eaController()) {
            int read = 0;
            for (int32_t reg = 1; reg <= 1000; ++reg) {
                int32_t value = 0;
                if (OrvComm::ZqGetRegister(ConnectionHandle, reg, &value) == 1) {
                    file.writeValueAsNumber(reg, value);
                    ++read;
                } else {
                    file.writeFailedRead(reg);
                }
            }
            // A file of nothing but "*" would replace real values with none.
            if (read == 0) {
                file.discard();
                wait.reset();
                showStatus(QStringLiteral("Failed to get registers!"));
                MsgBox(QStringLiteral("No register could be read from the controller.\n") + path +
                           (QFileInfo::exists(path) ? QStringLiteral(" was left as it was.")
                                                     : QStringLiteral(" was not written.")),
                       mbExclamation);
                return;
            }
        } else {
            uploadEaRegisters(file);
            uploadNonVolatileBanks(file);
            if (ControllerModel == 5) uploadVRegisters(file);
        }
        file.finish(true);
    } catch (...) {
        // std::exception (a run-time error, a file that cannot be written) or
        // ReadsGaveUp.
        file.finish(false);
        wait.reset();
        showStatus(QStringLiteral("Failed to get registers!"));
        return;
    }
    wait.reset();
    showStatus(QStringLiteral("Register read completed."));
    for (int i = 0; i < 100; ++i) DoEvents();
}

void WriteRegistersFromFile() {
    std::optional<Hourglass> wait;
    RegisterFileReader file;
    try {
        {
            frmMain &m = form<frmMain>();
            CommonDialog &dialog = m.CMDialog1;
            // A cancel is reported as a failed download; the dialog is shared,
            // so the setting ends with this use.
            prepareDialog(dialog, true);
            struct CancelErrorOff {
                CommonDialog &d;
                ~CancelErrorOff() { d.CancelError = false; }
            } off{dialog};
            dialog.ShowOpen(&m);
        }
        const QString path = form<frmMain>().CMDialog1.FileName;
        if (path.isEmpty()) return;
        if (MsgBox(QStringLiteral("Are you sure you want to Download to registers from file: ") + path +
                       QStringLiteral(" to the controller?"),
                   mbYesNo) != mbYes)
            return;

        wait.emplace();
        file.open(path);
        file.skipHeader();
        showStatus(QStringLiteral("Writing Register values, please wait ..."));

        // Registers 1 to 1000: exactly 1000 lines; failed writes, failed
        // reads of the upload ("*") and register 128 are passed over.
        for (int i = 1; i <= 1000; ++i) {
            const RegisterFileEntry entry = file.next();
            const int32_t reg = RegisterFileReader::wholeNumber(entry.number);
            if (entry.failedRead() || reg == UntouchedRegister) continue;
            if (putRegister(reg, RegisterFileReader::wholeNumber(entry.value)) && i % 100 == 0)
                showStatus(registersDownloaded(int64_t(reg) - 99, reg));
        }
        DoEvents();

        int32_t probe = 0;
        const bool upperBanks = OrvComm::ZqGetRegister(ConnectionHandle, 36001, &probe) == 1;
        const int lineLimit = upperBanks && bigNonVolatileModel() ? 8000 : 4000;

        // The non-volatile banks, up to the line limit; the first failed
        // write ends them.
        if (eaController()) {
            for (int count = 0; !file.atEnd() && count < lineLimit; ++count) {
                if (count % 100 == 0) DoEvents();
                const RegisterFileEntry entry = file.next();
                const int32_t reg = RegisterFileReader::wholeNumber(entry.number);
                if (entry.failedRead() || reg == UntouchedRegister) continue;
                if (!putRegister(reg, RegisterFileReader::wholeNumber(entry.value))) break;
                if (count % 100 == 0 && count > 0) showStatus(registersDownloaded(int64_t(reg) - 100, int64_t(reg) - 1));
            }
        }

        // The V-registers, as doubles.
        if (ControllerModel == 5) {
            while (!file.atEnd()) {
                const RegisterFileEntry entry = file.next();
                const int32_t reg = RegisterFileReader::wholeNumber(entry.number);
                frmMain &m = form<frmMain>();
                if (!entry.failedRead()) {
                    OrvComm::ZQ_VREGISTER &record = m.VRegRecord;
                    record.number = reg;
                    record.type = 16;
                    record.doubleValue = RegisterFileReader::realNumber(entry.value);
                    if (reg >= 1 && reg <= 65535 && OrvComm::ZqSetVRegister(ConnectionHandle, &record) == 1)
                        m.Message->setText(QStringLiteral("Register ") + QString::number(reg) +
                                           QStringLiteral(" downloaded!"));
                }
                m.RefreshMessage();
                DoEvents();
            }
        }
        file.close();
        wait.reset();
        showStatus(QStringLiteral("Register file write completed."));
    } catch (const std::exception &) {
        file.close();
        wait.reset();
        showStatus(QStringLiteral("Failed to write registers!"));
    }
}
