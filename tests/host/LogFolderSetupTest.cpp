// `secure` runs as SYSTEM where users may create folders: what a user put in the log folder's
// place (a file, a folder open to everyone) is moved aside whole, never used or deleted, and
// the folder is made afresh. Under Wine file ACLs are not enforced, but the logger's checks
// read them back, which is what decides a move.
#include "host/LogFolderSetup.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The names beside `folder` that begin with its name and ".moved-".
std::vector<std::wstring> MovedAside(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L".moved-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

bool WriteText(const std::wstring& path, const char* text) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    CloseHandle(file);
    return ok;
}

std::string ReadText(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(none)";
    char text[64];
    DWORD read = 0;
    ::ReadFile(file, text, sizeof text, &read, nullptr);
    CloseHandle(file);
    return std::string(text, read);
}

bool OpenToEveryone(const std::wstring& path) {
    EXPLICIT_ACCESS_W access = {};
    access.grfAccessPermissions = GENERIC_ALL;
    access.grfAccessMode = SET_ACCESS;
    access.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    access.Trustee.ptstrName = const_cast<wchar_t*>(L"Everyone");
    PACL dacl = nullptr;
    if (SetEntriesInAclW(1, &access, nullptr, &dacl) != ERROR_SUCCESS) return false;
    const DWORD result = SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                               DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr);
    LocalFree(dacl);
    return result == ERROR_SUCCESS;
}

void RemoveAll(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") RemoveAll(path + L"\\" + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    if (!RemoveDirectoryW(path.c_str())) DeleteFileW(path.c_str());
}

}  // namespace

TEST(LogFolderSetup, WhatAUserPutInTheFoldersPlaceIsMovedAsideWhole) {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring folder = std::wstring(temp) + L"KestraneLogFolder" + std::to_wstring(GetCurrentProcessId());
    struct Case {
        const char* what;
        bool (*plant)(const std::wstring& folder);
        std::wstring (*content)(const std::wstring& moved);  // where the user's bytes are after the move
    };
    const Case cases[] = {
        {"a file", [](const std::wstring& f) { return WriteText(f, "user's"); },
         [](const std::wstring& moved) { return moved; }},
        {"a folder open to everyone",
         [](const std::wstring& f) {
             return CreateDirectoryW(f.c_str(), nullptr) && WriteText(f + L"\\kestrane.log", "user's") &&
                    OpenToEveryone(f);
         },
         [](const std::wstring& moved) { return moved + L"\\kestrane.log"; }},
    };
    const std::wstring parent = folder.substr(0, folder.rfind(L'\\') + 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(c.plant(folder));
        std::wstring movedTo;
        EXPECT_EQ(Kestrane::Host::SecureLogFolderMovingAside(folder, &movedTo), 0);
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
        const std::vector<std::wstring> moved = MovedAside(folder);
        ASSERT_EQ(moved.size(), 1u);
        EXPECT_EQ(movedTo, parent + moved[0]);
        EXPECT_EQ(ReadText(c.content(movedTo)), "user's");
        // The folder made is fit: a second run moves nothing.
        EXPECT_EQ(Kestrane::Host::SecureLogFolderMovingAside(folder, &movedTo), 0);
        EXPECT_EQ(movedTo, L"");
        EXPECT_EQ(MovedAside(folder).size(), 1u);
        RemoveAll(parent + moved[0]);
        RemoveAll(folder);
    }
}
