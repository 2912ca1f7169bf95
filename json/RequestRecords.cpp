#include "json/RequestRecords.h"

#include "json/JsonUtils.h"
#include "json/UtilHelper.h"
#include "logging/Logging.h"
#include "service/QVService.h"
#include "service/TypeName.h"

#include <cstring>

// Text members are NUL-terminated texts in the document's string storage. A JSON
// string may carry "\u0000": everything from the first NUL on is invisible to the
// whitelist check, to the log lines and to the registry calls alike, because all of
// them take the NUL-terminated text; so a key path is exactly its text up to the
// first NUL everywhere, and one that starts with a NUL is empty.
namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

using Qv::Corvane::Logging::LogManager;
using Qv::Corvane::Logging::LoggingData;

// A record's own name is its type's name without the namespaces.
template <class Record>
const char* RecordName() {
    const char* full = TypeName<Record>();
    const char* name = std::strrchr(full, ':');
    return name ? name + 1 : full;
}

template <class Record>
[[noreturn]] void Refuse(const char* label, ServiceStatus code, const WCHAR* clientId) {
    LogManager::GetLogger()->LogWarning(LoggingData{WIDE("%S.%S - %S cannot be null"), clientId, 0},
                                        TypeName<Record>(), RecordName<Record>(), label);
    throw static_cast<int>(code);
}

// A text member that must be present and non-empty; emptiness is the first unit only.
template <class Record>
const WCHAR* RequiredText(const JsonValue* document, const WCHAR* member, const char* label, ServiceStatus code,
                          const WCHAR* clientId) {
    const WCHAR* text = nullptr;
    if (!JsonUtils::ParseJsonValue(document, member, &text, clientId) || !text || !text[0])
        Refuse<Record>(label, code, clientId);
    return text;
}

// Every record starts with the document check and the key path. Resolution splits
// the key path in place, so the record hands out the document's own string storage
// as writable text: the document is the handler's and not const, only the accessors
// are.
template <class Record>
WCHAR* CheckedKeyPath(const JsonValue* document, const WCHAR* clientId) {
    if (UtilHelper::NullChecker({{document, "document"}}, clientId)) throw static_cast<int>(GeneralFailure);
    return const_cast<WCHAR*>(RequiredText<Record>(document, WIDE("keyPath"), "keyPath", InvalidKeyPath, clientId));
}

template <class Record>
const WCHAR* ValueName(const JsonValue* document, const char* label, const WCHAR* clientId) {
    return RequiredText<Record>(document, WIDE("regKeyValueName"), label, InvalidValueName, clientId);
}

// Optional: a missing, null or non-boolean member leaves false (JsonUtils logs why).
bool ExpandString(const JsonValue* document, const WCHAR* clientId) {
    bool expand = false;
    (void)JsonUtils::ParseJsonValue(document, WIDE("expandString"), &expand, clientId);
    return expand;
}

// REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ and REG_QWORD.
constexpr uint32_t kWritableTypeMask = 0x89E;

bool IsWritableType(int32_t type) {
    const auto bits = static_cast<uint32_t>(type);
    return bits <= 11 && ((kWritableTypeMask >> bits) & 1u) != 0;
}

}  // namespace

CheckRegistryPathJson::CheckRegistryPathJson(const JsonValue* document, const WCHAR* clientId)
    : keyPath(CheckedKeyPath<CheckRegistryPathJson>(document, clientId)) {}

ReadRegistryValueJson::ReadRegistryValueJson(const JsonValue* document, const WCHAR* clientId)
    : keyPath(CheckedKeyPath<ReadRegistryValueJson>(document, clientId)),
      regKeyValueName(ValueName<ReadRegistryValueJson>(document, "regKeyValueName", clientId)),
      expandString(ExpandString(document, clientId)) {}

ReadRegistryValuesJson::ReadRegistryValuesJson(const JsonValue* document, const WCHAR* clientId)
    : keyPath(CheckedKeyPath<ReadRegistryValuesJson>(document, clientId)),
      expandString(ExpandString(document, clientId)) {}

WriteRegistryKeyJson::WriteRegistryKeyJson(const JsonValue* document, const WCHAR* clientId)
    : keyPath(CheckedKeyPath<WriteRegistryKeyJson>(document, clientId)) {}

WriteRegistryValueJson::WriteRegistryValueJson(const JsonValue* document, const WCHAR* clientId)
    : keyPath(CheckedKeyPath<WriteRegistryValueJson>(document, clientId)),
      regKeyValueName(ValueName<WriteRegistryValueJson>(document, "regKeyValueName", clientId)),
      requestedDataType(0),
      writeDataValue(nullptr) {
    using Self = WriteRegistryValueJson;
    if (!JsonUtils::ParseJsonValue(document, WIDE("requestedDataType"), &requestedDataType, clientId) ||
        !IsWritableType(requestedDataType)) {
        // Logged before any resolution, so the whole key path as received shows.
        LogManager::GetLogger()->LogWarning(
            LoggingData{WIDE("%S.%S - data type is invalid to write to path %s"), clientId, 0}, TypeName<Self>(),
            RecordName<Self>(), keyPath);
        throw static_cast<int>(InvalidDataType);
    }
    if (!JsonUtils::GetJsonValue(document, WIDE("writeDataValue"), &writeDataValue, clientId) || !writeDataValue)
        Refuse<Self>("writeDataValue", InvalidWriteData, clientId);
}

DeleteRegistryKeyJson::DeleteRegistryKeyJson(const JsonValue* document, const WCHAR* clientId)
    : keyPath(CheckedKeyPath<DeleteRegistryKeyJson>(document, clientId)) {}

// This record's warning has always named the value's member "keyValueName".
DeleteRegistryValueJson::DeleteRegistryValueJson(const JsonValue* document, const WCHAR* clientId)
    : keyPath(CheckedKeyPath<DeleteRegistryValueJson>(document, clientId)),
      regKeyValueName(ValueName<DeleteRegistryValueJson>(document, "keyValueName", clientId)) {}

}  // namespace Qv::Corvane::Server::Services::Kestrane
