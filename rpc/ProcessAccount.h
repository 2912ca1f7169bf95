// The account a process runs as, in the system's word: the user of its token.
#pragma once

#include <windows.h>

#include <string>

namespace Kestrane::Host {

// The SID in text form ("S-1-5-18"), or empty when the token cannot be read.
std::wstring ProcessAccount(HANDLE process);

}  // namespace Kestrane::Host
