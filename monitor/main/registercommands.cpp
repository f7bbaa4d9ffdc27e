#include "main/registercommands.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
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
#include "transfer/codeUploadDownload.h"
#include "transfer/registerupload.h"
#include "transfer/transferrun.h"
#include "windows/resourcewindow.h"

// ---- The File menu commands -------------------------------------------------------------

namespace {

const QString TextFilter = QStringLiteral("Text Files(*.TXT)|*.TXT|All Files(*.*)|*.*");

bool eaController() { return IsEaModel(ControllerModel); }
bool bigNonVolatileModel() { return IsBigNonVolatileModel(ControllerModel); }

void showStatus(const QString &text) {
    frmMain &m = form<frmMain>();
    m.Message->setText(text);
    m.RefreshMessage();
}

// Register 128 of an EA controller is never read, and never written from a
// file: its line carries "0".
constexpr int32_t UntouchedRegister = 128;

// The reads of the File menu's upload, on the worker thread. The bar counts
// registers 1 to 1000, the banks and the V-registers as parts.
class FileUpload {
public:
    // record: where the V-registers are read (the last one stays there).
    FileUpload(RegisterReads &r, int32_t model, OrvComm::ZQ_VREGISTER &record) : r_(r), model_(model), record_(record) {}

    void run() {
        if (!IsEaModel(model_)) {
            parts_ = 1;
            r_.singly(1, 1000, [this](int32_t reg) { show(reg); });
            return;
        }
        parts_ = 1 + 8 + (model_ == 5 ? 1 : 0);
        eaRegisters();
        nonVolatileBanks();
        if (model_ == 5) vRegisters();
    }

private:
    void show(int done, int of = 1000) { r_.meter.setPercent((part_ * of + done) * 100 / (parts_ * of)); }

    // Registers 1 to 1000: blocks of 50, the third one register by register.
    void eaRegisters() {
        r_.meter.setCaption(QStringLiteral("Uploading Registers 1 to 1000..."));
        int retries = 0;
        for (int32_t block = 1; block <= 20; ++block) {
            // Block 4 follows the single reads of block 3 with their count.
            if (block != 4) retries = 0;
            if (block == 3) {
                for (int32_t reg = 101; reg <= 150; ++reg) {
                    int32_t value = 0;
                    if (reg == UntouchedRegister) {
                        r_.file.writeValueAsText(reg, 0);
                        continue;
                    }
                    r_.retried(retries, [&] { return r_.get(reg, value); });
                    r_.file.writeValueAsText(reg, value);
                }
                continue;
            }
            r_.block50(block, retries);
            show(50 * block);
        }
        part_ = 1;
    }

    // The non-volatile banks of 1000 registers from 32001: four, or eight on
    // the models that have them; a bank whose first register does not read
    // is left out.
    void nonVolatileBanks() {
        int32_t probe = 0;
        int32_t lastBank = 0;
        if (r_.get(32001, probe)) lastBank = 3;
        const bool upperBanks = r_.get(36001, probe);
        if (upperBanks && IsBigNonVolatileModel(model_)) lastBank = 7;
        parts_ -= 7 - lastBank;
        for (int32_t bank = 0; bank <= lastBank; ++bank, ++part_) {
            const int32_t base = 32000 + 1000 * bank;
            r_.meter.setCaption(QStringLiteral("Uploading Registers %1 to %2 ...").arg(base + 1).arg(base + 1000));
            show(0);
            if (r_.get(base + 1, probe)) r_.bank(base, [this](int32_t done) { show(done); });
        }
    }

    // The V-registers 36101 to 36800 as doubles.
    void vRegisters() {
        r_.meter.setCaption(QStringLiteral("Uploading V-Registers 36101 to 36800 ..."));
        for (int32_t v = 36101; v <= 36800; ++v) {
            record_ = OrvComm::ZQ_VREGISTER{};
            record_.number = v;
            record_.type = 16;
            record_.headerA = 6;
            if (r_.getV(record_)) r_.file.writeValueAsNumber(v, record_.doubleValue);
            else r_.file.writeFailedRead(v);
            show(v - 36100, 700);
        }
    }

    RegisterReads &r_;
    int32_t model_;
    OrvComm::ZQ_VREGISTER &record_;
    int parts_ = 1;
    int part_ = 0;
};


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
    const QString refused = LinkRefusal(failed);
    if (!refused.isEmpty()) showStatus(refused);
    return !refused.isEmpty();
}

QString registersDownloaded(int64_t from, int64_t to) {
    return QStringLiteral("Registers") + numberWithBlank(double(from)) + QStringLiteral(" to") +
           numberWithBlank(double(to)) + QStringLiteral(" downloaded!");
}

// A write that failed because the link is gone ends the download: every
// later write would wait out its time-out too.
struct LinkLost {};

// The File menu's download of a register file: registers 1 to 1000, the
// non-volatile banks (EA controllers), the V-registers (model 5). Every
// write the controller refuses is counted; the first one the bank section
// has refused ends the download, so that no line of a bank is ever
// written as a V-register.
class FileDownload {
public:
    explicit FileDownload(RegisterFileReader &file) : file_(file) {}

