// The task status: status packets, task banks, the status rows and the tree.
//
// The arrays have fixed bounds (tasks 0..224, mask words 1..7, rows 0..127,
// node numbers 0..256). An index outside them raises "Subscript out of range",
// and each procedure deals with that as its own error rule says: a packet page
// fails, a decoder shows the error, the walk ends with False.
#include "main/taskstatus.h"

#include <algorithm>

#include "core/basics.h"
#include "core/codeDBase.h"
#include "core/codeORVmain.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "core/msgbox.h"
#include "core/runtime_error.h"
#include "main/polling.h"
#include "windows/frmStatus.h"
#include "windows/resourcewindow.h"

namespace {

// Room for the longest reply the library can hand back.
constexpr size_t ReplyBufferSize = 1536;
using Reply = std::array<uint8_t, ReplyBufferSize>;

template <class Array> auto &at(Array &a, int index) {
    if (index < 0 || size_t(index) >= a.size()) throw RuntimeError(9, QStringLiteral("Subscript out of range"));
    return a[size_t(index)];
}

// Bit b of a mask word.
bool bitSet(int32_t word, int b) {
    if (b < 0 || b > 31) throw RuntimeError(9, QStringLiteral("Subscript out of range"));
    return (static_cast<uint32_t>(word) >> b) & 1u;
}

// Number of mask words in use for the present task count.
int maskWords() { return (TaskStatus.TaskCount - 1) / 32 + 1; }

uint16_t u16le(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t u32le(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

uint8_t byteOf(int32_t word, int m) { return static_cast<uint8_t>(static_cast<uint32_t>(word) >> (8 * m)); }

// One request through the library; the reply lands in a cleared buffer.
bool exchange(int32_t id, QByteArray request, Reply &reply) {
    AppendChecksum(request);
    reply.fill(0);
    return OrvComm::ZqSendData(id, ZQ_PACKET_CLASS_REQUEST, reinterpret_cast<const uint8_t *>(request.constData()),
                               uint32_t(request.size()), reply.data()) == 1;
}

// Checksum, reply code and end byte of a reply of length byte L.
bool replyIntact(const Reply &reply, uint8_t code) {
    const int L = reply[0];
    unsigned sum = 0;
    for (int i = 1; i <= L - 2; ++i) sum += reply[size_t(i)];
    return reply[size_t(L - 1)] == 255 - (sum % 256) && reply[1] == code && reply[size_t(L)] == 0xFF;
}

// A yield of the status read; the tick ends when the connection went meanwhile.
void yieldHere() {
    DoEvents();
    if (ConnectionHandle == 0) throw TickEnded{};
}

QString stepText(int32_t step) { return QStringLiteral("Step #") + QString::number(step); }

const QString NotExecuted = QStringLiteral("Task Not Executed");

TreeNodes treeNodes() { return form<frmStatus>().TreeView1->Nodes(); }

// Reads bank `bank` of the controller when its index is within the limit.
void readBank(int32_t bank, int16_t index) {
    if (index > StatusReadLimit) return;
    if (OrvComm::ZqGetTaskBank(ConnectionHandle, bank, &TaskBankRecord) != 1) throw RuntimeError(0, QString());
    BuildStatusData(index);
}

void readTaskBanks() {
    if (ControllerModel >= 10) {
        TaskStatus.TaskCount = 64;
        for (int32_t bank = 0x41; bank <= 0x48; ++bank) {
            if (bank % 2 == 0) yieldHere();
            readBank(bank, int16_t(bank - 0x40));
        }
    } else {
        TaskStatus.TaskCount = TaskLayout[1];
        for (int32_t bank = 1; bank <= TaskStatus.TaskCount / 8; ++bank) readBank(bank, int16_t(bank));
    }
}

// Appends the step's symbol name to each row of a running task.
void nameSteps() {
    for (int row = 0; row < StatusRowCount; ++row) {
        QString &text = at(StatusRowText, row);
        if (text == NotExecuted) continue;
        const auto step = int32_t(leadingNumber(text.mid(6)));
        QString name;
        if (FindSymbolName(SymSteps, NumberCriteria(step), name)) text += QStringLiteral(" : ") + name;
    }
}

}  // namespace

// ---- Reading --------------------------------------------------------------------------

bool NewStatusPacket() {
    int32_t ok = 0;
    GetStatusPacket(ConnectionHandle, 0, 1, StatusPacket, ok);
    if (ok != 1) return false;
    BuildStatusData2(0);
    const int pages = (StatusPacket.TaskCount - 1) / 8;
    for (int i = 1; i <= pages; ++i) {
        if (i % 2 == 1) yieldHere();
        if (8 * i > StatusReadLimit) continue;
        GetStatusPacket(ConnectionHandle, int16_t(8 * i), 0, StatusPacket, ok);
        if (ok == 1) BuildStatusData2(int16_t(8 * i));
    }
    return true;
}

void GetStatusPacket(int32_t id, int16_t first, int16_t firstPageFlag, StatusPacketRecord &packet, int32_t &ok) {
    ok = 0;
    try {
        Reply reply;
        if (first == 0 && id != 0) {
            if (!exchange(id, QByteArray("\x01\x04\x23\xFF", 4), reply)) return;
            if (reply[0] + 1 < 12) return;
            // A damaged header leaves the previous values; the page still counts.
            if (replyIntact(reply, 0x2D)) {
                packet.StoppedFlag = reply[2];
                packet.FaultCode = reply[3];
                packet.FaultStep = u16le(&reply[4]);
                packet.FaultData = int32_t(u32le(&reply[6]));
            }
        }
        if (id == 0) return;

        QByteArray request("\x01\x05\x6B", 3);
        request.append(char(first & 0xFF));
        request.append(char(firstPageFlag & 0xFF));
        if (!exchange(id, request, reply)) return;
        const int L = reply[0];
        if (L + 1 < 5 || !replyIntact(reply, 0x6C) || reply[3] != first) return;

        packet.TaskCount = reply[2];
        const int R = (packet.TaskCount - 1) / 8 + 4;  // bytes per task record
        if (L + 1 < 8 * R + 6) return;
        const int words = (R - 4) / 4 + 1;
        for (int j = 0; j < 8; ++j) {
            const uint8_t *record = &reply[size_t(4 + j * R)];
            at(packet.Step, j) = int32_t(u16le(record)) + 1;
            at(packet.ChildFlag, j) = record[2];
            // The mask bytes 3..R-1, four to a word; the last word is filled
            // up with zero bytes.
            for (int k = 1; k <= words; ++k) {
                uint32_t word = 0;
                for (int m = 0; m < 4; ++m) {
                    const int b = 3 + 4 * (k - 1) + m;
                    if (b < R) word |= uint32_t(record[b]) << (8 * m);
                }
                at(at(packet.MaskWords, j), k) = int32_t(word);
            }
        }
        ok = 1;
    } catch (const RuntimeError &) {
        ok = 0;
    }
}

// ---- Decoding -----------------------------------------------------------------------------

void BuildStatusData2(int16_t first) {
    try {
        if (first == 0) {
            TaskStatus.StoppedFlag = StatusPacket.StoppedFlag;
            TaskStatus.FaultCode = StatusPacket.FaultCode;
            TaskStatus.FaultStep = StatusPacket.FaultStep;
            TaskStatus.FaultData = StatusPacket.FaultData;
            TaskStatus.TaskCount = StatusPacket.TaskCount;
        }
        const int W = maskWords();
        for (int j = 0; j < 8; ++j) {
            const int t = first + j;
            at(TaskStatus.TaskStep, t) = StatusPacket.Step[size_t(j)];
            at(TaskStatus.TaskValue, t) = StatusPacket.ChildFlag[size_t(j)];
            auto &words = at(TaskStatus.TaskBankWords, t);
            if (StatusPacket.ChildFlag[size_t(j)] == 0) {
                for (int k = 1; k <= W; ++k) at(words, k) = 0;
                continue;
            }
            for (int k = 1; k <= W; ++k) at(words, k) = at(StatusPacket.MaskWords[size_t(j)], k);
            // The page of the highest child found must be read too.
            for (int k = StatusReadLimit / 32 + 1; k <= W; ++k)
                for (int m = 0; m < 4; ++m) {
                    const int32_t page = (k - 1) * 32 + 8 * m;
                    if (byteOf(at(words, k), m) != 0 && StatusReadLimit < page) StatusReadLimit = page;
                }
        }
    } catch (const RuntimeError &e) {
        MsgBox(e.description());
    }
}

void BuildStatusData(int16_t b) {
    try {
        const OrvComm::ZQ_TASK_BANK &bank = TaskBankRecord;
        if (b == 1) {
            TaskStatus.StoppedFlag = bank.stopped;
            TaskStatus.FaultCode = bank.faultCode;
            TaskStatus.FaultStep = bank.faultStep;
            TaskStatus.FaultData = bank.faultData;
        }
        for (int j = 0; j < 8; ++j) {
            const int t = (b - 1) * 8 + j;
            at(TaskStatus.TaskStep, t) = bank.steps[j];
            auto &words = at(TaskStatus.TaskBankWords, t);
            words[1] = bank.childLow[j];
            words[2] = bank.childHigh[j];
            // The bank of the highest child found must be read too.
            for (int m = 1; m < 4; ++m)
                if (byteOf(words[1], m) != 0) StatusReadLimit = std::max(StatusReadLimit, int32_t(1 + m));
            for (int m = 0; m < 4; ++m)
                if (byteOf(words[2], m) != 0) StatusReadLimit = std::max(StatusReadLimit, int32_t(5 + m));
        }
    } catch (const RuntimeError &e) {
        MsgBox(e.description());
    }
}

// ---- Status rows --------------------------------------------------------------------------

bool RecursiveParse(int16_t t, int16_t d) {
    bool result = true;
    try {
        if (t == 0) {
            at(StatusRowText, StatusRowCount) = stepText(at(TaskStatus.TaskStep, 0));
            at(StatusRowDepth, StatusRowCount) = d;
            ++StatusRowCount;
        }
        const int parent = StatusRowCount - 1;
        at(StatusRowChildCount, parent) = 0;
        const int W = maskWords();
        auto &words = at(TaskStatus.TaskBankWords, t);
        bool anyChild = false;
        for (int k = 1; k <= W; ++k) anyChild = anyChild || at(words, k) != 0;
        if (!anyChild) return true;

        for (int k = 1; k <= W; ++k) {
            const int32_t word = at(words, k);
            if (word == 0) continue;
            for (int b = 0; b < ChildBitLimit; ++b) {
                if (!bitSet(word, b)) continue;
                const auto c = int16_t((k - 1) * 32 + b);
                const int row = StatusRowCount;
                const int32_t step = at(TaskStatus.TaskStep, c);
                const bool running = step != TaskNotRunning;
                at(StatusRowText, row) = running ? stepText(step) : NotExecuted;
                at(StatusRowDepth, row) = int16_t(d + 1);
                if (!running) at(StatusRowChildCount, row) = 0;
                ++at(StatusRowChildCount, parent);
                ++StatusRowCount;
                result = running ? RecursiveParse(c, int16_t(d + 1)) : true;
            }
        }
    } catch (const RuntimeError &) {
        return false;
    }
    return result;
}

// ---- The tree -----------------------------------------------------------------------------

void NewBuild(int16_t &row, const QString &parentKey) {
    TreeNodes nodes = treeNodes();
    TreeNode node = row == 0 ? nodes.Add(QString(), 0, QStringLiteral("t0"), at(StatusRowText, 0))
                             : nodes.Add(parentKey, TreeNodes::tvwChild, QStringLiteral("t") + QString::number(GetKey()),
                                         at(StatusRowText, row));
    node.setExpanded(true);
    const QString key = node.Key();
    const int children = at(StatusRowChildCount, row);
    for (int i = 0; i < children; ++i) {
        ++row;
        NewBuild(row, key);
    }
}

void OldBuild(int16_t index, int16_t &row) {
    TreeNodes nodes = treeNodes();
    TreeNode node = nodes.Item(index);
    node.setText(at(StatusRowText, row));
    const int children = at(StatusRowChildCount, row);
    if (node.Children() == children) {
        for (TreeNode child = node.Child(); child.exists(); child = child.Next()) {
            ++row;
            OldBuild(int16_t(child.Index()), row);
        }
        return;
    }
    // Another shape: the subtree is built anew.
    while (node.Children() > 0) nodes.Remove(node.Child().Index());
    const QString key = node.Key();
    for (int i = 0; i < children; ++i) {
        ++row;
        NewBuild(row, key);
    }
}

int16_t GetKey() {
    for (int16_t n = 1; n <= 255; ++n) {
        if (!NodeKeyInUse[size_t(n)]) {
            NodeKeyInUse[size_t(n)] = true;
            return n;
        }
    }
    return 255;
}

void ResetKey() {
    std::fill(NodeKeyInUse.begin() + 1, NodeKeyInUse.end(), false);
    TreeNodes nodes = treeNodes();
    const int count = nodes.Count();
    for (int i = 1; i <= count; ++i) at(NodeKeyInUse, int(leadingNumber(nodes.Item(i).Key().mid(1)))) = true;
}

// ---- The tick's status step ----------------------------------------------------------------

bool PollTaskStatus() {
    if (!StatusPollOn || controllerLink().busy() || NoComm) return false;
    StatusReadLimit = 1;
    if (!NewStatusPacket()) readTaskBanks();

    // The window may have closed during a yield; it is not opened again.
    frmStatus *f = FormRegistry::existing<frmStatus>();
    if (!f || !f->loaded()) return TaskStatus.FaultCode == 2;

    f->Label1->setText(TaskStatus.StoppedFlag != 0 ? QStringLiteral("Controller Stopped")
                                                   : QStringLiteral("Controller Running"));
    if (TaskStatus.FaultCode != 0) {
        f->Label1->setText(QStringLiteral("Controller Software Faulted in Step ") +
                           QString::number(int64_t(TaskStatus.FaultStep) + 1) + QStringLiteral("! "));
        ShowFault(TaskStatus.FaultCode, TaskStatus.FaultData);
        if (TaskStatus.FaultCode == 2) return true;
    }

    StatusRowCount = 0;
    ChildBitLimit = int16_t(std::min<int32_t>(TaskLayout[1], 32));
    RecursiveParse(0, 0);
    if (!SymbolFilePath.isEmpty()) nameSteps();

    int16_t row = 0;
    if (f->TreeView1->Nodes().Count() == 0) NewBuild(row, QString());
    else OldBuild(1, row);
    ResetKey();
    return false;
}
