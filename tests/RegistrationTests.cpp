// Per-user registration, driven three ways: through the class object in
// this process, through the exports of the built module, and by the
// platform's regsvr32.  Each test starts from a profile without the
// extension's keys and puts back afterwards whatever was there before.
#include "TestSupport.h"
#include "module/ModuleState.h"
#include "shellext/VESK_Consts.h"
#include "shellext/VESK_SHExt.h"
#include "support/Handles.h"
#include "support/SysInfo.h"
#include "support/VeskError.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <cwctype>
#include <iostream>
#include <string>
#include <vector>

namespace {

const wchar_t kClasses[] = L"Software\\Classes";
const wchar_t kClsidKey[] = L"Software\\Classes\\CLSID";
const wchar_t kFileHandler[] = L"*\\shellex\\ContextMenuHandlers\\Vesk64";
const wchar_t kFolderHandler[] = L"Directory\\shellex\\ContextMenuHandlers\\Vesk64";

// Key paths in these tests are below HKCU\Software\Classes.
std::wstring Full(const std::wstring& below)
{
    return std::wstring(kClasses) + L"\\" + below;
}

std::wstring ClassKey()
{
    return L"CLSID\\" + GetClassIdText();
}

std::wstring ServerKey()
{
    return ClassKey() + L"\\InprocServer32";
}

// The extension's three roots below Software\Classes: everything it may
// write or remove lies in them.
std::vector<std::wstring> Roots()
{
    return {L"*", L"Directory", ClassKey()};
}

// ---------------------------------------------------------------------------
// Images of registry subtrees: to compare with, and to put back.

struct TValueImage {
    std::wstring Name;
    DWORD Type = REG_NONE;
    std::vector<BYTE> Data;
};

struct TKeyImage {
    std::wstring Path;  // below Software\Classes
    std::vector<TValueImage> Values;
};

void CaptureKey(const std::wstring& path, std::vector<TKeyImage>& image)
{
    TRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Full(path).c_str(), 0, KEY_READ, key.Put()) !=
        ERROR_SUCCESS)
        return;
    DWORD subKeys = 0, longestSubKey = 0, values = 0, longestName = 0, longestData = 0;
    RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subKeys, &longestSubKey, nullptr,
                     &values, &longestName, &longestData, nullptr, nullptr);
    TKeyImage entry{path, {}};
    std::vector<wchar_t> name(longestName + 1);
    for (DWORD index = 0; index < values; ++index) {
        TValueImage value;
        value.Data.resize(longestData);
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = longestData;
        if (RegEnumValueW(key.Get(), index, name.data(), &nameLength, nullptr, &value.Type,
                          value.Data.empty() ? nullptr : value.Data.data(), &size) != ERROR_SUCCESS)
            continue;
        value.Name.assign(name.data(), nameLength);
        value.Data.resize(size);
        entry.Values.push_back(std::move(value));
    }
    std::vector<std::wstring> children;
    std::vector<wchar_t> child(longestSubKey + 1);
    for (DWORD index = 0; index < subKeys; ++index) {
        DWORD length = static_cast<DWORD>(child.size());
        if (RegEnumKeyExW(key.Get(), index, child.data(), &length, nullptr, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS)
            children.emplace_back(child.data(), length);
    }
    key.Reset();  // not held open through the whole subtree
    image.push_back(std::move(entry));
    for (const auto& name : children) CaptureKey(path + L"\\" + name, image);
}

std::vector<TKeyImage> CaptureRoots()
{
    std::vector<TKeyImage> image;
    for (const auto& root : Roots()) CaptureKey(root, image);
    return image;
}

void RestoreImage(const std::vector<TKeyImage>& image)
{
    for (const auto& entry : image) {
        TRegKey key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, Full(entry.Path).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
            continue;
        for (const auto& value : entry.Values)
            RegSetValueExW(key.Get(), value.Name.c_str(), 0, value.Type,
                           value.Data.empty() ? nullptr : value.Data.data(),
                           static_cast<DWORD>(value.Data.size()));
    }
}

std::wstring DescribeData(DWORD type, const std::vector<BYTE>& data)
{
    std::wstring text;
    switch (type) {
    case REG_SZ:
        text = L"sz";
        break;
    case REG_EXPAND_SZ:
        text = L"expand_sz";
        break;
    default:
        text = L"type" + std::to_wstring(type);
        break;
    }
    text += L"(" + std::to_wstring(data.size()) + L") ";
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        for (size_t at = 0; at + 1 < data.size(); at += 2) {
            const wchar_t unit = static_cast<wchar_t>(data[at] | (data[at + 1] << 8));
            text += unit == L'\0' ? std::wstring(L"\\0") : std::wstring(1, unit);
        }
    } else {
        wchar_t hex[4];
        for (BYTE byte : data) {
            swprintf(hex, 4, L"%02x", byte);
            text += hex;
        }
    }
    return text;
}

