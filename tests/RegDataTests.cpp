// The registry data class against the real registry.  Every test works
// below its own key HKCU\Software\VeskTests\<test>, removed afterwards.
#include "support/Handles.h"
#include "support/RegData.h"
#include "support/VeskError.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

const wchar_t kTestsRoot[] = L"Software\\VeskTests";

std::wstring Widen(const char* text)
{
    return std::wstring(text, text + std::strlen(text));
}

std::wstring Replace(std::wstring text, const std::wstring& from, const std::wstring& to)
{
    for (auto at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

void MakeKey(const std::wstring& path)
{
    TRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, key.Put(), nullptr));
}

void SetRaw(const std::wstring& path, const std::wstring& name, DWORD type,
            const std::vector<BYTE>& data)
{
    // The registry appends a NUL that string data lacks when the unit after
    // the data happens to be NUL; pad so that the bytes stay exactly as given.
    std::vector<BYTE> padded(data);
    padded.insert(padded.end(), {0xFF, 0xFF});
    TRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, key.Put(), nullptr));
    const LSTATUS status = RegSetValueExW(key.Get(), name.c_str(), 0, type, padded.data(),
                                          static_cast<DWORD>(data.size()));
    key.Reset();
    ASSERT_EQ(ERROR_SUCCESS, status);
}

// UTF-16 bytes of the text, without a terminating NUL unless the text has one.
std::vector<BYTE> Utf16(const std::wstring& text)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(bytes, bytes + text.size() * sizeof(wchar_t));
}

std::vector<BYTE> Sz(const std::wstring& text)
{
    return Utf16(text + L'\0');
}

// The data with one byte more, 'd', half a UTF-16 unit.
std::vector<BYTE> OddTail(std::vector<BYTE> data)
{
    data.push_back('d');
    return data;
}

std::vector<BYTE> Dword(DWORD value)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(&value);
    return std::vector<BYTE>(bytes, bytes + sizeof(value));
}

std::vector<BYTE> Qword(ULONGLONG value)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(&value);
    return std::vector<BYTE>(bytes, bytes + sizeof(value));
}

struct TRawValue {
    DWORD Type = REG_NONE;
    std::vector<BYTE> Data;
};

std::optional<TRawValue> ReadRaw(const std::wstring& path, const std::wstring& name)
{
    TRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return std::nullopt;
    TRawValue value;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &value.Type, nullptr,
                                      &size);
    if (status == ERROR_SUCCESS) {
        value.Data.resize(size);
        status = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &value.Type,
                                  size ? value.Data.data() : nullptr, &size);
        value.Data.resize(size);
    }
    if (status != ERROR_SUCCESS) return std::nullopt;
    return value;
}

std::vector<std::wstring> ValueNamesOf(const std::wstring& path)
{
    std::vector<std::wstring> names;
    TRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD length = 16384;
        if (RegEnumValueW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Every key below the path, as paths relative to it, sorted.
void CollectSubKeys(const std::wstring& path, const std::wstring& prefix,
                    std::vector<std::wstring>& found)
{
    TRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return;
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    key.Reset();  // not held open through the whole subtree
    for (const auto& name : names) {
        found.push_back(prefix + name);
        CollectSubKeys(path + L"\\" + name, prefix + name + L"\\", found);
    }
}

std::vector<std::wstring> SubKeysOf(const std::wstring& path)
{
    std::vector<std::wstring> found;
    CollectSubKeys(path, L"", found);
    std::sort(found.begin(), found.end());
    return found;
}

// The message of the EVeskError the action raises, or "(none)".
template <typename TAction>
std::wstring ErrorOf(TAction&& action)
{
    try {
        action();
    } catch (const EVeskError& error) {
        return error.Message();
    }
    return L"(none)";
}

std::wstring WriteFailed(const std::wstring& name)
{
    return L"'" + name + L"' の設定に失敗しました";
}

std::wstring ReadFailed(const std::wstring& name)
{
    return L"'" + name + L"' の取得に失敗しました";
}

std::wstring WrongType(const std::wstring& name)
{
    return L"'" + name + L"' のデータ型が不正です";
}

class RegDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        FScratch = std::wstring(kTestsRoot) + L"\\" + Widen(info->name());
        FRootExisted = KeyExists(kTestsRoot);
        // Left over only by a run that died halfway.
        RegDeleteTreeW(HKEY_CURRENT_USER, FScratch.c_str());
        MakeKey(FScratch);
    }

    void TearDown() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, FScratch.c_str());
        if (!FRootExisted) RegDeleteKeyExW(HKEY_CURRENT_USER, kTestsRoot, 0, 0);
    }

    // The scratch key, or a path below it.
    std::wstring Path(const std::wstring& below = std::wstring()) const
    {
        return below.empty() ? FScratch : FScratch + L"\\" + below;
    }

    std::wstring FScratch;

