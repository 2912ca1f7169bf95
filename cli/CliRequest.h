// What a kestrane-cli command line asks for: the function id and the request text.
#pragma once

#include <string>
#include <vector>

namespace Kestrane::Host {

struct CliRequest {
    long functionId = 0;
    std::string json;   // UTF-8
    std::string error;  // non-empty: the command line was wrong, and how
};

// The words after the global options: COMMAND and its arguments.
CliRequest BuildRequest(const std::vector<std::string>& words);

// "HKLM\x" -> "HKEY_LOCAL_MACHINE\x"; other paths come back as given.
std::string ExpandRoot(const std::string& keyPath);

}  // namespace Kestrane::Host
