// The BIOS channel against the simulated BIOS: every result text, what goes out to the
// device byte for byte, the one log line, and that the handle never outlives a request.
#include "agent/bios/acpi_channel.h"
#include "agent/state/agent_state.h"
#include "tests/bios/bios_test_support.h"
#include "tools/simbios/simbios_control.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace simbios;

const char kFailLogLine[] = "Notify_BIOS_SetOD: InitializeZVKACPIDevice Fail";
constexpr uint32_t kSentinel = 0xdeadbeef;

using Config = std::vector<std::pair<const wchar_t*, uint32_t>>;

void Configure(const Config& config) {
    for (const auto& value : config) {
        ASSERT_TRUE(SetSimBiosValue(value.first, value.second));
    }
}

// "DSTS 00050019" or "DEVS 00050019 1": what the driver saw, in a form tables can hold.
std::vector<std::string> RecordedRequests() {
    std::vector<std::string> described;
    for (const Request& request : ReadRequests()) {
        char text[64];
        if (request.method == "DEVS") {
            std::snprintf(text, sizeof text, "DEVS %08X %u", request.device, request.state);
        } else {
            std::snprintf(text, sizeof text, "%s %08X", request.method.c_str(), request.device);
        }
        described.push_back(text);
    }
    return described;
}

class AcpiChannelTest : public SimBiosTest {};

TEST_F(AcpiChannelTest, ResultTextsFollowTheDeviceAnswers) {
    const std::string readOD = "DSTS 00050019";
    const std::string readSupport = "DSTS 00050020";
    struct Case {
        const wchar_t* request;
        Config config;
        const wchar_t* expected;
        std::vector<std::string> requests;
        bool logged;
        uint32_t odStateAfter;
    } cases[] = {
        // Switching: the state is read first and "DEVS" goes out only to change it.
        {L"1", {{kSimBiosODState, 1}}, L"OD_ON Now", {readOD}, false, 1},
        {L"0", {}, L"OD_off Now", {readOD}, false, 0},
        {L"1", {}, L"OD_On Success", {readOD, "DEVS 00050019 1"}, false, 1},
        {L"0", {{kSimBiosODState, 1}}, L"OD_Off Success", {readOD, "DEVS 00050019 0"}, false, 0},
        {L"1", {{kSimBiosFailDEVS, 1}}, L"OD_On Fail", {readOD, "DEVS 00050019 1"}, false, 0},
        {L"0",
         {{kSimBiosODState, 1}, {kSimBiosFailDEVS, 1}},
         L"OD_Off Fail",
         {readOD, "DEVS 00050019 0"},
         false,
         1},
        // A "DEVS" that went through but answered other than 1.
        {L"0",
         {{kSimBiosODState, 1}, {kSimBiosDEVSAnswer, 0}},
         L"FAIL",
         {readOD, "DEVS 00050019 0"},
         true,
         1},
        {L"1", {{kSimBiosDEVSAnswer, 2}}, L"FAIL", {readOD, "DEVS 00050019 1"}, true, 0},
        // Present but neither on nor off: the answer in signed decimal.
        {L"1",
         {{kSimBiosODStatusAnswer, 0x00010002}},
         L"Fail ,ulResult = 65538",
         {readOD},
         false,
         0},
        {L"0",
         {{kSimBiosODStatusAnswer, 0x00010002}},
         L"Fail ,ulResult = 65538",
         {readOD},
         false,
         0},
        {L"1",
         {{kSimBiosODStatusAnswer, 0xFFFF0001}},
         L"Fail ,ulResult = -65535",
         {readOD},
         false,
         0},
        // No presence bit, a failed "DSTS", a reply shorter than a word.
        {L"1", {{kSimBiosODStatusAnswer, 0x00000001}}, L"FAIL", {readOD}, false, 0},
        {L"0", {{kSimBiosODState, 1}, {kSimBiosFailDSTS, 1}}, L"FAIL", {readOD}, false, 1},
        {L"1", {{kSimBiosReplyLength, 2}}, L"FAIL", {readOD}, false, 0},
        {L"0", {{kSimBiosODState, 1}, {kSimBiosReplyLength, 3}}, L"FAIL", {readOD}, false, 1},
        // Overdrive state.
        {L"4", {{kSimBiosODState, 1}}, L"1", {readOD}, false, 1},
        {L"4", {}, L"0", {readOD}, false, 0},
        {L"4",
         {{kSimBiosODStatusAnswer, 0x00010002}},
         L"Fail ,ulResult = 65538",
         {readOD},
         false,
         0},
        {L"4", {{kSimBiosODStatusAnswer, 0}}, L"FAIL", {readOD}, false, 0},
        {L"4", {{kSimBiosFailDSTS, 1}}, L"FAIL", {readOD}, false, 0},
        {L"4", {{kSimBiosODState, 1}, {kSimBiosReplyLength, 2}}, L"FAIL", {readOD}, false, 1},
        // Overdrive support.
        {L"3", {}, L"YES", {readSupport}, false, 0},
        {L"3", {{kSimBiosSupportAnswer, 0x00010000}}, L"NO", {readSupport}, false, 0},
        {L"3", {{kSimBiosSupportAnswer, 0x00010003}}, L"NO", {readSupport}, false, 0},
        {L"3", {{kSimBiosSupportAnswer, 0x00000001}}, L"FAIL", {readSupport}, false, 0},
        {L"3", {{kSimBiosFailDSTS, 1}}, L"FAIL", {readSupport}, false, 0},
        {L"3", {{kSimBiosReplyLength, 2}}, L"FAIL", {readSupport}, false, 0},
        // Unknown requests: compared whole and exactly.
        {L"5", {}, L"FAIL", {}, true, 0},
        {L"", {}, L"FAIL", {}, true, 0},
        {L"1 ", {}, L"FAIL", {}, true, 0},
        {L"01", {{kSimBiosODState, 1}}, L"FAIL", {}, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "request \"" << c.request << "\", expected \"" << c.expected << "\"");
        notebookfiles::ResetDataFolder();
        ASSERT_TRUE(ResetSimBios());
        Configure(c.config);

        EXPECT_EQ(std::wstring(c.expected), BiosAnswerText(Notify_BIOS_SetOD(c.request)));

        EXPECT_EQ(c.requests, RecordedRequests());
        EXPECT_EQ(c.odStateAfter, GetODState() ? 1u : 0u);
        EXPECT_EQ(nullptr, acpiDevice);
        EXPECT_TRUE(WaitForSimBiosOpenHandles(0));
        const std::string log = LogText();
        if (c.logged) {
            EXPECT_EQ(1, CountOccurrences(log, kFailLogLine)) << log;
            EXPECT_EQ(1, CountOccurrences(log, "\r\n")) << log;
        } else {
            EXPECT_EQ("", log);
        }
    }
}