private:
    bool FRootExisted = false;
};

TEST_F(RegDataTest, NewObjectHasTheUserRootAndNoCurrentKey)
{
    TRegData registry;
    EXPECT_EQ(HKEY_CURRENT_USER, registry.RootKey());
    EXPECT_EQ(static_cast<REGSAM>(0xF003F), registry.Access());
    EXPECT_EQ(nullptr, registry.CurrentKey());
    EXPECT_EQ(L"", registry.CurrentPath());
}

struct TOpenCase {
    const wchar_t* Label;
    const wchar_t* Start;     // key made current first (below the scratch key), or none
    const wchar_t* Key;       // "{S}" stands for the scratch key's path
    const wchar_t* Expected;  // current path afterwards
    const wchar_t* Lands;     // the key actually opened, below the scratch key
};

const TOpenCase kOpenCases[] = {
    {L"relative, none current", nullptr, L"{S}\\A", L"{S}\\A", L"A"},
    {L"absolute, none current", nullptr, L"\\{S}\\A", L"{S}\\A", L"A"},
    {L"relative below current", L"", L"A\\B", L"{S}\\A\\B", L"A\\B"},
    {L"one name below current", L"A", L"B", L"{S}\\A\\B", L"A\\B"},
    {L"absolute ignores current", L"A", L"\\{S}\\C", L"{S}\\C", L"C"},
    {L"empty path reopens current", L"A", L"", L"{S}\\A\\", L"A"},
};

TEST_F(RegDataTest, OpenKeyBuildsTheCurrentPathAndOpensThatKey)
{
    int row = 0;
    for (const auto& test : kOpenCases) {
        SCOPED_TRACE(test.Label);
        TRegData registry;
        if (test.Start) {
            ASSERT_TRUE(registry.OpenKey(L"\\" + Path(test.Start), true));
        }

        ASSERT_TRUE(registry.OpenKey(Replace(test.Key, L"{S}", FScratch), true));
        EXPECT_EQ(Replace(test.Expected, L"{S}", FScratch), registry.CurrentPath());

        // The handle must be the key the path names, not just carry its name.
        const std::wstring marker = L"row " + std::to_wstring(++row);
        registry.WriteString(L"Marker", marker);
        const auto stored = ReadRaw(Path(test.Lands), L"Marker");
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(Sz(marker), stored->Data);

        registry.CloseKey();
        EXPECT_EQ(nullptr, registry.CurrentKey());
        EXPECT_EQ(L"", registry.CurrentPath());
    }
}

TEST_F(RegDataTest, OpenKeyCreatesMissingKeysOnlyWhenAllowed)
{
    TRegData registry;
    EXPECT_FALSE(registry.OpenKey(Path(L"Missing"), false));
    EXPECT_EQ(nullptr, registry.CurrentKey());
    EXPECT_FALSE(KeyExists(Path(L"Missing")));

    ASSERT_TRUE(registry.OpenKey(Path(), false));
    const HKEY scratch = registry.CurrentKey();

    EXPECT_FALSE(registry.OpenKey(L"N1\\N2", false));
    EXPECT_FALSE(KeyExists(Path(L"N1")));
    EXPECT_EQ(scratch, registry.CurrentKey());
    EXPECT_EQ(FScratch, registry.CurrentPath());
    registry.WriteString(L"StillCurrent", L"yes");
    EXPECT_TRUE(ReadRaw(Path(), L"StillCurrent").has_value());

    ASSERT_TRUE(registry.OpenKey(L"N1\\N2\\N3", true));
    EXPECT_TRUE(KeyExists(Path(L"N1\\N2\\N3")));
    EXPECT_EQ(Path(L"N1\\N2\\N3"), registry.CurrentPath());

    // Creating a key that exists opens it with its values.
    ASSERT_TRUE(registry.OpenKey(L"\\" + Path(), true));
    EXPECT_TRUE(registry.ValueExists(L"StillCurrent"));
}

