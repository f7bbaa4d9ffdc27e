// The globals that the windows of the monitor share: link state, controller
// description, busy and window-open flags, edit state, settings and paths.
// One definition each; every window reads and writes them directly.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "core/orvcomm_binding.h"

// ---- Link state ----------------------------------------------------------
inline int32_t ConnectionHandle = 0;  // connection ID, 0 = none
inline bool NoComm = false;           // no working connection
inline bool CommError = false;        // a library call failed during this tick
inline bool Connected = false;
inline bool SetupOpen = false;
inline bool ReconnectPending = false;
inline bool ConnectFailedBefore = false;
inline bool MonitoringSuspended = false;
inline QString ConnectionTitle;       // begins with " - "
inline OrvComm::ZQ_ERROR_INFO ErrorInfo{};

// ---- Connection settings ---------------------------------------------------
inline int32_t CommPort = 0;     // 3..18 serial COM1..COM16; below 3 the network kinds
inline int32_t BaudRate = 0;
inline int32_t HostNode = 0;
inline int32_t TargetNode = 0;
inline int32_t AdapterIndex = 0;
inline int32_t TimeoutMs = 0;
inline QString ControllerIPText;  // the address as the user typed it
inline QString ControllerIP;      // dotted address of a UDP or TCP connection
inline bool ResolvingHost = false;

// ---- DDE settings ------------------------------------------------------------
inline int32_t DdeBlock50Address = 0;
inline int32_t DdeServing = 0;
inline int32_t DdeFlagAddress = 0;
inline int32_t DdeRegisterAddress = 0;
inline int32_t DdeUpdateMs = 0;
inline bool DdeWriteSuppress = false;

// ---- Controller description ---------------------------------------------------
inline int32_t ControllerModel = 0;
inline int32_t EaType = 0;
inline bool ControllerIdentified = false;
inline int16_t NumFlags = 0;
inline int16_t NumDigitalInputs = 0;
inline int16_t NumDigitalOutputs = 0;
inline int16_t IoCount4 = 0;  // steppers
inline int16_t NumServos = 0;
inline int16_t NumAnalogInputs = 0;
inline int16_t NumAnalogOutputs = 0;
inline std::array<int16_t, 4> MiscIoCount{};  // prototype, HS counters, thumbwheels, displays
inline std::array<int32_t, 3> TaskLayout{};
inline int32_t ControllerStatusBits = 0;
inline int32_t RegisterLimit = 0;  // 40000 once the main window has loaded
inline std::array<float, 32> BitWeights{};
inline bool Q600Support = false;

// ---- Busy flags ------------------------------------------------------------------
inline bool TransferBusy = false;
inline bool TableUploadBusy = false;

// ---- Window-open flags and edit state ----------------------------------------------
inline bool FlagWindowOpen = false;
inline bool DigInWindowOpen = false;
inline bool DigOutWindowOpen = false;
inline bool AnalInWindowOpen = false;
inline bool AnalOutWindowOpen = false;
inline bool RegWindowOpen = false;
inline bool RegbitsWindowOpen = false;
inline bool RamWindowOpen = false;
inline bool ServoWindowOpen = false;
inline bool Custom1WindowOpen = false;
inline bool Custom2WindowOpen = false;
inline bool StatusPollOn = false;
inline bool RtcWindowOpen = false;
inline bool RtcSyncRequest = false;

inline bool RegEditInProgress = false;
inline int16_t RegEditIndex = 0;
inline bool RamEditInProgress = false;
inline int16_t RamEditIndex = 0;
inline bool AnalOutEditInProgress = false;
inline int16_t AnalOutEditIndex = 0;
inline bool ServoEditInProgress = false;
inline int16_t ServoEditIndex = 0;
inline bool FlagGoToEditing = false;

inline bool RegbitsEditInProgress = false;
inline int16_t RegbitsEditIndex = 0;
inline bool RegbitsWritePending = false;
inline int32_t RegbitsWriteRegister = 0;
inline int16_t RegbitsRow = 0;
inline std::array<double, 16> RegbitsValues{};
inline int32_t RegbitsBase = 0;

// A row of a custom window: name, resource kind 0..12 and number.
struct CustomResourceRow {
    QString name;
    int16_t kind = 0;
    int32_t number = 1;
};
inline std::array<CustomResourceRow, 16> Custom1Rows{};
inline std::array<CustomResourceRow, 16> Custom2Rows{};
inline bool Custom1EditInProgress = false;
inline int16_t Custom1EditIndex = 0;
inline bool Custom1Loaded = false;
inline bool Custom2EditInProgress = false;
inline int16_t Custom2EditIndex = 0;
inline bool Custom2Loaded = false;

// ---- Remembered files ------------------------------------------------------------------
inline QString SymbolFilePath;  // the symbol file in use, empty for none
inline QString CustomScreen1Path;
inline QString CustomScreen2Path;
inline QString DataTablePath;

// ---- Register bits window ------------------------------------------------------------
inline bool RegbitsUpdating = false;   // the window sets bit boxes itself, or handles a key
inline bool RegbitsClickBusy = false;  // a bit click is being handled
