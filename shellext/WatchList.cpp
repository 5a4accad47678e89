#include "WatchList.h"
#include "../support/AppData.h"
#include "../support/SysInfo.h"

const wchar_t kWatchListFile[] = L"Harrowfen\\Vesk\\Watches.ini";

namespace {

void UpperCaseAscii(std::wstring& text)
{
    for (auto& unit : text)
        if (unit >= L'a' && unit <= L'z') unit = static_cast<wchar_t>(unit - 0x20);
}

}  // namespace

bool MatchWatchPath(std::wstring WatchPath, std::wstring SelectedPath, std::wstring Attribute)
{
    UpperCaseAscii(WatchPath);
    UpperCaseAscii(SelectedPath);
    if (Attribute.find(L'D') != std::wstring::npos) {
        return !WatchPath.empty() && WatchPath.size() <= SelectedPath.size() &&
               SelectedPath.compare(0, WatchPath.size(), WatchPath) == 0;
    }
    return WatchPath == SelectedPath || WatchPath == ExtractFileDir(SelectedPath);
}

TCommandState DecideCommandState(const std::wstring& WatchListFile, const std::wstring& FirstPath)
{
    const TAppIniFile watches(WatchListFile);
    TStringList sections;
    watches.ReadSections(sections);
    for (const auto& section : sections) {
        const std::wstring source = watches.ReadString(section, L"Source", L"");
        const std::wstring dest = watches.ReadString(section, L"Dest", L"");
        const std::wstring attribute = watches.ReadString(section, L"Attribute", L"");
        if (MatchWatchPath(source, FirstPath, attribute)) return TCommandState::Both;
        // The destination always matches by prefix.
        if (MatchWatchPath(dest, FirstPath, L"D")) return TCommandState::RestoreOnly;
    }
    return TCommandState::None;
}

TCommandState DecideCommandState(const std::wstring& FirstPath)
{
    return DecideCommandState(GetAppDataFile(kWatchListFile), FirstPath);
}