TEST_F(RegDataTest, DeleteKeyRemovesTheWholeSubtree)
{
    SetRaw(Path(L"D"), L"", REG_SZ, Sz(L"top"));
    SetRaw(Path(L"D\\E\\F"), L"Deep", REG_DWORD, Dword(1));
    MakeKey(Path(L"D\\E\\G"));
    MakeKey(Path(L"D\\H"));
    MakeKey(Path(L"Keep\\Child"));
    MakeKey(Path(L"X\\Y\\Z"));

    TRegData registry;
    ASSERT_TRUE(registry.OpenKey(Path(), false));
    EXPECT_TRUE(registry.DeleteKey(L"D"));
    EXPECT_FALSE(KeyExists(Path(L"D")));
    EXPECT_EQ(FScratch, registry.CurrentPath());

    // Absolute: below the root whatever is current.
    ASSERT_TRUE(registry.OpenKey(L"Keep", false));
    EXPECT_TRUE(registry.DeleteKey(L"\\" + Path(L"X")));
    EXPECT_FALSE(KeyExists(Path(L"X")));
    EXPECT_EQ(Path(L"Keep"), registry.CurrentPath());
    registry.WriteString(L"Usable", L"yes");
    EXPECT_TRUE(ReadRaw(Path(L"Keep"), L"Usable").has_value());

    EXPECT_FALSE(registry.DeleteKey(L"Missing"));
    EXPECT_FALSE(registry.DeleteKey(L"Missing\\Deeper"));
    // The empty path would be the current key itself: refused.
    EXPECT_FALSE(registry.DeleteKey(L""));
    EXPECT_FALSE(registry.DeleteKey(L"\\"));
    EXPECT_EQ((std::vector<std::wstring>{L"Keep", L"Keep\\Child"}), SubKeysOf(Path()));
    EXPECT_EQ(Path(L"Keep"), registry.CurrentPath());
}

struct TDeletePathCase {
    const wchar_t* Label;
    std::vector<std::wstring> Keys;      // below the entry key
    std::vector<std::wstring> ValuesOn;  // keys that also get a value
    const wchar_t* PathToDelete;
    std::vector<std::wstring> Remaining;  // every key below the entry key afterwards
};

const std::vector<TDeletePathCase>& DeletePathCases()
{
    static const std::vector<TDeletePathCase> cases = {
        {L"parent keeps another subkey",
         {L"P\\Q\\Inner", L"P\\Other"},
         {},
         L"P\\Q",
         {L"P", L"P\\Other"}},
        {L"three names pruned", {L"A\\B\\C"}, {}, L"A\\B\\C", {}},
        {L"stops at an ancestor with another subkey",
         {L"A\\B\\C", L"A\\Other"},
         {},
         L"A\\B\\C",
         {L"A", L"A\\Other"}},
        {L"pruned ancestors go with their values", {L"A\\B\\C"}, {L"A", L"A\\B"}, L"A\\B\\C", {}},
        {L"parent missing deletes nothing", {L"M"}, {}, L"M\\N\\X", {L"M"}},
        {L"last name missing still prunes empty parents", {L"A\\B"}, {}, L"A\\B\\C", {}},
        {L"one name", {L"A\\B", L"Other"}, {}, L"A", {L"Other"}},
    };
    return cases;
}

TEST_F(RegDataTest, DeletePathPrunesAncestorsLeftWithoutSubkeys)
{
    const std::wstring entry = Path(L"K");
    for (const auto& test : DeletePathCases()) {
        SCOPED_TRACE(test.Label);
        RegDeleteTreeW(HKEY_CURRENT_USER, entry.c_str());
        MakeKey(entry);
        SetRaw(entry, L"Own", REG_SZ, Sz(L"entry"));
        for (const auto& key : test.Keys) MakeKey(entry + L"\\" + key);
        for (const auto& key : test.ValuesOn) SetRaw(entry + L"\\" + key, L"", REG_SZ, Sz(key));

        TRegData registry;
        ASSERT_TRUE(registry.OpenKey(entry, false));
        registry.DeletePath(test.PathToDelete);

        EXPECT_EQ(test.Remaining, SubKeysOf(entry));
        EXPECT_EQ(entry, registry.CurrentPath());
        ASSERT_TRUE(KeyExists(entry));
        EXPECT_TRUE(registry.ValueExists(L"Own"));
        registry.WriteString(L"After", L"current again");
        EXPECT_TRUE(ReadRaw(entry, L"After").has_value());
    }
}

