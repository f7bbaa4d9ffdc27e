// Every command family end to end: the shared library over each real
// transport (serial, UDP, TCP and raw Ethernet) against the emulator.
#include <gtest/gtest.h>

#include "family_checks.h"
#include "link_fixture.h"
#include "raw_fixture.h"
#include "vregister_checks.h"

using namespace orvtest;

namespace {

class CommandsOver : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        if (GetParam() == Link::Serial) ZqInitConnection(id(), 19200, 0, 8, 0);
        controller().clearLog();
    }
};

}  // namespace

TEST_P(CommandsOver, Registers) { CheckRegisterFamily(id(), controller()); }
TEST_P(CommandsOver, Io) { CheckIoFamily(id(), controller()); }
TEST_P(CommandsOver, Status) { CheckStatusFamily(id(), controller()); }
TEST_P(CommandsOver, DataTable) { CheckDataTableFamily(id(), controller()); }
TEST_P(CommandsOver, VRegisters) {
    CheckVRegisterRoundTrips(id());
    CheckVRegisterFullBlocks(id());
    CheckVRegisterFullRandom(id());
}
ORV_ALL_LINKS(CommandsOver);

class CommandsOverRawEthernet : public RawEthernetTest {
protected:
    std::int32_t OpenClean() {
        const auto id = Open(32001, 7);
        controller_.clearLog();
        return id;
    }
};

TEST_F(CommandsOverRawEthernet, Registers) { CheckRegisterFamily(OpenClean(), controller_); }
TEST_F(CommandsOverRawEthernet, Io) { CheckIoFamily(OpenClean(), controller_); }
TEST_F(CommandsOverRawEthernet, Status) { CheckStatusFamily(OpenClean(), controller_); }
TEST_F(CommandsOverRawEthernet, DataTable) { CheckDataTableFamily(OpenClean(), controller_); }
TEST_F(CommandsOverRawEthernet, VRegisters) {
    const auto id = OpenClean();
    CheckVRegisterRoundTrips(id);
    CheckVRegisterFullBlocks(id);
    CheckVRegisterFullRandom(id);
}
