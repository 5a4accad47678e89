// The context menu on real menus: items, states, texts and dispatch.
#include "Extension.h"
#include "TestSupport.h"
#include "support/TextConv.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const wchar_t kBackupHelp[] = L"選択した項目をバックアップします";
const wchar_t kRestoreHelp[] = L"選択した項目をリストアします";

// A host menu with some items of its own, destroyed at the end.
struct THostMenu {
    const TMenuHandle Owner{CreatePopupMenu()};
    const HMENU Handle = Owner.Get();
    explicit THostMenu(int items = 8)
    {
        for (int i = 0; i < items; ++i)
            AppendMenuW(Handle, MF_STRING, 1 + i, (L"Host item " + std::to_wstring(i)).c_str());
    }
};

std::wstring ItemText(HMENU menu, UINT position)
{
    wchar_t text[128] = {};
    GetMenuStringW(menu, position, text, 128, MF_BYPOSITION);
    return text;
}

// Also for an item that opens a submenu, where GetMenuItemID gives -1.
UINT ItemId(HMENU menu, UINT position)
{
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_ID;
    GetMenuItemInfoW(menu, position, TRUE, &info);
    return info.wID;
}

bool IsGrayed(HMENU menu, UINT id)
{
    return (GetMenuState(menu, id, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) != 0;
}

const char kWatchList[] = "[W]\r\nSource=C:\\Data\r\nDest=E:\\Backup\r\nAttribute=D\r\n";

}  // namespace

class ContextMenuTest : public ::testing::Test {
protected:
    TWatchListGuard FGuard;
    void SetUp() override { FGuard.WriteWatchList(kWatchList); }
};

TEST_F(ContextMenuTest, SubmenuGoesBelowTheSuggestedPositionWithItsTwoCommands)
{
    TExtension extension;
    THostMenu host;
    EXPECT_EQ(extension.Menu()->QueryContextMenu(host.Handle, 5, 100, 200, CMF_NORMAL),
              kThreeIdsUsed);

    ASSERT_EQ(GetMenuItemCount(host.Handle), 9);
    EXPECT_EQ(GetMenuItemID(host.Handle, 5), 6u)
        << "the host's item at the suggested position stays";
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_STATE | MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoW(host.Handle, 6, TRUE, &info));
    EXPECT_EQ(info.wID, 100u);
    EXPECT_EQ(info.fType, static_cast<UINT>(MFT_STRING));
    EXPECT_EQ(info.fState & (MFS_GRAYED | MFS_DISABLED), 0u) << "the submenu item is enabled";
    EXPECT_EQ(ItemText(host.Handle, 6), L"Vesk");

    const HMENU submenu = info.hSubMenu;
    ASSERT_NE(submenu, nullptr);
    ASSERT_EQ(GetMenuItemCount(submenu), 2);
    EXPECT_EQ(GetMenuItemID(submenu, 0), 101u);
    EXPECT_EQ(GetMenuItemID(submenu, 1), 102u);
    EXPECT_EQ(ItemText(submenu, 0), L"バックアップ");
    EXPECT_EQ(ItemText(submenu, 1), L"リストア");
}

