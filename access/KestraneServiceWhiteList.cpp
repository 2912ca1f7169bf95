#include "access/KestraneServiceWhiteList.h"

#include "json/UtilHelper.h"
#include "logging/Logging.h"
#include "service/TypeName.h"

#include <cstring>


namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

using WideText = std::basic_string<WCHAR>;

// Case folding is the "C" locale's towlower, which msvcrt (Wine's as well) and glibc
// both restrict to 'A'..'Z', done inline: a unit such as KELVIN SIGN or a dotted
// capital I never stands in for an ASCII letter of an entry, just as the registry,
// which does not fold them to ASCII either, would open a different key for it. Doing
// it here also keeps a locale some host sets from changing what the lists admit.
inline WCHAR Fold(WCHAR unit) { return unit >= u'A' && unit <= u'Z' ? static_cast<WCHAR>(unit + 0x20) : unit; }

// The path ends at its first NUL, so a shorter path stops the loop by mismatching.
bool StartsWithFolded(const WCHAR* path, const WideText& entry) {
    for (const WCHAR unit : entry)
        if (Fold(*path++) != Fold(unit)) return false;
    return true;
}

WideText FoldedText(const WideText& text) {
    WideText folded(text);
    for (WCHAR& unit : folded) unit = Fold(unit);
    return folded;
}

std::vector<WideText> FoldedList(const std::vector<WideText>& list) {
    std::vector<WideText> folded;
    folded.reserve(list.size());
    for (const WideText& entry : list) folded.push_back(FoldedText(entry));
    return folded;
}

// Folds the path's first kFoldedUnits units into `folded` and answers how many there
// were, or kMalformed. A "." or ".." component anywhere makes the path malformed, and
// so does an empty path. Only the backslash separates components: nothing else is a
// separator to the registry either. One pass, because every request takes it.
constexpr std::size_t kMalformed = static_cast<std::size_t>(-1);

template <std::size_t Capacity>
std::size_t FoldAndCheck(const WCHAR* path, WCHAR (&folded)[Capacity]) {
    if (*path == 0) return kMalformed;
    std::size_t dots = 0;       // full stops in the current component so far
    bool onlyDots = true;       // the current component holds nothing else
    std::size_t i = 0;
    for (;; ++i) {
        const WCHAR unit = path[i];
        if (unit > WCHAR{'.'} && unit != WCHAR{'\\'}) {
            onlyDots = false;  // the usual unit, tested first
        } else if (unit == WCHAR{'.'}) {
            ++dots;
        } else if (unit == 0 || unit == WCHAR{'\\'}) {
            if (onlyDots && (dots == 1 || dots == 2)) return kMalformed;
            if (unit == 0) break;
            dots = 0;
            onlyDots = true;
        } else {
            onlyDots = false;
        }
        if (i < Capacity) folded[i] = Fold(unit);
    }
    return i < Capacity ? i : Capacity;
}

// Most entries share a long first part ("HKEY_LOCAL_MACHINE\\SOFTWARE\\"), so a
// path is folded once into this many units and each entry, folded once per process,
// is compared with memcmp. Longer entries (none today) take the unit-by-unit way.
constexpr std::size_t kFoldedUnits = 256;

}  // namespace

