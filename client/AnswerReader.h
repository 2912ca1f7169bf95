// Reads the host's answer to a typed call into the result the caller receives. Each
// reader takes the answer only in the exact form the command gives, and builds its
// result as one block of the library's (freed by the matching KestraneFree...).
#pragma once

#include "client/kestrane_client.h"

namespace Kestrane::Client {

// Each returns false for an answer that is not the command's: text that is not JSON,
// of another shape, or beyond kMaxAnswerJsonBytes to parse (an answer's length is
// checked as it comes in, against KESTRANE_MAX_ANSWER_CHARS). Nothing is given out
// then. Running out of memory throws std::bad_alloc.

// {"result":true|false}
bool ReadFlag(const wchar_t* answer, bool* result);
// {"result":{NAME:{"dataType":N,"valueData":...}}}: exactly one value.
bool ReadOneValue(const wchar_t* answer, KestraneValue** value);
// {"result":{NAME:{...},...}}
bool ReadValueList(const wchar_t* answer, KestraneValueList** values);
// {"result":{NAME:{},...}}
bool ReadNameList(const wchar_t* answer, KestraneNameList** names);
// The answer to a request that failed: none, or any JSON object.
bool ReadFailure(const wchar_t* answer);

}  // namespace Kestrane::Client