TEST_F(AcpiChannelTest, RequestBuffersAreSentByteForByte) {
    const std::string readOD("\x44\x53\x54\x53\x04\x00\x00\x00\x19\x00\x05\x00", 12);
    const std::string switchOn("\x44\x45\x56\x53\x08\x00\x00\x00\x19\x00\x05\x00\x01\x00\x00\x00",
                               16);
    const std::string switchOff("\x44\x45\x56\x53\x08\x00\x00\x00\x19\x00\x05\x00\x00\x00\x00\x00",
                                16);
    const std::string readSupport("\x44\x53\x54\x53\x04\x00\x00\x00\x20\x00\x05\x00", 12);

    ASSERT_EQ(L"OD_On Success", BiosAnswerText(Notify_BIOS_SetOD(L"1")));
    ASSERT_EQ(L"OD_Off Success", BiosAnswerText(Notify_BIOS_SetOD(L"0")));
    ASSERT_EQ(L"YES", BiosAnswerText(Notify_BIOS_SetOD(L"3")));

    const std::vector<Request> requests = ReadRequests();
    const std::vector<std::string> expected = {readOD, switchOn, readOD, switchOff, readSupport};
    ASSERT_EQ(expected.size(), requests.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "request " << i);
        EXPECT_EQ(expected[i], requests[i].bytes);
        EXPECT_EQ(1024u, requests[i].replyRoom);
    }
}

TEST_F(AcpiChannelTest, DevsIsNeverSentToConfirmThePresentState) {
    ASSERT_EQ(L"OD_On Success", BiosAnswerText(Notify_BIOS_SetOD(L"1")));
    ASSERT_TRUE(GetODState());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(L"OD_ON Now", BiosAnswerText(Notify_BIOS_SetOD(L"1")));
    }
    ASSERT_EQ(L"OD_Off Success", BiosAnswerText(Notify_BIOS_SetOD(L"0")));
    EXPECT_EQ(L"OD_off Now", BiosAnswerText(Notify_BIOS_SetOD(L"0")));

    const std::vector<std::string> expected = {"DEVS 00050019 1", "DEVS 00050019 0"};
    std::vector<std::string> devs;
    for (const std::string& request : RecordedRequests()) {
        if (request.compare(0, 4, "DEVS") == 0) {
            devs.push_back(request);
        }
    }
    EXPECT_EQ(expected, devs);
    EXPECT_EQ(8u, ReadRequests().size()); // six reads, two switches
}

