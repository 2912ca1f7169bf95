// kestrane_client.hpp: the C API of kestrane_client.h with RAII, for C++ callers. Header
// only and inline, so it ties a caller to no particular compiler or standard library:
// library results are copied into std::wstring and std::vector and freed at once, and
// nothing throws but std::bad_alloc from the caller's own containers.
#pragma once

#include "kestrane_client.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Kestrane::Client {

// One answer of the host, its response copied out of the library's buffer.
struct Answer {
    KestraneResult result = KESTRANE_OK;
    unsigned long error = 0;  // GetLastError() behind a result other than KESTRANE_OK
    unsigned long status = KESTRANE_STATUS_GENERAL_FAILURE;
    std::wstring response;
    bool hasResponse = false;
    bool Delivered() const { return result == KESTRANE_OK; }
};

// A registry value, owning its data. type is the registry type code and selects the member.
struct Value {
    unsigned long type = REG_NONE;
    std::wstring text;                // REG_SZ, REG_EXPAND_SZ, REG_LINK
    std::uint64_t number = 0;         // REG_DWORD (its 32 bits), REG_QWORD
    std::vector<unsigned char> bytes; // REG_BINARY
    std::vector<std::wstring> items;  // REG_MULTI_SZ

    static Value String(std::wstring text, unsigned long type = REG_SZ) {
        Value value;
        value.type = type;
        value.text = std::move(text);
        return value;
    }
    static Value Dword(std::uint32_t number) { return Number(REG_DWORD, number); }
    static Value Qword(std::uint64_t number) { return Number(REG_QWORD, number); }
    static Value Binary(std::vector<unsigned char> bytes) {
        Value value;
        value.type = REG_BINARY;
        value.bytes = std::move(bytes);
        return value;
    }
    static Value Multi(std::vector<std::wstring> items) {
        Value value;
        value.type = REG_MULTI_SZ;
        value.items = std::move(items);
        return value;
    }

    // A copy of the library's value.
    static Value From(const KestraneValue& raw) {
        Value value;
        value.type = raw.type;
        switch (raw.type) {
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN: value.number = raw.data.dword; break;
        case REG_QWORD: value.number = raw.data.qword; break;
        case REG_BINARY: value.bytes.assign(raw.data.binary.bytes, raw.data.binary.bytes + raw.data.binary.size); break;
        case REG_MULTI_SZ: value.items.assign(raw.data.multi.items, raw.data.multi.items + raw.data.multi.count); break;
        default: value.text = raw.data.text; break;
        }
        return value;
    }

private:
    static Value Number(unsigned long type, std::uint64_t number) {
        Value value;
        value.type = type;
        value.number = number;
        return value;
    }
};

// What a typed call came to: the result and its error, the host's status, and the
// call's output (meaningful when Succeeded()).
template <typename T>
struct Result {
    KestraneResult result = KESTRANE_OK;
    unsigned long error = 0;
    unsigned long status = KESTRANE_STATUS_GENERAL_FAILURE;
    T value{};
    bool Succeeded() const { return result == KESTRANE_OK && status == KESTRANE_STATUS_SUCCESS; }
};

class ClientSession {
public:
    // An empty endpoint: the Kestrane service, found through the endpoint mapper.
    ClientSession(const std::wstring& endpoint, const std::wstring& clientId, unsigned long timeoutMs = 0) {
        openResult_ = KestraneOpenSession(endpoint.c_str(), clientId.c_str(), timeoutMs, &session_);
        openError_ = openResult_ == KESTRANE_OK ? 0 : GetLastError();
    }
    ~ClientSession() { KestraneCloseSession(session_); }
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    bool Open() const { return openResult_ == KESTRANE_OK; }
    KestraneResult OpenResult() const { return openResult_; }
    unsigned long OpenError() const { return openError_; }
    KestraneSession* get() const { return session_; }

    Answer Execute(long functionId, const std::wstring& request) const {
        Answer answer;
        wchar_t* response = nullptr;
        answer.result = KestraneExecute(session_, functionId, request.c_str(), &answer.status, &response);
        answer.error = answer.result == KESTRANE_OK ? 0 : GetLastError();
        if (response != nullptr) {
            answer.response = response;
            answer.hasResponse = true;
            KestraneFreeResponse(response);
        }
        return answer;
    }

