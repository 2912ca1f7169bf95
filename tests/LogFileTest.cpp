// The log on disk, through the real module: one record a line whatever clients send, the
// folder bounded by rotation under a flood from many threads, and a folder or file that
// someone else controls refused.
#include "tests/TestSupport.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#ifdef _WIN32
#include <aclapi.h>
#else
#include "platform/native/Emulation.h"

#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace KestraneTest;
using namespace Qv::Corvane::Logging;
namespace fs = std::filesystem;

namespace {

// Ways to prepare a folder or file as someone else would.
#ifdef _WIN32
// Under Wine a Unix program runs from the Z: drive, which maps to /. Wine cannot wait for
// it (the wait returns early, the exit code is not the program's): callers poll for the
// effect with Eventually.
bool RunUnix(const std::wstring& program, const std::wstring& arguments) {
    std::wstring line = program + L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const std::wstring image = L"Z:" + program;
    if (!CreateProcessW(image.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    // Wine starts a Unix program with no process handle to give, and leaves in hThread a value
    // that is not ours: closing it would close whatever handle happens to hold that number.
    if (process.hProcess == nullptr) return true;
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 250; ++i) {
        if (done()) return true;
        Sleep(20);
    }
    return false;
}

std::wstring UnixPath(const fs::path& path) {
    std::wstring text = path.native().substr(2);  // Z:\a\b is /a/b
    for (auto& c : text) c = c == L'\\' ? L'/' : c;
    return text;
}

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }
bool MakeSymlink(const fs::path& target, const fs::path& link) {
    return RunUnix(L"/bin/ln", L"-s " + UnixPath(target) + L" " + UnixPath(link)) &&
           Eventually([&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}
bool GiveToSomeoneElse(const fs::path& path) {
    return RunUnix(L"/bin/chown", L"65534 " + UnixPath(path)) && Eventually([&] {
               PSID owner = nullptr;
               PSECURITY_DESCRIPTOR descriptor = nullptr;
               if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                         nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
                   return false;
               // Wine shows a file of another Unix user as owned by ANONYMOUS LOGON.
               const bool changed = IsWellKnownSid(owner, WinAnonymousSid);
               LocalFree(descriptor);
               return changed;
           });
}
// std::filesystem under Wine follows a Unix link it is asked to remove.
void RemoveTree(const fs::path& path) {
    RunUnix(L"/bin/rm", L"-rf " + UnixPath(path));
    Eventually([&] { return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES; });
}
bool MakeHardLink(const fs::path& target, const fs::path& link) {
    return CreateHardLinkW(link.c_str(), target.c_str(), nullptr) != FALSE;
}

// Owner and DACL as the system reads them back: the owner one of SYSTEM, Administrators
// and this process's user; SYSTEM with full control; nobody else named at all.
void ExpectOnlyTheServiceHasAccess(const fs::path& path) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                    &owner, nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE buffer[256];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
    CloseHandle(token);
    const PSID self = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
    const auto trusted = [&](PSID sid) {
        return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
               EqualSid(sid, self);
    };
    EXPECT_TRUE(trusted(owner)) << path;
    ASSERT_NE(dacl, nullptr);
    bool systemFull = false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        ASSERT_EQ(static_cast<ACE_HEADER*>(ace)->AceType, ACCESS_ALLOWED_ACE_TYPE);
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        EXPECT_TRUE(trusted(sid)) << path << ": entry " << i << " names someone else";
        systemFull |= IsWellKnownSid(sid, WinLocalSystemSid) && (allowed->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS;
    }
    EXPECT_TRUE(systemFull) << path;
    LocalFree(descriptor);
}
#else
unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }
void RemoveTree(const fs::path& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}
bool MakeSymlink(const fs::path& target, const fs::path& name) { return symlink(target.c_str(), name.c_str()) == 0; }
bool GiveToSomeoneElse(const fs::path& path) { return chown(path.c_str(), 65534, 65534) == 0; }
bool MakeHardLink(const fs::path& target, const fs::path& name) { return link(target.c_str(), name.c_str()) == 0; }
void ExpectOnlyTheServiceHasAccess(const fs::path& path) {
    struct stat info;
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, geteuid());
    EXPECT_EQ(info.st_mode & 077, 0u) << path;
}
#endif

WString WidePath(const fs::path& path) { return WString(path.native().begin(), path.native().end()); }

