// UTF-8 for what the command line and the terminal carry, UTF-16 for the wire.
#pragma once

#include <string>

namespace Kestrane::Host {

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace Kestrane::Host
