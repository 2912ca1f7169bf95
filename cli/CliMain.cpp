// kestrane-cli: one request to kestrane-host from the command line.
//
//   kestrane-cli [--endpoint NAME] [--client-id ID] [--json] [--repeat N] COMMAND ...
//
// Without --endpoint it asks the Kestrane service, found through the endpoint mapper.
// Exit code: 0 when the module answered Success, 1 for any other answer or a request
// the host refused, 2 for a wrong command line or no host to talk to, 3 when the server
// on the endpoint runs as an account not to be trusted (nothing was sent).
#include "client/kestrane_client.hpp"
#include "cli/CliCalls.h"
#include "cli/CliOutput.h"
#include "cli/CliRequest.h"
#include "cli/Utf8.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace Kestrane::Host;
using Kestrane::Client::ClientSession;

constexpr int kSuccess = 0;
constexpr int kOtherStatus = 1;
constexpr int kUsage = 2;
constexpr int kUntrustedServer = 3;
// The Windows SDK's ERROR_SERVER_SID_MISMATCH: the library's answer to a server it does not trust.
constexpr unsigned long kServerNotTrusted = 628;

const char* const kUsageText =
    "usage: kestrane-cli [--endpoint NAME] [--client-id ID] [--json] [--repeat N] COMMAND ...\n"
    "  exists KEY                  does the key exist\n"
    "  query KEY [NAME] [--expand] one value, or all values of the key\n"
    "  subkeys KEY                 the key's subkeys\n"
    "  add KEY                     create the key\n"
    "  set KEY NAME TYPE DATA      write a value; TYPE is REG_SZ, REG_EXPAND_SZ, REG_BINARY (DATA in Base64),\n"
    "                              REG_DWORD, REG_QWORD or REG_MULTI_SZ (DATA a JSON array: '[\"a\",\"b\"]')\n"
    "  delete KEY [NAME]           delete the key (with its values), or one value\n"
    "  call ID JSON                send a raw request with function id ID\n"
    "  host-status                 sessions open and calls running in the host\n"
    "  host-stop                   stop a host started with --allow-stop\n"
    "KEY begins with HKLM, HKCU, HKCR, HKU, HKCC or the full root name, e.g. HKLM\\SOFTWARE\\QV\\Demo.\n"
    "--repeat N runs the command N times in one session and fails if any answer differs.\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "kestrane-cli: %s\n%s", problem.c_str(), kUsageText);
    return kUsage;
}

// Where the session was looked for: the named endpoint, or the service's in the endpoint map.
std::string Where(const std::wstring& endpoint) {
    return endpoint.empty() ? std::string("the endpoint map") : "endpoint '" + ToUtf8(endpoint) + "'";
}

int NotConnected(const std::wstring& endpoint, unsigned long error) {
    std::fprintf(stderr,
                 "kestrane-cli: cannot reach kestrane-host on %s (error %lu).\n"
                 "Is kestrane-host running? Start it with: kestrane-host run%s%s\n",
                 Where(endpoint).c_str(), error, endpoint.empty() ? "" : " --endpoint ", ToUtf8(endpoint).c_str());
    return kUsage;
}

int Untrusted(const std::wstring& endpoint) {
    std::fprintf(stderr,
                 "kestrane-cli: the server on %s is not the Kestrane service: it runs as an account "
                 "not trusted; nothing was sent\n",
                 Where(endpoint).c_str());
    return kUntrustedServer;
}

int HostCommand(KestraneSession* session, const std::string& command, bool json) {
    if (command == "host-stop") {
        const KestraneResult result = KestraneStopHost(session);
        if (result == KESTRANE_REFUSED && GetLastError() == ERROR_ACCESS_DENIED) {
            std::fprintf(stderr, "kestrane-cli: the host does not take stop requests (start it with --allow-stop)\n");
            return kOtherStatus;
        }
        if (result != KESTRANE_OK) return kOtherStatus;
        std::printf("host stopping\n");
        return kSuccess;
    }
    unsigned long sessions = 0;
    unsigned long calls = 0;
    const KestraneResult result = KestraneHostStatus(session, &sessions, &calls);
    if (result == KESTRANE_REFUSED && GetLastError() == ERROR_ACCESS_DENIED) {
        std::fprintf(stderr, "kestrane-cli: access denied: the host's status is for administrators and its own account\n");
        return kOtherStatus;
    }
    if (result != KESTRANE_OK) return kOtherStatus;
    // This CLI's own session is one of them.
    std::printf(json ? "{\"liveSessions\":%lu,\"callsInFlight\":%lu}\n" : "sessions open: %lu\ncalls running: %lu\n",
                sessions, calls);
    return kSuccess;
}