// One line per key ("[path]") and per value ("path : name = data"), sorted.
std::vector<std::wstring> Describe(const std::vector<TKeyImage>& image)
{
    std::vector<std::wstring> lines;
    for (const auto& entry : image) {
        lines.push_back(L"[" + entry.Path + L"]");
        for (const auto& value : entry.Values)
            lines.push_back(entry.Path + L" : " + (value.Name.empty() ? L"@" : value.Name) +
                            L" = " + DescribeData(value.Type, value.Data));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::wstring> State()
{
    return Describe(CaptureRoots());
}

std::wstring KeyLine(const std::wstring& path)
{
    return L"[" + path + L"]";
}

std::wstring SzLine(const std::wstring& path, const std::wstring& name, const std::wstring& text)
{
    const std::wstring stored = text + L'\0';
    const auto* bytes = reinterpret_cast<const BYTE*>(stored.data());
    return path + L" : " + (name.empty() ? L"@" : name) + L" = " +
           DescribeData(REG_SZ, std::vector<BYTE>(bytes, bytes + stored.size() * sizeof(wchar_t)));
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::wstring> Joined(std::vector<std::wstring> lines,
                                 const std::vector<std::wstring>& more)
{
    lines.insert(lines.end(), more.begin(), more.end());
    return Sorted(std::move(lines));
}

// The complete registration: five values, the keys that hold them and the
// keys on the way to them.
std::vector<std::wstring> RegisteredLines(const std::wstring& modulePath)
{
    const std::wstring id = GetClassIdText();
    return Sorted({
        KeyLine(L"*"),
        KeyLine(L"*\\shellex"),
        KeyLine(L"*\\shellex\\ContextMenuHandlers"),
        KeyLine(kFileHandler),
        SzLine(kFileHandler, L"", id),
        KeyLine(L"Directory"),
        KeyLine(L"Directory\\shellex"),
        KeyLine(L"Directory\\shellex\\ContextMenuHandlers"),
        KeyLine(kFolderHandler),
        SzLine(kFolderHandler, L"", id),
        KeyLine(ClassKey()),
        SzLine(ClassKey(), L"", L"Vesk"),
        KeyLine(ServerKey()),
        SzLine(ServerKey(), L"", modulePath),
        SzLine(ServerKey(), L"ThreadingModel", L"Apartment"),
    });
}

// ---------------------------------------------------------------------------
// Setting up keys below Software\Classes.

void MakeKey(const std::wstring& path, DWORD options = REG_OPTION_NON_VOLATILE)
{
    TRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, Full(path).c_str(), 0, nullptr,
                                             options, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr));
}

void SetText(const std::wstring& path, const std::wstring& name, const std::wstring& text,
             DWORD type = REG_SZ)
{
    MakeKey(path);
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_CURRENT_USER, Full(path).c_str(), name.c_str(), type,
                              text.c_str(),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

// A key whose children can only be volatile: creating the extension's
// (non-volatile) keys below it fails.  Its parents are ordinary keys.
void MakeVolatileKey(const std::wstring& path)
{
    const auto cut = path.rfind(L'\\');
    if (cut != std::wstring::npos) MakeKey(path.substr(0, cut));
    MakeKey(path, REG_OPTION_VOLATILE);
}

// Sets the key's DACL from its SDDL form.
bool SetKeyDacl(const std::wstring& path, const wchar_t* sddl)
{
    TRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Full(path).c_str(), 0, WRITE_DAC, key.Put()) !=
        ERROR_SUCCESS)
        return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return false;
    const TLocalMemory owned(descriptor);
    return RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
}

// Everyone may read the key, nobody may change it or add to it.
const wchar_t kReadOnlyDacl[] = L"D:P(A;;KR;;;WD)";
const wchar_t kOpenDacl[] = L"D:P(A;;KA;;;WD)";

void RemoveRoots()
{
    // A key locked by a test must be opened up again before it can go.
    SetKeyDacl(ClassKey(), kOpenDacl);
    for (const auto& root : Roots()) RegDeleteTreeW(HKEY_CURRENT_USER, Full(root).c_str());
}

// ---------------------------------------------------------------------------
// The three ways of running a registration pass.

enum class TRoute { ClassObject, ModuleExports, Regsvr32 };

