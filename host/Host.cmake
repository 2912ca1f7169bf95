# kestrane-host.exe, and kestrane-cli.exe on the client library (client/Client.cmake).
kestrane_rpc_stubs(KestraneHost ${CMAKE_CURRENT_LIST_DIR}/KestraneHost.idl)

# `secure` acts on the write whitelist's machine keys, so the host compiles the table's own
# source (and what it logs through) rather than keeping a copy of the list.
set(KESTRANE_WHITELIST_SOURCES access/KestraneServiceWhiteList.cpp json/UtilHelper.cpp service/TypeName.cpp)
add_executable(kestrane-host host/HostMain.cpp host/RpcHost.cpp host/SessionTable.cpp host/ModuleLoader.cpp
               host/HostLog.cpp host/WindowsService.cpp host/StatusAccess.cpp host/ProcessAccount.cpp
               host/EndpointBinding.cpp host/MachineKeySecurity.cpp access/CallerProcessId.cpp
               ${KESTRANE_WHITELIST_SOURCES})
kestrane_target(kestrane-host)
target_link_options(kestrane-host PRIVATE -municode)
target_link_libraries(kestrane-host PRIVATE KestraneHost_server Logging advapi32 rpcrt4 shell32)
add_dependencies(kestrane-host KestraneService)

add_executable(kestrane-cli host/CliMain.cpp host/CliRequest.cpp host/CliOutput.cpp host/Utf8.cpp)
kestrane_target(kestrane-cli)
target_link_options(kestrane-cli PRIVATE -municode)
target_link_libraries(kestrane-cli PRIVATE KestraneClient)
