#include "transfer/codeUploadDownload.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <QLabel>
#include <algorithm>

#include "core/controls.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "core/msgbox.h"
#include "core/runtime_error.h"
#include "core/registerfile.h"
#include "transfer/frmLoadMain.h"
#include "transfer/registerupload.h"
#include "transfer/transferprogress.h"
#include "transfer/transferrun.h"

namespace {

QString num(int64_t v) { return QString::number(v); }

void setStatus(const QString &text) { transferProgress().showStatus(text); }

void setProgress(int percent) { transferProgress().setPercent(percent); }

// The error a connection's last call left, as the library gives it; not
// known when the library cannot tell (the connection is gone).
struct CallError {
    bool known = false;
    int32_t code = 0;
    QString text;
};

CallError callError(int32_t connection) {
    OrvComm::ZQ_ERROR_INFO info{};
    if (OrvComm::ZqGetErrorInfo(connection, &info) != 1) return {};
    return {true, info.code, errorInfoText(info).trimmed()};
}

// The reason of a failure as a box gives it: the library's text and, as in
// the connection messages, where the link goes; a reason even when the
// library gives none.
QString reasonOf(const CallError &e) {
    if (!e.known) return QStringLiteral("(the connection is closed)");
    if (e.text.isEmpty()) return QStringLiteral("(no reason given, error ") + num(e.code) + QStringLiteral(")");
    return controllerLink().describe(e.code, e.text);
}

QString linkErrorText(int32_t connection) { return reasonOf(callError(connection)); }

// A transfer call on the worker thread; when it fails, `error` gets its
// error, read on the same thread: the library gives each thread the error
// of its own last call, and the window thread's may be another one.
template <typename Call> int32_t transferCall(int32_t connection, CallError &error, Call call) {
    const int32_t result = call();
    if (result != 1) error = callError(connection);
    return result;
}

// A download that could not go ahead or failed: the status line and a box
// give the step and the reason. A failure of the link itself shows the
// link lost before the box is up, so that nothing says it is connected
// meanwhile; a refusal (of the file, or by the controller) leaves it up.
// `registers`: what the register download before it left undone.
void downloadFailed(const QString &failed, const CallError &error, const QString &registers = {}) {
    const QString reason = reasonOf(error);
    if (error.known && ControllerLink::losesLink(error.code)) controllerLink().markLost(reason);
    setStatus(QStringLiteral("Failed to Download!"));
    MsgBox(failed + QStringLiteral("Error: ") + reason + (registers.isEmpty() ? QString() : QStringLiteral("\n\n") + registers),
           mbExclamation);
}

// Closes the connection after a transfer and shows the link closed; True
// when it closed. A connection that is no longer the link's is closed
// already: the link is shown closed all the same.
bool closeAfterTransfer(int32_t connection) {
    if (ConnectionHandle == connection && !controllerLink().close(true)) return false;
    ShowLinkClosedByTransfer();
    return true;
}

// The new program at `target` has no register file of its own: an earlier
// one of its name (the earlier program's) goes beside, under a name that
// pairs it with no program. What the final box says of it, or nothing when
// the registers were not wanted and there was none.
QString registersNotUploaded(const QString &target, bool wanted) {
    const QString registers = RegisterFileOf(target);
    const bool earlier = !registers.isEmpty() && QFile::exists(registers);
    if (!wanted && !earlier) return QString();
    QString text = QStringLiteral("\n\nThe registers were not uploaded: ") + target +
                   QStringLiteral(" has no register file.");
    if (!earlier) return text;
    const QString aside = RegisterFileOf(FreeNameBeside(target, QStringLiteral("old")));
    if (std::rename(QFile::encodeName(registers).constData(), QFile::encodeName(aside).constData()) == 0)
        return text + QStringLiteral("\nThe earlier register file, which belongs to the earlier program, is now ") +
               aside + QStringLiteral(".");
    const QString why = QString::fromLocal8Bit(std::strerror(errno));
    return text + QStringLiteral("\nThe earlier register file ") + registers +
           QStringLiteral(" belongs to the earlier program and could not be renamed (") + why +
           QStringLiteral("): do not download it with this program.");
}

// Moves a file over another (or into a free name) in one step.
void moveFile(const QString &from, const QString &to) {
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw RuntimeError(75, QStringLiteral("Path/File access error: ") + to);
}

}  // namespace

