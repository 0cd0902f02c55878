// The simulated BIOS itself, where tests elsewhere rely on it: the bounded request record
// and the device disappearing while the service is stopped.
#include "agent/bios/acpi_channel.h"
#include "tests/bios/bios_test_support.h"
#include "tools/simbios/simbios_control.h"

#include <gtest/gtest.h>

namespace {

using namespace simbios;

class SimBiosControlTest : public SimBiosTest {};

TEST_F(SimBiosControlTest, RecordKeepsTheLatestRequestsInOrder) {
    const uint32_t sent = kSimBiosRecordSlots + 44;
    ASSERT_TRUE(InitializeZVKACPIDevice());
    for (uint32_t device = 0; device < sent; ++device) {
        uint32_t answer = 0;
        ASSERT_TRUE(GetDeviceStatus(device, &answer));
    }
    ASSERT_TRUE(CloseZVKACPIDevice());

    const std::vector<Request> requests = ReadRequests();
    ASSERT_EQ(kSimBiosRecordSlots, requests.size());
    for (uint32_t i = 0; i < requests.size(); ++i) {
        ASSERT_EQ(sent - kSimBiosRecordSlots + i, requests[i].device) << "record " << i;
        ASSERT_EQ("DSTS", requests[i].method);
        ASSERT_EQ(4u, requests[i].argumentLength);
    }

    ASSERT_TRUE(ClearRequests());
    EXPECT_TRUE(ReadRequests().empty());
    EXPECT_TRUE(ReadRequests("DSTS").empty());
}

TEST_F(SimBiosControlTest, StoppedServiceRemovesTheDevice) {
    ASSERT_TRUE(CanOpenSimBiosDevice());
    ASSERT_TRUE(StopSimBios());
    EXPECT_FALSE(CanOpenSimBiosDevice());
    EXPECT_TRUE(StopSimBios()); // stopping twice is harmless
    ASSERT_TRUE(StartSimBios());
    EXPECT_TRUE(CanOpenSimBiosDevice());
    EXPECT_TRUE(StartSimBios()); // so is starting twice
}

// A standard user's process is refused the notebook's device; the double refuses the one
// process it is told of, and no other.
TEST_F(SimBiosControlTest, TheDeviceIsRefusedToTheNamedProcessOnly) {
    ASSERT_TRUE(InitializeZVKACPIDevice());
    uint32_t answer = 0;
    ASSERT_TRUE(SetSimBiosValue(kSimBiosRefuseProcessId, GetCurrentProcessId()));
    EXPECT_FALSE(GetDeviceStatus(kODPanelSupportDevice, &answer));
    EXPECT_TRUE(ReadRequests().empty());
    ASSERT_TRUE(SetSimBiosValue(kSimBiosRefuseProcessId, GetCurrentProcessId() + 4));
    EXPECT_TRUE(GetDeviceStatus(kODPanelSupportDevice, &answer));
    ASSERT_TRUE(RemoveSimBiosValue(kSimBiosRefuseProcessId));
    EXPECT_TRUE(GetDeviceStatus(kODPanelSupportDevice, &answer));
    EXPECT_EQ(2u, ReadRequests().size());
    ASSERT_TRUE(CloseZVKACPIDevice());
}

TEST_F(SimBiosControlTest, RefusedDevsKeepsTheState) {
    ASSERT_TRUE(SetSimBiosValue(kSimBiosDEVSAnswer, 0));
    ASSERT_EQ(L"FAIL", BiosAnswerText(Notify_BIOS_SetOD(L"1")));
    EXPECT_FALSE(GetODState());
    ASSERT_TRUE(RemoveSimBiosValue(kSimBiosDEVSAnswer));
    EXPECT_EQ(L"OD_On Success", BiosAnswerText(Notify_BIOS_SetOD(L"1")));
    EXPECT_TRUE(GetODState());
    EXPECT_EQ(2u, ReadRequests("DEVS").size());
}

} // namespace
