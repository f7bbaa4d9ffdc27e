// The task status of the controller: read with status packets (pages of 8
// tasks) or, when the controller refuses them, bank by bank; decoded into the
// status arrays; walked into status rows; shown as the step status window's
// tree with stable node keys.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "core/orvcomm_binding.h"

// Highest task index the status arrays hold.
inline constexpr int MaxTask = 224;
// Number of status rows.
inline constexpr int StatusRows = 128;
// Value of a task step meaning "the task is not executing".
inline constexpr int32_t TaskNotRunning = 0x10000;

// The decoded task state, kept between ticks.
struct TaskStatusRecord {
    int32_t StoppedFlag = 0;  // nonzero: the controller is stopped
    int32_t FaultCode = 0;    // software fault code, 0 = none
    int32_t FaultStep = 0;    // step of the fault, from 0
    int32_t FaultData = 0;    // data number of the fault
    int32_t TaskCount = 0;
    // Current step + 1 of each task; TaskNotRunning when it does not run.
    std::array<int32_t, MaxTask + 1> TaskStep{};
    // Child flag of each task (packet path only).
    std::array<int32_t, MaxTask + 1> TaskValue{};
    // Child masks, words 1..7: bit b of word k marks task (k - 1) * 32 + b.
    std::array<std::array<int32_t, 8>, MaxTask + 1> TaskBankWords{};
};
inline TaskStatusRecord TaskStatus;

// One status page as it came from the controller.
struct StatusPacketRecord {
    int32_t StoppedFlag = 0;
    int32_t FaultCode = 0;
    int32_t FaultStep = 0;
    int32_t FaultData = 0;
    int32_t TaskCount = 0;
    std::array<int32_t, 8> Step{};
    std::array<int32_t, 8> ChildFlag{};
    // Mask words 1..7 of each of the page's tasks (word 0 unused).
    std::array<std::array<int32_t, 8>, 8> MaskWords{};
};
inline StatusPacketRecord StatusPacket;

// The task bank that the bank path reads with ZqGetTaskBank.
inline OrvComm::ZQ_TASK_BANK TaskBankRecord{};

// How far the pages or banks are read: in the packet path the first task of
// the last page to read, in the bank path a bank number 1..8.
inline int32_t StatusReadLimit = 0;
inline int16_t StatusRowCount = 0;
// Bits of each mask word the walk examines.
inline int16_t ChildBitLimit = 0;
// Tree node numbers in use (1..255; 0 is the root's).
inline std::array<bool, 257> NodeKeyInUse{};

// The status rows in pre-order: a row, then its children's subtrees.
inline std::array<QString, StatusRows> StatusRowText;
inline std::array<int16_t, StatusRows> StatusRowDepth{};
inline std::array<int16_t, StatusRows> StatusRowChildCount{};

// Reads the status packets: the first page, then the later pages that
// StatusReadLimit reaches. False when the first page could not be read.
bool NewStatusPacket();
// One page exchange: the header first when first is 0, then the page of
// tasks first..first + 7; ok is 1 when the page was read into packet.
void GetStatusPacket(int32_t id, int16_t first, int16_t firstPageFlag, StatusPacketRecord &packet, int32_t &ok);
// Decodes the page of StatusPacket that starts at task first.
void BuildStatusData2(int16_t first);
// Decodes bank b (1..8) of TaskBankRecord.
void BuildStatusData(int16_t b);
// Appends the status rows of task t (the root row too when t is 0) at depth d.
bool RecursiveParse(int16_t t, int16_t d);
// Adds row `row` and its subtree to the tree under the node of parentKey;
// row ends on the subtree's last row.
void NewBuild(int16_t &row, const QString &parentKey);
// Brings the node at index and its subtree up to date with row `row`.
void OldBuild(int16_t index, int16_t &row);
// The lowest free node number, marked in use (255 when none is free).
int16_t GetKey();
// Marks in use exactly the node numbers of the tree's present nodes.
void ResetKey();

// The task status step of the polling tick, while the step status window is
// open and no transfer is busy: reads and decodes the status, writes the
// state line and the fault text, builds the rows and the tree. True when the
// controller's fault code is 2: the tick then skips its clock. A failed bank
// read raises RuntimeError number 0; a yield after which the connection is
// gone throws TickEnded.
bool PollTaskStatus();