std::string RouteName(const ::testing::TestParamInfo<TRoute>& info)
{
    switch (info.param) {
    case TRoute::ClassObject:
        return "ClassObject";
    case TRoute::ModuleExports:
        return "ModuleExports";
    case TRoute::Regsvr32:
        return "Regsvr32";
    }
    return "Unknown";
}

std::wstring ModuleFile()
{
    return TestBinDir() + L"Vesk.x64.dll";
}

class RegistrationTest : public ::testing::TestWithParam<TRoute> {
protected:
    void SetUp() override
    {
        FClassesExisted = KeyExists(kClasses);
        FClsidExisted = KeyExists(kClsidKey);
        FSaved = CaptureRoots();
        RemoveRoots();

        if (GetParam() == TRoute::ClassObject) {
            FModulePath = GetModulePath();
            return;
        }
        FModule.Reset(LoadLibraryW(ModuleFile().c_str()));
        ASSERT_NE(nullptr, FModule.Get())
            << "cannot load " << ::testing::PrintToString(ModuleFile());
        // What the module itself takes for its path, wherever it is loaded from.
        FModulePath = GetModulePathOf(FModule.Get());
    }

    void TearDown() override
    {
        FModule.Reset();
        RemoveRoots();
        RestoreImage(FSaved);
        if (!FClsidExisted) RegDeleteTreeW(HKEY_CURRENT_USER, kClsidKey);
        if (!FClassesExisted) RegDeleteKeyExW(HKEY_CURRENT_USER, kClasses, 0, 0);
    }

    HRESULT Run(bool Register)
    {
        switch (GetParam()) {
        case TRoute::ClassObject:
            // As the exports do: any error ends the pass with E_FAIL.
            try {
                ClassObject().UpdateRegistry(Register);
                return S_OK;
            } catch (const EVeskError&) {
                return E_FAIL;
            }
        case TRoute::ModuleExports: {
            using TEntry = HRESULT(STDAPICALLTYPE*)();
            const auto entry = GetExport<TEntry>(FModule.Get(), Register ? "DllRegisterServer"
                                                                         : "DllUnregisterServer");
            if (!entry) {
                ADD_FAILURE() << "export missing";
                return E_UNEXPECTED;
            }
            return entry();
        }
        case TRoute::Regsvr32:
            return RunRegsvr32(Register);
        }
        return E_UNEXPECTED;
    }

    // The expected registration for the route's module.
    std::vector<std::wstring> Registered() const { return RegisteredLines(FModulePath); }

private:
    HRESULT RunRegsvr32(bool Register)
    {
        wchar_t system[MAX_PATH + 1] = {};
        GetSystemDirectoryW(system, MAX_PATH + 1);
        std::wstring command = L"\"" + std::wstring(system) + L"\\regsvr32.exe\" /s " +
                               (Register ? L"" : L"/u ") + L"\"" + ModuleFile() + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        // Wine now and then fails a process start with ERROR_INTERNAL_ERROR
        // when the machine is busy; that says nothing about registration.
        DWORD startError = ERROR_SUCCESS;
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process)) {
                startError = ERROR_SUCCESS;
                break;
            }
            startError = GetLastError();
            if (startError != ERROR_INTERNAL_ERROR) break;
            Sleep(200);
        }
        if (startError != ERROR_SUCCESS) {
            ADD_FAILURE() << "cannot start regsvr32, error " << startError;
            return E_UNEXPECTED;
        }
        const TKernelHandle thread(process.hThread);
        const TKernelHandle child(process.hProcess);
        // Bounded only so that a hung regsvr32 cannot stall the whole run.
        const DWORD waited = WaitForSingleObject(child.Get(), 120000);
        DWORD exitCode = STILL_ACTIVE;
        GetExitCodeProcess(child.Get(), &exitCode);
        if (waited != WAIT_OBJECT_0) TerminateProcess(child.Get(), 1);
        if (waited != WAIT_OBJECT_0) {
            ADD_FAILURE() << "regsvr32 did not end";
            return E_UNEXPECTED;
        }
        if (exitCode != 0) std::cout << "regsvr32 exit code " << exitCode << "\n";
        return exitCode == 0 ? S_OK : E_FAIL;
    }

    bool FClassesExisted = false;
    bool FClsidExisted = false;
    std::vector<TKeyImage> FSaved;
    TModuleHandle FModule;
    std::wstring FModulePath;
};

TEST_P(RegistrationTest, RegisterOnACleanProfileWritesExactlyTheFiveValues)
{
    ASSERT_EQ(S_OK, Run(true));
    EXPECT_EQ(Registered(), State());
}