TEST_F(ContextMenuTest, CommandStatesFollowTheWatchList)
{
    struct TCase {
        const wchar_t* Path;
        bool BackupEnabled;
        bool RestoreEnabled;
    };
    const TCase cases[] = {
        {L"C:\\Data\\Sub\\x.txt", true, true},
        {L"E:\\Backup\\x.txt", false, true},
        {L"Z:\\Elsewhere\\x.txt", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        TExtension extension({c.Path, L"Z:\\second\\is\\not\\looked\\at"});
        THostMenu host;
        EXPECT_EQ(extension.Menu()->QueryContextMenu(host.Handle, 0, 1000, 1002, CMF_NORMAL),
                  kThreeIdsUsed);
        EXPECT_EQ(!IsGrayed(host.Handle, 1001), c.BackupEnabled);
        EXPECT_EQ(!IsGrayed(host.Handle, 1002), c.RestoreEnabled);
    }
}

TEST_F(ContextMenuTest, FlagsAndLastIdentifierAreNotConsulted)
{
    const UINT flags[] = {CMF_DEFAULTONLY, CMF_VERBSONLY, CMF_EXPLORE | CMF_EXTENDEDVERBS};
    for (UINT f : flags) {
        TExtension extension;
        THostMenu host(0);
        EXPECT_EQ(extension.Menu()->QueryContextMenu(host.Handle, 0, 7, 7, f), kThreeIdsUsed);
        EXPECT_EQ(GetMenuItemCount(host.Handle), 1);
        EXPECT_EQ(ItemId(host.Handle, 0), 7u);
    }
}

TEST_F(ContextMenuTest, MissingWatchListLeavesBothGrayed)
{
    RemoveTree(FGuard.HarrowfenDir());
    TExtension extension;
    THostMenu host;
    EXPECT_EQ(extension.Menu()->QueryContextMenu(host.Handle, 0, 1, 3, CMF_NORMAL), kThreeIdsUsed);
    EXPECT_TRUE(IsGrayed(host.Handle, 2));
    EXPECT_TRUE(IsGrayed(host.Handle, 3));
}

TEST_F(ContextMenuTest, RefusedInsertionAddsNothing)
{
    TExtension extension;
    const HMENU gone = DestroyedMenu();
    EXPECT_EQ(extension.Menu()->QueryContextMenu(gone, 0, 1, 3, CMF_NORMAL), S_OK);
    EXPECT_EQ(extension.Menu()->QueryContextMenu(nullptr, 0, 1, 3, CMF_NORMAL), S_OK);
}

TEST_F(ContextMenuTest, SecondQueryAddsASecondSubmenu)
{
    TExtension extension;
    THostMenu host(2);
    extension.Menu()->QueryContextMenu(host.Handle, 0, 10, 20, CMF_NORMAL);
    extension.Menu()->QueryContextMenu(host.Handle, 0, 30, 40, CMF_NORMAL);
    EXPECT_EQ(GetMenuItemCount(host.Handle), 4);
    EXPECT_EQ(ItemId(host.Handle, 1), 30u);
    EXPECT_EQ(ItemId(host.Handle, 2), 10u);
}

// ---------------------------------------------------------------------------
// GetCommandString

namespace {

const char kUntouched = '#';

struct TBuffer {
    char Bytes[256];
    TBuffer() { std::fill(std::begin(Bytes), std::end(Bytes), kUntouched); }
    bool UntouchedFrom(size_t from) const
    {
        return std::all_of(Bytes + from, std::end(Bytes), [](char c) { return c == kUntouched; });
    }
    const wchar_t* Wide() const { return reinterpret_cast<const wchar_t*>(Bytes); }
};

}  // namespace

TEST(GetCommandString, WideVerbRequestGetsTheHelpText)
{
    struct TCase {
        UINT_PTR Offset;
        UINT CchMax;
        std::wstring Expected;
    };
    const TCase cases[] = {
        {1, 100, kBackupHelp},
        {1, 17, kBackupHelp},
        {1, 10, std::wstring(kBackupHelp).substr(0, 9)},
        {1, 1, L""},
        {2, 100, kRestoreHelp},
    };
    TExtension extension;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.Offset << " cchMax " << c.CchMax);
        TBuffer buffer;
        EXPECT_EQ(extension.Menu()->GetCommandString(c.Offset, GCS_VERBW, nullptr, buffer.Bytes,
                                                     c.CchMax),
                  S_OK);
        EXPECT_EQ(std::wstring(buffer.Wide()), c.Expected);
        EXPECT_TRUE(buffer.UntouchedFrom((c.Expected.size() + 1) * sizeof(wchar_t)));
    }
}

TEST(GetCommandString, OtherRequestsAndOffsets)
{
    struct TCase {
        UINT_PTR Offset;
        UINT Flags;
        HRESULT Expected;
    };
    const TCase cases[] = {
        {1, GCS_HELPTEXTA, S_OK},
        {1, GCS_HELPTEXTW, S_OK},
        {1, GCS_VALIDATEA, S_OK},
        {2, GCS_VALIDATEW, S_OK},
        {2, 0x100, S_OK},
        {0, GCS_VERBW, E_INVALIDARG},
        {0, GCS_VERBA, E_INVALIDARG},
        {3, GCS_VERBW, E_INVALIDARG},
        {3, GCS_HELPTEXTW, E_INVALIDARG},
    };
    TExtension extension;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.Offset << " flags " << c.Flags);
        TBuffer buffer;
        EXPECT_EQ(extension.Menu()->GetCommandString(c.Offset, c.Flags, nullptr, buffer.Bytes, 100),
                  c.Expected);
        EXPECT_TRUE(buffer.UntouchedFrom(0));
    }
}

