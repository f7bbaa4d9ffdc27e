#include "transfer/registerupload.h"

#include <algorithm>
#include <array>

#include "core/globals.h"
#include "core/registerfile.h"

namespace {

// Reads that fail one after another without an answer before the
// controller counts as gone.
constexpr int UnansweredInARow = 3;

// The highest register of the controller's map.
constexpr int32_t HighestRegister = 40000;

}  // namespace

bool RegisterReads::noted(int32_t result) {
    if (result == 1) {
        unanswered_ = 0;
        return true;
    }
    OrvComm::ZQ_ERROR_INFO info{};
    const bool known = OrvComm::ZqGetErrorInfo(connection_, &info) == 1;
    failure_ = Failure{known ? info.code : 0, known ? errorInfoText(info) : QString()};
    if (known && ControllerLink::refusedByController(info.code)) {
        unanswered_ = 0;
        return false;
    }
    if (++unanswered_ >= UnansweredInARow) throw Stopped{};
    return false;
}

bool RegisterReads::get(int32_t reg, int32_t &value) {
    return noted(OrvComm::ZqGetRegister(connection_, reg, &value));
}

bool RegisterReads::get16(int32_t first, int32_t *values) {
    return noted(OrvComm::ZqGetRegister16(connection_, first, values));
}

bool RegisterReads::getV(OrvComm::ZQ_VREGISTER &record) {
    return noted(OrvComm::ZqGetVRegister(connection_, &record));
}

void RegisterReads::block50(int32_t block, int &retries) {
    std::array<int32_t, 51> values{};
    retried(retries, [&] { return noted(OrvComm::ZqGetRegister50(connection_, block, values.data())); });
    for (int32_t i = 1; i <= 50; ++i) file.writeValueAsText(50 * (block - 1) + i, values[size_t(i - 1)]);
}

void RegisterReads::singly(int32_t first, int32_t last, const std::function<void(int32_t)> &done) {
    for (int32_t reg = first; reg <= last; ++reg) {
        int32_t value = 0;
        if (get(reg, value)) file.writeValueAsNumber(reg, value);
        else file.writeFailedRead(reg);
        done(reg);
    }
}

void RegisterReads::bank(int32_t base, const std::function<void(int32_t)> &done) {
    std::array<int32_t, 16> values{};
    for (int32_t group = 0; group <= 62; ++group) {
        // The last group of a bank runs past it; where that would pass the
        // highest register, the group ends at it instead.
        const int32_t first = std::min(base + 1 + 16 * group, HighestRegister - 15);
        int retries = 0;
        retried(retries, [&] { return get16(first, values.data()); });
        for (int32_t position = 16 * group + 1; position <= std::min(16 * group + 16, 1000); ++position) {
            const int32_t reg = base + position;
            file.writeValueAsText(reg, values[size_t(reg - first)]);
        }
        done(std::min(16 * (group + 1), 1000));
    }
}

RegisterUploadEnd RunRegisterUpload(TransferShow show, int32_t connection, RegisterFileWriter &file,
                                    const std::function<void(RegisterReads &)> &plan) {
    RegisterReads reads(connection, file);
    show.meter = &reads.meter;
    RegisterUploadEnd end;
    RunTransferCall(show, [&] {
        try {
            plan(reads);
            end.complete = true;
        } catch (const RegisterReads::Stopped &) {
            end.stopped = true;
        } catch (const RegisterReads::GaveUp &) {
        }
        return 1;
    });
    // Read on the window thread, which alone changes where the link goes.
    if (const auto &f = reads.failure()) end.reason = controllerLink().describe(f->code, f->text);
    return end;
}