    void run() {
        firstSection();
        DoEvents();
        int32_t probe = 0;
        const bool upperBanks = OrvComm::ZqGetRegister(ConnectionHandle, 36001, &probe) == 1;
        const int lineLimit = upperBanks && bigNonVolatileModel() ? 8000 : 4000;
        if (eaController() && !bankSection(lineLimit)) return;
        if (ControllerModel == 5) vRegisters();
    }

    RegisterWrites writes;
    // The line where the bank section met its first refused write; 0 when
    // it met none.
    qsizetype bankStop = 0;

private:
    // True when the controller took the write; a refusal is counted, and a
    // write that failed for want of the link marks it lost and raises
    // LinkLost.
    bool written(int32_t reg, const std::function<int32_t()> &write) {
        switch (writes.write(ConnectionHandle, reg, file_.lineNumber(), write)) {
        case RegisterWrites::Outcome::Written: return true;
        case RegisterWrites::Outcome::Refused: return false;
        case RegisterWrites::Outcome::LinkLost: break;
        }
        controllerLink().markLost(writes.lostReason);
        throw LinkLost{};
    }
    bool putRegister(int32_t reg, const RegisterFileEntry &entry) {
        const int32_t value = RegisterFileReader::wholeNumber(entry.value);
        return written(reg, [&] { return OrvComm::ZqPutRegister(ConnectionHandle, reg, value); });
    }

    // Registers 1 to 1000: exactly 1000 lines; failed writes, failed reads
    // of the upload ("*") and register 128 are passed over.
    void firstSection() {
        for (int i = 1; i <= 1000; ++i) {
            const RegisterFileEntry entry = file_.next();
            const int32_t reg = RegisterFileReader::wholeNumber(entry.number);
            if (entry.failedRead() || reg == UntouchedRegister) continue;
            if (putRegister(reg, entry) && i % 100 == 0) showStatus(registersDownloaded(int64_t(reg) - 99, reg));
        }
    }

    // The non-volatile banks, up to the line limit; false when a write was
    // refused, which ends the download.
    bool bankSection(int lineLimit) {
        for (int count = 0; !file_.atEnd() && count < lineLimit; ++count) {
            if (count % 100 == 0) DoEvents();
            const RegisterFileEntry entry = file_.next();
            const int32_t reg = RegisterFileReader::wholeNumber(entry.number);
            if (entry.failedRead() || reg == UntouchedRegister) continue;
            if (!putRegister(reg, entry)) {
                bankStop = file_.lineNumber();
                return false;
            }
            if (count % 100 == 0 && count > 0) showStatus(registersDownloaded(int64_t(reg) - 100, int64_t(reg) - 1));
        }
        return true;
    }

    // The V-registers, as doubles, to the end of the file.
    void vRegisters() {
        while (!file_.atEnd()) {
            const RegisterFileEntry entry = file_.next();
            const int32_t reg = RegisterFileReader::wholeNumber(entry.number);
            frmMain &m = form<frmMain>();
            if (!entry.failedRead()) {
                OrvComm::ZQ_VREGISTER &record = m.VRegRecord;
                record.number = reg;
                record.type = 16;
                record.doubleValue = RegisterFileReader::realNumber(entry.value);
                if (written(reg, [&] { return OrvComm::ZqSetVRegister(ConnectionHandle, &record); }))
                    m.Message->setText(QStringLiteral("Register ") + QString::number(reg) + QStringLiteral(" downloaded!"));
            }
            m.RefreshMessage();
            DoEvents();
        }
    }

    RegisterFileReader &file_;
};

