// The globals that the windows of the monitor share: link state, controller
// description, busy and window-open flags, edit state, settings and paths.
// One definition each. The link's state is only read here: its owner
// (core/link.h) changes it.
#pragma once

#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "core/link.h"
#include "core/orvcomm_binding.h"
#include "core/runtime_error.h"

// ---- Link state ----------------------------------------------------------
// Read-only views of the link's owner (core/link.h), under the names the
// windows have always used; every change goes through the owner.
namespace link_views {
struct Handle {
    operator int32_t() const { return controllerLink().handle(); }
};
struct Flag {
    bool (*get)();
    operator bool() const { return get(); }
};
inline bool noComm() { return !controllerLink().up(); }
inline bool connected() { return controllerLink().up(); }
inline bool suspended() { return controllerLink().waitsForUser(); }
inline bool identified() { return controllerLink().identified(); }
}  // namespace link_views
inline constexpr link_views::Handle ConnectionHandle{};                    // connection ID, 0 = none
inline constexpr link_views::Flag NoComm{link_views::noComm};              // no working link
inline constexpr link_views::Flag Connected{link_views::connected};        // the controller answered
inline constexpr link_views::Flag MonitoringSuspended{link_views::suspended};  // waits for Resume Monitoring
inline bool CommError = false;        // a library call failed during this tick
inline bool SetupOpen = false;
inline bool ReconnectPending = false;
inline bool ConnectFailedBefore = false;
inline QString ConnectionTitle;       // begins with " - "
inline OrvComm::ZQ_ERROR_INFO ErrorInfo{};
// The text of an error record (ErrorInfo by default), up to its first NUL.
inline QString errorInfoText(const OrvComm::ZQ_ERROR_INFO &info = ErrorInfo) {
    return QString::fromLatin1(info.text, static_cast<qsizetype>(qstrnlen(info.text, sizeof info.text)));
}

// ---- Connection settings ---------------------------------------------------
inline int32_t CommPort = 0;     // 3..18 serial COM1..COM16; below 3 the network kinds
inline int32_t BaudRate = 0;
inline int32_t HostNode = 0;
inline int32_t TargetNode = 0;
inline int32_t AdapterIndex = 0;
inline int32_t TimeoutMs = 0;
// The reply time-out the link gets: one below 1 ms (a socket would wait for
// ever) or above the longest the setup window offers is taken as the default.
inline constexpr int32_t DefaultTimeoutMs = 300;
inline constexpr int32_t LongestTimeoutMs = 30000;
inline int32_t usableTimeout(int32_t ms) { return ms < 1 || ms > LongestTimeoutMs ? DefaultTimeoutMs : ms; }
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
// Receives block reads of 50 (and of 16) registers.
inline std::array<int32_t, 50> Block50Buffer{};

// ---- Controller description ---------------------------------------------------
inline int32_t ControllerModel = 0;
// Models with the extended register map, run commands and servo inputs.
inline bool IsEaModel(int32_t model) { return model == 3 || model > 4; }
// Models with four more banks of non-volatile registers.
inline bool IsBigNonVolatileModel(int32_t model) { return model >= 14 && model <= 16; }
inline int32_t EaType = 0;
inline constexpr link_views::Flag ControllerIdentified{link_views::identified};
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
inline int32_t InputStatusBits = 0;  // the controller's configuration byte
inline bool AutoBaudSearch = false;  // the setup window's "Automatically Search for Baud Rate"
inline int32_t RegisterLimit = 0;  // 40000 once the main window has loaded
inline std::array<float, 32> BitWeights{};
inline bool Q600Support = false;

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

// ---- Data table editor -------------------------------------------------------------------
// The cells of the data table, indexed (row, column) within the bounds of
// their last allocation: (1..1, 1..1) when the editor opens, (1..rows,
// 1..columns) after an upload, (0..rows, 0..columns) after a file read or a
// size change. An index outside them raises "Subscript out of range".
class TableCells {
public:
    TableCells() { redim(1, 1, 1, 1); }
    // A new allocation, every cell 0.
    void redim(int32_t rowLow, int32_t rowHigh, int32_t colLow, int32_t colHigh) {
        rowLow_ = rowLow;
        rowHigh_ = rowHigh;
        colLow_ = colLow;
        colHigh_ = colHigh;
        cells_.assign(size_t(std::max(0, rowHigh - rowLow + 1)) * size_t(stride()), 0);
    }
    bool contains(int32_t row, int32_t col) const {
        return row >= rowLow_ && row <= rowHigh_ && col >= colLow_ && col <= colHigh_;
    }
    int32_t &operator()(int32_t row, int32_t col) {
        if (!contains(row, col)) throw RuntimeError(9, QStringLiteral("Subscript out of range"));
        return cells_[size_t(row - rowLow_) * size_t(stride()) + size_t(col - colLow_)];
    }
    int32_t rowLow() const { return rowLow_; }
    int32_t rowHigh() const { return rowHigh_; }
    int32_t colLow() const { return colLow_; }
    int32_t colHigh() const { return colHigh_; }

private:
    int32_t stride() const { return std::max(0, colHigh_ - colLow_ + 1); }
    int32_t rowLow_ = 1, rowHigh_ = 1, colLow_ = 1, colHigh_ = 1;
    std::vector<int32_t> cells_;
};

inline int32_t TableRows = 0;  // rows of the table
inline int32_t TableCols = 0;  // data columns plus one (the grid's text column)
inline TableCells TableValues;
inline int16_t TableMonStartRow = 0;  // rows read by a monitoring tick
inline int16_t TableMonEndRow = 0;
inline int16_t TableMonIntervalMs = 2000;
inline bool TableMonitorOn = false;

// ---- Firmware update -----------------------------------------------------------------------
inline QString FirmwareFilePath;  // the firmware file chosen for the update

// ---- Register bits window ------------------------------------------------------------
inline bool RegbitsUpdating = false;   // the window sets bit boxes itself, or handles a key
inline bool RegbitsClickBusy = false;  // a bit click is being handled

