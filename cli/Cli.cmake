# kestrane-cli.exe, on the client library (client/Client.cmake).
add_executable(kestrane-cli cli/CliMain.cpp cli/CliRequest.cpp cli/CliCalls.cpp cli/CliOutput.cpp cli/Utf8.cpp)
kestrane_target(kestrane-cli)
target_link_options(kestrane-cli PRIVATE -municode)
target_link_libraries(kestrane-cli PRIVATE KestraneClient crypt32)  # crypt32: REG_BINARY data in Base64
