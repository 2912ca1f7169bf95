#include "cli/CliRequest.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cctype>
#include <cerrno>
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

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void Member(Writer& writer, const char* name, const std::string& text) {
    writer.Key(name);
    writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
}

CliRequest Failed(std::string error) {
    CliRequest request;
    request.error = std::move(error);
    return request;
}

// Writes DATA in the form the module takes for the type, or says what is wrong with it.
std::string WriteData(Writer& writer, int type, const std::string& data) {
    writer.Key("writeDataValue");
    if (type == 4 || type == 11) {
        errno = 0;
        char* end = nullptr;
        const long long number = std::strtoll(data.c_str(), &end, 0);
        if (data.empty() || *end != '\0' || errno != 0) return "DATA of a number type must be an integer";
        writer.Int64(number);
        return {};
    }
    if (type == 7) {
        rapidjson::Document items;
        items.Parse(data.c_str(), data.size());
        if (items.HasParseError() || !items.IsArray()) {
            return "DATA of REG_MULTI_SZ is a JSON array of strings, for example '[\"a\",\"b\"]'";
        }
        for (const auto& item : items.GetArray()) {
            if (!item.IsString()) return "every item of REG_MULTI_SZ data must be a string";
        }
        items.Accept(writer);
        return {};
    }
    writer.String(data.c_str(), static_cast<rapidjson::SizeType>(data.size()));  // text, or Base64 for binary
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
    if (command == "call") {
        if (args.size() != 2) return Failed("call takes ID JSON");
        char* end = nullptr;
        request.functionId = std::strtol(args[0].c_str(), &end, 0);
        if (args[0].empty() || *end != '\0') return Failed("call: ID must be a number");
        request.json = args[1];  // sent as written, even when it is not JSON
        return request;
    }

    struct Shape {
        const char* name;
        std::size_t minArgs, maxArgs;
        long id, idWithName;
    };
    static const Shape kShapes[] = {{"exists", 1, 1, 0, 0},  {"query", 1, 2, 8, 4},    {"subkeys", 1, 1, 128, 128},
                                    {"add", 1, 1, 2, 2},     {"set", 4, 4, 16, 16},    {"delete", 1, 2, 32, 64}};
    const Shape* shape = nullptr;
    for (const Shape& candidate : kShapes) {
        if (command == candidate.name) shape = &candidate;
    }
    if (shape == nullptr) return Failed("unknown command '" + command + "'");
    if (args.size() < shape->minArgs || args.size() > shape->maxArgs) {
        return Failed("wrong number of arguments for '" + command + "'");
    }
    const bool named = args.size() >= 2;
    request.functionId = named ? shape->idWithName : shape->id;

    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    Member(writer, "keyPath", ExpandRoot(args[0]));
    if (named) Member(writer, "regKeyValueName", args[1]);
    if (command == "query") {
        writer.Key("expandString");
        writer.Bool(expand);
    }
    if (command == "set") {
        const TypeName* type = nullptr;
        for (const TypeName& candidate : kTypes) {
            if (SameIgnoringCase(args[2], candidate.name)) type = &candidate;
        }
        if (type == nullptr) {
            return Failed("unknown TYPE '" + args[2] +
                          "' (REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_QWORD, REG_MULTI_SZ)");
        }
        writer.Key("requestedDataType");
        writer.Int(type->code);
        const std::string problem = WriteData(writer, type->code, args[3]);
        if (!problem.empty()) return Failed(problem);
    }
    writer.EndObject();
    request.json = buffer.GetString();
    return request;
}

}  // namespace Kestrane::Host
