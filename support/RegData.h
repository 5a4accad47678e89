#pragma once
// Registry access below HKEY_CURRENT_USER through one current key at a
// time.  Paths that begin with "\" are taken below the root, all others
// below the current key (or the root while none is open).  Writes and
// typed reads raise EVeskError naming the value; everything else reports
// by its result, so that registration can pass over what it cannot reach.
#include "Handles.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class TRegData {
public:
    TRegData() noexcept = default;
    ~TRegData();
    TRegData(const TRegData&) = delete;
    TRegData& operator=(const TRegData&) = delete;

    HKEY RootKey() const noexcept { return FRootKey; }
    REGSAM Access() const noexcept { return FAccess; }
    // Null while no key is open.
    HKEY CurrentKey() const noexcept { return FCurrentKey.Get(); }
    // Path of the current key below the root, as OpenKey built it.
    const std::wstring& CurrentPath() const noexcept { return FCurrentPath; }

    // Makes the key current; on failure the previous key stays current.
    bool OpenKey(const std::wstring& key, bool canCreate);
    void CloseKey() noexcept;

    // REG_SZ with its terminating NUL counted in the stored size.
    void WriteString(const std::wstring& name, const std::wstring& value);

    // Deletes the key with its whole subtree; false when the key itself
    // could not be deleted (or does not exist).
    bool DeleteKey(const std::wstring& key);
    bool DeleteValue(const std::wstring& name);
    void GetValueNames(std::vector<std::wstring>& names);
    bool HasSubKeys();
    bool ValueExists(const std::wstring& name);

    // A missing value reads as the empty string; REG_EXPAND_SZ is not expanded.
    std::wstring ReadString(const std::wstring& name);
    std::int32_t ReadInteger(const std::wstring& name);
    bool ReadBool(const std::wstring& name);

    // Deletes the key named by the path below the current key, then each
    // ancestor named in the path that is left without subkeys.  The key
    // that was current on entry is current again afterwards.
    void DeletePath(const std::wstring& path);
    // Deletes every value of the current key, its default value included.
    void ClearValues();

    // Default only for a missing value; a value of the wrong type still raises.
    bool ReadBoolDef(const std::wstring& name, bool defaultValue);
    std::int32_t ReadIntDef(const std::wstring& name, std::int32_t defaultValue);
    std::wstring ReadStrDef(const std::wstring& name, const std::wstring& defaultValue);

private:
    // The key a path is taken below; strips the leading "\" of an absolute path.
    HKEY BaseKeyFor(std::wstring& path, bool& relativeToCurrent) const noexcept;
    bool DeleteKeyBelow(HKEY base, const std::wstring& path);

    HKEY FRootKey = HKEY_CURRENT_USER;
    REGSAM FAccess = KEY_ALL_ACCESS;
    TRegKey FCurrentKey;
    std::wstring FCurrentPath;
};
