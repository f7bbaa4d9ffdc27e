// The object-file phase of a program transfer, and the link's state around
// a transfer.
//
// ZqUpload and ZqDownload take minutes on a slow line, and so do the
// register reads of a register file from a controller that stops answering.
// They run on a worker thread while the window thread waits in an event loop
// that paints and shows the progress window. Meanwhile nothing else may reach the
// connection: the link is held (ControllerLink::Hold), the main window's timers are held, the
// progress window is modal (no clicks reach the other windows and none of
// them can be closed), and the DDE service refuses commands and pokes.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <mutex>

class Form;

// What a call on the worker thread reports of its progress: a percentage
// and a caption for the progress window, and a status text. Set by the
// worker, read by the window thread.
class TransferMeter {
public:
    void setPercent(int percent);
    void setCaption(const QString &caption);
    void setStatus(const QString &status);
    // -1 while nothing was set: the bar then sweeps.
    int percent() const;
    QString caption() const;
    QString status() const;

private:
    mutable std::mutex lock_;
    int percent_ = -1;
    QString caption_;
    QString status_;
};

// How a call on the worker thread is shown while it runs.
struct TransferShow {
    QString caption;  // of the progress window, until the meter gives one
    // The status line's text, followed by the seconds so far (and the size
    // of growingFile, when given), until the meter gives one.
    QString status;
    QString growingFile;
    // Where the status goes: the transfer window's status line when empty.
    std::function<void(const QString &)> statusLine;
    // The window the progress window opens beside: the transfer window
    // when null.
    Form *beside = nullptr;
    const TransferMeter *meter = nullptr;
};

// Runs `call` (library calls, nothing that touches a window) on a worker
// thread and returns its result. Errors thrown by `call` are thrown again
// here, after the worker has ended.
int32_t RunTransferCall(const TransferShow &show, const std::function<int32_t()> &call);
// The same for a library call of the transfer window: the progress window
// shows `caption`, its status line `status`.
int32_t RunTransferCall(const QString &caption, const QString &status, const std::function<int32_t()> &call,
                        const QString &growingFile = QString());

// True when the monitor has an identified controller on ConnectionHandle.
// When it has not (a transfer, a suspend or a failure closed the link),
// reconnects through the main window; when that fails too, shows a box with
// `failed`, "Error: " and the reason, and returns False.
bool TransferLinkReady(const QString &failed);

// After a transfer closed the link: the link is closed (status line,
// "Resume Monitoring", the run buttons off, polling stopped, every value
// "*"), and the controller counts as unknown until the next connect.
void ShowLinkClosedByTransfer();
