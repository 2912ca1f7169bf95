// The two ntdll key calls the registry API lacks, both on a handle: where it really
// leads once every link on the way was followed, and deleting exactly that key.
#pragma once

#include "platform/Win32.h"

#include <string>

// ERROR_SUCCESS and the full name (\REGISTRY\MACHINE\..., \REGISTRY\USER\<sid>\...),
// or the failure. Needs no access right on the handle.
LSTATUS QueryKeyName(HKEY key, std::basic_string<WCHAR>* name);

// Deletes the key the handle (opened with DELETE) refers to: what RegDeleteKeyW does
// after its own open, so nothing can redirect the delete once the handle was checked.
// The registry refuses a key with subkeys (ERROR_ACCESS_DENIED).
LSTATUS DeleteOpenedKey(HKEY key);
