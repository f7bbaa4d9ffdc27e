// The main window: the one controller connection of the program (CheckComm,
// ConfigZQComm and the reconnect and poll-start timers), the program's
// start-up on load and shut-down on unload, the status line and the library
// version test.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/controls.h"
#include "core/forms.h"
#include "core/globals.h"
#include "core/mainwindow.h"
#include "core/msgbox.h"
#include "main/linkattempt.h"

class CustomWindow;
class LinkProbe;
class QVBoxLayout;

class frmMain : public Form, public MainWindow {
    Q_OBJECT
public:
    frmMain();

    QLabel *Message = nullptr;           // the status line
    SSCommand *SuspendButton = nullptr;
    SSCommand *StartButton = nullptr, *StopButton = nullptr, *ResetButton = nullptr;
    // The buttons that open the resource windows and the data table.
    SSCommand *RegisterButton = nullptr, *NVRamButton = nullptr, *InputButton = nullptr, *OutputButton = nullptr;
    SSCommand *AinButton = nullptr, *AoutButton = nullptr, *FlagButton = nullptr, *ServoButton = nullptr;
    SSCommand *Cust1Button = nullptr, *Cust2Button = nullptr, *StatButton = nullptr, *TableButton = nullptr;
    FormTimer *Timer1 = nullptr;         // polling
    FormTimer *Timer2 = nullptr;         // reconnect after the setup window closed
    FormTimer *Timer3 = nullptr;         // deferred poll start

    CommonDialog CMDialog1;  // the main window's file dialog

    int32_t ConnectFailCount = 0;
    bool PollStartPending = false;
    // The V-register record through which the tick reads the non-volatile
    // window's V-registers.
    OrvComm::ZQ_VREGISTER VRegRecord{};

    // Closes any connection and starts opening the configured one; the new
    // NoComm. A network attempt goes on from its socket's signals, and a
    // serial one (with its baud search) on a thread of its own: the result
    // is then True until the attempt ends (attemptPending()).
    bool CheckComm() override;
    bool attemptPending() const override { return probe_ != nullptr || serial_ != nullptr; }
    void waitForAttempt() override;
    void abandonAttempt() override;
    // A user action (Resume Monitoring, leaving the setup window) reconnects:
    // the next failure waits the shortest back-off again.
    void resetReconnectBackOff() override { reconnectStepMs_ = 0; }
    // Milliseconds the polling loop waits before the next reconnect attempt
    // (Timer1's interval while the link is down).
    int reconnectDelayMs() const { return reconnectDelayMs_; }
    // Every value the polling loop shows reads "*": none is current now.
    void markValuesStale();
    // How long a message the user's own action put into the status line is
    // kept from the reconnect failure message.
    int messageHoldMs = 4000;
    // Reads model and counts of the controller; True when both answered.
    bool ConfigZQComm();
    // Takes what the controller told of itself into the controller's
    // description; True when it answered and its counts fit.
    bool applyIdentity(const ControllerIdentity &id);
    void RefreshMessage() override;
    // 1 when the loaded library's version is above 3.0.3.0, else 0.
    int16_t SelectCommFunction() override;
    // The version test on a library file name ("liborvcomm.so.3.1.0").
    static int16_t VersionAbove3030(const QString &fileName);

    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    void SuspendButton_Click() override;
    // Rebuilds the symbol database from a symbol file the user picks.
    void ImportSymbolFile();
    void StartButton_Click();
    void StopButton_Click();
    void ResetButton_Click();
    void AinButton_Click();
    void AoutButton_Click();
    void Cust1Button_Click();
    void Cust2Button_Click();
    void FlagButton_Click();
    void InputButton_Click();
    void NVRamButton_Click();
    void OutputButton_Click();
    void RegisterButton_Click();
    void ServoButton_Click();
    void StatButton_Click();
    void TableButton_Click();
    void Filemenu_Click(int16_t index);
    void configmenu_Click(int16_t index);
    void Helpmenu_Click(int16_t index);
    void SetRTC_Click();
    // The DDE topic "ORVmain": a conversation is always accepted; a command
    // runs the button or menu item of that name, any other text is refused
    // (cancel True). A run command that cannot run now is refused at once,
    // with the reason and without its question; one that ends without its
    // write is refused with the reason too.
    void Form_LinkOpen(int16_t &cancel) override;
    void Form_LinkExecute(const QString &command, int16_t &cancel) override;
    // Why nothing can be sent to the controller now; empty when it can.
    static QString whyNoController();

