// Checks of the register, flag/I-O/servo, status and data-table exports that
// need nothing but a usable connection ID and the emulator at its other end,
// so that they run unchanged over the in-process transport and over every
// real line. Each Check function expects a fresh emulator of model 5 (the
// default) and uses only the public header and the emulator.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "controller.h"
#include "error_info.h"
#include "orvcomm.h"

namespace orvtest {

using Bytes = std::vector<std::uint8_t>;

inline const char *const kBlank = "                                              ";

// Runs `call`, which must be refused by its range check: result 0, nothing
// sent and the connection's error left as it was.
template <typename Call>
void ExpectRefusedAtOnce(std::int32_t id, orvemu::Controller &emu, Call call, const char *what) {
    std::int32_t before = -1;
    const std::string text = ErrorText(id, &before);
    const auto sent = emu.requestCount();
    EXPECT_EQ(call(), 0) << what;
    EXPECT_EQ(emu.requestCount(), sent) << what << ": a request went out";
    std::int32_t after = -1;
    EXPECT_EQ(ErrorText(id, &after), text) << what;
    EXPECT_EQ(after, before) << what;
}

// The controller answers the next request with the short reply `code`.
void NextReplyShort(orvemu::Controller &emu, std::uint8_t code);

// A read that the controller answers with a bare acknowledgement (`read`
// makes the call): over the network 1 with the error cleared, on a serial
// line (where a late acknowledgement cannot be told from the answer) 0 with
// the reason. Either way the caller checks that its outputs were left alone.
template <typename Read> void ExpectAcknowledgedRead(std::int32_t id, orvemu::Controller &emu, Read read) {
    ZQ_CONNECTION_INFO info{};
    ZqGetConnectionInfo(id, &info);
    const bool serial = info.type == ZQ_TYPE_SERIAL;
    NextReplyShort(emu, 0x64);
    EXPECT_EQ(read(), serial ? 0 : 1);
    std::int32_t code = -1;
    EXPECT_EQ(ErrorText(id, &code), serial ? "Acknowledgement where data was due: it may answer an earlier request" : kBlank);
    EXPECT_EQ(code, serial ? 206 : 0);
}

// The families, each on a fresh emulator.
void CheckRegisterFamily(std::int32_t id, orvemu::Controller &emu);
void CheckIoFamily(std::int32_t id, orvemu::Controller &emu);
void CheckStatusFamily(std::int32_t id, orvemu::Controller &emu);
void CheckDataTableFamily(std::int32_t id, orvemu::Controller &emu);

}  // namespace orvtest
