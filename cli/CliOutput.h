// How kestrane-cli shows an answer: for people, or the raw text for scripts.
#pragma once

#include <string>

namespace Kestrane::Host {

// Indented JSON; text that is not JSON comes back as given.
std::string PrettyJson(const std::string& json);
// "Success (0x00000000)"
std::string DescribeStatus(unsigned long status);

}  // namespace Kestrane::Host
