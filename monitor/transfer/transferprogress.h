// Where the program and register transfers report how far they are: the
// status text of the transfer window and a progress window with a caption
// and a bar.
#pragma once

#include <QString>

class TransferProgress {
public:
    virtual ~TransferProgress() = default;

    virtual QString statusText() const = 0;
    virtual void setStatusText(const QString &text) = 0;
    // Sets the status text and repaints it at once.
    virtual void showStatus(const QString &text) = 0;

    // Opens the progress window below and right of the transfer window.
    virtual void showProgressWindow(const QString &caption) = 0;
    virtual void setProgressCaption(const QString &caption) = 0;
    virtual void setPercent(int percent) = 0;
    virtual void closeProgressWindow() = 0;
};

// The transfer window's (frmLoadMain's status label and frmFile).
TransferProgress &transferProgress();