// A folder of its own below the build folder (named after the process), removed afterwards; logging goes back to
// off (as the suite runs) when it ends.
class TestFolder {
public:
    explicit TestFolder(const std::string& name)
        : path_(fs::absolute(fs::path("logtest-" + std::to_string(counter_++) + "-" + std::to_string(CurrentProcessId()))) / name) {
        fs::create_directories(path_.parent_path());
    }
    ~TestFolder() {
        CloseLog();
        RemoveTree(path_.parent_path());
    }
    const fs::path& path() const { return path_; }
    WString Wide() const { return WidePath(path_); }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string text(fs::exists(file) ? fs::file_size(file) : 0, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

// Every line of the file, checked to begin the way a record's line begins.
std::vector<std::string> Lines(const fs::path& file) {
    static const std::regex start(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (INFO|WARN|ERROR) \d+ \d+ \[)");
    const std::string text = Read(file);
    std::vector<std::string> lines;
    EXPECT_TRUE(text.empty() || text.back() == '\n') << file << " ends inside a line";
    for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        EXPECT_TRUE(std::regex_search(lines.back().substr(0, 64), start)) << "not a record: " << lines.back();
    }
    // Characters some viewers break lines at never reach the file raw.
    for (const char* breaker : {"\r", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
        EXPECT_EQ(text.find(breaker), std::string::npos) << file;
    }
    return lines;
}

// Every line of every file in the folder, the oldest file first.
std::string AllLines(const fs::path& folder) {
    std::string all;
    for (unsigned n = kLogFilesKept; n > 0; --n) all += Read(folder / ("kestrane.log." + std::to_string(n)));
    return all + Read(folder / "kestrane.log");
}

// A plain line of about 6 KiB: kMaxFieldUnits units of U+2028, each escaped to six characters.
void LogBigLine(const std::string& marker) {
    const WString text = W(marker) + WString(kMaxFieldUnits, static_cast<WCHAR>(0x2028));
    LogManager::GetLogger()->LogInfo(text.c_str());
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

// "expandString" given, so that each request logs only what its key path causes.
std::string Request(const std::string& keyPathJson) {
    return "{\"keyPath\":\"" + keyPathJson + "\",\"expandString\":false}";
}

}  // namespace

TEST(LogFile, ForgedLinesAreImpossibleAndOrdinaryLinesKeepTheirFormat) {
    TestFolder folder("Kestrane");
    ASSERT_EQ(OpenLogFolder(folder.Wide().c_str()), LogFolderCheck::Ready);
    LoadedService service;
    LogCapture capture;
    const std::string forged = "2026-01-01T00:00:00.000Z ERROR 1 1 [admin] forged";
    // A key path with LF, CR and U+2028, a value name with CR, a client id with U+2028.
    Execute(service.get(), 128, Request("HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\x\\n" + forged));
    Execute(service.get(), 128, Request("HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\x\\r" + forged));
    Execute(service.get(), 128, Request("HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\x\\u2028" + forged));
    Execute(service.get(), 128, Request("HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\NotListed"), nullptr,
            "id\xE2\x80\xA8" + forged);
    const WString valueName = W("v\r\xF0\x9F\x98\x80" + forged);  // quoted, with a pair the line joins again
    LogManager::GetLogger()->LogWarning(
        CreateLoggingData(WIDE("%S.%S - %s unable to write json value for $s"), WIDE("c")), "JsonUtils",
        "GetRegKeyValue", valueName.c_str());
    // Every kind of argument reaches the writer as it was logged: a field past the bound
    // (cut), a null text, a number, 8-bit text that is not ASCII; and a plain null text.
    const WString longField(kMaxFieldUnits + 5, 'x');
    LogManager::GetLogger()->LogError(CreateLoggingData(WIDE("%S.%S %s %s %d %S"), WIDE("c")), "Cls", "Op",
                                      longField.c_str(), static_cast<const WCHAR*>(nullptr), -7, "caf\xE9");
    LogManager::GetLogger()->LogInfo(static_cast<const WCHAR*>(nullptr));
    // An ordinary line: a refused path, in UTF-8 in the file.
    Execute(service.get(), 128, Request("HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\NotListed-é€😀"));
    FlushLog();

    const auto lines = Lines(folder.path() / "kestrane.log");
    const auto records = capture.Records();
    ASSERT_EQ(lines.size(), records.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // The line ends with the record the sink saw: "[client] message".
        const std::string tail = "[" + records[i].clientId + "] " + records[i].message;
        EXPECT_EQ(lines[i].substr(lines[i].size() - std::min(lines[i].size(), tail.size())), tail);
    }
    EXPECT_NE(lines[lines.size() - 3].find(" (null) -7 caf\xC3\xA9"), std::string::npos) << lines[lines.size() - 3];
    EXPECT_NE(lines[lines.size() - 3].find("[cut: " + std::to_string(kMaxFieldUnits + 5) + " units]"), std::string::npos);
    // (How each field is escaped: LoggingTest.)
    EXPECT_NE(lines.back().find(
                  "[test-client] Qv::Corvane::Server::Services::Kestrane::KestraneService.ReadRegistrySubKeys - "
                  "unable to get root key from keyPath: HKEY_LOCAL_MACHINE\\SOFTWARE\\NotListed-é€😀"),
              std::string::npos)
        << lines.back();
}

TEST(LogFile, FolderStaysBoundedUnderAFloodOfRefusedRequestsFromManyThreads) {
    TestFolder folder("Kestrane");
    ASSERT_EQ(OpenLogFolder(folder.Wide().c_str()), LogFolderCheck::Ready);
    LoadedService service;
    // Each refused request logs its key path, cut to kMaxFieldUnits units that each escape
    // to six characters: about 6 KiB a line, 60 MiB in all.
    std::string path = "HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Evil\\\\";
    for (int i = 0; i < 1100; ++i) path += "\xE2\x80\xA8";  // U+2028, raw in the JSON text
    const std::string request = Request(path);
    constexpr int kThreads = 4;
    constexpr int kRequestsEach = 2500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRequestsEach; ++i) Execute(service.get(), 128, request);
        });
    }
    for (auto& thread : threads) thread.join();
    FlushLog();

    std::uintmax_t total = 0;
    std::size_t files = 0, lines = 0;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        ++files;
        EXPECT_LE(entry.file_size(), kLogFileBytes) << entry.path();
        total += entry.file_size();
        lines += Lines(entry.path()).size();
    }
    EXPECT_EQ(files, kLogFilesKept + 1u);  // the file and every older one it keeps
    EXPECT_LT(total, 64u << 20);
    EXPECT_GT(total, kLogFilesKept * (kLogFileBytes - (kLogFileBytes >> 4)));
    EXPECT_LT(lines, static_cast<std::size_t>(kThreads * kRequestsEach));  // the oldest lines are gone
    EXPECT_TRUE(fs::exists(folder.path() / ("kestrane.log." + std::to_string(kLogFilesKept))));
