# KestraneClient.dll: the host's RPC interface behind a plain C API (client/kestrane_client.h),
# with its import library KestraneClient.lib, for applications and for kestrane-cli.
add_library(KestraneClient SHARED client/ClientApi.cpp client/ClientSession.cpp client/PoolCall.cpp
            client/AnswerAllocator.cpp client/Base64.cpp client/RequestWriter.cpp client/AnswerReader.cpp
            client/TypedCalls.cpp
            rpc/ServerIdentity.cpp rpc/ProcessAccount.cpp rpc/EndpointBinding.cpp)
kestrane_target(KestraneClient)
target_compile_definitions(KestraneClient PRIVATE KESTRANE_CLIENT_BUILD)
target_link_libraries(KestraneClient PRIVATE KestraneHost_client)
target_include_directories(KestraneClient INTERFACE ${CMAKE_SOURCE_DIR}/client)
set_target_properties(KestraneClient PROPERTIES PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".lib")
