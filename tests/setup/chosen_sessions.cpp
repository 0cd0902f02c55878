// A user's sessions as the test chose them, for the setup tool's test builds: Wine has one
// session and no other users. The test sets STAGEHAND_TEST_USER_SESSIONS to entries
// "<SID>:<session>,<session>..." separated by ';'; a SID not named has no session, and without
// the variable the sessions cannot be listed.
#include "setup/session.h"

#include <sddl.h>

#include <cwchar>
#include <string>

bool FindUserSessions(PSID user, std::vector<DWORD>* sessions) {
    wchar_t text[2048] = {};
    const DWORD length = GetEnvironmentVariableW(L"STAGEHAND_TEST_USER_SESSIONS", text, 2048);
    if (length == 0 || length >= 2048) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return false;
    }
    std::wstring all(text);
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(L';', start);
        if (end == std::wstring::npos) {
            end = all.size();
        }
        const std::wstring entry = all.substr(start, end - start);
        start = end + 1;
        const size_t colon = entry.find(L':');
        PSID named = nullptr;
        if (colon == std::wstring::npos ||
            !ConvertStringSidToSidW(entry.substr(0, colon).c_str(), &named)) {
            continue;
        }
        const bool same = EqualSid(named, user) != FALSE;
        LocalFree(named);
        if (!same) {
            continue;
        }
        for (const wchar_t* cursor = entry.c_str() + colon + 1;; ++cursor) {
            wchar_t* next = nullptr;
            const unsigned long session = wcstoul(cursor, &next, 10);
            if (next == cursor) {
                break;
            }
            sessions->push_back(static_cast<DWORD>(session));
            cursor = next;
            if (*cursor != L',') {
                break;
            }
        }
    }
    return true;
}
