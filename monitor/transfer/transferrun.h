// The object-file phase of a program transfer, and the link's state around
// a transfer.
//
// ZqUpload and ZqDownload take minutes on a slow line. They run on a worker
// thread while the window thread waits in an event loop that paints and
// shows the progress window. Meanwhile nothing else may reach the
// connection: TransferBusy is set, the main window's timers are held, the
// progress window is modal (no clicks reach the other windows and none of
// them can be closed), and the DDE service refuses commands and pokes.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

// Runs `call` (the library call, nothing else) on a worker thread and
// returns its result. The progress window shows `caption`; the transfer
// window's status line shows `status`, followed by the seconds so far and,
// when `growingFile` is given, that file's size. Errors thrown by `call`
// are thrown again here, after the worker has ended.
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