TEST_F(AcpiChannelTest, PanelIdentityNeedsTheDeviceButNoExchange) {
    struct Case {
        const wchar_t* identity;
        const wchar_t* expected;
    } cases[] = {
        {L"SDC4171", L"SDC4171"},
        {L" MS_0001 \\x", L" MS_0001 \\x"}, // handed back unchanged, blanks included
        {L"", L"FAIL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "identity \"" << c.identity << "\"");
        notebookfiles::ResetDataFolder();
        ASSERT_TRUE(ResetSimBios());
        panelIdentity = c.identity;

        EXPECT_EQ(std::wstring(c.expected), BiosAnswerText(Notify_BIOS_SetOD(L"2")));

        EXPECT_TRUE(ReadRequests().empty());
        EXPECT_EQ(nullptr, acpiDevice);
        EXPECT_EQ("", LogText()); // an empty identity fails silently
    }
}

TEST_F(AcpiChannelTest, AbsentDeviceFailsEveryRequestWithTheLogLine) {
    ASSERT_TRUE(StopSimBios());
    panelIdentity = L"SDC4171";
    const wchar_t* requests[] = {L"1", L"0", L"2", L"3", L"4", L"5"};
    int expectedLines = 0;
    for (const wchar_t* request : requests) {
        SCOPED_TRACE(testing::Message() << "request \"" << request << "\"");
        EXPECT_EQ(L"FAIL", BiosAnswerText(Notify_BIOS_SetOD(request)));
        EXPECT_EQ(INVALID_HANDLE_VALUE, acpiDevice);
        EXPECT_EQ(++expectedLines, CountOccurrences(LogText(), kFailLogLine));
    }
    ASSERT_TRUE(StartSimBios());
    EXPECT_TRUE(ReadRequests().empty());
    EXPECT_FALSE(GetODState());

    // Back again, the channel works without any reset of its own.
    EXPECT_EQ(L"OD_On Success", BiosAnswerText(Notify_BIOS_SetOD(L"1")));
    EXPECT_EQ(nullptr, acpiDevice);
}

TEST_F(AcpiChannelTest, InitializeTwiceClosesTheFirstHandle) {
    ASSERT_TRUE(InitializeZVKACPIDevice());
    const HANDLE first = acpiDevice;
    ASSERT_NE(nullptr, first);
    ASSERT_NE(INVALID_HANDLE_VALUE, first);

    ASSERT_TRUE(InitializeZVKACPIDevice());
    const HANDLE second = acpiDevice;
    ASSERT_NE(INVALID_HANDLE_VALUE, second);
    if (second != first) {
        // The same value would already prove it: a handle still open is never handed out twice.
        DWORD flags = 0;
        SetLastError(kSentinel);
        EXPECT_FALSE(GetHandleInformation(first, &flags));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    }
    EXPECT_TRUE(WaitForSimBiosOpenHandles(1)) << GetSimBiosOpenHandles() << " open";
    uint32_t answer = kSentinel;
    EXPECT_TRUE(GetDeviceStatus(kOverdriveDevice, &answer));
    EXPECT_EQ(0x00010000u, answer);

    EXPECT_TRUE(CloseZVKACPIDevice());
    EXPECT_EQ(nullptr, acpiDevice);
    EXPECT_TRUE(WaitForSimBiosOpenHandles(0));
}

TEST_F(AcpiChannelTest, RequestsLeaveNoHandleOpen) {
    // Start-up's own query can leave its handle stored when a request comes.
    const wchar_t* requests[] = {L"1", L"0", L"2", L"3", L"4", L"5"};
    panelIdentity = L"SDC4171";
    for (const wchar_t* request : requests) {
        SCOPED_TRACE(testing::Message() << "request \"" << request << "\"");
        ASSERT_TRUE(InitializeZVKACPIDevice());
        (void)Notify_BIOS_SetOD(request);
        EXPECT_EQ(nullptr, acpiDevice);
        EXPECT_TRUE(WaitForSimBiosOpenHandles(0)) << GetSimBiosOpenHandles() << " still open";
    }
}

TEST_F(AcpiChannelTest, CloseOnlyClosesAUsableHandle) {
    acpiDevice = nullptr;
    EXPECT_FALSE(CloseZVKACPIDevice());
    EXPECT_EQ(nullptr, acpiDevice);

    acpiDevice = INVALID_HANDLE_VALUE;
    EXPECT_FALSE(CloseZVKACPIDevice());
    EXPECT_EQ(INVALID_HANDLE_VALUE, acpiDevice);

    ASSERT_TRUE(InitializeZVKACPIDevice());
    EXPECT_TRUE(CloseZVKACPIDevice());
    EXPECT_EQ(nullptr, acpiDevice);
    EXPECT_FALSE(CloseZVKACPIDevice());
}

