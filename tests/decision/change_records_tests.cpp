#include "agent/files/folder_watch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Builds a batch the way the platform lays it out; `pad` aligns each record to 4 bytes as
// Windows does (Wine does not).
std::vector<BYTE> Batch(const std::vector<std::pair<DWORD, std::wstring>>& records, bool pad) {
    std::vector<BYTE> bytes;
    for (size_t i = 0; i < records.size(); ++i) {
        size_t start = bytes.size();
        DWORD nameBytes = static_cast<DWORD>(records[i].second.size() * sizeof(wchar_t));
        DWORD length = 12 + nameBytes;
        if (pad) {
            length = (length + 3) & ~3u;
        }
        bytes.resize(start + length);
        DWORD next = i + 1 < records.size() ? length : 0;
        memcpy(&bytes[start], &next, 4);
        memcpy(&bytes[start + 4], &records[i].first, 4);
        memcpy(&bytes[start + 8], &nameBytes, 4);
        memcpy(&bytes[start + 12], records[i].second.data(), nameBytes);
    }
    return bytes;
}

} // namespace

TEST(ChangeRecords, EveryRecordOfABatchInOrderAlignedOrNot) {
    for (bool pad : {true, false}) {
        SCOPED_TRACE(pad ? "padded" : "unpadded");
        // Odd name lengths leave later records unaligned when nothing pads them.
        std::vector<BYTE> bytes = Batch({{FILE_ACTION_MODIFIED, L"OD_Log.txt"},
                                         {FILE_ACTION_ADDED, L"a.txt"},
                                         {FILE_ACTION_MODIFIED, L"od_result.txt"}},
                                        pad);
        std::vector<ChangeRecord> records =
            ParseChangeRecords(bytes.data(), static_cast<DWORD>(bytes.size()));
        ASSERT_EQ(records.size(), 3u);
        EXPECT_EQ(records[0].fileName, L"OD_Log.txt");
        EXPECT_EQ(records[1].action, static_cast<DWORD>(FILE_ACTION_ADDED));
        EXPECT_EQ(records[1].fileName, L"a.txt");
        EXPECT_EQ(records[2].action, static_cast<DWORD>(FILE_ACTION_MODIFIED));
        EXPECT_EQ(records[2].fileName, L"od_result.txt");
    }
}

TEST(ChangeRecords, NeverReadsPastTheBytesReturned) {
    std::vector<BYTE> bytes =
        Batch({{FILE_ACTION_MODIFIED, L"OD_Result.txt"}, {FILE_ACTION_REMOVED, L"Icon.txt"}}, true);
    struct Case {
        const char* what;
        size_t cut;
        size_t expected;
    } cases[] = {
        {"whole batch", bytes.size(), 2},
        {"second name cut short", bytes.size() - 2, 1},
        {"second header only", bytes.size() - 16, 1},
        {"first name cut short", 20, 0},
        {"less than a header", 11, 0},
        {"nothing", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A copy of exactly `cut` bytes, so reading beyond would leave the allocation.
        std::vector<BYTE> exact(bytes.begin(), bytes.begin() + static_cast<long>(c.cut));
        EXPECT_EQ(ParseChangeRecords(exact.empty() ? nullptr : exact.data(),
                                     static_cast<DWORD>(exact.size()))
                      .size(),
                  c.expected);
    }
}

TEST(ChangeRecords, ANextOffsetBeyondTheBatchEndsIt) {
    std::vector<BYTE> bytes = Batch({{FILE_ACTION_MODIFIED, L"OD_Result.txt"}}, true);
    DWORD bogus = 4096;
    memcpy(&bytes[0], &bogus, 4);
    std::vector<ChangeRecord> records =
        ParseChangeRecords(bytes.data(), static_cast<DWORD>(bytes.size()));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].fileName, L"OD_Result.txt");
}
