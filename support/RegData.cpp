#include "RegData.h"
#include "SysInfo.h"
#include "VeskError.h"

namespace {

const wchar_t kWriteFailed[] = L"'%s' の設定に失敗しました";
const wchar_t kReadFailed[] = L"'%s' の取得に失敗しました";
const wchar_t kWrongType[] = L"'%s' のデータ型が不正です";

// Opening the empty path below a predefined key hands back the predefined
// handle itself; it is shared by the whole process and must stay open.
bool IsPredefinedKey(HKEY key) noexcept
{
    const auto value = reinterpret_cast<ULONG_PTR>(key);
    return value >= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT) &&
           value <= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT) + 0xFF;
}

void DropKey(TRegKey& key) noexcept
{
    if (IsPredefinedKey(key.Get()))
        key.Release();
    else
        key.Reset();
}

}  // namespace

TRegData::~TRegData()
{
    CloseKey();
}

HKEY TRegData::BaseKeyFor(std::wstring& path, bool& relativeToCurrent) const noexcept
{
    if (!path.empty() && path[0] == L'\\') {
        path.erase(0, 1);
        relativeToCurrent = false;
        return FRootKey;
    }
    relativeToCurrent = static_cast<bool>(FCurrentKey);
    return relativeToCurrent ? FCurrentKey.Get() : FRootKey;
}

bool TRegData::OpenKey(const std::wstring& key, bool canCreate)
{
    std::wstring path = key;
    bool relativeToCurrent = false;
    const HKEY base = BaseKeyFor(path, relativeToCurrent);

    TRegKey opened;
    LSTATUS status;
    if (canCreate && !path.empty()) {
        DWORD disposition = 0;
        status = RegCreateKeyExW(base, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, FAccess,
                                 nullptr, opened.Put(), &disposition);
    } else {
        status = RegOpenKeyExW(base, path.c_str(), 0, FAccess, opened.Put());
    }
    if (status != ERROR_SUCCESS) return false;

    std::wstring newPath = relativeToCurrent ? FCurrentPath + L"\\" + path : path;
    CloseKey();
    FCurrentKey = std::move(opened);
    FCurrentPath = std::move(newPath);
    return true;
}

void TRegData::CloseKey() noexcept
{
    // No RegFlushKey: the registry writes back on its own, and a flush
    // would stall the host for nothing.
    DropKey(FCurrentKey);
    FCurrentPath.clear();
}

void TRegData::WriteString(const std::wstring& name, const std::wstring& value)
{
    const auto size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const LSTATUS status = RegSetValueExW(FCurrentKey.Get(), name.c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(value.c_str()), size);
    if (status != ERROR_SUCCESS) throw EVeskError(FormatMessageText(kWriteFailed, name));
}

bool TRegData::DeleteKey(const std::wstring& key)
{
    std::wstring path = key;
    bool relativeToCurrent = false;
    const HKEY base = BaseKeyFor(path, relativeToCurrent);
    // The empty path would name the base itself, which with no key open is
    // HKEY_CURRENT_USER: never empty out a whole hive.
    if (path.empty()) return false;
    return DeleteKeyBelow(base, path);
}

