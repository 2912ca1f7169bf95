# kestrane-host.exe, kestrane-cli.exe and the client library they and the tests share.
kestrane_rpc_stubs(KestraneHost ${CMAKE_CURRENT_LIST_DIR}/KestraneHost.idl)

add_executable(kestrane-host host/HostMain.cpp host/RpcHost.cpp host/SessionTable.cpp host/ModuleLoader.cpp
               host/HostLog.cpp host/WindowsService.cpp)
kestrane_target(kestrane-host)
target_link_options(kestrane-host PRIVATE -municode)
target_link_libraries(kestrane-host PRIVATE KestraneHost_server Logging advapi32)
add_dependencies(kestrane-host KestraneService)

add_library(kestrane_host_client STATIC host/HostClient.cpp)
kestrane_target(kestrane_host_client)
target_link_libraries(kestrane_host_client PUBLIC KestraneHost_client)

add_executable(kestrane-cli host/CliMain.cpp host/CliRequest.cpp host/CliOutput.cpp host/Utf8.cpp)
kestrane_target(kestrane-cli)
target_link_options(kestrane-cli PRIVATE -municode)
target_link_libraries(kestrane-cli PRIVATE kestrane_host_client)
