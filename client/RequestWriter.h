// The request text of each typed call, written by a JSON writer: no key path, name or
// datum can change the request's shape.
#pragma once

#include "client/kestrane_client.h"

#include <string>

namespace Kestrane::Client {

// {"keyPath":...}, with "regKeyValueName" when valueName is not null and
// "expandString" when expand is not null.
std::wstring KeyRequest(const wchar_t* keyPath, const wchar_t* valueName = nullptr, const bool* expand = nullptr);

// The write of one value; false when the value's type is not one the host writes.
bool WriteRequest(const wchar_t* keyPath, const wchar_t* valueName, const KestraneValue& value,
                  std::wstring* request);

}  // namespace Kestrane::Client