TEST_P(RegistrationTest, RegisteringTwiceGivesTheSameEntriesAsOnce)
{
    ASSERT_EQ(S_OK, Run(true));
    ASSERT_EQ(S_OK, Run(true));
    EXPECT_EQ(Registered(), State());
}

TEST_P(RegistrationTest, RegisterEmptiesInprocServer32AndKeepsEverythingElse)
{
    // What an older registration of a module elsewhere, and other software,
    // may have left.
    SetText(kFileHandler, L"", L"{00000000-0000-0000-0000-000000000000}");
    SetText(kFileHandler, L"Note", L"kept");
    SetText(ClassKey(), L"", L"Old name");
    SetText(ClassKey(), L"Keep", L"kept");
    SetText(ServerKey(), L"", L"%ProgramFiles%\\Old\\Vesk.x64.dll", REG_EXPAND_SZ);
    SetText(ServerKey(), L"ThreadingModel", L"Both");
    SetText(ServerKey(), L"Stale", L"from before");
    SetText(ServerKey() + L"\\Sub", L"Inner", L"kept");

    ASSERT_EQ(S_OK, Run(true));

    EXPECT_EQ(Joined(Registered(),
                     {
                         SzLine(kFileHandler, L"Note", L"kept"),
                         SzLine(ClassKey(), L"Keep", L"kept"),
                         KeyLine(ServerKey() + L"\\Sub"),
                         SzLine(ServerKey() + L"\\Sub", L"Inner", L"kept"),
                     }),
              State());
}

struct TBlockCase {
    const char* Label;
    std::vector<std::wstring> VolatileKeys;  // nothing non-volatile can be created below them
    bool LockClassKey;                  // the class key exists and cannot be opened for writing
    std::vector<std::wstring> Missing;  // registered lines that must not appear
};

