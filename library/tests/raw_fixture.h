// The fixture for library tests over raw Ethernet: the test's own network
// namespace with the veth pair of raw_net.h, the emulator's raw server on
// emu0 and connections opened by the real library on zq0. Tests skip where
// namespaces or raw sockets are not permitted.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "controller.h"
#include "orvcomm.h"
#include "raw_net.h"
#include "raw_server.h"

namespace orvtest {

class RawEthernetTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = EnterPrivateNetwork();
        if (!why.empty()) GTEST_SKIP() << "raw-Ethernet tests skipped: " << why;
        ASSERT_TRUE(AddVethPair(lib_, emu_)) << "cannot make the veth pair zq0/emu0";
        server_ = orvemu::RawServer::start(controller_, emu_.name);
        ASSERT_TRUE(server_) << "emulator cannot serve " << emu_.name << ": " << std::strerror(errno);
        ready_ = true;
    }

    void TearDown() override {
        if (!ready_) return;
        for (std::int32_t id : opened_) ZqCloseConnection(id);
        ZqSetAdapter(-1);
        ZqUnload();
        server_.reset();
    }

    // A reply time-out that only a hang reaches: a test that wants one to
    // run out sets a short one of its own.
    static constexpr std::int32_t kAnswerTimeout = 10000;

    // A raw-Ethernet connection from our node to the controller's node; 0
    // if the open failed.
    std::int32_t Open(std::uint16_t ownNode = 32001, std::uint16_t controllerNode = 7,
                      std::int32_t timeoutMs = kAnswerTimeout) {
        const std::int32_t id = ZqOpenConnection(ZQ_TYPE_RAW_ETHERNET, ownNode, controllerNode);
        if (id != 0) {
            opened_.push_back(id);
            ZqSetConnectionTimeout(id, timeoutMs);
        }
        return id;
    }

    static ZQ_ERROR_INFO Error(std::int32_t id) {
        ZQ_ERROR_INFO info{};
        ZqGetErrorInfo(id, &info);
        return info;
    }

    // Reads one register with ZqSendData and the reply test of a register
    // read (L = 7, code 0x0A).
    static bool ReadRegister(std::int32_t id, std::uint16_t n, std::int32_t &value) {
        std::uint8_t request[7] = {0x01, 0x05, 0x09, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), 0,
                                   0xFF};
        request[5] = orvemu::checksum(std::span<const std::uint8_t>(request + 2, 3));
        std::uint8_t reply[1536] = {};
        if (!ZqSendData(id, ZQ_PACKET_CLASS_REQUEST, request, sizeof request, reply)) return false;
        if (reply[0] != 7 || reply[1] != 0x0A) return false;
        value = static_cast<std::int32_t>(orvemu::u32(reply + 2));
        return true;
    }

    VethEnd lib_ = LibraryEnd();
    VethEnd emu_ = EmulatorEnd();
    orvemu::Controller controller_;
    std::unique_ptr<orvemu::RawServer> server_;
    std::vector<std::int32_t> opened_;
    bool ready_ = false;
};

}  // namespace orvtest
