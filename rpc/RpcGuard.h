// A client's way to make an RPC call from C++ without the process dying on a
// communication failure.
//
// The generated client stubs report failures (no server, broken connection, a fault in
// the server) by raising a structured exception. mingw g++ has no __try, so a C++
// caller cannot catch them; this function, compiled with clang's SEH support, can.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Runs call(context) and answers 0, or the code of the exception it raised (an RPC
// status such as RPC_S_SERVER_UNAVAILABLE). Whether g++ runs destructors in frames a
// structured exception unwinds is not something to rely on, so call should only
// forward to the stub and keep its objects outside.
unsigned long KestraneRpcGuardedCall(void (*call)(void* context), void* context);

#ifdef __cplusplus
}

// The same for any callable, for C++ callers.
template <typename Call>
unsigned long KestraneRpcGuarded(Call&& call) {
    return KestraneRpcGuardedCall([](void* context) { (*static_cast<Call*>(context))(); }, &call);
}
#endif
