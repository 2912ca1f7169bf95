// The benchmark cases: for each command a request and the registry calls that command
// makes for it, on the same keys, so the two can be timed side by side.
#pragma once

#include "platform/Win32.h"
#include "service/QVService.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace KestraneBench {

using WText = std::basic_string<WCHAR>;
namespace Svc = Qv::Corvane::Server::Services;

struct Case {
    std::string name;        // row label, also the marker of a traced call
    int32_t functionId;
    WText request;           // the UTF-16 JSON the module is given
    bool currentUser;        // HKEY_CURRENT_USER: must run while an RPC call is served
    std::size_t count;       // values or subkeys of the key, for the listing cases
    // The least the command's work costs: its registry calls, nothing else.
    void (*raw)(const Case&);
    WText subKey;            // below HKEY_LOCAL_MACHINE, or below the caller's hive
    WText valueName;
    bool inCall = false;     // served inside an RPC call although below HKEY_LOCAL_MACHINE
    bool hostNamesCaller = false;  // in that call, the client named to the log as kestrane-host does
};

// The listing cases come in these sizes; `largest` leaves out the bigger ones.
std::vector<Case> MakeCases(std::size_t largest);

// Creates (and fills) every key the cases read; false when the registry refused.
bool CreateKeys(std::size_t largest);
void DeleteKeys();

// One module call (on one client context for the whole run); false when the status was not Success.
bool RunModule(Svc::QVService* service, const Case& c);

// The raw sequence of an id 4 read: open, (the name check,) size the value, read it, close.
void ReadOneValue(HKEY root, const WText& subKey, const WText& valueName, bool checkName);

// Creates the key at path with `values` short REG_SZ values (none: one named "Text")
// and `subKeys` empty subkeys.
LSTATUS CreateWithValues(HKEY root, const WText& path, std::size_t values, std::size_t subKeys);
void DeleteTree(HKEY root, const WText& path);

// HKEY_USERS\<SID of process pid>, the caller's hive as the module finds it; with
// checkCaller, only when the served call's client is that process's user.
HKEY OpenHiveOfProcess(DWORD pid, REGSAM access, bool checkCaller = false);

}  // namespace KestraneBench