QString RegisterFileOf(const QString &objectFile) {
    if (objectFile.size() < 4) return QString();
    return objectFile.left(objectFile.size() - 4) + QStringLiteral(".txt");
}

bool IsOwnRegisterFile(const QString &objectFile) {
    return RegisterFileOf(objectFile).compare(objectFile, Qt::CaseInsensitive) == 0;
}

QString FreeNameBeside(const QString &file, const QString &tag) {
    const QString stem = file.size() < 4 ? file : file.left(file.size() - 4);
    const QString extension = file.size() < 4 ? QString() : file.right(4);
    const QString mark = QStringLiteral(".") + tag;
    QString name = stem + mark + extension;
    for (int n = 2; QFile::exists(name) || QFile::exists(RegisterFileOf(name)); ++n)
        name = stem + mark + num(n) + extension;
    return name;
}

QString PartialFileOf(const QString &objectFile) { return FreeNameBeside(objectFile, QStringLiteral("partial")); }

bool IsControllerIdentified() { return ControllerIdentified; }

void ShowLinkError(const QString &prefix, int32_t connection) {
    MsgBox(prefix + QStringLiteral("Error: ") + linkErrorText(connection), mbExclamation);
}
void ShowLinkError(const QString &prefix) { ShowLinkError(prefix, ConnectionHandle); }

void CloseTransferLink() {
    if (ConnectionHandle == 0) return;
    if (!closeAfterTransfer(ConnectionHandle)) MsgBox(QStringLiteral("Failed to CLOSE connection."), mbExclamation);
}

QString SelectObjectFile(QString &path) { return form<frmLoadMain>().OpenDSOFile(path); }

QString EnterObjectFile(QString &path) { return form<frmLoadMain>().SaveDSOFile(path); }

// ---- Registers -------------------------------------------------------------------------------

namespace {

// The register download of a program download, once the controller is
// stopped: registers 501 to 1000 of the first thousand lines (a refused
// write is passed over), then every later line up to the first write
// refused. Each refusal is counted; a write that fails for want of the
// link ends it at once.
class ProgramRegisterDownload {
public:
    ProgramRegisterDownload(int32_t connection, RegisterFileReader &file)
        : connection_(connection), file_(file), entries_(std::max<qsizetype>(1, file.entriesLeft())) {}

    void run() {
        firstPhase();
        if (!lost()) restOfFile();
    }
    bool lost() const { return lostLine_ > 0; }
    // The line whose write failed for want of the link.
    qsizetype lostLine() const { return lostLine_; }
    // The line where the second phase met its first refused write; 0 when
    // it met none.
    qsizetype stoppedAt() const { return stoppedAt_; }

    RegisterWrites writes;

private:
    // One bar for the whole file.
    void showRead() { setProgress(static_cast<int>(++read_ * 100 / entries_)); }

    // Writes the line's value; a register whose read failed when the file
    // was made ("*") is not written: its value is not known.
    RegisterWrites::Outcome put(const RegisterFileEntry &e, int32_t reg) {
        const int32_t value = RegisterFileReader::wholeNumber(e.value);
        const auto outcome = writes.write(connection_, reg, file_.lineNumber(), [&] {
            return OrvComm::ZqPutRegister(connection_, reg, value);
        });
        if (outcome == RegisterWrites::Outcome::LinkLost) lostLine_ = file_.lineNumber();
        return outcome;
    }

