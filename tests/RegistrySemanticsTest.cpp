// The registry, Base64 and error-code behaviour the module relies on. The same tests
// run natively against the emulation and under Wine against the real advapi32 and
// crypt32, so a test that passes only natively shows the emulation is wrong.
#include "TestSupport.h"

#ifndef _WIN32
#include "platform/native/Emulation.h"
#endif

#include <cstring>
#include <set>
#include <vector>

namespace {

using KestraneTest::U8;
using KestraneTest::W;
using KestraneTest::WString;

struct Key {
    HKEY h = nullptr;
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (h != nullptr) RegCloseKey(h);
    }
};

void DeleteTree(HKEY root, const WString& path) {
    Key key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, &key.h) != ERROR_SUCCESS) return;
    WCHAR name[300];
    for (;;) {
        DWORD length = 300;
        if (RegEnumKeyExW(key.h, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DeleteTree(root, path + W("\\") + name);
    }
    RegDeleteKeyW(root, path.c_str());
}

WString Text(const BYTE* data, DWORD bytes) {
    WString text(bytes / sizeof(WCHAR), 0);
    std::memcpy(&text[0], data, text.size() * sizeof(WCHAR));
    return text;
}

// Every test works in its own scratch key below HKLM and removes it afterwards.
class RegistrySemantics : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32
        KestraneEmu::ResetRegistry();
#endif
        path_ = W(std::string("SOFTWARE\\QV\\KestraneEmuTest\\") +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        DeleteTree(HKEY_LOCAL_MACHINE, path_);
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &base_.h, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(base_.h);
        base_.h = nullptr;
        DeleteTree(HKEY_LOCAL_MACHINE, path_);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, W("SOFTWARE\\QV\\KestraneEmuTest").c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, W("SOFTWARE\\QV").c_str());
    }
    void SetString(const char* name, DWORD type, const WString& text, bool countNul = true) {
        const DWORD bytes = static_cast<DWORD>((text.size() + (countNul ? 1 : 0)) * sizeof(WCHAR));
        ASSERT_EQ(RegSetValueExW(base_.h, W(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                 bytes),
                  ERROR_SUCCESS);
    }
    void SetBytes(const char* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetValueExW(base_.h, W(name).c_str(), 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }

    WString path_;
    Key base_;
};

TEST_F(RegistrySemantics, OpenAndCreateErrorCodes) {
    Key key;
    EXPECT_EQ(RegOpenKeyExW(base_.h, W("Missing").c_str(), 0, KEY_READ, &key.h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(base_.h, W("\\Lead").c_str(), 0, KEY_READ, &key.h), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCreateKeyExW(base_.h, W("\\Lead").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h, nullptr),
              ERROR_BAD_PATHNAME);

    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(base_.h, W("A\\B\\C").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    RegCloseKey(key.h);
    ASSERT_EQ(RegCreateKeyExW(base_.h, W("a\\b\\c").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(key.h);
    // Runs of backslashes and a trailing one are one separator.
    ASSERT_EQ(RegOpenKeyExW(base_.h, W("A\\\\B\\").c_str(), 0, KEY_READ, &key.h), ERROR_SUCCESS);
    RegCloseKey(key.h);

    // An empty or missing subkey is the key itself, through a new handle.
    Key same, alsoSame;
    ASSERT_EQ(RegOpenKeyExW(base_.h, W("").c_str(), 0, KEY_ALL_ACCESS, &same.h), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(base_.h, nullptr, 0, KEY_ALL_ACCESS, &alsoSame.h), ERROR_SUCCESS);
    EXPECT_NE(same.h, base_.h);
    SetString("Marker", REG_SZ, W("x"));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(same.h, W("Marker").c_str(), nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(alsoSame.h, W("Marker").c_str(), nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    // A predefined root with an empty subkey is handed back as it is.
    HKEY root = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("").c_str(), 0, KEY_READ, &root), ERROR_SUCCESS);
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);

    // Wine's limit for one key name is 256 units, on open as on create; parents made
    // before the failing component stay.
    EXPECT_EQ(RegCreateKeyExW(base_.h, WString(256, 'k').c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key.h);
    const WString tooLong(257, 'k');
    EXPECT_EQ(RegCreateKeyExW(base_.h, (W("P\\") + tooLong).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h,
                              nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(base_.h, tooLong.c_str(), 0, KEY_READ, &key.h), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(RegOpenKeyExW(base_.h, W("P").c_str(), 0, KEY_READ, &key.h), ERROR_SUCCESS);
    RegCloseKey(key.h);
    key.h = nullptr;

    // A closed handle is a bad handle.
    HKEY closed = nullptr;
    ASSERT_EQ(RegOpenKeyExW(base_.h, W("A").c_str(), 0, KEY_READ, &closed), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
}

TEST_F(RegistrySemantics, NamesAreCaseInsensitiveAndKeepTheirCase) {
    Key key;
    ASSERT_EQ(RegCreateKeyExW(base_.h, W("MixedCase").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key.h);
    ASSERT_EQ(RegOpenKeyExW(base_.h, W("MIXEDcase").c_str(), 0, KEY_READ, &key.h), ERROR_SUCCESS);
    WCHAR name[64];
    DWORD length = 64;
    ASSERT_EQ(RegEnumKeyExW(base_.h, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(U8(name), "MixedCase");
    EXPECT_EQ(length, 9u);

    SetString("ValueName", REG_SZ, W("first"));
    SetString("VALUENAME", REG_SZ, W("second"));  // the same value: its name stays as first written
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(base_.h, W("valuename").c_str(), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 14u);
    length = 64;
    ASSERT_EQ(RegEnumValueW(base_.h, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(U8(name), "ValueName");
    length = 64;
    EXPECT_EQ(RegEnumValueW(base_.h, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistrySemantics, EnumerationOrderBufferRulesAndEnd) {
    for (const char* sub : {"b", "_u", "A", "c"}) {
        Key key;
        ASSERT_EQ(RegCreateKeyExW(base_.h, W(sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h, nullptr),
                  ERROR_SUCCESS);
    }
    // Wine sorts subkeys by their lowercase names, so '_' comes before letters.
    std::vector<std::string> names;
    WCHAR name[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = 64;
        const LSTATUS status = RegEnumKeyExW(base_.h, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
            break;
        }
        names.push_back(U8(name));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"_u", "A", "b", "c"}));
    // Room for the name but not its NUL: 234, and the length is left as it was.
    DWORD length = 2;
    EXPECT_EQ(RegEnumKeyExW(base_.h, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(length, 2u);

    const DWORD number = 7;
    SetBytes("Dw", REG_DWORD, &number, sizeof number);
    SetString("Str", REG_SZ, W("text"));
    std::set<std::string> values;  // Windows enumerates values unsorted: order is not part of the contract
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 64, type = 0, size = 0;
        const LSTATUS status = RegEnumValueW(base_.h, i, name, &nameLength, nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
            break;
        }
        values.insert(U8(name) + ":" + std::to_string(type) + ":" + std::to_string(size));
    }
    EXPECT_EQ(values, (std::set<std::string>{"Dw:4:4", "Str:1:10"}));

    BYTE data[4];
    DWORD nameLength = 3, type = 0, size = sizeof data;
    DWORD index = 0;
    for (; index < 2; ++index) {  // find "Str" wherever it is
        nameLength = 64;
        RegEnumValueW(base_.h, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (U8(name) == "Str") break;
    }
    nameLength = 3;
    EXPECT_EQ(RegEnumValueW(base_.h, index, name, &nameLength, nullptr, &type, nullptr, &size), ERROR_MORE_DATA);
    EXPECT_EQ(nameLength, 3u);
    EXPECT_EQ(size, 10u);
    nameLength = 64;
    size = sizeof data;
    EXPECT_EQ(RegEnumValueW(base_.h, index, name, &nameLength, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(nameLength, 3u);
    EXPECT_EQ(size, 10u);
}

TEST_F(RegistrySemantics, QueryValueSizesAndTerminators) {
    SetString("Str", REG_SZ, W("abc"));
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(base_.h, W("Str").c_str(), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 8u);
    BYTE small[4] = {0x55, 0x55, 0x55, 0x55};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(base_.h, W("Str").c_str(), nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(small[0], 0x55);  // a buffer too small is not touched
    EXPECT_EQ(RegQueryValueExW(base_.h, W("Nope").c_str(), nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);

    // Wine counts a NUL left out of the size when one follows the data.
    SetString("NoNul", REG_SZ, W("abc"), false);
    ASSERT_EQ(RegQueryValueExW(base_.h, W("NoNul").c_str(), nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    // Data with no NUL after it is stored as given; a read adds one if there is room.
    const WCHAR raw[4] = {'a', 'b', 'c', 'Z'};
    SetBytes("Raw", REG_SZ, raw, 6);
    WCHAR out[8];
    std::memset(out, 0x55, sizeof out);
    size = sizeof out;
    ASSERT_EQ(RegQueryValueExW(base_.h, W("Raw").c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(out), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(out[3], 0);

    SetBytes("EmptyStr", REG_SZ, nullptr, 0);
    SetBytes("EmptyBin", REG_BINARY, nullptr, 0);
    for (const char* name : {"EmptyStr", "EmptyBin"}) {
        size = 99;
        ASSERT_EQ(RegQueryValueExW(base_.h, W(name).c_str(), nullptr, &type, nullptr, &size), ERROR_SUCCESS) << name;
        EXPECT_EQ(size, 0u) << name;
    }
    // Value names: up to 16383 units.
    const WString longest(16383, 'v');
    EXPECT_EQ(RegSetValueExW(base_.h, longest.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&size), 4),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(base_.h, (longest + W("v")).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&size),
                             4),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistrySemantics, GetValueExpandsUnlessAskedNotTo) {
    SetString("Exp", REG_EXPAND_SZ, W("%SystemRoot%\\x"));
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegGetValueW(base_.h, nullptr, W("Exp").c_str(), RRF_RT_ANY, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 26u);
    BYTE data[128];
    size = sizeof data;
    ASSERT_EQ(RegGetValueW(base_.h, nullptr, W("Exp").c_str(), RRF_RT_ANY, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(U8(Text(data, size).c_str()), "C:\\windows\\x");
    EXPECT_EQ(size, 26u);
    // Too small for the expansion: 234, the size needed, REG_SZ. (Wine writes up to
    // size *characters* here, so the real buffer is kept larger than the size given.)
    size = 10;
    EXPECT_EQ(RegGetValueW(base_.h, nullptr, W("Exp").c_str(), RRF_RT_ANY, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 26u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    size = sizeof data;
    ASSERT_EQ(RegGetValueW(base_.h, nullptr, W("Exp").c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(size, 30u);
    EXPECT_EQ(U8(Text(data, size).c_str()), "%SystemRoot%\\x");

    // Unknown names and "%%" stay as written.
    SetString("Unknown", REG_EXPAND_SZ, W("%NoSuchVariable%a%%b%windir%"));
    size = sizeof data;
    ASSERT_EQ(RegGetValueW(base_.h, nullptr, W("Unknown").c_str(), RRF_RT_ANY, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(U8(Text(data, size).c_str()), "%NoSuchVariable%a%%bC:\\windows");

    // Plain strings: the stored size, 234 when too small; an empty value is 0 bytes.
    SetString("Str", REG_SZ, W("abcdef"));
    size = 4;
    EXPECT_EQ(RegGetValueW(base_.h, nullptr, W("Str").c_str(), RRF_RT_ANY, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 14u);
    SetBytes("Empty", REG_SZ, nullptr, 0);
    size = sizeof data;
    EXPECT_EQ(RegGetValueW(base_.h, nullptr, W("Empty").c_str(), RRF_RT_ANY, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
    // Through a subkey, and a missing value.
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, path_.c_str(), W("Str").c_str(), RRF_RT_ANY, &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 14u);
    EXPECT_EQ(RegGetValueW(base_.h, nullptr, W("Nope").c_str(), RRF_RT_ANY, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);

    // Wine refuses types outside the RRF_RT_* set even under RRF_RT_ANY, yet reports them.
    SetBytes("BigEndian", REG_DWORD_BIG_ENDIAN, "abcd", 4);
    size = sizeof data;
    EXPECT_EQ(RegGetValueW(base_.h, nullptr, W("BigEndian").c_str(), RRF_RT_ANY, &type, data, &size),
              ERROR_UNSUPPORTED_TYPE);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD_BIG_ENDIAN));
    EXPECT_EQ(size, 4u);
}

TEST_F(RegistrySemantics, QueryInfoCountsInUnitsAndBytes) {
    Key key;
    ASSERT_EQ(RegCreateKeyExW(base_.h, W("Twelve_Chars").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h,
                              nullptr),
              ERROR_SUCCESS);
    SetString("Seven77", REG_SZ, W("0123456789"));
    SetBytes("B", REG_BINARY, "xyz", 3);
    DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(RegQueryInfoKeyW(base_.h, nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values, &maxName,
                               &maxData, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 1u);
    EXPECT_EQ(maxSub, 12u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxName, 7u);
    EXPECT_EQ(maxData, 22u);
    // Wine asks no right for it: a handle for enumeration only will do.
    Key enumOnly;
    ASSERT_EQ(RegOpenKeyExW(base_.h, nullptr, 0, KEY_ENUMERATE_SUB_KEYS, &enumOnly.h), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryInfoKeyW(enumOnly.h, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    // Other calls do check the handle's rights.
    Key readOnly;
    ASSERT_EQ(RegOpenKeyExW(base_.h, nullptr, 0, KEY_QUERY_VALUE, &readOnly.h), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(readOnly.h, W("V").c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>("a"), 1),
              ERROR_ACCESS_DENIED);
    WCHAR name[64];
    DWORD length = 64;
    EXPECT_EQ(RegEnumKeyExW(readOnly.h, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
}

TEST_F(RegistrySemantics, DeletesAndDeletedKeys) {
    Key child;
    ASSERT_EQ(RegCreateKeyExW(base_.h, W("Parent\\Child").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child.h,
                              nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(base_.h, W("Parent").c_str()), ERROR_ACCESS_DENIED);  // it has a subkey
    EXPECT_EQ(RegDeleteKeyW(base_.h, W("Nope").c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, W("").c_str()), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegDeleteKeyW(base_.h, W("parent\\CHILD").c_str()), ERROR_SUCCESS);

    // The handle outlives its key: every use but closing says ERROR_KEY_DELETED.
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(child.h, W("V").c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_KEY_DELETED);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(child.h, W("V").c_str(), nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryInfoKeyW(child.h, nullptr, nullptr, nullptr, &size, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_KEY_DELETED);
    Key again;
    EXPECT_EQ(RegOpenKeyExW(child.h, nullptr, 0, KEY_READ, &again.h), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCreateKeyExW(child.h, W("X").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &again.h, nullptr),
              ERROR_KEY_DELETED);

    SetBytes("V", REG_DWORD, &one, 4);
    EXPECT_EQ(RegDeleteKeyValueW(base_.h, nullptr, W("Nope").c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyValueW(base_.h, W("NoKey").c_str(), W("V").c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, path_.c_str(), W("v").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(base_.h, W("V").c_str(), nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(base_.h, W("Parent").c_str()), ERROR_SUCCESS);
}

TEST_F(RegistrySemantics, CurrentUserAndClassesRootsAreViews) {
    const WString sub = W("Software\\QV\\KestraneEmuTest\\Hive");
    Key viaCurrent, viaUsers;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &viaCurrent.h,
                              nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, (W("S-1-5-21-0-0-0-1000\\") + sub).c_str(), 0, KEY_READ, &viaUsers.h),
              ERROR_SUCCESS);
    DeleteTree(HKEY_CURRENT_USER, W("Software\\QV"));

    Key viaClasses, viaMachine;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, W("KestraneEmuTestClass").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &viaClasses.h, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("Software\\Classes\\KestraneEmuTestClass").c_str(), 0, KEY_READ,
                            &viaMachine.h),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, W("KestraneEmuTestClass").c_str()), ERROR_SUCCESS);
}

std::string Encode(const std::vector<BYTE>& bytes, DWORD* sized, DWORD* filled) {
    // A non-empty buffer even for zero bytes: crypt32 refuses a null one.
    const BYTE* data = bytes.empty() ? reinterpret_cast<const BYTE*>("") : bytes.data();
    const auto length = static_cast<DWORD>(bytes.size());
    *sized = 0;
    EXPECT_TRUE(CryptBinaryToStringW(data, length, CRYPT_STRING_BASE64, nullptr, sized));
    // Room to spare: for zero bytes Wine writes more than it asked room for.
    std::vector<WCHAR> text(*sized + 8, 0);
    *filled = static_cast<DWORD>(text.size());
    EXPECT_TRUE(CryptBinaryToStringW(data, length, CRYPT_STRING_BASE64, text.data(), filled));
    return U8(text.data());
}

TEST(Base64Semantics, EncodesInLinesOf64EachEndedByCrLf) {
    DWORD sized = 0, filled = 0;
    EXPECT_EQ(Encode({}, &sized, &filled), "\r\n");  // Wine writes a separator it does not count
    EXPECT_EQ(sized, 1u);
    EXPECT_EQ(filled, 0u);
    EXPECT_EQ(Encode({0x01}, &sized, &filled), "AQ==\r\n");
    EXPECT_EQ(sized, 7u);
    EXPECT_EQ(filled, 6u);
    EXPECT_EQ(Encode({'a', 'b', 'c'}, &sized, &filled), "YWJj\r\n");
    const std::string line = "YWJj" "YWJj" "YWJj" "YWJj" "YWJj" "YWJj" "YWJj" "YWJj"
                             "YWJj" "YWJj" "YWJj" "YWJj" "YWJj" "YWJj" "YWJj" "YWJj";
    std::vector<BYTE> bytes;
    for (int i = 0; i < 16; ++i) bytes.insert(bytes.end(), {'a', 'b', 'c'});
    EXPECT_EQ(Encode(bytes, &sized, &filled), line + "\r\n");
    EXPECT_EQ(sized, 67u);
    EXPECT_EQ(filled, 66u);
    // 49 bytes: Wine puts the padded group on the full line (68 characters) yet
    // counts as if it had its own line: 73 sized, 72 reported, 70 written.
    bytes.push_back('a');
    EXPECT_EQ(Encode(bytes, &sized, &filled), line + "YQ==\r\n");
    EXPECT_EQ(sized, 73u);
    EXPECT_EQ(filled, 72u);

    WCHAR small[4];
    DWORD length = 4;
    SetLastError(0);
    EXPECT_FALSE(CryptBinaryToStringW(bytes.data(), 3, CRYPT_STRING_BASE64, small, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(length, 7u);
    EXPECT_FALSE(CryptBinaryToStringW(nullptr, 0, CRYPT_STRING_BASE64, nullptr, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

struct Decoded {
    bool ok;
    DWORD error;
    std::string bytes;
};

Decoded DecodeText(const char* text, bool sizeOnly = false) {
    const WString wide = W(text);
    DWORD size = 0;
    SetLastError(0);
    if (!CryptStringToBinaryW(wide.c_str(), 0, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr))
        return {false, GetLastError(), {}};
    if (sizeOnly) return {true, 0, std::string(size, '?')};
    std::string bytes(size + 1, '\0');
    if (!CryptStringToBinaryW(wide.c_str(), static_cast<DWORD>(wide.size()), CRYPT_STRING_BASE64,
                              reinterpret_cast<BYTE*>(&bytes[0]), &size, nullptr, nullptr))
        return {false, GetLastError(), {}};
    bytes.resize(size);
    return {true, 0, bytes};
}

TEST(Base64Semantics, DecodesSkippingWhitespaceWithWinesPaddingRules) {
    EXPECT_EQ(DecodeText("YWJj\r\nYQ==\r\n").bytes, "abca");
    EXPECT_EQ(DecodeText(" YW\tJj ").bytes, "abc");
    EXPECT_EQ(DecodeText("YQ").bytes, "a");     // padding may be left out
    EXPECT_EQ(DecodeText("YWJj=x").bytes, "abc");  // padding after a whole group ends the text
    EXPECT_TRUE(DecodeText("").ok);
    EXPECT_EQ(DecodeText("").bytes, "");
    for (const char* bad : {"YQ=", "Y*Jj", "Y=Y="}) {
        const Decoded result = DecodeText(bad);
        EXPECT_FALSE(result.ok) << bad;
        EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INVALID_DATA)) << bad;
    }
    BYTE one[1];
    DWORD size = 1;
    SetLastError(0);
    EXPECT_FALSE(CryptStringToBinaryW(W("YWJj").c_str(), 0, CRYPT_STRING_BASE64, one, &size, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