// The status line at the end of a download that read its file through:
// the Part's text only when every write was taken.
QString downloadEnd(const FileDownload &d, const QString &path) {
    const QString failed = QStringLiteral("Failed to write registers!\n");
    if (d.bankStop > 0)
        return failed + QStringLiteral("The download ended at line %1 of ").arg(d.bankStop) + path +
               QStringLiteral(", where the controller refused a non-volatile register: the lines after it were not "
                              "written.\n") +
               d.writes.summary();
    if (!d.writes.clean()) return failed + QStringLiteral("Every line of ") + path + QStringLiteral(" was read: ") + d.writes.summary();
    return QStringLiteral("Register file write completed.");
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
        showStatus(QStringLiteral("Failed to get registers!\nNo controller has been identified: ") + path +
                   QStringLiteral(" was left as it was."));
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
    const QString reading = QStringLiteral("Reading registers, please wait ...");
    showStatus(reading);
    RegisterFileWriter file(path);
    RegisterUploadEnd end;
    try {
        file.open();
        file.writeHeader();
        // The reads run off the window thread, with the progress window.
        TransferShow show;
        show.caption = QStringLiteral("Uploading Registers ...");
        show.status = reading;
        show.statusLine = showStatus;
        show.beside = &m;
        // The V-registers travel in a record of the worker's own, which the
        // main window's takes over afterwards.
        OrvComm::ZQ_VREGISTER record = m.VRegRecord;
        end = RunRegisterUpload(show, ConnectionHandle, file, [&record, model = ControllerModel](RegisterReads &r) {
            FileUpload(r, model, record).run();
        });
        m.VRegRecord = record;
        wait.reset();
        // A file of nothing but "*" would replace real values with none.
        if (file.valueLines() == 0) {
            file.discard();
            const QString why = QStringLiteral("No register could be read from the controller (") + end.reason +
                                QStringLiteral(").\n") + path +
                                (QFileInfo::exists(path) ? QStringLiteral(" was left as it was.")
                                                         : QStringLiteral(" was not written."));
            showStatus(QStringLiteral("Failed to get registers!\n") + why);
            MsgBox(why, mbExclamation);
            return;
        }
        if (end.complete) {
            file.finish();
            showStatus(file.failedLines() == 0
                           ? QStringLiteral("Register read completed.")
                           : QStringLiteral("Register read completed; registers that could not be read (\"*\"): %1.")
                                 .arg(file.failedLines()));
            for (int i = 0; i < 100; ++i) DoEvents();
            return;
        }
        // Ended early: the registers read so far replace an earlier file
        // only with the user's word; otherwise they go beside it.
        const QString why = end.stopped ? QStringLiteral("the controller stopped answering (%1)").arg(end.reason)
                                        : QStringLiteral("a read failed four times (%1)").arg(end.reason);
        QString where = path;
        if (file.hadEarlierFile() && QFileInfo::exists(path)) {
            const QString partial = PartialFileOf(path);
            const int answer =
                MsgBox(QStringLiteral("The register upload ended after register %1: %2.\n\nReplace the earlier file ")
                               .arg(QString::number(file.lastRegister()), why) +
                           path +
                           QStringLiteral(" with the incomplete one?\n\nNo keeps the earlier file and saves the "
                                          "registers read as ") +
                           partial + QStringLiteral("."),
                       mbYesNo + mbExclamation + mbDefaultButton2);
            if (answer != mbYes) where = partial;
        }
        if (where == path) file.finish();
        else file.finishAs(where);
        showStatus(QStringLiteral("Failed to get registers! %1 holds registers up to %2 only: %3.")
                       .arg(where, QString::number(file.lastRegister()), why));
    } catch (const std::exception &e) {
        // A run-time error, or a file that cannot be written: an earlier
        // file stays as it was.
        file.discard();
        wait.reset();
        showStatus(RegisterFileFailure(QStringLiteral("Failed to get registers!"), path, 0, e));
    }
}

// The download's file choice and question; the chosen file, or empty when
// the command ends (a cancel raises the dialog's error).
QString chooseDownloadFile() {
    frmMain &m = form<frmMain>();
    CommonDialog &dialog = m.CMDialog1;
    // A cancel is reported as a failed download; the dialog is shared, so
    // the setting ends with this use.
    prepareDialog(dialog, true);
    struct CancelErrorOff {
        CommonDialog &d;
        ~CancelErrorOff() { d.CancelError = false; }
    } off{dialog};
    dialog.ShowOpen(&m);
    const QString path = dialog.FileName;
    if (path.isEmpty()) return {};
    if (MsgBox(QStringLiteral("Are you sure you want to Download to registers from file: ") + path +
                   QStringLiteral(" to the controller?"),
               mbYesNo) != mbYes)
        return {};
    return path;
}

void WriteRegistersFromFile() {
    if (linkRefused(QStringLiteral("Failed to write registers!"))) return;
    std::optional<Hourglass> wait;
    // From the first write to the last the download alone uses the link:
    // the polling loop, the connection manager and DDE leave it alone in
    // the yields between the writes.
    std::optional<ControllerLink::Hold> hold;
    RegisterFileReader file;
    FileDownload download(file);
    QString path;
    const auto end = [&](const QString &text) {
        file.close();
        hold.reset();
        wait.reset();
        showStatus(text);
    };
    try {
        path = chooseDownloadFile();
        if (path.isEmpty()) return;
        wait.emplace();
        // The file is looked over whole before the first write.
        file.open(path);
        hold.emplace();
        file.skipHeader();
        showStatus(QStringLiteral("Writing Register values, please wait ..."));
        download.run();
        end(downloadEnd(download, path));
    } catch (const LinkLost &) {
        const qsizetype line = file.lineNumber();
        hold.reset();
        end(LinkRefusal(QStringLiteral("Failed to write registers!")) +
            QStringLiteral("\nThe download stopped at line %1 of ").arg(line) + path + QStringLiteral(".\n") +
            download.writes.summary());
    } catch (const std::exception &e) {
        const qsizetype line = file.lineNumber();
        const RegisterWrites &w = download.writes;
        end(RegisterFileFailure(QStringLiteral("Failed to write registers!"), path, line, e) +
            (w.written + w.refused > 0 ? QStringLiteral("\n") + w.summary() : QString()));
    }
}
