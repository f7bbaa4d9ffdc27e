// The main window: the one controller connection of the program (CheckComm,
// ConfigZQComm and the reconnect and poll-start timers), the program's
// start-up on load and shut-down on unload, the status line and the library
// version test.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <cstdint>

#include "core/forms.h"

class frmMain : public Form {
    Q_OBJECT
public:
    frmMain();

    QLabel *Message = nullptr;           // the status line
    QPushButton *SuspendButton = nullptr;
    FormTimer *Timer1 = nullptr;         // polling
    FormTimer *Timer2 = nullptr;         // reconnect after the setup window closed
    FormTimer *Timer3 = nullptr;         // deferred poll start

    int32_t ConnectFailCount = 0;
    bool PollStartPending = false;
    bool AutoBaudSearch = false;
    int32_t InputStatusBits = 0;

    // Closes any connection and opens the configured one; the new NoComm.
    bool CheckComm();
    // Reads model and counts of the controller; True when both answered.
    bool ConfigZQComm();
    void RefreshMessage();
    // 1 when the loaded library's version is above 3.0.3.0, else 0.
    int16_t SelectCommFunction();
    // The version test on a library file name ("liborvcomm.so.3.1.0").
    static int16_t VersionAbove3030(const QString &fileName);

    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    void SuspendButton_Click();

protected:
    void buildControls() override;
    void Form_Load() override;
    void Form_Unload(int &cancel) override;

private:
    bool connectFailed();
    void setStatus(const QString &text);
};
