# kestrane-host.exe, the server of the host's RPC interface (rpc/KestraneHost.idl).

# `secure` acts on the write whitelist's machine keys, so the host compiles the table's own
# source (and what it logs through) rather than keeping a copy of the list.
set(KESTRANE_WHITELIST_SOURCES access/KestraneServiceWhiteList.cpp json/UtilHelper.cpp service/TypeName.cpp)
add_executable(kestrane-host host/HostMain.cpp host/RpcHost.cpp host/SessionTable.cpp host/ModuleLoader.cpp
               host/HostLog.cpp host/WindowsService.cpp host/StatusAccess.cpp rpc/ProcessAccount.cpp
               rpc/EndpointBinding.cpp host/WineEndpointMap.cpp host/MachineKeySecurity.cpp host/LogFolderSetup.cpp
               access/CallerProcessId.cpp access/LogCallerOfCall.cpp access/NtKeyCalls.cpp
               ${KESTRANE_WHITELIST_SOURCES})
kestrane_target(kestrane-host)
target_link_options(kestrane-host PRIVATE -municode)
target_link_libraries(kestrane-host PRIVATE KestraneHost_server Logging advapi32 rpcrt4 shell32 ntdll)
add_dependencies(kestrane-host KestraneService)
