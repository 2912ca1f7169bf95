// `secure` runs as SYSTEM where users may create folders: what a user put in the log folder's
// place (a file, a folder open to everyone) is moved aside whole, never used or deleted, and
// the folder is made afresh. Under Wine file ACLs are not enforced, but the logger's checks
// read them back, which is what decides a move.
#include "host/LogFolderSetup.h"
#include "tests/TestSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

bool WriteText(const fs::path& path, const char* text) { return static_cast<bool>(std::ofstream(path) << text); }

std::string ReadText(const fs::path& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(LogFolderSetup, WhatAUserPutInTheFoldersPlaceIsMovedAsideWhole) {
    const fs::path parent = fs::temp_directory_path() / ("KestraneLogFolder" + std::to_string(GetCurrentProcessId()));
    const fs::path folder = parent / "Kestrane";
    struct Case {
        const char* what;
        bool (*plant)(const fs::path& folder);
        const char* userFile;  // where the user's bytes are, below what was moved ("" for itself)
    };
    const Case cases[] = {
        {"a file", [](const fs::path& f) { return WriteText(f, "user's"); }, ""},
        {"a folder open to everyone",
         [](const fs::path& f) {
             return fs::create_directory(f) && WriteText(f / "kestrane.log", "user's") && KestraneTest::LetEveryoneWrite(f);
         },
         "kestrane.log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::create_directories(parent);
        ASSERT_TRUE(c.plant(folder));
        std::wstring movedTo;
        EXPECT_EQ(Kestrane::Host::SecureLogFolderMovingAside(folder.wstring(), &movedTo), 0);
        EXPECT_TRUE(fs::is_directory(folder));
        EXPECT_EQ(std::distance(fs::directory_iterator(parent), fs::directory_iterator()), 2);
        EXPECT_EQ(fs::path(movedTo).parent_path(), parent);
        EXPECT_EQ(ReadText(*c.userFile ? fs::path(movedTo) / c.userFile : fs::path(movedTo)), "user's");
        // The folder made is fit: a second run moves nothing.
        EXPECT_EQ(Kestrane::Host::SecureLogFolderMovingAside(folder.wstring(), &movedTo), 0);
        EXPECT_EQ(movedTo, L"");
        EXPECT_EQ(std::distance(fs::directory_iterator(parent), fs::directory_iterator()), 2);
        fs::remove_all(parent);
    }
}