#ifndef _WIN32
    // Every file the log opened, rotated away or still current, is closed with the log.
    CloseLog();
    std::size_t open = 0;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = fs::read_symlink(fd.path(), error).string();
        if (!error && target.rfind(folder.path().string(), 0) == 0) ++open;
    }
    EXPECT_EQ(open, 0u);
#endif
}

// A folder renamed away under the running log and replaced by one anyone may write: the
// log goes on in the file it holds and never makes one in the new folder.
TEST(LogFile, RotationStaysInTheFolderThatWasChecked) {
    TestFolder folder("Kestrane");
    ASSERT_EQ(OpenLogFolder(folder.Wide().c_str()), LogFolderCheck::Ready);
    LogBigLine("before the swap");
    FlushLog();
    const fs::path moved = folder.path().parent_path() / "moved";
    std::error_code error;
    fs::rename(folder.path(), moved, error);
    if (error) GTEST_SKIP() << "the held folder cannot be renamed here: " << error.message();
    ASSERT_TRUE(fs::create_directory(folder.path()));
    ASSERT_TRUE(LetEveryoneWrite(folder.path()));
    // More than a file's worth, so that a rotation is due.
    const std::size_t lines = kLogFileBytes / 6000 + 100;
    for (std::size_t i = 0; i < lines; ++i) LogBigLine("after the swap");
    FlushLog();
    EXPECT_TRUE(fs::is_empty(folder.path()));
    const std::string kept = Read(moved / "kestrane.log");
    EXPECT_EQ(Count(kept, "after the swap"), lines);  // appended past the bound, none lost
    EXPECT_NE(kept.find("cannot be renamed"), std::string::npos);  // said once
    EXPECT_EQ(Count(kept, "cannot be renamed"), 1u);
    CloseLog();
    RemoveTree(moved);
}