TEST_F(RegDataTest, DeletePathWithoutCurrentKeyLeavesTheRootCurrent)
{
    MakeKey(Path(L"A\\B"));
    MakeKey(Path(L"Keep"));

    TRegData registry;
    registry.DeletePath(Path(L"A\\B"));

    EXPECT_EQ((std::vector<std::wstring>{L"Keep"}), SubKeysOf(Path()));
    EXPECT_NE(nullptr, registry.CurrentKey());
    EXPECT_EQ(L"", registry.CurrentPath());
    EXPECT_TRUE(registry.HasSubKeys());
    // Relative to the root handle that is now current.
    ASSERT_TRUE(registry.OpenKey(Path(L"Keep"), false));
    EXPECT_EQ(L"\\" + Path(L"Keep"), registry.CurrentPath());
}

TEST_F(RegDataTest, DeletePathOfAnAbsolutePathPrunesUpToTheRoot)
{
    // A key of its own right below HKEY_CURRENT_USER, so that the walk
    // reaches the root.
    const std::wstring top = L"VeskTests." + std::to_wstring(GetCurrentProcessId());
    struct TTopGuard {
        std::wstring Key;
        ~TTopGuard() { RegDeleteTreeW(HKEY_CURRENT_USER, Key.c_str()); }
    } guard{top};
    MakeKey(top + L"\\A");
    MakeKey(Path(L"K"));

    TRegData registry;
    ASSERT_TRUE(registry.OpenKey(Path(L"K"), false));
    registry.DeletePath(L"\\" + top + L"\\A");

    EXPECT_FALSE(KeyExists(top));
    EXPECT_TRUE(KeyExists(Path(L"K")));
    EXPECT_EQ(Path(L"K"), registry.CurrentPath());
}

TEST_F(RegDataTest, ClearValuesRemovesEveryValueAndKeepsSubkeys)
{
    SetRaw(Path(), L"", REG_SZ, Sz(L"default"));
    SetRaw(Path(), L"One", REG_SZ, Sz(L"1"));
    SetRaw(Path(), L"Two", REG_DWORD, Dword(2));
    SetRaw(Path(L"Sub"), L"Inner", REG_SZ, Sz(L"inner"));

    TRegData registry;
    ASSERT_TRUE(registry.OpenKey(Path(), false));
    registry.ClearValues();

    EXPECT_TRUE(ValueNamesOf(Path()).empty());
    EXPECT_EQ((std::vector<std::wstring>{L"Sub"}), SubKeysOf(Path()));
    EXPECT_EQ((std::vector<std::wstring>{L"Inner"}), ValueNamesOf(Path(L"Sub")));

    registry.ClearValues();  // nothing left to clear
    EXPECT_TRUE(ValueNamesOf(Path()).empty());
}

TEST_F(RegDataTest, GetValueNamesReplacesTheListWithEveryName)
{
    SetRaw(Path(), L"", REG_SZ, Sz(L"default"));
    SetRaw(Path(), L"One", REG_SZ, Sz(L"1"));
    SetRaw(Path(), L"A much longer value name", REG_BINARY, {1, 2});

    TRegData registry;
    std::vector<std::wstring> names{L"stale"};
    registry.GetValueNames(names);
    EXPECT_TRUE(names.empty()) << "no key is current";

    names = {L"stale"};
    ASSERT_TRUE(registry.OpenKey(Path(), false));
    registry.GetValueNames(names);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"", L"A much longer value name", L"One"}), names);
}

struct TWriteCase {
    const wchar_t* Name;
    const wchar_t* Value;
};

const TWriteCase kWriteCases[] = {
    {L"", L"{4A9340A6-ABD2-4183-88F6-CBB4095CC27D}"},
    {L"", L""},
    {L"ThreadingModel", L"Apartment"},
    {L"WasDword", L"now text"},
};

