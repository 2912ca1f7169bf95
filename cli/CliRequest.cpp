#include "cli/CliRequest.h"

#include "cli/Utf8.h"

#include <windows.h>
#include <wincrypt.h>

#include <rapidjson/document.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace Kestrane::Host {

namespace {

struct RootAlias {
    const char* shortName;
    const char* fullName;
};
constexpr RootAlias kRoots[] = {{"HKLM", "HKEY_LOCAL_MACHINE"}, {"HKCU", "HKEY_CURRENT_USER"},
                                {"HKCR", "HKEY_CLASSES_ROOT"},  {"HKU", "HKEY_USERS"},
                                {"HKCC", "HKEY_CURRENT_CONFIG"}};

struct TypeName {
    const char* name;
    int code;
};
constexpr TypeName kTypes[] = {{"REG_SZ", 1},    {"REG_EXPAND_SZ", 2}, {"REG_BINARY", 3},
                               {"REG_DWORD", 4}, {"REG_MULTI_SZ", 7},  {"REG_QWORD", 11}};

bool SameIgnoringCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

CliRequest Failed(std::string error) {
    CliRequest request;
    request.error = std::move(error);
    return request;
}

// Reads DATA in the form the command line takes for the type, or says what is wrong with it.
std::string ReadData(CliRequest& request, const std::string& data) {
    if (request.type == REG_DWORD || request.type == REG_QWORD) {
        errno = 0;
        char* end = nullptr;
        const long long number = std::strtoll(data.c_str(), &end, 0);
        const bool fits = request.type == REG_QWORD || (number >= INT32_MIN && number <= UINT32_MAX);
        if (data.empty() || *end != '\0' || errno != 0 || !fits) return "DATA of a number type must be an integer";
        request.number = static_cast<unsigned long long>(number);
        return {};
    }
    if (request.type == REG_MULTI_SZ) {
        rapidjson::Document items;
        items.Parse(data.c_str(), data.size());
        if (items.HasParseError() || !items.IsArray()) {
            return "DATA of REG_MULTI_SZ is a JSON array of strings, for example '[\"a\",\"b\"]'";
        }
        for (const auto& item : items.GetArray()) {
            if (!item.IsString()) return "every item of REG_MULTI_SZ data must be a string";
            request.items.push_back(FromUtf8(std::string(item.GetString(), item.GetStringLength())));
        }
        for (const std::wstring& item : request.items) request.itemPointers.push_back(item.c_str());
        return {};
    }
    if (request.type == REG_BINARY) {
        DWORD size = 0;
        const DWORD length = static_cast<DWORD>(data.size());
        if (length != 0 &&
            !CryptStringToBinaryA(data.c_str(), length, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) {
            return "DATA of REG_BINARY must be Base64";
        }
        request.bytes.resize(size);
        if (size != 0) CryptStringToBinaryA(data.c_str(), length, CRYPT_STRING_BASE64, request.bytes.data(), &size,
                                            nullptr, nullptr);
        return {};
    }
    request.text = FromUtf8(data);
    return {};
}

}  // namespace

std::string ExpandRoot(const std::string& keyPath) {
    const std::size_t slash = keyPath.find('\\');
    const std::string root = keyPath.substr(0, slash);
    for (const RootAlias& alias : kRoots) {
        if (SameIgnoringCase(root, alias.shortName)) {
            return alias.fullName + (slash == std::string::npos ? std::string() : keyPath.substr(slash));
        }
    }
    return keyPath;
}

CliRequest BuildRequest(const std::vector<std::string>& words) {
    if (words.empty()) return Failed("no command given");
    const std::string& command = words[0];
    std::vector<std::string> args(words.begin() + 1, words.end());
    bool expand = false;
    if (command == "query") {
        for (auto it = args.begin(); it != args.end();) {
            if (*it == "--expand") {
                expand = true;
                it = args.erase(it);
            } else {
                ++it;
            }
        }
    }

    CliRequest request;
    request.verb = command;
    if (command == "call") {
        if (args.size() != 2) return Failed("call takes ID JSON");
        char* end = nullptr;
        request.functionId = std::strtol(args[0].c_str(), &end, 0);
        if (args[0].empty() || *end != '\0') return Failed("call: ID must be a number");
        request.json = FromUtf8(args[1]);  // sent as written, even when it is not JSON
        return request;
    }

    struct Shape {
        const char* name;
        std::size_t minArgs, maxArgs;
    };
    static const Shape kShapes[] = {{"exists", 1, 1}, {"query", 1, 2}, {"subkeys", 1, 1},
                                    {"add", 1, 1},    {"set", 4, 4},   {"delete", 1, 2}};
    const Shape* shape = nullptr;
    for (const Shape& candidate : kShapes) {
        if (command == candidate.name) shape = &candidate;
    }
    if (shape == nullptr) return Failed("unknown command '" + command + "'");
    if (args.size() < shape->minArgs || args.size() > shape->maxArgs) {
        return Failed("wrong number of arguments for '" + command + "'");
    }
    request.key = FromUtf8(ExpandRoot(args[0]));
    request.named = args.size() >= 2;
    if (request.named) request.name = FromUtf8(args[1]);
    request.expand = expand;
    if (command == "set") {
        const TypeName* type = nullptr;
        for (const TypeName& candidate : kTypes) {
            if (SameIgnoringCase(args[2], candidate.name)) type = &candidate;
        }
        if (type == nullptr) {
            return Failed("unknown TYPE '" + args[2] +
                          "' (REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_QWORD, REG_MULTI_SZ)");
        }
        request.type = static_cast<unsigned long>(type->code);
        const std::string problem = ReadData(request, args[3]);
        if (!problem.empty()) return Failed(problem);
    }
    return request;
}

KestraneValue CliRequest::Value() const {
    KestraneValue value{};
    value.type = type;
    switch (type) {
    case REG_DWORD: value.data.dword = static_cast<unsigned long>(number); break;
    case REG_QWORD: value.data.qword = number; break;
    case REG_BINARY: value.data.binary = {bytes.data(), static_cast<unsigned long>(bytes.size())}; break;
    case REG_MULTI_SZ:
        value.data.multi = {itemPointers.data(), static_cast<unsigned long>(itemPointers.size())};
        break;
    default: value.data.text = text.c_str(); break;
    }
    return value;
}

}  // namespace Kestrane::Host
