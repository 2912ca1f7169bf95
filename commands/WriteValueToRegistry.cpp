// JSON to registry data: the forms the value encoding produces, so whatever a read
// returned for a writable type can be written back unchanged.
#include "service/KestraneService.h"

#include "json/UtilHelper.h"

#include <cstring>

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

// A JSON string's units up to its length or its first NUL, whichever comes first.
std::size_t TextLength(const JsonValue& text) { return WideLength(text.GetString(), text.GetStringLength()); }

void AppendUnits(std::vector<BYTE>& data, const WCHAR* units, std::size_t count) {
    const std::size_t at = data.size();
    data.resize(at + count * sizeof(WCHAR));
    if (count) std::memcpy(data.data() + at, units, count * sizeof(WCHAR));
}

void AppendNul(std::vector<BYTE>& data) { data.insert(data.end(), sizeof(WCHAR), BYTE{0}); }

template <class Integer>
void AppendLittleEndian(std::vector<BYTE>& data, Integer value) {
    auto bits = static_cast<std::make_unsigned_t<Integer>>(value);
    for (std::size_t i = 0; i < sizeof(Integer); ++i, bits >>= 8) data.push_back(static_cast<BYTE>(bits & 0xFF));
}

bool IsWritableType(int32_t type) {
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
        case REG_BINARY:
        case REG_DWORD:
        case REG_MULTI_SZ:
        case REG_QWORD:
            return true;
        default:
            return false;
    }
}

// The registry bytes for a JSON value of the requested form; false when the value
// has another form. Integers must be ones the parser marked as fitting the type,
// so a fraction or 4294967295 is never narrowed into a DWORD.
bool ToRegistryData(int32_t type, const JsonValue& value, std::vector<BYTE>& data) {
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            if (!value.IsString()) return false;
            AppendUnits(data, value.GetString(), TextLength(value));
            AppendNul(data);
            return true;
        case REG_DWORD:
            if (!value.IsInt()) return false;
            AppendLittleEndian(data, value.GetInt());
            return true;
        case REG_QWORD:
            if (!value.IsInt64()) return false;
            AppendLittleEndian(data, value.GetInt64());
            return true;
        case REG_MULTI_SZ:
            if (!value.IsArray()) return false;
            for (const JsonValue& element : value.GetArray()) {
                if (!element.IsString()) return false;
                AppendUnits(data, element.GetString(), TextLength(element));
                AppendNul(data);
            }
            AppendNul(data);
            return true;
        default:
            return false;
    }
}

}  // namespace

ServiceStatus KestraneService::WriteValueToRegistry(HKEY* key, const WCHAR* keyName, int32_t type,
                                                    const JsonValue* writeDataValue, const WCHAR* clientId) {
    static const char* const kOperation = "WriteValueToRegistry";
    if (UtilHelper::NullChecker({{key, "key"}, {keyName, "keyName"}, {writeDataValue, "writeDataValue"}}, clientId))
        return GeneralFailure;
    if (!IsWritableType(type)) return InvalidDataType;

    std::vector<BYTE> data;
    if (type == REG_BINARY) {
        if (!writeDataValue->IsString()) return GeneralFailure;
        const WCHAR* text = writeDataValue->GetString();
        const DWORD units = static_cast<DWORD>(TextLength(*writeDataValue));
        DWORD size = 0;
        DWORD usedFlags = 0;
        if (!CryptStringToBinaryW(text, units, CRYPT_STRING_BASE64, nullptr, &size, nullptr, &usedFlags)) {
            LogWarning(clientId, kOperation, WIDE("%S.%S - unable to 64 base encode binary"));
            return GeneralFailure;
        }
        data.resize(size);
        // Both calls decode the same text; if the second still fails, nothing is written.
        if (!CryptStringToBinaryW(text, units, CRYPT_STRING_BASE64, data.data(), &size, nullptr, &usedFlags)) {
            LogWarning(clientId, kOperation, WIDE("%S.%S - unable to 64 base encode binary"));
            return GeneralFailure;
        }
        data.resize(size);
    } else if (!ToRegistryData(type, *writeDataValue, data)) {
        return GeneralFailure;
    }

    const LSTATUS result =
        RegSetValueExW(*key, keyName, 0, static_cast<DWORD>(type), data.data(), static_cast<DWORD>(data.size()));
    if (result != ERROR_SUCCESS) {
        WarnFailedCall(WIDE("RegSetValueEx"), result, clientId, kOperation);
        return GeneralFailure;
    }
    return Success;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