#ifdef _WIN32
// Someone reading the log without delete sharing blocks its rename: the lines go on into the
// file, and once the reader lets go the log rotates and keeps every line.
TEST(LogFile, AReaderWithoutDeleteSharingLosesNoRecord) {
    TestFolder folder("Kestrane");
    ASSERT_EQ(OpenLogFolder(folder.Wide().c_str()), LogFolderCheck::Ready);
    LogBigLine("first");
    FlushLog();
    const fs::path file = folder.path() / "kestrane.log";
    HANDLE reader = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const std::size_t lines = kLogFileBytes / 6000 + 100;
    for (std::size_t i = 0; i < lines; ++i) LogBigLine("while read");
    FlushLog();
    EXPECT_FALSE(fs::exists(folder.path() / "kestrane.log.1"));
    CloseHandle(reader);
    LogBigLine("after the reader");
    FlushLog();
    EXPECT_TRUE(fs::exists(folder.path() / "kestrane.log.1"));
    const std::string all = AllLines(folder.path());
    EXPECT_EQ(Count(all, "while read"), lines);
    EXPECT_EQ(Count(all, "after the reader"), 1u);
    EXPECT_EQ(Count(all, "the log file is rotated again"), 1u);
}
#else
// One client's flood spends its own share of the log and its user's, nobody else's: the
// lines of another user from before and after it, of another process of the same user, and
// of the service itself stay in the folder, and summary lines count what was held back.
TEST(LogFile, AFloodSpendsOnlyItsCallersShare) {
    TestFolder folder("Kestrane");
    ASSERT_EQ(OpenLogFolder(folder.Wide().c_str()), LogFolderCheck::Ready);
    LoadedService service;
    const std::u16string attacker = u"S-1-5-21-9-9-9-1001", victim = u"S-1-5-21-9-9-9-1002";
    for (DWORD pid : {6001u, 6002u, 6003u, 6004u}) KestraneEmu::AddProcess(pid, attacker);
    KestraneEmu::SetProcessSession(6003, 2);
    KestraneEmu::AddProcess(7001, victim);
    const auto refuse = [&](DWORD pid, const std::string& keyPath) {
        KestraneEmu::SetRpcClientPid(pid);
        Execute(service.get(), 128, Request("HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\" + keyPath));
        KestraneEmu::SetRpcClientPid(0);
    };
    refuse(7001, "VictimBefore");
    // About 6 KiB a line: 7,000 would rotate the whole folder out.
    std::string flood = "Flood\\\\";
    for (int i = 0; i < 1100; ++i) flood += "\xE2\x80\xA8";
    constexpr int kFlood = 7000;
    for (int i = 0; i < kFlood; ++i) {
        if (i % 1000 == 0) LogManager::GetLogger()->LogInfo(W("service line " + std::to_string(i)).c_str());
        refuse(6001, flood);
    }
    refuse(6002, "SiblingAfter");        // the same user's other process has its own share
    for (DWORD pid : {6003u, 6004u}) {
        for (int i = 0; i < 20; ++i) refuse(pid, flood);  // together they spend the rest of the user's
    }
    refuse(6002, "SiblingHeld" + flood);
    refuse(7001, "VictimAfter");
    // A host that names the client its thread serves is believed, until it names none.
    LogCaller named{7002, 1, {}};
    for (std::size_t i = 0; i < victim.size(); ++i) named.user[i] = static_cast<WCHAR>(victim[i]);
    SetLogCallerOfThisThread(&named);
    refuse(6001, "NamedKept" + flood);
    SetLogCallerOfThisThread(nullptr);
    refuse(6001, "UnnamedHeld" + flood);
    CloseLog();

    const std::string all = AllLines(folder.path());
    EXPECT_LT(all.size(), 4 * (kCallerLogBytes + kUserLogBytes));
    for (const char* kept : {"VictimBefore", "SiblingAfter", "VictimAfter", "NamedKept"}) {
        EXPECT_EQ(Count(all, kept), 1u) << kept;
    }
    EXPECT_EQ(Count(all, "service line"), 7u);
    EXPECT_EQ(Count(all, "SiblingHeld"), 0u);
    EXPECT_EQ(Count(all, "UnnamedHeld"), 0u);
    // The flooding process's lines, written and held back, add up to its flood.
    const std::size_t written = Count(all.substr(0, all.find("SiblingAfter")), "Flood");
    EXPECT_GT(written, 0u);
    std::size_t held = 0;
    const std::regex summary(R"(client process 6001 in session 1 as S-1-5-21-9-9-9-1001: ([\d,]+) lines like)");
    for (std::sregex_iterator it(all.begin(), all.end(), summary), end; it != end; ++it) {
        held += std::stoul(std::regex_replace((*it)[1].str(), std::regex(","), ""));
    }
    EXPECT_EQ(written + held, static_cast<std::size_t>(kFlood));
    EXPECT_NE(all.find("client process 6003 in session 2 as S-1-5-21-9-9-9-1001"), std::string::npos);
    EXPECT_NE(all.find(" lines like \""), std::string::npos);
    EXPECT_NE(all.find("client user S-1-5-21-9-9-9-1001: "), std::string::npos);
    EXPECT_EQ(all.find("client user S-1-5-21-9-9-9-1002"), std::string::npos);
    for (DWORD pid : {6001u, 6002u, 6003u, 6004u, 7001u}) KestraneEmu::RemoveProcess(pid);
}
#endif

TEST(LogFile, FolderAndFileSomeoneElseControlsAreRefusedAndNeverFollowed) {
    // Made by the library: only the service's own account and administrators have access.
    {
        TestFolder folder("Kestrane");
        ASSERT_EQ(OpenLogFolder(folder.Wide().c_str()), LogFolderCheck::Ready);
        LogManager::GetLogger()->LogInfo(WIDE("a line"));
        FlushLog();
        ExpectOnlyTheServiceHasAccess(folder.path());
        ExpectOnlyTheServiceHasAccess(folder.path() / "kestrane.log");
        EXPECT_NE(Read(folder.path() / "kestrane.log").find("a line"), std::string::npos);
        // Opened again, the folder and file it made are accepted.
        EXPECT_EQ(OpenLogFolder(folder.Wide().c_str()), LogFolderCheck::Ready);
    }
    // Each way someone else could have prepared the place; the line logged afterwards
    // must land nowhere, and the target of a link must stay as it was.
    struct Prepared {
        const char* what;
        std::function<bool(const fs::path& folder, const fs::path& elsewhere)> prepare;
        LogFolderCheck expected;
    };
    const Prepared cases[] = {
        {"folder others may write", [](auto& f, auto&) { return fs::create_directory(f) && LetEveryoneWrite(f); },
         LogFolderCheck::OthersHaveAccess},
        {"folder of another owner", [](auto& f, auto&) { return fs::create_directory(f) && GiveToSomeoneElse(f); },
         LogFolderCheck::ForeignOwner},
        {"folder is a link", [](auto& f, auto& e) { return MakeSymlink(e, f); }, LogFolderCheck::Link},
        {"file is a link",
         [](auto& f, auto& e) {
             return SecureLogFolder(WidePath(f).c_str()) == LogFolderCheck::Ready &&
                    MakeSymlink(e / "victim.txt", f / "kestrane.log");
         },
         LogFolderCheck::Link},
        {"file is a hard link",
         [](auto& f, auto& e) {
             return SecureLogFolder(WidePath(f).c_str()) == LogFolderCheck::Ready &&
                    MakeHardLink(e / "victim.txt", f / "kestrane.log");
         },
         LogFolderCheck::Link},
        {"file others may write",
         [](auto& f, auto&) {
             if (SecureLogFolder(WidePath(f).c_str()) != LogFolderCheck::Ready) return false;
             std::ofstream(f / "kestrane.log", std::ios::binary) << "planted\n";
             return LetEveryoneWrite(f / "kestrane.log");
         },
         LogFolderCheck::OthersHaveAccess},
    };
    for (const Prepared& c : cases) {
        TestFolder folder("Kestrane");
        const fs::path elsewhere = folder.path().parent_path() / "elsewhere";
        fs::create_directory(elsewhere);
        std::ofstream(elsewhere / "victim.txt", std::ios::binary) << "victim\n";
        if (!c.prepare(folder.path(), elsewhere)) {
            // Changing a file's owner takes root; a machine without it cannot show this case.
            std::printf("skipped: %s (could not prepare it here)\n", c.what);
            continue;
        }
        EXPECT_EQ(OpenLogFolder(folder.Wide().c_str()), c.expected) << c.what;
        LogManager::GetLogger()->LogInfo(WIDE("must not be written"));
        FlushLog();
        EXPECT_EQ(Read(elsewhere / "victim.txt"), "victim\n") << c.what;
        EXPECT_FALSE(fs::exists(elsewhere / "kestrane.log")) << c.what;
        for (const auto& entry : fs::directory_iterator(elsewhere)) {
            EXPECT_EQ(Read(entry.path()).find("must not be written"), std::string::npos) << c.what;
        }
    }
}
