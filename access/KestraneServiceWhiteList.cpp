#include "access/KestraneServiceWhiteList.h"

#include "json/UtilHelper.h"
#include "logging/Logging.h"
#include "service/TypeName.h"

#include <cwctype>

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

using WideText = std::basic_string<WCHAR>;

// One unit through the C runtime's towlower. The module never sets a locale, so this
// is the "C" locale's fold, which msvcrt (Wine's as well) and glibc both restrict to
// 'A'..'Z': a unit such as KELVIN SIGN or a dotted capital I never stands in for an
// ASCII letter of an entry, just as the registry, which does not fold them to ASCII
// either, would open a different key for it.
wint_t Fold(WCHAR unit) { return std::towlower(static_cast<wint_t>(static_cast<uint16_t>(unit))); }

// A "." or ".." component anywhere makes the path malformed, and so does an empty
// path. Only the backslash separates components: nothing else is a separator to the
// registry either.
bool IsWellFormed(const WideText& path) {
    if (path.empty()) return false;
    std::size_t dots = 0;       // full stops in the current component so far
    bool onlyDots = true;       // the current component holds nothing else
    for (std::size_t i = 0; i <= path.size(); ++i) {
        const WCHAR unit = i < path.size() ? path[i] : WCHAR{'\\'};
        if (unit == WCHAR{'\\'}) {
            if (onlyDots && (dots == 1 || dots == 2)) return false;
            dots = 0;
            onlyDots = true;
        } else if (unit == WCHAR{'.'}) {
            ++dots;
        } else {
            onlyDots = false;
        }
    }
    return true;
}

bool StartsWithFolded(const WideText& path, const WideText& entry) {
    if (entry.size() > path.size()) return false;
    for (std::size_t i = 0; i < entry.size(); ++i)
        if (Fold(path[i]) != Fold(entry[i])) return false;
    return true;
}

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

    // The check works on its own copy: the caller's text is split in place later.
    // The copy ends at the first NUL, as every registry call made with the same text
    // will, so the path checked is the path opened (an embedded "\u0000" from the
    // request hides what follows it from both).
    const WideText path(keyPath);
    if (!IsWellFormed(path)) {
        Logging::LogManager::GetLogger()->LogWarning(
            Logging::LoggingData{WIDE("%S.%S - unable to check key path %s bad format"), clientId, 0},
            TypeName<KestraneServiceWhiteList>(), "IsKeyPathInWhiteList", keyPath);
        return false;
    }

    const auto& list = mode == WhiteListAccessMode::Write ? writeWhiteList : readWhiteList;
    for (const WideText& entry : list)
        if (StartsWithFolded(path, entry)) return true;
    return false;
}

KestraneServiceWhiteList& KestraneServiceWhiteList::operator=(const KestraneServiceWhiteList&) = default;
KestraneServiceWhiteList& KestraneServiceWhiteList::operator=(KestraneServiceWhiteList&&) = default;

}  // namespace Qv::Corvane::Server::Services::Kestrane
