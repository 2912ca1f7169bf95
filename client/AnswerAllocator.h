// Where the client's RPC stubs take their memory, bounded by the longest answer the
// host gives: an answer a server makes longer is refused before the library holds it.
#pragma once

namespace Kestrane::Client {

// Whether the allocator refused a block on this thread since the last call; clears it.
bool TakeAnswerRefusal();

}  // namespace Kestrane::Client