int Run(int argc, wchar_t** argv) {
    std::wstring endpoint;  // none: the service, found through the endpoint mapper
    std::wstring clientId = L"kestrane-cli";
    bool json = false;
    long repeat = 1;
    int i = 1;
    for (; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option.rfind(L"--", 0) != 0 || option == L"--expand") break;
        if (option == L"--json") {
            json = true;
        } else if ((option == L"--endpoint" || option == L"--client-id" || option == L"--repeat") && i + 1 < argc) {
            const std::wstring value = argv[++i];
            if (option == L"--endpoint") endpoint = value;
            if (option == L"--client-id") clientId = value;
            if (option == L"--repeat") repeat = std::wcstol(value.c_str(), nullptr, 10);
        } else {
            return Usage("unknown option '" + ToUtf8(option) + "'");
        }
    }
    if (repeat < 1) return Usage("--repeat takes a positive count");
    std::vector<std::string> words;
    for (; i < argc; ++i) words.push_back(ToUtf8(argv[i]));
    if (words.empty()) return Usage("no command given");

    const bool hostCommand = words[0] == "host-status" || words[0] == "host-stop";
    CliRequest request;
    if (hostCommand) {
        if (words.size() != 1) return Usage("'" + words[0] + "' takes no arguments");
    } else {
        request = BuildRequest(words);
        if (!request.error.empty()) return Usage(request.error);
    }

    const ClientSession session(endpoint, clientId);
    if (!session.Open() && session.OpenError() == kServerNotTrusted) return Untrusted(endpoint);
    if (!session.Open() && session.OpenError() == ERROR_TOO_MANY_SESS) {
        std::fprintf(stderr, "kestrane-cli: the host holds all the sessions it may; try again later\n");
        return kOtherStatus;
    }
    if (!session.Open()) return NotConnected(endpoint, session.OpenError());
    if (hostCommand) return HostCommand(session.get(), words[0], json);

    const ULONGLONG started = GetTickCount64();
    const CliAnswer first = RunRequest(session.get(), request);
    for (long n = 1; n < repeat && first.Delivered(); ++n) {
        const CliAnswer again = RunRequest(session.get(), request);
        if (!again.Delivered() || again.status != first.status || again.text != first.text) {
            std::fprintf(stderr, "kestrane-cli: answer %ld of %ld differs from the first\n", n + 1, repeat);
            return kOtherStatus;
        }
    }
    if (first.result == KESTRANE_UNREACHABLE) return NotConnected(endpoint, first.error);
    if (first.result == KESTRANE_INVALID_ARGUMENT) return Usage("the value cannot be written");
    if (!first.Delivered()) {
        std::fprintf(stderr, "kestrane-cli: the host refused the request (error %lu%s)\n", first.error,
                     first.error == ERROR_MESSAGE_EXCEEDS_MAX_SIZE ? ": requests are limited to 1 MiB"
                     : first.error == ERROR_INVALID_DATA         ? ": its answer was not one to take"
                                                                 : "");
        return kOtherStatus;
    }
    if (json) {
        std::printf("%s\n", first.text.c_str());
    } else {
        std::printf("status: %s\n%s\n", DescribeStatus(first.status).c_str(),
                    first.hasText ? PrettyJson(first.text).c_str() : "(no result)");
    }
    if (repeat > 1) {
        const ULONGLONG elapsed = GetTickCount64() - started;
        std::fprintf(stderr, "%ld calls in %llu ms\n", repeat, elapsed);
    }
    return first.status == 0 ? kSuccess : kOtherStatus;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int code = Run(argc, argv);
    std::fflush(stdout);
    return code;
}
