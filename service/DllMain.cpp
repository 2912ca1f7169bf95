#ifdef _WIN32
#include <windows.h>

#include "logging/Logging.h"

// The module needs no thread notifications. Unloaded, it takes back the function it gave
// the logging library, which may outlive it (the host and the log's writer hold it too);
// a plain store, safe under the loader lock.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    if (reason == DLL_PROCESS_DETACH) Qv::Corvane::Logging::SetLogCallerSource(nullptr);
    return TRUE;
}
#endif