    // The first thousand lines: only registers 501 to 1000 are written.
    void firstPhase() {
        for (int32_t n = 1; n <= 1000 && !lost(); ++n) {
            transferProgress().setProgressCaption(QStringLiteral("Downloading Registers 501 to 1000..."));
            const RegisterFileEntry e = file_.next();
            showRead();
            const int32_t reg = RegisterFileReader::wholeNumber(e.number);
            lastRegister_ = reg;
            if (reg < 501 || reg > 1000 || e.failedRead()) continue;
            if (put(e, reg) != RegisterWrites::Outcome::Written) continue;
            setStatus(QStringLiteral("Register# ") + num(n) + QStringLiteral(" downloaded!"));
        }
    }

    // The rest of the file, up to its end or the first write refused.
    void restOfFile() {
        int32_t n = 1000;
        while (!file_.atEnd()) {
            ++n;
            if (n % 1000 == 1) n = 1;
            if (n % 10 == 0) DoEvents();
            transferProgress().setProgressCaption(QStringLiteral("Downloading Register# ") + num(lastRegister_));
            const RegisterFileEntry e = file_.next();
            showRead();
            const int32_t reg = RegisterFileReader::wholeNumber(e.number);
            lastRegister_ = reg;
            if (e.failedRead()) continue;
            const auto outcome = put(e, reg);
            if (outcome == RegisterWrites::Outcome::LinkLost) return;
            if (outcome == RegisterWrites::Outcome::Refused) {
                stoppedAt_ = file_.lineNumber();
                return;
            }
            setStatus(QStringLiteral("Register# ") + num(reg) + QStringLiteral(" downloaded!"));
        }
    }

    int32_t connection_;
    RegisterFileReader &file_;
    qsizetype entries_;
    qsizetype read_ = 0;
    int32_t lastRegister_ = 0;
    qsizetype lostLine_ = 0;
    qsizetype stoppedAt_ = 0;
};

// What the program download's last box says of a register download that
// did not go through whole.
QString registersNotAll(const QString &what) { return QStringLiteral("The registers were not all written: ") + what; }

// The end of a register download that ran its course, or stopped at a
// write the controller refused or at the link's loss: the label's success
// text only when every write was taken.
RegisterDownloadEnd registerDownloadEnd(const ProgramRegisterDownload &d, const QString &textFile) {
    const RegisterWrites &w = d.writes;
    if (d.lost()) {
        const QString where = QStringLiteral("The register download stopped at line %1 of ").arg(d.lostLine()) +
                              textFile + QStringLiteral(": ") + w.lostReason + QStringLiteral(".\n") + w.summary();
        setStatus(QStringLiteral("Register download stopped at line %1 of ").arg(d.lostLine()) + textFile + u'.');
        return {false, true, where};
    }
    if (w.clean()) {
        setStatus(QStringLiteral(" Registers Downloaded: ") + num(w.written));
        return {};
    }
    setStatus(QStringLiteral("Registers not all downloaded: ") + w.summary());
    QString what = w.summary();
    if (d.stoppedAt() > 0)
        what += QStringLiteral("\nThe download of ") + textFile +
                QStringLiteral(" ended at the write refused at line %1: the lines after it were not written.")
                    .arg(d.stoppedAt());
    return {false, false, registersNotAll(what)};
}

}  // namespace

