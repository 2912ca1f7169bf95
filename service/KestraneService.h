// The service object a host gets from QVCreateService, with every command handler.
#pragma once

#include "access/KestraneServiceWhiteList.h"
#include "commands/RegistryKeyInfo.h"
#include "json/Json.h"
#include "logging/Logging.h"
#include "service/QVService.h"

#include <vector>

namespace Qv::Corvane::Server::Services::Kestrane {

class ScopedKey;
class ScopedRootKey;

class KestraneService final : public QVService {
public:
    KestraneService();
    ~KestraneService() = default;

    void* DeletingDestructor(unsigned int flags) override;

    uint32_t CreateClientContext(const WCHAR* clientId, ClientContext** outContext) override;
    uint32_t ReleaseClientContext(ClientContext** context) override;
    ServiceStatus ExecuteCommand(ClientContext* context, int32_t functionId, const WCHAR* message,
                                 WCHAR** outString, ServiceCallback* callback, AccessPolicy* accessPolicy) override;

    // Command handlers, one per function id.
    ServiceStatus CheckRegistryPathExists(JsonDocument* request, JsonDocument* response, const WCHAR* clientId);
    ServiceStatus WriteRegistryKey(JsonDocument* request, JsonDocument* response, const WCHAR* clientId,
                                   AccessPolicy* accessPolicy);
    ServiceStatus ReadRegistryValue(JsonDocument* request, JsonDocument* response, const WCHAR* clientId,
                                    AccessPolicy* accessPolicy);
    ServiceStatus ReadRegistryValues(JsonDocument* request, JsonDocument* response, const WCHAR* clientId,
                                     AccessPolicy* accessPolicy);
    ServiceStatus WriteRegistryValue(JsonDocument* request, JsonDocument* response, const WCHAR* clientId,
                                     AccessPolicy* accessPolicy);
    ServiceStatus DeleteRegistryKey(JsonDocument* request, JsonDocument* response, const WCHAR* clientId,
                                    AccessPolicy* accessPolicy);
    ServiceStatus DeleteRegistryValue(JsonDocument* request, JsonDocument* response, const WCHAR* clientId,
                                      AccessPolicy* accessPolicy);
    ServiceStatus ReadRegistrySubKeys(JsonDocument* request, JsonDocument* response, const WCHAR* clientId,
                                      AccessPolicy* accessPolicy);

    // Shared steps of the read commands.
    bool GetRegistryKeyInfo(HKEY key, RegistryKeyInfo* info, const WCHAR* clientId);
    ServiceStatus EnumerateRegKeyValues(JsonDocument* response, RegistryKeyInfo* info, HKEY* key,
                                        const WCHAR* clientId, bool expandString);
    ServiceStatus EnumerateRegSubKeys(JsonDocument* response, RegistryKeyInfo* info, HKEY* key,
                                      const WCHAR* clientId);
    bool GetRegKeyName(JsonDocument* response, JsonValue* resultObj, const WCHAR* keyName, const WCHAR* clientId);

    // Registry data to JSON.
    bool GetRegKeyValue(JsonDocument* response, JsonValue* resultObj, HKEY* key, DWORD size, const WCHAR* valueName,
                        int32_t type, const WCHAR* clientId, bool expandString);
    bool WriteRegValuetoJson(JsonDocument* response, JsonValue* dataValue, const std::vector<BYTE>* value, DWORD type,
                             DWORD size, const WCHAR* clientId);
    bool StringToJsonValue(JsonDocument* document, const std::vector<BYTE>* value, JsonValue* jsonStringObject,
                           const WCHAR* clientId);
    bool MultiStringToJsonArray(JsonDocument* document, const std::vector<BYTE>* value, JsonValue* jsonArray,
                                const WCHAR* clientId);
    bool BinaryToJsonValue(JsonDocument* document, const std::vector<BYTE>* value, DWORD size, JsonValue* output,
                           const WCHAR* clientId);

    // JSON to registry data.
    ServiceStatus WriteValueToRegistry(HKEY* key, const WCHAR* keyName, int32_t type, const JsonValue* writeDataValue,
                                       const WCHAR* clientId);

private:
    // The steps the whitelist-gated commands share; each logs its own refusal.
    // `exempt` tells whether the policy exempted the call, so later checks skip too.
    bool IsAllowed(WhiteListAccessMode mode, const WCHAR* keyPath, AccessPolicy* accessPolicy,
                   const WCHAR* clientId, const char* operation, bool* exempt) const;
    // The whitelist, then the root: Success, or the refusal's status after its warning.
    ServiceStatus ResolveAllowed(WhiteListAccessMode mode, WCHAR* keyPath, WCHAR** subKey, REGSAM rootAccess,
                                 AccessPolicy* accessPolicy, const WCHAR* clientId, const char* operation,
                                 ScopedRootKey& root, bool* exempt) const;
    // After a listed path was opened or created: the key must really be where the list
    // allows, not behind a link planted below a listed key. False after its warning.
    bool IsWhereAllowed(WhiteListAccessMode mode, bool exempt, HKEY key, HKEY root, const WCHAR* clientId,
                        const char* operation) const;
    // The key a write command writes to, opened or created: by the registry's own
    // create when the policy exempts the call, else only inside the write list
    // (CreateListedKey). The registry's result; *refused after the refusal's warning.
    LSTATUS CreateForWriting(bool exempt, HKEY root, const WCHAR* keyPath, const WCHAR* subKey, REGSAM access,
                             ScopedKey& key, const WCHAR* clientId, const char* operation, bool* refused) const;
    // What every read command does first: the read whitelist, the root, the key opened for reading.
    ServiceStatus OpenForReading(WCHAR* keyPath, AccessPolicy* accessPolicy, const WCHAR* clientId,
                                 const char* operation, ScopedRootKey& root, ScopedKey& key) const;
    void WarnNoRootKey(const WCHAR* keyPath, const WCHAR* clientId, const char* operation) const;
    void WarnFailedCall(const WCHAR* function, long result, const WCHAR* clientId, const char* operation) const;

    ServiceStatus Dispatch(int32_t functionId, JsonDocument* request, JsonDocument* response, const WCHAR* clientId,
                           AccessPolicy* accessPolicy);

    template <class... Args>
    void LogInfo(const WCHAR* clientId, const char* operation, const WCHAR* format, const Args&... args) const {
        logger->LogInfo(Logging::LoggingData{format, clientId, 0}, className, operation, args...);
    }
    template <class... Args>
    void LogWarning(const WCHAR* clientId, const char* operation, const WCHAR* format, const Args&... args) const {
        logger->LogWarning(Logging::LoggingData{format, clientId, 0}, className, operation, args...);
    }
    template <class... Args>
    void LogError(const WCHAR* clientId, const char* operation, const WCHAR* format, const Args&... args) const {
        logger->LogError(Logging::LoggingData{format, clientId, 0}, className, operation, args...);
    }

    Logging::TraceLogger* logger;
    const char* className;
};

}  // namespace Qv::Corvane::Server::Services::Kestrane
