#include "rpc/RpcGuard.h"

#include <windows.h>
#include <rpc.h>

unsigned long KestraneRpcGuardedCall(void (*call)(void* context), void* context) {
    volatile unsigned long code = 0;
    /* The code is taken in the filter, not in the handler: Wine's __C_specific_handler
       lands in the handler with 0 where Windows passes the exception code. */
    RpcTryExcept {
        call(context);
    }
    RpcExcept((code = RpcExceptionCode(), EXCEPTION_EXECUTE_HANDLER)) {
    }
    RpcEndExcept
    return code;
}