RegisterDownloadEnd DownloadRegisters(int32_t connection, const QString &objectFile) {
    const QString textFile = RegisterFileOf(objectFile);
    // An object file named *.txt has no register file of its own.
    if (textFile.isEmpty() || IsOwnRegisterFile(objectFile)) return {};
    const QString failed = QStringLiteral("Failed to Download Register Values!");
    RegisterFileReader file;
    try {
        file.open(textFile);
    } catch (const RuntimeError &e) {
        if (e.number() == RuntimeErrors::FileNotFound) return {};  // no register file: the program goes alone
        // A file that cannot be a register file is not written in part.
        const QString why = RegisterFileFailure(failed, textFile, file.lineNumber(), e);
        MsgBox(why + QStringLiteral("\nNo register was written."));
        return {false, false, registersNotAll(why.mid(failed.size() + 1) + QStringLiteral("\nNo register was written."))};
    }
    if (MsgBox(QStringLiteral("Download Non-Volatile Registers?"), mbYesNo) != mbYes) return {};
    if (OrvComm::ZqPutStatus(connection, 0) != 1) {
        // Nothing written: the controller was not stopped.
        const bool lost = controllerLink().failureLosesLink(connection);
        const QString why = QStringLiteral("The controller was not stopped: ") + linkErrorText(connection);
        MsgBox(failed + QStringLiteral("\n") + why);
        return {false, lost, registersNotAll(why + QStringLiteral("; no register was written."))};
    }
    ProgramRegisterDownload download(connection, file);
    bool progressShown = false;
    try {
        Hourglass wait;
        file.skipHeader();
        transferProgress().showProgressWindow(QStringLiteral("Downloading Register Values..."));
        progressShown = true;
        download.run();
        if (!download.lost()) setProgress(100);
        if (download.writes.clean() && !download.lost())
            transferProgress().setStatusText(transferProgress().statusText() +
                                             QStringLiteral("\r\nRegister write completed."));
        file.close();
        transferProgress().closeProgressWindow();
    } catch (const std::exception &e) {
        const qsizetype line = file.lineNumber();
        file.close();
        if (progressShown) transferProgress().closeProgressWindow();
        const QString why = RegisterFileFailure(failed, textFile, line, e) + QStringLiteral("\n") + download.writes.summary();
        MsgBox(why);
        return {false, false, registersNotAll(why.mid(failed.size() + 1))};
    }
    return registerDownloadEnd(download, textFile);
}

namespace {

// The reads of the register file of a program transfer: EA controllers in
// blocks of 50 (one retry count for all twenty) and the non-volatile banks
// in groups of 16; the others one register at a time, "*" where a read
// fails. One bar for the whole upload, a thousand registers a part.
void uploadTransferRegisters(RegisterReads &r, bool ea) {
    if (!ea) {
        r.singly(1, 1000, [&r](int32_t reg) { r.meter.setPercent(reg / 10); });
        return;
    }
    // Until the non-volatile banks are known the bar counts the most there
    // can be, so that it never runs backwards.
    int parts = 1 + 8, partsDone = 0;
    const auto showPart = [&](int registersDone) {
        r.meter.setPercent((partsDone * 1000 + std::min(registersDone, 1000)) * 100 / (parts * 1000));
    };
    r.meter.setCaption(QStringLiteral("Uploading Registers 1 to 1000..."));
    int retries = 0;
    for (int block = 1; block <= 20; ++block) {
        r.block50(block, retries);
        showPart(block * 50);
    }
    partsDone = 1;
    int lastBank = 0;
    int32_t value = 0;
    if (r.get(32001, value)) lastBank = 3;
    if (r.get(13008, value) && IsBigNonVolatileModel(value)) lastBank = 7;
    parts = 1 + lastBank + 1;
    for (int b = 0; b <= lastBank; ++b) {
        const int32_t first = 32001 + 1000 * b, last = 33000 + 1000 * b;
        r.meter.setCaption(QStringLiteral("Uploading Registers ") + num(first) + QStringLiteral(" to ") + num(last) +
                           QStringLiteral(" ..."));
        partsDone = 1 + b;
        showPart(0);
        if (!r.get(first, value)) continue;
        r.meter.setStatus(QStringLiteral("NVRAM Regs ") + num(first) + QStringLiteral(" to ") + num(last));
        r.bank(first - 1, showPart);
    }
}

}  // namespace