TEST_F(RegDataTest, WriteStringStoresRegSzWithItsNulCounted)
{
    SetRaw(Path(), L"WasDword", REG_DWORD, Dword(7));
    TRegData registry;
    ASSERT_TRUE(registry.OpenKey(Path(), false));
    for (const auto& test : kWriteCases) {
        SCOPED_TRACE(test.Name);
        registry.WriteString(test.Name, test.Value);
        const auto stored = ReadRaw(Path(), test.Name);
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored->Type);
        EXPECT_EQ(Sz(test.Value), stored->Data);  // (length + 1) * 2 bytes, NUL last
    }
}

TEST_F(RegDataTest, WriteStringFailureNamesTheValue)
{
    TRegData registry;
    EXPECT_EQ(WriteFailed(L""), ErrorOf([&] { registry.WriteString(L"", L"x"); }))
        << "no key is current";

    MakeKey(Path(L"Doomed"));
    ASSERT_TRUE(registry.OpenKey(Path(L"Doomed"), false));
    // Deleted through another handle: the open one stays valid but no
    // value can be set in it any more.
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyExW(HKEY_CURRENT_USER, Path(L"Doomed").c_str(), 0, 0));
    for (const wchar_t* name : {L"", L"ThreadingModel"}) {
        EXPECT_EQ(WriteFailed(name), ErrorOf([&] { registry.WriteString(name, L"Apartment"); }));
    }
    EXPECT_EQ(Path(L"Doomed"), registry.CurrentPath());

    // Still usable after the error.
    ASSERT_TRUE(registry.OpenKey(L"\\" + Path(), false));
    registry.WriteString(L"After", L"ok");
    EXPECT_TRUE(ReadRaw(Path(), L"After").has_value());
}

enum class TRead { String, Integer, Bool, StrDef, IntDef, BoolDef };

struct TReadCase {
    const wchar_t* Label;
    bool Present;
    DWORD Type;
    std::vector<BYTE> Data;
    TRead Read;
    std::wstring Expected;  // "s:text", "i:number", "b:true|false", or the error message
};

const wchar_t kReadName[] = L"Setting";

const std::vector<TReadCase>& ReadCases()
{
    // The defaults: "dflt", 77 and true.
    static const std::vector<TReadCase> cases = {
        {L"string", true, REG_SZ, Sz(L"abc"), TRead::String, L"s:abc"},
        {L"expandable string is not expanded", true, REG_EXPAND_SZ, Sz(L"%SystemRoot%\\x"),
         TRead::String, L"s:%SystemRoot%\\x"},
        {L"string without its NUL", true, REG_SZ, Utf16(L"abc"), TRead::String, L"s:abc"},
        {L"string up to its first NUL", true, REG_SZ, Sz(std::wstring(L"ab\0cd", 5)), TRead::String,
         L"s:ab"},
        // An odd byte count: the last byte is half a character and is dropped.
        {L"odd size without its NUL", true, REG_SZ, OddTail(Utf16(L"abc")), TRead::String,
         L"s:abc"},
        {L"odd size after its NUL", true, REG_SZ, OddTail(Sz(L"abc")), TRead::String, L"s:abc"},
        {L"odd single byte", true, REG_SZ, {'x'}, TRead::String, L"s:"},
        {L"odd expandable string", true, REG_EXPAND_SZ, OddTail(Utf16(L"%TEMP%")), TRead::String,
         L"s:%TEMP%"},
        {L"empty string value", true, REG_SZ, {}, TRead::String, L"s:"},
        {L"missing string", false, REG_NONE, {}, TRead::String, L"s:"},
        {L"empty data reads as empty string", true, REG_BINARY, {}, TRead::String, L"s:"},
        {L"dword as string", true, REG_DWORD, Dword(5), TRead::String, WrongType(kReadName)},
        {L"binary as string", true, REG_BINARY, {1, 2, 3, 4}, TRead::String, WrongType(kReadName)},
        {L"integer", true, REG_DWORD, Dword(0x7FFFFFFF), TRead::Integer, L"i:2147483647"},
        {L"negative integer", true, REG_DWORD, Dword(0xFFFFFFFB), TRead::Integer, L"i:-5"},
        {L"missing integer", false, REG_NONE, {}, TRead::Integer, ReadFailed(kReadName)},
        {L"four-byte string as integer", true, REG_SZ, Sz(L"1"), TRead::Integer,
         WrongType(kReadName)},
        {L"longer string as integer", true, REG_SZ, Sz(L"123"), TRead::Integer,
         ReadFailed(kReadName)},
        {L"qword as integer", true, REG_QWORD, Qword(1), TRead::Integer, ReadFailed(kReadName)},
        {L"bool of 0", true, REG_DWORD, Dword(0), TRead::Bool, L"b:false"},
        {L"bool of 2", true, REG_DWORD, Dword(2), TRead::Bool, L"b:true"},
        {L"missing bool", false, REG_NONE, {}, TRead::Bool, ReadFailed(kReadName)},
        {L"string default for missing", false, REG_NONE, {}, TRead::StrDef, L"s:dflt"},
        {L"string default not for empty string", true, REG_SZ, Sz(L""), TRead::StrDef, L"s:"},
        {L"string default not for dword", true, REG_DWORD, Dword(0), TRead::StrDef,
         WrongType(kReadName)},
        {L"integer default for missing", false, REG_NONE, {}, TRead::IntDef, L"i:77"},
        {L"integer default not for 0", true, REG_DWORD, Dword(0), TRead::IntDef, L"i:0"},
        {L"integer default not for string", true, REG_SZ, Sz(L"1"), TRead::IntDef,
         WrongType(kReadName)},
        {L"bool default for missing", false, REG_NONE, {}, TRead::BoolDef, L"b:true"},
        {L"bool default not for 0", true, REG_DWORD, Dword(0), TRead::BoolDef, L"b:false"},
        {L"bool default not for string", true, REG_SZ, Sz(L"1"), TRead::BoolDef,
         WrongType(kReadName)},
    };
    return cases;
}

