// What the windows outside the main window's folder use of the main window:
// its status line, the polling and reconnect timers, the connection manager,
// the common file dialog and the library's flag-call switch. frmMain
// implements it; mainWindow() is defined beside frmMain, so that nothing
// here names the main window's own header.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

class CommonDialog;
class Form;
class FormTimer;

class MainWindow {
public:
    // The main window as a form: caption, Show, Left and Top.
    virtual Form &mainForm() = 0;

    // The status line.
    virtual void setStatusText(const QString &text) = 0;
    // Repaints the status line and keeps a message of the user's own action
    // from being replaced at once by the reconnect failure message.
    virtual void RefreshMessage() = 0;

    // Timer1: the polling tick, and its interval in milliseconds.
    virtual void setPolling(bool enabled) = 0;
    virtual void setPollInterval(int ms) = 0;
    // Timer2: the reconnect after the setup window closed.
    virtual void requestReconnect() = 0;
    // Timer3 and PollStartPending: a poll start still pending from the last
    // connect is dropped.
    virtual void cancelPollStart() = 0;
    // Timer1, Timer2 and Timer3, in that order.
    virtual std::array<FormTimer *, 3> connectionTimers() = 0;

    // Closes any connection and starts opening the configured one; the new
    // NoComm (True while the attempt is still under way).
    virtual bool CheckComm() = 0;
    // An attempt goes on from the event loop (a network probe, a baud search).
    virtual bool attemptPending() const = 0;
    // Lets events run until the attempt under way has ended.
    virtual void waitForAttempt() = 0;
    // An attempt under way is dropped: nothing more of it reaches the
    // controller (another procedure takes the connection over).
    virtual void abandonAttempt() = 0;
    virtual void resetReconnectBackOff() = 0;
    // True while the user has not suspended the monitoring (and no
    // transfer has closed the link).
    virtual bool monitoringRunning() const = 0;
    // The Suspend/Resume Monitoring button.
    virtual void SuspendButton_Click() = 0;

    // The main window's file dialog (CMDialog1).
    virtual CommonDialog &commonDialog() = 0;
    // 1 when the loaded library's version is above 3.0.3.0, else 0.
    virtual int16_t SelectCommFunction() = 0;

    virtual ~MainWindow() = default;
};

// The main window, created on first use.
MainWindow &mainWindow();
// The main window while it exists, else null; never creates it.
MainWindow *existingMainWindow();

// The DDE window (frmDDE), created on first use; its boxes are reached by
// name (control<QLineEdit>("DDENode")).
Form &ddeWindow();
