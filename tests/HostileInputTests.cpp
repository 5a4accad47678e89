// Hostile input: damaged or huge watch lists, many menus, huge selections
// and null pointers.  Nothing may crash or hang, and each failure is the
// documented one.
#include "Extension.h"
#include "TestSupport.h"
#include "shellext/VESK_Consts.h"
#include "module/ModuleState.h"

#include <psapi.h>

#include <gtest/gtest.h>

#include <random>

namespace {

struct TMenuState {
    HRESULT Result;
    bool BackupEnabled;
    bool RestoreEnabled;
};

TMenuState QueryMenu(TExtension& extension)
{
    const TMenuHandle host(CreatePopupMenu());
    TMenuState state;
    state.Result = extension->QueryContextMenu(host.Get(), 0, 1, 3, CMF_NORMAL);
    state.BackupEnabled = !(GetMenuState(host.Get(), 2, MF_BYCOMMAND) & MF_GRAYED);
    state.RestoreEnabled = !(GetMenuState(host.Get(), 3, MF_BYCOMMAND) & MF_GRAYED);
    return state;
}

SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    return counters.PrivateUsage;
}

}  // namespace

class HostileWatchListTest : public ::testing::Test {
protected:
    TWatchListGuard FGuard;
};

TEST_F(HostileWatchListTest, DamagedOrStrangeFilesLeaveTheMenuWorking)
{
    std::mt19937 random(20261211);
    std::string noise(256 * 1024, '\0');
    for (auto& byte : noise) byte = static_cast<char>(random());

    std::wstring utf16Text = L"[W]\r\nSource=C:\\Data\r\nAttribute=D\r\n";
    std::string utf16NoBom(reinterpret_cast<const char*>(utf16Text.data()),
                           utf16Text.size() * sizeof(wchar_t));

    struct TCase {
        const char* Name;
        std::string Content;
        bool WithUtf16Bom;
        TMenuState Expected;
    };
    const TCase cases[] = {
        {"random binary bytes", noise, false, {kThreeIdsUsed, false, false}},
        {"1 MB line",
         "[W]\r\nSource=" + std::string(1024 * 1024, 'S') + "\r\nAttribute=D\r\n",
         false,
         {kThreeIdsUsed, false, false}},
        {"1 MB section name",
         "[" + std::string(1024 * 1024, 'N') + "]\r\nSource=C:\\Data\r\n",
         false,
         {kThreeIdsUsed, true, true}},
        {"UTF-16 without byte-order mark", utf16NoBom, false, {kThreeIdsUsed, false, false}},
        {"UTF-16 with byte-order mark", "", true, {kThreeIdsUsed, true, true}},
        {"no line breaks at all", std::string(100000, '['), false, {kThreeIdsUsed, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.WithUtf16Bom) {
            FGuard.WriteWatchList("");
            WriteUtf16File(FGuard.WatchListPath(), utf16Text, true);
        } else {
            FGuard.WriteWatchList(c.Content);
        }
        TExtension extension({L"C:\\Data\\x.txt"});
        const TMenuState state = QueryMenu(extension);
        EXPECT_EQ(state.Result, c.Expected.Result);
        if (std::string(c.Name) == "UTF-16 without byte-order mark" ||
            std::string(c.Name) == "random binary bytes") {
            // What the profile functions make of these is theirs; the menu stands.
            continue;
        }
        EXPECT_EQ(state.BackupEnabled, c.Expected.BackupEnabled);
        EXPECT_EQ(state.RestoreEnabled, c.Expected.RestoreEnabled);
    }
}

TEST_F(HostileWatchListTest, TwoHundredThousandSections)
{
    std::string text;
    text.reserve(200000 * 40);
    text += "[First]\r\nSource=C:\\Data\r\nAttribute=D\r\n";
    for (int i = 1; i < 200000; ++i)
        text += "[W" + std::to_string(i) + "]\r\nSource=X:\\" + std::to_string(i) + "\r\n";
    FGuard.WriteWatchList(text);
    TExtension extension({L"C:\\Data\\x.txt"});
    const TMenuState state = QueryMenu(extension);
    EXPECT_EQ(state.Result, kThreeIdsUsed);
    EXPECT_TRUE(state.BackupEnabled);
    EXPECT_TRUE(state.RestoreEnabled);
}

TEST_F(HostileWatchListTest, TenThousandMenusLeaveNoMenusOrMemoryBehind)
{
    FGuard.WriteWatchList("[W]\r\nSource=C:\\Data\r\nAttribute=D\r\n");
    TExtension extension({L"C:\\Data\\x.txt"});
    for (int i = 0; i < 200; ++i) QueryMenu(extension);  // warm up caches

    const SIZE_T before = PrivateBytes();
    for (int i = 0; i < 10000; ++i) {
        TMenuHandle host(CreatePopupMenu());
        ASSERT_EQ(extension->QueryContextMenu(host.Get(), 0, 1, 3, CMF_NORMAL), kThreeIdsUsed);
        const HMENU submenu = GetSubMenu(host.Get(), 0);
        host.Reset();
        ASSERT_FALSE(IsMenu(submenu)) << "the submenu goes with the host's menu";
    }
    const SIZE_T after = PrivateBytes();
    EXPECT_LT(after, before + 4 * 1024 * 1024)
        << "private bytes grew from " << before << " to " << after;
}

TEST_F(HostileWatchListTest, RefusedInsertionsLeakNoSubmenus)
{
    TExtension extension;
    const HMENU gone = DestroyedMenu();
    // The window manager hands a freed menu slot out again: a fresh menu
    // lands in the same slot only when every submenu made in between is gone.
    TMenuHandle probe(CreateMenu());
    const WORD slot = LOWORD(reinterpret_cast<ULONG_PTR>(probe.Get()));
    probe.Reset();
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(extension->QueryContextMenu(gone, 0, 1, 3, 0), S_OK);
    probe.Reset(CreateMenu());
    EXPECT_EQ(LOWORD(reinterpret_cast<ULONG_PTR>(probe.Get())), slot);
}

TEST(HostileSelection, TenThousandPaths)
{
    std::vector<std::wstring> paths;
    std::wstring expected;
    for (int i = 0; i < 10000; ++i) {
        paths.push_back(L"C:\\Some Folder\\Sub\\file number " + std::to_wstring(i) + L".txt");
        expected += paths.back() + L"\r\n";
    }
    TExtension extension(paths);
    EXPECT_EQ(extension.InitResult(), S_OK);
    EXPECT_EQ(extension->FPath, paths.front());
    EXPECT_EQ(extension->FFiles, expected);
}

TEST(HostileNullPointers, EveryMethodAnswersWithoutFaulting)
{
    TExtension extension;
    IContextMenu* menu = extension.operator->();
    IShellExtInit* init = extension.operator->();

    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(menu->QueryContextMenu(nullptr, 0, 0, 0, 0), S_OK);
    EXPECT_EQ(menu->GetCommandString(1, GCS_VERBW, nullptr, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(menu->GetCommandString(1, GCS_VERBA, nullptr, nullptr, 100), E_INVALIDARG);
    EXPECT_EQ(menu->InvokeCommand(nullptr), E_INVALIDARG);
    EXPECT_EQ(menu->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(init->QueryInterface(IID_IContextMenu, nullptr), E_POINTER);

    CMINVOKECOMMANDINFO nullVerb = {};
    nullVerb.cbSize = sizeof(nullVerb);
    nullVerb.lpVerb = nullptr;  // offset 0: the failure box
    TMessageBoxWatcher boxes(L"Vesk");
    EXPECT_EQ(menu->InvokeCommand(&nullVerb), E_INVALIDARG);
    boxes.WaitFor(1, 20000);
    EXPECT_EQ(boxes.Texts(), std::vector<std::wstring>{L"FAIL: IContextMenu.InvokeCommand"});

    // A wide verb claimed but not given falls back to the 8-bit one.
    CMINVOKECOMMANDINFOEX claimed = {};
    claimed.cbSize = sizeof(claimed);
    claimed.fMask = CMIC_MASK_UNICODE;
    claimed.lpVerb = "open";
    claimed.lpVerbW = nullptr;
    EXPECT_EQ(menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&claimed)), E_FAIL);

    TShellExtensionFactory factory(ServerState());
    EXPECT_EQ(factory.CreateInstance(nullptr, IID_IContextMenu, nullptr), E_POINTER);
    EXPECT_EQ(factory.QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
}
