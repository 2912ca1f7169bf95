// Runs a kestrane-cli request through the library's typed calls (call: the raw one),
// and gives the answer in the JSON form the host writes it, for people and scripts.
#pragma once

#include "cli/CliRequest.h"
#include "client/kestrane_client.h"

#include <string>

namespace Kestrane::Host {

struct CliAnswer {
    KestraneResult result = KESTRANE_OK;
    unsigned long error = 0;  // GetLastError() behind a result other than KESTRANE_OK
    unsigned long status = KESTRANE_STATUS_GENERAL_FAILURE;
    bool hasText = false;
    std::string text;  // UTF-8 JSON
    bool Delivered() const { return result == KESTRANE_OK; }
};

CliAnswer RunRequest(KestraneSession* session, const CliRequest& request);

}  // namespace Kestrane::Host
