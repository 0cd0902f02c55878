// The sessions of a user, as the system account sees them: the Remote Desktop Services session
// list, and each session's user token. WTSQueryUserToken succeeds only for a caller running as
// LocalSystem with SE_TCB_NAME (WTSQueryUserToken, wtsapi32.h, in the platform's documentation),
// which is how the installer's deferred, non-impersonated actions run.
#include "setup/session.h"

#include "common/owners.h"

#include <wtsapi32.h>

#include <algorithm>

namespace {

// The token's user is a SID of at most SECURITY_MAX_SID_SIZE bytes after the header.
constexpr DWORD kTokenUserBytes = sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE;

bool SessionUserIs(DWORD session, PSID user) {
    UniqueHandle token;
    if (!WTSQueryUserToken(session, token.Put())) {
        // No user logged on there (session 0, a listener), or the caller may not ask.
        return false;
    }
    alignas(TOKEN_USER) BYTE buffer[kTokenUserBytes];
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size)) {
        return false;
    }
    return EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, user) != FALSE;
}

} // namespace

bool FindUserSessions(PSID user, std::vector<DWORD>* sessions) {
    WTS_SESSION_INFOW* listed = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &listed, &count)) {
        return false;
    }
    for (DWORD i = 0; i < count; ++i) {
        const DWORD session = listed[i].SessionId;
        if (SessionUserIs(session, user) &&
            std::find(sessions->begin(), sessions->end(), session) == sessions->end()) {
            sessions->push_back(session);
        }
    }
    WTSFreeMemory(listed);
    return true;
}