TEST_F(AcpiChannelTest, ExchangesNeedAUsableHandle) {
    const HANDLE unusable[] = {nullptr, INVALID_HANDLE_VALUE};
    for (HANDLE handle : unusable) {
        SCOPED_TRACE(testing::Message() << "handle " << handle);
        acpiDevice = handle;
        uint32_t answer = kSentinel;
        EXPECT_FALSE(GetDeviceStatus(kOverdriveDevice, &answer));
        EXPECT_EQ(kSentinel, answer);
        EXPECT_FALSE(SetDeviceState(1, &answer));
        EXPECT_EQ(kSentinel, answer);
    }
    acpiDevice = nullptr;
    EXPECT_TRUE(ReadRequests().empty());
    EXPECT_FALSE(GetODState());
}

TEST_F(AcpiChannelTest, LowerOperationsReadTheAnswerWord) {
    struct Case {
        const char* name;
        Config config;
        uint32_t device;
        bool succeeds;
        uint32_t answer;
    } cases[] = {
        {"re-enumeration default", {}, kReenumerateDevice, true, 0},
        {"re-enumeration set",
         {{kSimBiosReenumerateAnswer, 0x00010000}},
         kReenumerateDevice,
         true,
         0x00010000},
        {"two-byte reply",
         {{kSimBiosReenumerateAnswer, 0x00010000}, {kSimBiosReplyLength, 2}},
         kReenumerateDevice,
         true,
         0},
        {"empty reply",
         {{kSimBiosODState, 1}, {kSimBiosReplyLength, 0}},
         kOverdriveDevice,
         true,
         0},
        {"long reply",
         {{kSimBiosODState, 1}, {kSimBiosReplyLength, 16}},
         kOverdriveDevice,
         true,
         0x00010001},
        {"failed exchange", {{kSimBiosFailDSTS, 1}}, kOverdriveDevice, false, kSentinel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(ResetSimBios());
        Configure(c.config);
        ASSERT_TRUE(InitializeZVKACPIDevice());
        uint32_t answer = kSentinel;
        EXPECT_EQ(c.succeeds, GetDeviceStatus(c.device, &answer));
        EXPECT_EQ(c.answer, answer);
        EXPECT_TRUE(CloseZVKACPIDevice());
    }
}

TEST_F(AcpiChannelTest, SetDeviceStateTargetsTheOverdriveDevice) {
    ASSERT_TRUE(InitializeZVKACPIDevice());
    uint32_t answer = kSentinel;
    EXPECT_TRUE(SetDeviceState(1, &answer));
    EXPECT_EQ(1u, answer);
    EXPECT_TRUE(GetODState());
    ASSERT_TRUE(SetSimBiosValue(kSimBiosFailDEVS, 1));
    answer = kSentinel;
    EXPECT_FALSE(SetDeviceState(0, &answer));
    EXPECT_EQ(kSentinel, answer);
    EXPECT_TRUE(GetODState());
    EXPECT_TRUE(CloseZVKACPIDevice());

    const std::vector<std::string> expected = {"DEVS 00050019 1", "DEVS 00050019 0"};
    EXPECT_EQ(expected, RecordedRequests());
}

TEST_F(AcpiChannelTest, CallACPIMethodCopiesNoMoreThanTheRoomOrTheReply) {
    ASSERT_TRUE(SetSimBiosValue(kSimBiosODState, 1));
    ASSERT_TRUE(SetSimBiosValue(kSimBiosReplyLength, 8));
    const uint8_t device[] = {0x19, 0x00, 0x05, 0x00};
    struct Case {
        DWORD room;
        DWORD copied;
    } cases[] = {{2, 2}, {4, 4}, {16, 8}};
    ASSERT_TRUE(InitializeZVKACPIDevice());
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "room " << c.room);
        uint8_t reply[32];
        std::fill(std::begin(reply), std::end(reply), uint8_t{0xAB});
        DWORD length = c.room;
        EXPECT_TRUE(CallACPIMethod(kMethodDSTS, device, sizeof device, reply, &length));
        EXPECT_EQ(c.copied, length);
        const uint8_t word[8] = {0x01, 0x00, 0x01, 0x00, 0, 0, 0, 0};
        for (DWORD i = 0; i < c.copied; ++i) {
            EXPECT_EQ(word[i], reply[i]) << "byte " << i;
        }
        EXPECT_EQ(0xAB, reply[c.copied]) << "written past the copied bytes";
    }

    ASSERT_TRUE(SetSimBiosValue(kSimBiosFailDSTS, 1));
    uint8_t reply[4] = {0xAB, 0xAB, 0xAB, 0xAB};
    DWORD length = sizeof reply;
    EXPECT_FALSE(CallACPIMethod(kMethodDSTS, device, sizeof device, reply, &length));
    EXPECT_EQ(sizeof reply, length);
    EXPECT_EQ(0xAB, reply[0]);
    EXPECT_TRUE(CloseZVKACPIDevice());
}

} // namespace