bool TRegData::DeleteKeyBelow(HKEY base, const std::wstring& path)
{
    // A key that still has subkeys cannot be deleted, so empty it bottom-up
    // first; the index runs downwards because each deletion shifts the rest.
    TRegKey opened;
    if (RegOpenKeyExW(base, path.c_str(), 0, FAccess, opened.Put()) == ERROR_SUCCESS) {
        DWORD count = 0;
        DWORD longest = 0;
        if (RegQueryInfoKeyW(opened.Get(), nullptr, nullptr, nullptr, &count, &longest, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            std::vector<wchar_t> name(longest + 1);
            for (DWORD index = count; index-- > 0;) {
                DWORD length = static_cast<DWORD>(name.size());
                if (RegEnumKeyExW(opened.Get(), index, name.data(), &length, nullptr, nullptr,
                                  nullptr, nullptr) == ERROR_SUCCESS)
                    DeleteKeyBelow(opened.Get(), std::wstring(name.data(), length));
            }
        }
        DropKey(opened);
    }
    return RegDeleteKeyExW(base, path.c_str(), 0, 0) == ERROR_SUCCESS;
}

bool TRegData::DeleteValue(const std::wstring& name)
{
    return RegDeleteValueW(FCurrentKey.Get(), name.c_str()) == ERROR_SUCCESS;
}

void TRegData::GetValueNames(std::vector<std::wstring>& names)
{
    names.clear();
    DWORD count = 0;
    DWORD longest = 0;
    if (RegQueryInfoKeyW(FCurrentKey.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &count, &longest, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<wchar_t> name(longest + 1);
    for (DWORD index = 0; index < count; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        // A name that cannot be read any more (the key changed meanwhile)
        // is left out rather than listed wrongly.
        if (RegEnumValueW(FCurrentKey.Get(), index, name.data(), &length, nullptr, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS)
            names.emplace_back(name.data());
    }
}

bool TRegData::HasSubKeys()
{
    DWORD count = 0;
    return RegQueryInfoKeyW(FCurrentKey.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           count > 0;
}

bool TRegData::ValueExists(const std::wstring& name)
{
    DWORD type = 0;
    DWORD size = 0;
    return RegQueryValueExW(FCurrentKey.Get(), name.c_str(), nullptr, &type, nullptr, &size) ==
           ERROR_SUCCESS;
}

std::wstring TRegData::ReadString(const std::wstring& name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(FCurrentKey.Get(), name.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        size == 0)
        return std::wstring();
    // Stored text need not end in NUL and may have an odd byte count: the
    // buffer holds every byte of the data and a NUL unit behind them.
    std::vector<wchar_t> buffer;
    LSTATUS status;
    do {
        buffer.assign(size / sizeof(wchar_t) + 2, L'\0');
        status = RegQueryValueExW(FCurrentKey.Get(), name.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(buffer.data()), &size);
        // A value that grew since its size was read is read again.
    } while (status == ERROR_MORE_DATA);
    if (status != ERROR_SUCCESS) throw EVeskError(FormatMessageText(kReadFailed, name));
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw EVeskError(FormatMessageText(kWrongType, name));
    // The text ends at its first NUL or at its last whole unit; an odd last
    // byte is no character.
    const wchar_t* const text = buffer.data();
    const size_t units = size / sizeof(wchar_t);
    size_t length = 0;
    while (length < units && text[length] != L'\0') ++length;
    return std::wstring(text, length);
}

std::int32_t TRegData::ReadInteger(const std::wstring& name)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    // Data longer than four bytes fails the read itself.
    if (RegQueryValueExW(FCurrentKey.Get(), name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        throw EVeskError(FormatMessageText(kReadFailed, name));
    if (type != REG_DWORD) throw EVeskError(FormatMessageText(kWrongType, name));
    return static_cast<std::int32_t>(value);
}

bool TRegData::ReadBool(const std::wstring& name)
{
    return ReadInteger(name) != 0;
}

void TRegData::DeletePath(const std::wstring& path)
{
    const std::wstring entryPath = FCurrentPath;
    std::wstring rest = path;
    while (!rest.empty()) {
        const std::wstring name = ExtractFileName(rest);
        std::wstring parent = ExtractFileDir(rest);
        // A path that no longer shrinks ("A\\", "C:") has nothing more to prune.
        if (parent == rest) break;
        rest = std::move(parent);

        bool stop = true;
        if (OpenKey(rest, false)) {
            DeleteKey(name);
            stop = HasSubKeys();
            CloseKey();
            OpenKey(entryPath, false);
        }
        if (stop) break;
    }
}

void TRegData::ClearValues()
{
    std::vector<std::wstring> names;
    GetValueNames(names);
    for (const auto& name : names) DeleteValue(name);
}

bool TRegData::ReadBoolDef(const std::wstring& name, bool defaultValue)
{
    return ValueExists(name) ? ReadBool(name) : defaultValue;
}

std::int32_t TRegData::ReadIntDef(const std::wstring& name, std::int32_t defaultValue)
{
    return ValueExists(name) ? ReadInteger(name) : defaultValue;
}

std::wstring TRegData::ReadStrDef(const std::wstring& name, const std::wstring& defaultValue)
{
    return ValueExists(name) ? ReadString(name) : defaultValue;
}
