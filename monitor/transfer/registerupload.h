// Reading a controller's registers into a register file, off the window
// thread: the plan of reads runs on a worker thread (RunTransferCall) while
// the window shows its progress, and the lines it writes are gathered by the
// RegisterFileWriter, which reaches the disk only when the caller says where.
//
// A controller that stops answering ends the upload after three reads in a
// row that got no answer; a read the controller refuses (an illegal or
// out-of-range register) is an answer, and counts only as a failed read.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/orvcomm_binding.h"
#include "transfer/transferrun.h"

class RegisterFileWriter;

// The reads of a plan, on the worker thread. Each returns True when the
// read succeeded.
class RegisterReads {
public:
    RegisterReads(int32_t connection, RegisterFileWriter &file) : file(file), connection_(connection) {}

    bool get(int32_t reg, int32_t &value);
    bool getV(OrvComm::ZQ_VREGISTER &record);
    // Reads again while `read` fails; gives up when `retries` passes 3.
    template <class Read> void retried(int &retries, Read read) {
        while (!read())
            if (++retries > 3) throw GaveUp{};
    }
    // The library's error of the last failed read, if any (code 0 and no
    // text when the library could not tell).
    struct Failure {
        int32_t code = 0;
        QString text;
    };
    const std::optional<Failure> &failure() const { return failure_; }

    // Block `block` of 50 registers (1: registers 1 to 50) into the file,
    // read again on the count `retries`, which the caller may share between
    // blocks.
    void block50(int32_t block, int &retries);
    // Registers first to last one at a time into the file, "*" where a read
    // fails; `done` is told each register read.
    void singly(int32_t first, int32_t last, const std::function<void(int32_t reg)> &done);
    // The bank of 1000 non-volatile registers after `base` into the file,
    // in groups of 16 (each read again up to 3 times); `done` is told how
    // many of the bank's registers are read.
    void bank(int32_t base, const std::function<void(int32_t registersDone)> &done);

    RegisterFileWriter &file;
    TransferMeter meter;

    struct GaveUp {};
    struct Stopped {};

private:
    bool noted(int32_t result);
    bool get16(int32_t first, int32_t *values);

    int32_t connection_;
    int unanswered_ = 0;
    std::optional<Failure> failure_;
};

// How a register upload ended.
struct RegisterUploadEnd {
    bool complete = false;  // the plan ran to its end
    bool stopped = false;   // three reads in a row got no answer
    QString reason;         // why the last failed read failed, and where the link goes
};

// Runs the plan on a worker thread, the progress shown as `show` says (with
// the plan's meter), and tells how it ended. What the plan wrote is in
// `file`, not yet on the disk.
RegisterUploadEnd RunRegisterUpload(TransferShow show, int32_t connection, RegisterFileWriter &file,
                                    const std::function<void(RegisterReads &)> &plan);