TEST(GetCommandString, NoRoomWritesNothing)
{
    TExtension extension;
    for (UINT flags : {GCS_VERBA, GCS_VERBW}) {
        TBuffer buffer;
        EXPECT_EQ(extension.Menu()->GetCommandString(1, flags, nullptr, buffer.Bytes, 0), S_OK);
        EXPECT_TRUE(buffer.UntouchedFrom(0));
        // No buffer to write to is a bad argument, not a text written.
        EXPECT_EQ(extension.Menu()->GetCommandString(1, flags, nullptr, nullptr, 100),
                  E_INVALIDARG);
    }
    // A validation request has nothing to write.
    for (UINT flags : {GCS_VALIDATEA, GCS_VALIDATEW})
        EXPECT_EQ(extension.Menu()->GetCommandString(1, flags, nullptr, nullptr, 0), S_OK);
}

// The 8-bit verb is the help text in the process's ANSI code page; the
// build's tests run once in code page 1252 and once in 932.
TEST(AnsiCodePage, EightBitVerbIsCountedInBytes)
{
    const UINT codePage = GetACP();
    std::string restore;
    if (codePage == 932) {
        restore = "\x91\x49\x91\xF0\x82\xB5\x82\xBD\x8D\x80\x96\xDA\x82\xF0\x83\x8A\x83\x58\x83\x67"
                  "\x83\x41\x82\xB5\x82\xDC\x82\xB7";
    } else if (codePage == 1252) {
        restore = std::string(14, '?');
    } else {
        GTEST_SKIP() << "code page " << codePage;
    }
    TExtension extension;
    TBuffer whole;
    EXPECT_EQ(extension.Menu()->GetCommandString(2, GCS_VERBA, nullptr, whole.Bytes, 100), S_OK);
    EXPECT_EQ(std::string(whole.Bytes), restore);
    EXPECT_TRUE(whole.UntouchedFrom(restore.size() + 1));

    // Cut after three bytes: inside the second double-byte character in 932.
    TBuffer cut;
    EXPECT_EQ(extension.Menu()->GetCommandString(2, GCS_VERBA, nullptr, cut.Bytes, 4), S_OK);
    EXPECT_EQ(std::string(cut.Bytes, 4), restore.substr(0, 3) + '\0');
    EXPECT_TRUE(cut.UntouchedFrom(4));
}

// ---------------------------------------------------------------------------
// InvokeCommand paths that need no main application

TEST(InvokeCommand, InvalidOffsetsShowTheFailureBox)
{
    for (UINT_PTR offset : {0, 3, 0xFFFF}) {
        SCOPED_TRACE(offset);
        TExtension extension;
        TMessageBoxWatcher boxes(L"Vesk");
        CMINVOKECOMMANDINFO info = OffsetInvoke(offset);
        EXPECT_EQ(extension.Menu()->InvokeCommand(&info), E_INVALIDARG);
        boxes.WaitFor(1, 20000);
        EXPECT_EQ(boxes.Texts(), std::vector<std::wstring>{L"FAIL: IContextMenu.InvokeCommand"});
    }
}

TEST(InvokeCommand, ForeignStringVerbsAndNullAreRefusedSilently)
{
    TExtension extension;
    TMessageBoxWatcher boxes(L"Vesk");
    for (const char* verb : {"open", "delete", "properties", "", "バックアップ"}) {
        CMINVOKECOMMANDINFO info = OffsetInvoke(0);
        info.lpVerb = verb;
        EXPECT_EQ(extension.Menu()->InvokeCommand(&info), E_FAIL) << verb;
    }
    // The wide verb of another command, given in the extended structure.
    CMINVOKECOMMANDINFOEX wide = {};
    wide.cbSize = sizeof(wide);
    wide.fMask = CMIC_MASK_UNICODE;
    wide.lpVerb = "open";
    wide.lpVerbW = L"open";
    EXPECT_EQ(extension.Menu()->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&wide)),
              E_FAIL);
    EXPECT_EQ(extension.Menu()->InvokeCommand(nullptr), E_INVALIDARG);
    // A silent refusal has no event to wait for: a grace period for a late box.
    Sleep(300);
    EXPECT_TRUE(boxes.Texts().empty());
}
