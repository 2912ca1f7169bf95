// The name the registry itself gives an open key: where a handle really leads once
// every link on the way was followed.
#pragma once

#include "platform/Win32.h"

#include <string>

// ERROR_SUCCESS and the full name (\REGISTRY\MACHINE\..., \REGISTRY\USER\<sid>\...),
// or the failure.
LSTATUS QueryKeyName(HKEY key, std::basic_string<WCHAR>* name);
