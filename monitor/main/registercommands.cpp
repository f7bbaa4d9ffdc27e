#include "main/registercommands.h"

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
#include "core/registerfile.h"
#include "core/runtime_error.h"
#include "main/frmMain.h"
#include "main/symbolimport.h"

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

// Without a link the command does not start: the status line says why.
bool linkRefused(const QString &failed) {
    QString why = controllerLink().whyNot();
    if (why.isEmpty()) return false;
    why[0] = why[0].toUpper();
    showStatus(failed + QChar(10) + why + QChar('.'));
    return true;
}

// A write that failed because the link is gone ends the download: every
// later write would wait out its time-out too.
struct LinkLost {};
void failedWrite() {
    if (controllerLink().callLostLink()) throw LinkLost{};
}

QString registersDownloaded(int64_t from, int64_t to) {
    return QStringLiteral("Registers") + numberWithBlank(double(from)) + QStringLiteral(" to") +
           numberWithBlank(double(to)) + QStringLiteral(" downloaded!");
}

}  // namespace

void ReadRegistersToFile() {
    if (linkRefused(QStringLiteral("Failed to get registers!"))) return;
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
    if (linkRefused(QStringLiteral("Failed to write registers!"))) return;
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
            if (!putRegister(reg, RegisterFileReader::wholeNumber(entry.value))) {
                if (reg >= 1 && reg <= 65535) failedWrite();
                continue;
            }
            if (i % 100 == 0) showStatus(registersDownloaded(int64_t(reg) - 99, reg));
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
                if (!putRegister(reg, RegisterFileReader::wholeNumber(entry.value))) {
                    if (reg >= 1 && reg <= 65535) failedWrite();
                    break;
                }
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
                    else if (reg >= 1 && reg <= 65535)
                        failedWrite();
                }
                m.RefreshMessage();
                DoEvents();
            }
        }
        file.close();
        wait.reset();
        showStatus(QStringLiteral("Register file write completed."));
    } catch (const LinkLost &) {
        file.close();
        wait.reset();
        linkRefused(QStringLiteral("Failed to write registers!"));
    } catch (const std::exception &) {
        file.close();
        wait.reset();
        showStatus(QStringLiteral("Failed to write registers!"));
    }
}