std::wstring RunRead(TRegData& registry, TRead read)
{
    const std::wstring name = kReadName;
    const auto asBool = [](bool value) { return std::wstring(value ? L"b:true" : L"b:false"); };
    try {
        switch (read) {
        case TRead::String:
            return L"s:" + registry.ReadString(name);
        case TRead::Integer:
            return L"i:" + std::to_wstring(registry.ReadInteger(name));
        case TRead::Bool:
            return asBool(registry.ReadBool(name));
        case TRead::StrDef:
            return L"s:" + registry.ReadStrDef(name, L"dflt");
        case TRead::IntDef:
            return L"i:" + std::to_wstring(registry.ReadIntDef(name, 77));
        case TRead::BoolDef:
            return asBool(registry.ReadBoolDef(name, true));
        }
    } catch (const EVeskError& error) {
        return error.Message();
    }
    return L"(unknown read)";
}

TEST_F(RegDataTest, ReadsConvertTheValueOrRaiseNamingIt)
{
    TRegData registry;
    ASSERT_TRUE(registry.OpenKey(Path(), false));
    for (const auto& test : ReadCases()) {
        SCOPED_TRACE(test.Label);
        RegDeleteValueW(registry.CurrentKey(), kReadName);
        if (test.Present) SetRaw(Path(), kReadName, test.Type, test.Data);
        EXPECT_EQ(test.Expected, RunRead(registry, test.Read));
        EXPECT_EQ(FScratch, registry.CurrentPath());
    }
}

TEST_F(RegDataTest, QueriesReportByTheirResult)
{
    SetRaw(Path(), L"Named", REG_SZ, Sz(L"x"));
    TRegData registry;
    EXPECT_FALSE(registry.ValueExists(L"Named")) << "no key is current";
    EXPECT_FALSE(registry.HasSubKeys());
    EXPECT_FALSE(registry.DeleteValue(L"Named"));

    ASSERT_TRUE(registry.OpenKey(Path(), false));
    EXPECT_TRUE(registry.ValueExists(L"Named"));
    EXPECT_FALSE(registry.ValueExists(L"")) << "default value not set";
    EXPECT_FALSE(registry.HasSubKeys());

    registry.WriteString(L"", L"default");
    EXPECT_TRUE(registry.ValueExists(L""));
    EXPECT_TRUE(registry.DeleteValue(L""));
    EXPECT_FALSE(registry.ValueExists(L""));
    EXPECT_TRUE(registry.DeleteValue(L"Named"));
    EXPECT_FALSE(registry.DeleteValue(L"Named"));
    EXPECT_TRUE(ValueNamesOf(Path()).empty());

    MakeKey(Path(L"Sub"));
    EXPECT_TRUE(registry.HasSubKeys());
}

}  // namespace