    // MainWindow, for the windows of the other folders (main/mainwindow.cpp).
    Form &mainForm() override { return *this; }
    void setStatusText(const QString &text) override;
    void setPolling(bool enabled) override;
    void setPollInterval(int ms) override;
    void requestReconnect() override;
    void cancelPollStart() override;
    std::array<FormTimer *, 3> connectionTimers() override { return {Timer1, Timer2, Timer3}; }
    bool monitoringRunning() const override;
    CommonDialog &commonDialog() override { return CMDialog1; }

protected:
    void buildControls() override;
    void Form_Load() override;
    void Form_Unload(int &cancel) override;

private:
    void buildMenus(QVBoxLayout *layout);
    void OpenInNotepad();
    void openResourceWindow(const QString &warning, const QString &formName, const std::function<void()> &show,
                            bool *openFlag);
    // Sets (unless text is null) and repaints the DDE window's status label.
    void setDdeMessage(const QString &text);
    // The link check after a failed read: fetches the error; unless the
    // controller refused the read, the tick has lost the link. True for a
    // refusal.
    bool readFailed();
    // A register read with the link check on failure.
    bool readRegister(int32_t reg, int32_t &value);
    void pollingError(int number, const QString &description);
    void serveDdeItems();
    void refreshFlags();
    void refreshDigitalInputs();
    void refreshDigitalOutputs();
    void refreshAnalog(std::array<QLineEdit *, 16> &boxes, QScrollBar *scroll, int32_t base, bool outputs);
    void refreshAnalogInputs();
    void refreshAnalogOutputs();
    void refreshRegisters();
    void refreshRegisterBits();
    void refreshNonVolatile();
    void refreshServos();
    void refreshCustom(CustomWindow &f, const std::array<CustomResourceRow, 16> &rows, const bool &editing,
                       const int16_t &editIndex);
    void refreshClock();

    // The failure steps of CheckComm, with the reason the status line shows.
    bool connectFailed(const QString &why);
    // The same with the reason of the last failed call on the connection.
    bool connectFailedOn(int32_t connection);
    // The end of an attempt whose connection is open: identified or failed.
    bool finishAttempt(bool ok);
    void armPollStart();
    // The network attempt after the probe: the controller answered it.
    void probeAnswered();
    // The serial attempt has ended.
    void serialAttemptEnded(const SerialAttempt::Outcome &outcome);
    // Where the configured link goes, for the failures to name.
    void placeConfiguredLink();
    // Buttons and captions that show the link's state.
    void followLink();
    // The link closed by a transfer: status line and DDE window say so.
    void showLinkClosed(const QString &text);
    // The steps of CheckComm. An open step returns CheckComm's result when
    // the attempt ends there, nothing when the link is open.
    bool closeCurrentLink();  // False when the library refused the close
    std::optional<bool> openConfiguredLink();
    std::optional<bool> openRawEthernetLink();
    std::optional<bool> openNetLink();  // UDP or TCP: starts the probe
    std::optional<bool> openSerialLink();
    QString connectedStatus() const;
    // Status line, captions of the main and the resource windows, the polling
    // interval and NoComm after a successful connect.
    void showConnected();
    // The main window's position and size in the settings, read on load and
    // written back on unload.
    void readWindowPlacement();
    void writeWindowPlacement();
    // The link is down after an attempt or a tick: the next attempt
    // follows after the back-off, which doubles from the update interval
    // to 5 s (or the update interval, when that is longer).
    void scheduleReconnect();
    // A message of the user's own action (written through RefreshMessage)
    // that is still too young to be replaced by the reconnect failure.
    bool userMessageHeld() const;
    // A read of the polling tick may go out: nothing more is sent once the
    // tick has lost the link.
    bool mayRead() const { return !tickLostLink_; }
    void setStatus(const QString &text);
    // The connection manager's own status line text.
    void setLinkStatus(const QString &text);
    // The same for news of a link that is down: it waits while a message of
    // the user's own action is still held, then shows unless someone wrote
    // the status line meanwhile.
    void showLinkDown(const QString &text);

    // The run commands: why one cannot run now (empty: it can), and why the
    // last one ended without its write (empty: it was written or not needed).
    QString runCommandBlocked(const QString &verb) const;
    QString runEnded_;

    bool tickLostLink_ = false;  // a read of this tick failed with the link lost
    int reconnectStepMs_ = 0;    // the back-off step; 0 while the link is up
    int reconnectDelayMs_ = 0;
    int attempt_ = 0;             // counts the attempts; a continuation of an older one stops
    LinkProbe *probe_ = nullptr;  // the network probe under way
    SerialAttempt *serial_ = nullptr;  // the serial attempt under way
    bool firstAttempt_ = false;   // the next attempt is the program's first
    bool startUpAttempt_ = false; // the attempt under way is the program's first
    QString pendingLinkDown_;
    QTimer *linkDownTimer_ = nullptr;
    QElapsedTimer userMessageAge_;
    QString userMessage_;
};
