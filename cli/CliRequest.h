// What a kestrane-cli command line asks for, in the typed calls' terms.
#pragma once

#include "client/kestrane_client.h"

#include <string>
#include <vector>

namespace Kestrane::Host {

struct CliRequest {
    std::string verb;  // exists, query, subkeys, add, set, delete or call
    std::wstring key;
    std::wstring name;
    bool named = false;  // NAME was given (query, delete)
    bool expand = false;
    // set: the value, whose pointers point into the storage below
    unsigned long type = 0;
    std::wstring text;
    std::vector<std::wstring> items;
    std::vector<const wchar_t*> itemPointers;
    std::vector<unsigned char> bytes;
    unsigned long long number = 0;
    // call: sent as written
    long functionId = 0;
    std::wstring json;
    std::string error;  // non-empty: the command line was wrong, and how

    KestraneValue Value() const;
};

// The words after the global options: COMMAND and its arguments.
CliRequest BuildRequest(const std::vector<std::string>& words);

// "HKLM\x" -> "HKEY_LOCAL_MACHINE\x"; other paths come back as given.
std::string ExpandRoot(const std::string& keyPath);

}  // namespace Kestrane::Host
