#include "service/KestraneService.h"

#include "access/KestraneServiceHelper.h"
#include "access/ScopedKey.h"
#include "commands/ResultMember.h"
#include "json/RequestRecords.h"
#include "json/UtilHelper.h"

namespace Qv::Corvane::Server::Services::Kestrane {

// Any key path with a known root may be probed: the answer is only whether the
// host's account can open the key for reading, so no whitelist applies.
ServiceStatus KestraneService::CheckRegistryPathExists(JsonDocument* request, JsonDocument* response,
                                                      const WCHAR* clientId) {
    static const char* const kOperation = "CheckRegistryPathExists";
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    ScopedRootKey root;
    ScopedKey key;
    try {
        CheckRegistryPathJson record(request, clientId);
        WCHAR* subKey = nullptr;
        root.Reset(KestraneServiceHelper::GetRootKey(record.keyPath, &subKey, KEY_READ, clientId));
        if (!root) {
            WarnNoRootKey(record.keyPath, clientId, kOperation);
            return RootKeyNotFound;
        }
        const LSTATUS opened = OpenKey(root.Get(), subKey, KEY_READ | KEY_WOW64_64KEY, key);
        AddResult(response, opened == ERROR_SUCCESS);
        return Success;
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
