// An in-process server of the caller-probe interface over ncalrpc, for tests that need
// the module to run while a real client process's call is being served.
#pragma once

#include "service/QVService.h"

#include <windows.h>

#include <string>

namespace KestraneTest {

// Listens from construction to destruction on an endpoint of its own. One at a time
// per process: the server routines find the service through it.
class ProbeServer {
public:
    explicit ProbeServer(Qv::Corvane::Server::Services::QVService* service);
    ~ProbeServer();
    ProbeServer(const ProbeServer&) = delete;
    ProbeServer& operator=(const ProbeServer&) = delete;

    // 0 once listening, else the first failing RPC runtime status.
    RPC_STATUS Status() const { return status_; }
    const std::wstring& Endpoint() const { return endpoint_; }

private:
    std::wstring endpoint_;
    RPC_STATUS status_ = RPC_S_OK;
    bool owner_ = false;
    bool registered_ = false;
    bool listening_ = false;
};

}  // namespace KestraneTest