bool UploadRegisters(int32_t connection, int16_t eaFlag, const QString &objectFile) {
    const QString textFile = RegisterFileOf(objectFile);
    if (IsOwnRegisterFile(objectFile)) {
        MsgBox(QStringLiteral("Failed to upload register values!\nThe register file would replace the object file ") +
                   objectFile + QStringLiteral("."),
               mbExclamation);
        return false;
    }
    const QString failed = QStringLiteral("Failed to upload register values!\n");
    if (QFile::exists(textFile) &&
        MsgBox(QStringLiteral("File ") + textFile + QStringLiteral(" already exists. Do you want to Overwrite it?"),
               mbYesNo) != mbYes) {
        MsgBox(failed + QStringLiteral("Error: ") + textFile + QStringLiteral(" was not overwritten."), mbExclamation);
        return false;
    }
    RegisterFileWriter file(textFile);
    RegisterUploadEnd end;
    try {
        Hourglass wait;
        file.open();
        file.writeHeader();
        TransferShow show;
        show.caption = QStringLiteral("Uploading Registers ...");
        show.status = QStringLiteral("Uploading Registers");
        end = RunRegisterUpload(show, connection, file, [ea = eaFlag != 0](RegisterReads &r) {
            uploadTransferRegisters(r, ea);
        });
        // An upload that ended early leaves no register file: one that
        // looked whole would pass for the program's.
        if (end.complete) file.finish();
        else file.discard();
    } catch (const std::exception &e) {
        // An earlier register file stays as it was.
        file.discard();
        MsgBox(failed + QStringLiteral("Error: ") + describeException(e), mbExclamation);
        return false;
    }
    transferProgress().setStatusText(QString());
    if (!end.complete) {
        MsgBox(failed + QStringLiteral("Error: ") +
                   (end.stopped
                        ? QStringLiteral("Upload ended: 3 reads in a row failed (") + end.reason + QStringLiteral(")")
                        : end.reason),
               mbExclamation);
        return false;
    }
    MsgBox(QStringLiteral("Register upload completed!") +
           (file.failedLines() > 0 ? QStringLiteral("\n\n") + num(file.failedLines()) +
                                         QStringLiteral(" registers could not be read: their lines hold \"*\".")
                                   : QString()));
    return true;
}

// ---- Programs --------------------------------------------------------------------------------

void DownloadProgram() {
    try {
        QString path;
        path = SelectObjectFile(path);
        if (path.isEmpty()) return;
        const QString failed = QStringLiteral("Failed to download ") + path + QStringLiteral(".\n");
        if (!TransferLinkReady(failed)) return;
        // A file that the library would refuse changes nothing in the
        // controller: not its program, not its registers, not its run
        // state. The library's own check decides, before anything is asked.
        const QByteArray file = path.toLocal8Bit();
        const int32_t checked = ConnectionHandle;
        if (OrvComm::ZqCheckDownload(checked, file.constData()) != 1) {
            downloadFailed(failed, callError(checked));
            return;
        }
        OrvComm::ZQ_TRANSFER_STATS stats{};
        int32_t result = 0;
        int32_t link = 0;
        CallError error;
        RegisterDownloadEnd registers;
        {
            Hourglass wait;
            registers = DownloadRegisters(ConnectionHandle, path);
            if (registers.linkLost) {
                // Without the link the program would only fail in its turn.
                controllerLink().markLost(controllerLink().lastFailure());
                setStatus(QStringLiteral("Failed to Download!"));
                MsgBox(failed + registers.report + QStringLiteral("\nThe program was not downloaded."), mbExclamation);
                return;
            }
            // The register phase yields: take the connection as it is now.
            link = ConnectionHandle;
            result = RunTransferCall(QStringLiteral("Downloading Program..."), QStringLiteral("Downloading ") + path,
                                     [&] { return transferCall(link, error, [&] {
                                               return OrvComm::ZqDownload(link, file.constData(), &stats);
                                           });
                                     });
            form<frmLoadMain>().repaint();
        }
        if (result == 1) {
            setStatus(QStringLiteral("Download Complete!"));
            // A register phase that did not go through is named last.
            MsgBox(path + QStringLiteral(" downloaded.\n\nbytes : ") + num(stats.bytes) + QStringLiteral("\nerrors : ") +
                       num(stats.errors) + QStringLiteral("\nwarnings : ") + num(stats.warnings) + QStringLiteral("\n") +
                       (registers.complete ? QString() : QStringLiteral("\n") + registers.report),
                   registers.complete ? mbInformation : mbExclamation);
            if (!closeAfterTransfer(link)) ShowLinkError(QStringLiteral("Error closing network.\n"), link);
        } else {
            downloadFailed(failed, error, registers.report);
        }
    } catch (const std::exception &e) {
        MsgBox(describeException(e), mbExclamation);
    }
}

