#include "calibration/console_user.h"

#include <windows.h>
#include <vector>

#include "core/win_handles.h"

namespace ks {

ConsoleUserSidSource g_consoleUserSid = QueryConsoleUserSid;

namespace {

using GetConsoleSessionFn = DWORD(WINAPI*)();
using SidToStringFn = BOOL(WINAPI*)(PSID, LPSTR*);
using QueryUserTokenFn = BOOL(WINAPI*)(ULONG, PHANDLE);

template <class Fn>
Fn Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Terminal services are bound on first use only: the store must load where they are absent.
QueryUserTokenFn UserTokenQuery() {
    static const QueryUserTokenFn query = [] {
        HMODULE wts = LoadLibraryA("WTSAPI32.dll");
        return wts == nullptr ? nullptr : Lookup<QueryUserTokenFn>(wts, "WTSQueryUserToken");
    }();
    return query;
}

}  // namespace

std::optional<std::string> QueryConsoleUserSid() {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    HMODULE advapi = GetModuleHandleA("ADVAPI32.DLL");
    if (kernel == nullptr || advapi == nullptr) return std::nullopt;
    auto consoleSession = Lookup<GetConsoleSessionFn>(kernel, "WTSGetActiveConsoleSessionId");
    auto sidToString = Lookup<SidToStringFn>(advapi, "ConvertSidToStringSidA");
    if (consoleSession == nullptr || sidToString == nullptr) return std::nullopt;

    QueryUserTokenFn queryToken = UserTokenQuery();
    UniqueHandle token;
    if (queryToken == nullptr || !queryToken(consoleSession(), token.put()) || !token) return std::nullopt;
    UniqueHandle duplicate;
    if (!DuplicateToken(token.get(), SecurityImpersonation, duplicate.put())) return std::nullopt;

    DWORD length = 0;
    GetTokenInformation(duplicate.get(), TokenUser, nullptr, 0, &length);
    std::vector<BYTE> user(length);
    if (!GetTokenInformation(duplicate.get(), TokenUser, user.data(), length, &length)) return std::nullopt;

    LPSTR text = nullptr;
    if (!sidToString(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text) || text == nullptr) {
        return std::nullopt;
    }
    UniqueLocal textOwner(text);
    return std::string(text);
}

}  // namespace ks
