// The call-attributes layout that asks the RPC runtime for the client's process id.
// mingw-w64's headers stop at version 2; this is the SDK's version 3: the version 2
// fields, then the client identifier buffer.
#pragma once

#include "platform/Win32.h"

#ifdef _WIN32

#ifndef RPC_QUERY_CLIENT_PID
#define RPC_QUERY_CLIENT_PID 0x10
#endif

struct KestraneRpcCallAttributesV3W {
    unsigned int Version;
    unsigned long Flags;
    unsigned long ServerPrincipalNameBufferLength;
    unsigned short* ServerPrincipalName;
    unsigned long ClientPrincipalNameBufferLength;
    unsigned short* ClientPrincipalName;
    unsigned long AuthenticationLevel;
    unsigned long AuthenticationService;
    BOOL NullSession;
    BOOL KernelModeCaller;
    unsigned long ProtocolSequence;
    RpcCallClientLocality IsClientLocal;
    HANDLE ClientPID;
    unsigned long CallStatus;
    RpcCallType CallType;
    RPC_CALL_LOCAL_ADDRESS_V1_W* CallLocalAddress;
    unsigned short OpNum;
    UUID InterfaceUuid;
    unsigned long ClientIdentifierBufferLength;
    unsigned char* ClientIdentifier;
};
using RPC_CALL_ATTRIBUTES_V3_W = KestraneRpcCallAttributesV3W;

static_assert(sizeof(RPC_CALL_ATTRIBUTES_V3_W) == 120, "the SDK's x64 size of RPC_CALL_ATTRIBUTES_V3_W");

#endif
