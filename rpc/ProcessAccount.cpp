#include "rpc/ProcessAccount.h"

#include <sddl.h>

#include <memory>
#include <vector>

namespace Kestrane::Host {

std::wstring ProcessAccount(HANDLE process) {
    HANDLE rawToken = nullptr;
    if (process == nullptr || !OpenProcessToken(process, TOKEN_QUERY, &rawToken)) return L"";
    const std::unique_ptr<void, decltype(&CloseHandle)> token(rawToken, &CloseHandle);
    DWORD size = 0;
    GetTokenInformation(rawToken, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(rawToken, TokenUser, buffer.data(), size, &size)) return L"";
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return L"";
    const std::unique_ptr<wchar_t, decltype(&LocalFree)> owned(text, &LocalFree);
    return text;
}

}  // namespace Kestrane::Host