void UploadProgram() {
    try {
        QString path;
        path = EnterObjectFile(path);
        if (path.isEmpty()) return;
        const bool withRegisters = MsgBox(QStringLiteral("Upload Controller Register Values?"), mbYesNo) == mbYes;
        const QString failed = QStringLiteral("Failed to upload ") + path + QStringLiteral(".\n");
        if (!TransferLinkReady(failed)) return;
        const int32_t link = ConnectionHandle;
        Hourglass wait;
        setStatus(QStringLiteral("Uploading ") + path);
        // The program goes into a file of its own first: an earlier file of
        // that name is replaced only by a complete upload, or with the
        // user's word.
        const QString upload = path + QStringLiteral(".upload");
        QFile::remove(upload);
        OrvComm::ZQ_TRANSFER_STATS stats{};
        const QByteArray file = upload.toLocal8Bit();
        CallError error;
        const int32_t result = RunTransferCall(
            QStringLiteral("Uploading Program..."), QStringLiteral("Uploading ") + path,
            [&] { return transferCall(link, error, [&] { return OrvComm::ZqUpload(link, file.constData(), &stats); }); },
            upload);
        transferProgress().setStatusText(QString());
        form<frmLoadMain>().repaint();
        DoEvents();

        // Where the new program ends up: in place of the earlier file when
        // it is complete (or there is none), else beside it.
        QString target = path;
        if (result == 1) {
            if (stats.errors > 0 && QFile::exists(path)) {
                const QString partial = PartialFileOf(path);
                const int answer = MsgBox(
                    QStringLiteral("The controller did not give the whole program (errors : ") + num(stats.errors) +
                        QStringLiteral("): the new file is incomplete.\n\nReplace the earlier file ") + path +
                        QStringLiteral(" with it?\n\nNo keeps the earlier file and its register file, and saves the "
                                       "new program as ") +
                        partial + QStringLiteral("."),
                    mbYesNo + mbExclamation + mbDefaultButton2);
                if (answer != mbYes) target = partial;
            }
            moveFile(upload, target);
        } else {
            // A file cut off in the middle is no program: it goes.
            QFile::remove(upload);
        }

        const auto closeStep = [link] {
            if (!closeAfterTransfer(link))
                MsgBox(QStringLiteral("Error closing connection.\n") + linkErrorText(link), mbExclamation);
        };
        if (result == 1) {
            int32_t model = 0, ea = 0;
            bool registersUploaded = false;
            if (withRegisters && OrvComm::ZqGetModel(link, &model, &ea) == 1)
                registersUploaded = UploadRegisters(link, int16_t(ea), target);
            // A register file of the earlier program must not pass for the
            // new one's.
            const QString registers = registersUploaded ? QString() : registersNotUploaded(target, withRegisters);
            closeStep();
            // Steps or rows the controller did not give leave the file
            // incomplete: say so, rather than report a clean copy.
            MsgBox(QStringLiteral("Program uploaded to ") + target +
                       (stats.errors != 0 ? QStringLiteral("\n\nerrors : ") + num(stats.errors) +
                                                QStringLiteral("\nThe file is incomplete: the controller did not give "
                                                               "the whole program.")
                                          : QString()) +
                       registers,
                   stats.errors != 0 || !registers.isEmpty() ? mbExclamation : mbInformation);
        } else {
            // The link is shown closed before the box is up: nothing says
            // it is connected while the box gives the reason.
            const QString reason = reasonOf(error);
            closeStep();
            MsgBox(failed + QStringLiteral("Error: ") + reason, mbExclamation);
        }
    } catch (const std::exception &e) {
        MsgBox(describeException(e), mbExclamation);
        CloseTransferLink();
    }
}
