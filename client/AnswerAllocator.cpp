#include "client/AnswerAllocator.h"

#include "client/kestrane_client.h"

#include <windows.h>
#include <rpc.h>
#include <rpcndr.h>

#include <cstdlib>

namespace {

// The stubs allocate the answer text, its NUL included, from its length on the wire,
// and Wine's NDR engine asks for a little more, for its own list of blocks; nothing else
// they allocate for the client comes near it. The exact bound on the answer is checked
// once it is in (client/ApiResult.h); this one keeps a longer one from being held.
constexpr size_t kNdrBlockOverheadBytes = 64;
constexpr size_t kMaxStubBlockBytes = (KESTRANE_MAX_ANSWER_CHARS + 1) * sizeof(wchar_t) + kNdrBlockOverheadBytes;

thread_local bool t_refused = false;

}  // namespace

namespace Kestrane::Client {

bool TakeAnswerRefusal() {
    const bool refused = t_refused;
    t_refused = false;
    return refused;
}

}  // namespace Kestrane::Client

// The library's own pair: the stubs in this DLL use these, not the default pair.
extern "C" void* __RPC_USER MIDL_user_allocate(size_t size) {
    if (size > kMaxStubBlockBytes) {
        t_refused = true;
        return nullptr;
    }
    return std::malloc(size);
}

extern "C" void __RPC_USER MIDL_user_free(void* pointer) { std::free(pointer); }
