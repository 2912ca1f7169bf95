// A minimal host: loads KestraneService.dll as any service host would, through
// QVCreateService and the vtable only, and prints what a few requests answer.
#include <windows.h>

#include <cstdio>
#include <string>

#include "service/QVService.h"

using namespace Qv::Corvane::Server::Services;

namespace {

const char* StatusName(uint32_t status) {
    switch (status) {
    case Success: return "Success";
    case UnsupportedFunction: return "UnsupportedFunction";
    case GeneralFailure: return "GeneralFailure";
    case InvalidKeyPath: return "InvalidKeyPath";
    case OpenKeyFailed: return "OpenKeyFailed";
    case RootKeyNotFound: return "RootKeyNotFound";
    case InvalidValueName: return "InvalidValueName";
    case InvalidDataType: return "InvalidDataType";
    case InvalidWriteData: return "InvalidWriteData";
    case NotWhiteListed: return "NotWhiteListed";
    case DeleteValueFailed: return "DeleteValueFailed";
    case InvalidJson: return "InvalidJson";
    default: return "WindowsError";
    }
}

std::string Narrow(const wchar_t* text) {
    if (!text) return "(null)";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

class NoExemption : public AccessPolicy {
public:
    bool IsWhiteListExempt() override { return false; }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const wchar_t* path = argc > 1 ? argv[1] : L"KestraneService.dll";
    HMODULE module = LoadLibraryW(path);
    if (!module) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", Narrow(path).c_str(), GetLastError());
        return 2;
    }
    using Factory = QVService* (*)();
    auto factory = reinterpret_cast<Factory>(reinterpret_cast<void*>(GetProcAddress(module, "QVCreateService")));
    if (!factory) {
        std::fprintf(stderr, "QVCreateService is not exported\n");
        return 2;
    }
    QVService* service = factory();
    ClientContext* context = nullptr;
    service->CreateClientContext(L"example-host", &context);
    NoExemption policy;

    struct Request {
        int32_t id;
        const wchar_t* text;
    };
#define DEMO_KEY L"\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\QV\\\\KestraneDemo"
    const Request requests[] = {
        {0, L"{\"keyPath\":" DEMO_KEY L"\"}"},
        {2, L"{\"keyPath\":" DEMO_KEY L"\\\\Settings\"}"},
        {16, L"{\"keyPath\":" DEMO_KEY L"\",\"regKeyValueName\":\"Name\",\"requestedDataType\":1,"
             L"\"writeDataValue\":\"Kestrane\"}"},
        {16, L"{\"keyPath\":" DEMO_KEY L"\",\"regKeyValueName\":\"Home\",\"requestedDataType\":2,"
             L"\"writeDataValue\":\"%SystemRoot%\\\\Kestrane\"}"},
        {16, L"{\"keyPath\":" DEMO_KEY L"\",\"regKeyValueName\":\"Blob\",\"requestedDataType\":3,"
             L"\"writeDataValue\":\"S2VzdHJhbmU=\"}"},
        {16, L"{\"keyPath\":" DEMO_KEY L"\",\"regKeyValueName\":\"Count\",\"requestedDataType\":4,"
             L"\"writeDataValue\":-1}"},
        {16, L"{\"keyPath\":" DEMO_KEY L"\",\"regKeyValueName\":\"Tags\",\"requestedDataType\":7,"
             L"\"writeDataValue\":[\"read\",\"write\"]}"},
        {16, L"{\"keyPath\":" DEMO_KEY L"\",\"regKeyValueName\":\"Big\",\"requestedDataType\":11,"
             L"\"writeDataValue\":9223372036854775807}"},
        {4, L"{\"keyPath\":" DEMO_KEY L"\",\"regKeyValueName\":\"Home\",\"expandString\":true}"},
        {8, L"{\"keyPath\":" DEMO_KEY L"\"}"},
        {128, L"{\"keyPath\":" DEMO_KEY L"\"}"},
        {64, L"{\"keyPath\":" DEMO_KEY L"\",\"regKeyValueName\":\"Count\"}"},
        {32, L"{\"keyPath\":" DEMO_KEY L"\"}"},  // still has a subkey: refused
        {32, L"{\"keyPath\":" DEMO_KEY L"\\\\Settings\"}"},
        {32, L"{\"keyPath\":" DEMO_KEY L"\"}"},  // values go with their key
        {0, L"{\"keyPath\":" DEMO_KEY L"\"}"},
        {16, L"{\"keyPath\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Microsoft\",\"regKeyValueName\":\"x\","
             L"\"requestedDataType\":4,\"writeDataValue\":1}"},  // not in the write whitelist
        {0, L"{\"keyPath\":\"HKEY_CURRENT_USER\\\\SOFTWARE\"}"},  // no RPC caller: no hive to map to
        {7, L"{}"},
        {0, L"{\"keyPath\": "},
    };
    for (const Request& request : requests) {
        wchar_t* response = nullptr;
        const uint32_t status =
            service->ExecuteCommand(context, request.id, request.text, &response, nullptr, &policy);
        std::printf("function %d\n  request:  %s\n  status:   %s (0x%08X)\n  response: %s\n\n", request.id,
                    Narrow(request.text).c_str(), StatusName(status), status, Narrow(response).c_str());
        service->FreeOutString(response);
    }
    service->ReleaseClientContext(&context);
    delete service;
    FreeLibrary(module);
    return 0;
}