std::vector<TBlockCase> BlockCases()
{
    const std::wstring id = GetClassIdText();
    const auto fileEntry = std::vector<std::wstring>{KeyLine(kFileHandler),
                                                     SzLine(kFileHandler, L"", id)};
    const auto folderEntry = std::vector<std::wstring>{KeyLine(kFolderHandler),
                                                       SzLine(kFolderHandler, L"", id)};
    const auto serverEntry = std::vector<std::wstring>{
        KeyLine(ServerKey()),
        // The module path differs by route: matched by prefix below.
        ServerKey() + L" : @ = ",
        SzLine(ServerKey(), L"ThreadingModel", L"Apartment"),
    };
    auto classValue = serverEntry;
    classValue.push_back(SzLine(ClassKey(), L"", L"Vesk"));
    auto everything = Joined(Joined(fileEntry, folderEntry), classValue);
    return {
        {"file handler list", {L"*\\shellex\\ContextMenuHandlers"}, false, fileEntry},
        {"folder handler list", {L"Directory\\shellex\\ContextMenuHandlers"}, false, folderEntry},
        {"InprocServer32 below a volatile class key", {ClassKey()}, false, serverEntry},
        {"class key locked", {}, true, classValue},
        {"every key",
         {L"*\\shellex\\ContextMenuHandlers", L"Directory\\shellex\\ContextMenuHandlers"},
         true,
         everything},
    };
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

TEST_P(RegistrationTest, KeysThatCannotBeCreatedArePassedOver)
{
    for (const auto& test : BlockCases()) {
        SCOPED_TRACE(test.Label);
        RemoveRoots();
        for (const auto& key : test.VolatileKeys) MakeVolatileKey(key);
        if (test.LockClassKey) {
            MakeKey(ClassKey());
            ASSERT_TRUE(SetKeyDacl(ClassKey(), kReadOnlyDacl));
        }

        ASSERT_EQ(S_OK, Run(true));

        std::vector<std::wstring> expected;
        for (const auto& line : Registered()) {
            const bool missing = std::any_of(test.Missing.begin(), test.Missing.end(),
                                             [&](const std::wstring& gone) {
                                                 return StartsWith(line, gone);
                                             });
            if (!missing) expected.push_back(line);
        }
        EXPECT_EQ(expected, State());

        // Taking back what could be written succeeds as well.
        EXPECT_EQ(S_OK, Run(false));
    }
}

struct TNeighbour {
    std::wstring Key;   // below Software\Classes
    std::wstring Name;  // value to set in it, if any
    std::wstring Text;
    bool HasValue;
};

TNeighbour KeyOnly(const std::wstring& key)
{
    return {key, L"", L"", false};
}

TNeighbour WithValue(const std::wstring& key, const std::wstring& name, const std::wstring& text)
{
    return {key, name, text, true};
}

struct TUnregisterCase {
    const char* Label;
    bool RegisterFirst;
    std::vector<TNeighbour> Neighbours;   // present before registering
    std::vector<std::wstring> Remaining;  // state of the three roots afterwards
};

std::vector<TUnregisterCase> UnregisterCases()
{
    const std::wstring other = L"*\\shellex\\ContextMenuHandlers\\Other";
    return {
        {"nothing else", true, {}, {}},
        {"another handler for files",
         true,
         {WithValue(other, L"", L"{other}")},
         {KeyLine(L"*"), KeyLine(L"*\\shellex"), KeyLine(L"*\\shellex\\ContextMenuHandlers"),
          KeyLine(other), SzLine(other, L"", L"{other}")}},
        {"another shell extension kind",
         true,
         {KeyOnly(L"*\\shellex\\PropertySheetHandlers")},
         {KeyLine(L"*"), KeyLine(L"*\\shellex"), KeyLine(L"*\\shellex\\PropertySheetHandlers")}},
        {"another subkey of Directory",
         true,
         {KeyOnly(L"Directory\\DefaultIcon")},
         {KeyLine(L"Directory"), KeyLine(L"Directory\\DefaultIcon")}},
        {"values go with pruned keys",
         true,
         {WithValue(L"*", L"", L"All files"), WithValue(L"Directory\\shellex", L"Note", L"x")},
         {}},
        {"class key with more below it", true, {KeyOnly(ServerKey() + L"\\Extra\\Deeper")}, {}},
        {"nothing registered, empty handler list",
         false,
         {KeyOnly(L"Directory\\shellex\\ContextMenuHandlers")},
         {}},
        {"nothing registered, other handler",
         false,
         {WithValue(other, L"", L"{other}")},
         {KeyLine(L"*"), KeyLine(L"*\\shellex"), KeyLine(L"*\\shellex\\ContextMenuHandlers"),
          KeyLine(other), SzLine(other, L"", L"{other}")}},
    };
}

TEST_P(RegistrationTest, UnregisterRemovesTheEntriesAndPrunesOnlyUnusedKeys)
{
    for (const auto& test : UnregisterCases()) {
        SCOPED_TRACE(test.Label);
        RemoveRoots();
        for (const auto& neighbour : test.Neighbours) {
            if (neighbour.HasValue)
                SetText(neighbour.Key, neighbour.Name, neighbour.Text);
            else
                MakeKey(neighbour.Key);
        }
        if (test.RegisterFirst) {
            ASSERT_EQ(S_OK, Run(true));
        }

        EXPECT_EQ(S_OK, Run(false));

        EXPECT_EQ(Sorted(test.Remaining), State());
        EXPECT_TRUE(KeyExists(kClasses));
        if (test.RegisterFirst) {
            EXPECT_TRUE(KeyExists(kClsidKey));
        }
    }
}

TEST_P(RegistrationTest, UnregisteringTwiceSucceedsAndTheSecondRunChangesNothing)
{
    EXPECT_EQ(S_OK, Run(false)) << "nothing registered yet";
    EXPECT_TRUE(State().empty());

    ASSERT_EQ(S_OK, Run(true));
    EXPECT_EQ(S_OK, Run(false));
    EXPECT_TRUE(State().empty());
    EXPECT_EQ(S_OK, Run(false));
    EXPECT_TRUE(State().empty());
    EXPECT_TRUE(KeyExists(kClasses));
    EXPECT_TRUE(KeyExists(kClsidKey));
}

INSTANTIATE_TEST_SUITE_P(Routes, RegistrationTest,
                         ::testing::Values(TRoute::ClassObject, TRoute::ModuleExports,
                                           TRoute::Regsvr32),
                         RouteName);

TEST(ClassIdTextTest, IsTheClassIdInRegistryForm)
{
    const std::wstring text = GetClassIdText();
    ASSERT_EQ(38u, text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        SCOPED_TRACE(at + 1);
        if (at == 0)
            EXPECT_EQ(L'{', text[at]);
        else if (at == 37)
            EXPECT_EQ(L'}', text[at]);
        else if (at == 9 || at == 14 || at == 19 || at == 24)
            EXPECT_EQ(L'-', text[at]);
        else
            EXPECT_TRUE(std::iswdigit(text[at]) || (text[at] >= L'A' && text[at] <= L'F'));
    }
    // The same identifier the class object is served under.
    wchar_t platform[39] = {};
    ASSERT_EQ(39, StringFromGUID2(CLSID_VeskShellExtension, platform, 39));
    EXPECT_EQ(std::wstring(platform), text);
    EXPECT_EQ(L"{4A9340A6-ABD2-4183-88F6-CBB4095CC27D}", text);
}

}  // namespace
