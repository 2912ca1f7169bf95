// The Win32 calls Kestrane makes, declared for the native build with the SDK's
// signatures. platform/native/*.cpp implements them over an in-memory registry,
// an emulated RPC caller, processes, tokens and SIDs, and Base64.
#pragma once

#include "platform/native/WinTypes.h"

#include <cstddef>
#include <string>

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;
using PSID = void*;

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};
struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};
enum TOKEN_INFORMATION_CLASS { TokenUser = 1 };

using HLOCAL = void*;
using RPC_BINDING_HANDLE = void*;

// kernel32 / advapi32: errors, handles, processes, tokens, SIDs
DWORD GetLastError();
void SetLastError(DWORD error);
BOOL CloseHandle(HANDLE handle);
HLOCAL LocalFree(HLOCAL memory);
DWORD GetCurrentProcessId();
HANDLE GetCurrentThread();
HANDLE OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId);
BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId);
BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token);
BOOL OpenThreadToken(HANDLE thread, DWORD desiredAccess, BOOL openAsSelf, HANDLE* token);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, void* info, DWORD length,
                         DWORD* returnLength);
BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* stringSid);
BOOL EqualSid(PSID first, PSID second);

// advapi32: registry
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result);
LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options, REGSAM desired,
                        const void* securityAttributes, PHKEY result, LPDWORD disposition);
LSTATUS RegCloseKey(HKEY key);
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
LSTATUS RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags, LPDWORD type, void* data,
                     LPDWORD dataSize);
LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classLength, LPDWORD reserved, LPDWORD subKeys,
                         LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength,
                         LPDWORD maxValueLength, LPDWORD securityDescriptor, PFILETIME lastWriteTime);
LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize);
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPWSTR className,
                      LPDWORD classLength, PFILETIME lastWriteTime);
LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey);
LSTATUS RegDeleteKeyValueW(HKEY key, LPCWSTR subKey, LPCWSTR valueName);
LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName);

// crypt32: Base64
BOOL CryptBinaryToStringW(const BYTE* binary, DWORD binaryLength, DWORD flags, LPWSTR text, DWORD* textLength);
BOOL CryptStringToBinaryW(LPCWSTR text, DWORD textLength, DWORD flags, BYTE* binary, DWORD* binaryLength, DWORD* skip,
                          DWORD* usedFlags);

// C runtime malloc, with the emulation's "malloc" fault; blocks are released with free.
void* PlatformMalloc(std::size_t size);

// rpcrt4: the call being served on this thread
#define RPC_QUERY_CLIENT_PID 0x10
RPC_STATUS I_RpcBindingInqLocalClientPID(RPC_BINDING_HANDLE binding, ULONG* pid);
RPC_STATUS RpcImpersonateClient(RPC_BINDING_HANDLE binding);
RPC_STATUS RpcRevertToSelf();

// ntdll: the full name of the key a handle refers to (KeyNameInformation), such as
// \REGISTRY\MACHINE\SOFTWARE\QV, in the emulation's spelling of each component.
LSTATUS KestraneQueryKeyName(HKEY key, std::u16string* name);
// ntdll: NtDeleteKey on a handle opened with DELETE, as a Win32 error.
LSTATUS KestraneDeleteOpenedKey(HKEY key);