    Result<bool> KeyExists(const std::wstring& keyPath) const {
        Result<bool> out;
        int exists = 0;
        Finish(out, KestraneKeyExists(session_, keyPath.c_str(), &out.status, &exists));
        out.value = exists != 0;
        return out;
    }
    Result<Value> ReadValue(const std::wstring& keyPath, const std::wstring& name, bool expand = false) const {
        Result<Value> out;
        KestraneValue* value = nullptr;
        Finish(out, KestraneReadValue(session_, keyPath.c_str(), name.c_str(), expand, &out.status, &value));
        if (value != nullptr) out.value = Value::From(*value);
        KestraneFreeValue(value);
        return out;
    }
    Result<std::vector<std::pair<std::wstring, Value>>> ReadValues(const std::wstring& keyPath,
                                                                   bool expand = false) const {
        Result<std::vector<std::pair<std::wstring, Value>>> out;
        KestraneValueList* values = nullptr;
        Finish(out, KestraneReadValues(session_, keyPath.c_str(), expand, &out.status, &values));
        for (unsigned long i = 0; values != nullptr && i < values->count; ++i) {
            out.value.emplace_back(values->items[i].name, Value::From(values->items[i].value));
        }
        KestraneFreeValueList(values);
        return out;
    }
    Result<std::vector<std::wstring>> ListSubkeys(const std::wstring& keyPath) const {
        Result<std::vector<std::wstring>> out;
        KestraneNameList* names = nullptr;
        Finish(out, KestraneListSubkeys(session_, keyPath.c_str(), &out.status, &names));
        if (names != nullptr) out.value.assign(names->names, names->names + names->count);
        KestraneFreeNameList(names);
        return out;
    }
    Result<bool> CreateKey(const std::wstring& keyPath) const {
        Result<bool> out;
        Finish(out, KestraneCreateKey(session_, keyPath.c_str(), &out.status));
        out.value = out.Succeeded();
        return out;
    }
    Result<bool> WriteValue(const std::wstring& keyPath, const std::wstring& name, const Value& value) const {
        std::vector<const wchar_t*> items;
        for (const std::wstring& item : value.items) items.push_back(item.c_str());
        KestraneValue raw{};
        raw.type = value.type;
        switch (value.type) {
        case REG_DWORD: raw.data.dword = static_cast<unsigned long>(value.number); break;
        case REG_QWORD: raw.data.qword = value.number; break;
        case REG_BINARY: raw.data.binary = {value.bytes.data(), static_cast<unsigned long>(value.bytes.size())}; break;
        case REG_MULTI_SZ: raw.data.multi = {items.data(), static_cast<unsigned long>(items.size())}; break;
        default: raw.data.text = value.text.c_str(); break;
        }
        Result<bool> out;
        Finish(out, KestraneWriteValue(session_, keyPath.c_str(), name.c_str(), &raw, &out.status));
        out.value = out.Succeeded();
        return out;
    }
    // value: false when there was no such key.
    Result<bool> DeleteKey(const std::wstring& keyPath) const {
        Result<bool> out;
        int deleted = 0;
        Finish(out, KestraneDeleteKey(session_, keyPath.c_str(), &out.status, &deleted));
        out.value = deleted != 0;
        return out;
    }
    Result<bool> DeleteValue(const std::wstring& keyPath, const std::wstring& name) const {
        Result<bool> out;
        Finish(out, KestraneDeleteValue(session_, keyPath.c_str(), name.c_str(), &out.status));
        out.value = out.Succeeded();
        return out;
    }

private:
    template <typename T>
    static void Finish(Result<T>& out, KestraneResult result) {
        out.result = result;
        out.error = result == KESTRANE_OK ? 0 : GetLastError();
    }

    KestraneSession* session_ = nullptr;
    KestraneResult openResult_ = KESTRANE_INVALID_ARGUMENT;
    unsigned long openError_ = 0;
};

}  // namespace Kestrane::Client