// Full key paths, long root names, single backslashes, no trailing backslash. The
// spelling is kept as written: the comparison folds case, so it never matters.
const std::vector<std::basic_string<WCHAR>> KestraneServiceWhiteList::readWhiteList = {
    WIDE("HKEY_CURRENT_USER\\SOFTWARE\\QV"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\QV"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Mcafee\\MSC\\AppInfo"),
    WIDE("HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\SYSTEM\\BIOS"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\StarSoftComm"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\StarSoftComm"),
    WIDE("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\QV"),
    WIDE("HKEY_CURRENT_USER\\Control Panel\\International\\Geo"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Clients\\StartMenuInternet\\Google Chrome"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\StartMenuInternet\\Google Chrome"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Google\\Chrome\\Extensions\\kembcdlbgbcnnchcnbdhbmbhbejnedjf"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Google\\Chrome\\Extensions\\kembcdlbgbcnnchcnbdhbmbhbejnedjf"),
    WIDE("HKEY_LOCAL_MACHINE\\Software\\Google\\Chrome\\NativeMessagingHosts\\com.qv.linkprobe"),
    WIDE("HKEY_LOCAL_MACHINE\\Software\\WOW6432Node\\Google\\Chrome\\NativeMessagingHosts\\com.qv.linkprobe"),
    WIDE("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print"),
    WIDE("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers"),
    WIDE("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\OOBE\\Stats"),
    WIDE("HKEY_USERS\\S-1-5-18\\Control Panel\\International\\Geo"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Clients\\StartMenuInternet"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\StartMenuInternet"),
    WIDE("HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice"),
    WIDE("HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\https\\UserChoice"),
    WIDE("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Dropbox"),
    WIDE("HKEY_CURRENT_USER\\SOFTWARE\\WOW6432Node\\Dropbox"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Dropbox"),
    WIDE("HKEY_CURRENT_USER\\SOFTWARE\\Dropbox"),
    WIDE("HKEY_CLASSES_ROOT\\Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\AppModel\\Repository\\"
         "Packages"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Office"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Office"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\QV Inc\\System Properties"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\QV Inc\\System Properties"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Synaptics\\OEM\\PreviousSynTPInstall"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\McAfee\\OemInfo\\Registration"),
};

const std::vector<std::basic_string<WCHAR>> KestraneServiceWhiteList::writeWhiteList = {
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\QV"),
    WIDE("HKEY_CURRENT_USER\\SOFTWARE\\QV"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Mcafee\\MSC\\AppInfo"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\QV"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Google\\Chrome\\Extensions\\kembcdlbgbcnnchcnbdhbmbhbejnedjf"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Google\\Chrome\\Extensions\\kembcdlbgbcnnchcnbdhbmbhbejnedjf"),
    WIDE("HKEY_LOCAL_MACHINE\\Software\\Google\\Chrome\\NativeMessagingHosts\\com.qv.linkprobe"),
    WIDE("HKEY_LOCAL_MACHINE\\Software\\WOW6432Node\\Google\\Chrome\\NativeMessagingHosts\\com.qv.linkprobe"),
    WIDE("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Print"),
    WIDE("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers"),
    WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Conexant\\SA3\\Mixer"),
};

bool KestraneServiceWhiteList::IsKeyPathInWhiteList(WhiteListAccessMode mode, const WCHAR* keyPath,
                                                    const WCHAR* clientId) {
    if (UtilHelper::NullChecker({{keyPath, "keyPath"}}, clientId)) return false;

    // The check reads the text up to its first NUL, as every registry call made with
    // the same text will, so the path checked is the path opened (an embedded "\u0000"
    // from the request hides what follows it from both). It only reads: the caller
    // splits the text in place after the check.
    const WCHAR* path = keyPath;
    WCHAR folded[kFoldedUnits];
    const std::size_t length = FoldAndCheck(path, folded);
    if (length == kMalformed) {
        Logging::LogManager::GetLogger()->LogWarning(
            Logging::LoggingData{WIDE("%S.%S - unable to check key path %s bad format"), clientId, 0},
            TypeName<KestraneServiceWhiteList>(), "IsKeyPathInWhiteList", keyPath);
        return false;
    }

    static const std::vector<WideText> foldedRead = FoldedList(readWhiteList);
    static const std::vector<WideText> foldedWrite = FoldedList(writeWhiteList);
    const auto& list = mode == WhiteListAccessMode::Write ? foldedWrite : foldedRead;
    for (const WideText& entry : list) {
        if (entry.size() > kFoldedUnits) {
            if (StartsWithFolded(path, entry)) return true;
        } else if (entry.size() <= length && std::memcmp(folded, entry.data(), entry.size() * sizeof(WCHAR)) == 0) {
            return true;
        }
    }
    return false;
}

KestraneServiceWhiteList& KestraneServiceWhiteList::operator=(const KestraneServiceWhiteList&) = default;
KestraneServiceWhiteList& KestraneServiceWhiteList::operator=(KestraneServiceWhiteList&&) = default;

}  // namespace Qv::Corvane::Server::Services::Kestrane
