/* The allocator the generated stubs use for [out] data and that callers free with
   MIDL_user_free. It sits in a static library of its own, so a program that defines
   both functions itself keeps its own. */
#include <windows.h>
#include <rpc.h>
#include <rpcndr.h>
#include <stdlib.h>

void* __RPC_USER MIDL_user_allocate(size_t size) { return malloc(size); }

void __RPC_USER MIDL_user_free(void* pointer) { free(pointer); }
