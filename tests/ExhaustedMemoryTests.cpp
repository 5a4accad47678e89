// Exhausted memory at every allocation of every entry point: each call
// answers with a result (never an exception, never a terminate), and what
// it leaves behind is as sound as after any other failure.
#include "Extension.h"
#include "FailingAllocations.h"
#include "TestSupport.h"
#include "module/ModuleState.h"
#include "shellext/VESK_SHExt.h"
#include "support/Handles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Runs the call with its nth allocation on this thread failing, for n = 0,
// 1, ... until a run gets through without a refused allocation.  check
// sees each result and whether an allocation was refused in that run.
template <typename TCall, typename TCheck>
void ForEachFailingAllocation(TCall call, TCheck check)
{
    for (long n = 0; n < 1000; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        HRESULT result = E_UNEXPECTED;
        bool refused = false;
        {
            const TFailingAllocations failing(n);
            result = call();
            refused = failing.Failed();
        }
        check(result, refused);
        if (!refused) return;
    }
    ADD_FAILURE() << "the call never got through";
}

// A CF_HDROP data object that allocates nothing of its own, so that only
// the extension's allocations fail.
class TPreparedDataObject : public TFileListDataObject {
public:
    explicit TPreparedDataObject(const std::vector<std::wstring>& paths) : TFileListDataObject({})
    {
        const std::string block = BuildDropBlock(paths);
        FBlock.Reset(GlobalAlloc(GMEM_MOVEABLE, block.size()));
        std::memcpy(GlobalLock(FBlock.Get()), block.data(), block.size());
        GlobalUnlock(FBlock.Get());
    }

    STDMETHODIMP GetData(FORMATETC*, STGMEDIUM* medium) override
    {
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = FBlock.Get();
        medium->pUnkForRelease = &Medium;  // released through the counter, not freed
        return S_OK;
    }

private:
    TGlobalMemory FBlock;
};

}  // namespace

TEST(ExhaustedMemory, InitializeKeepsTheEarlierSelection)
{
    const TExtension extension({L"C:\\Earlier\\a.txt"});
    ASSERT_EQ(extension.InitResult(), S_OK);
    const std::vector<std::wstring> paths = {L"C:\\Docs\\" + std::wstring(300, L'x'), L"C:\\b"};
    TPreparedDataObject data(paths);
    int calls = 0;
    ForEachFailingAllocation(
        [&] {
            ++calls;
            return extension->Initialize(nullptr, &data, nullptr);
        },
        [&](HRESULT result, bool refused) {
            EXPECT_EQ(data.Medium.Releases(), calls) << "the medium is released once per call";
            if (refused) {
                EXPECT_EQ(result, E_OUTOFMEMORY);
                EXPECT_EQ(extension->FPath, L"C:\\Earlier\\a.txt");
                EXPECT_EQ(extension->FFiles, L"C:\\Earlier\\a.txt\r\n");
            } else {
                EXPECT_EQ(result, S_OK);
                EXPECT_EQ(extension->FPath, paths[0]);
                EXPECT_EQ(extension->FFiles, paths[0] + L"\r\n" + paths[1] + L"\r\n");
            }
        });
}

TEST(ExhaustedMemory, QueryContextMenuAddsTheMenuOrFails)
{
    TWatchListGuard watches;
    watches.WriteWatchList("[W]\r\nSource=C:\\Data\r\nDest=E:\\Backup\r\nAttribute=D\r\n");
    const TExtension extension({L"C:\\Data\\x.txt"});
    ASSERT_EQ(extension.InitResult(), S_OK);
    TMenuHandle menu;
    ForEachFailingAllocation(
        [&] {
            menu.Reset(CreatePopupMenu());
            return extension->QueryContextMenu(menu.Get(), 0, 100, 200, CMF_NORMAL);
        },
        [&](HRESULT result, bool refused) {
            // Out of memory in the watch decision leaves both commands grayed.
            if (refused)
                EXPECT_TRUE(result == E_OUTOFMEMORY || result == kThreeIdsUsed)
                    << std::hex << result;
            else
                EXPECT_EQ(result, kThreeIdsUsed);
            if (result == kThreeIdsUsed) {
                EXPECT_EQ(GetMenuItemCount(menu.Get()), 1);
                const UINT backup = GetMenuState(menu.Get(), 101, MF_BYCOMMAND);
                if (!refused) {
                    EXPECT_EQ(backup & MF_GRAYED, 0u) << "the watch matches";
                }
            }
        });
}

TEST(ExhaustedMemory, GetCommandStringWritesAWholeTextOrNothing)
{
    const TExtension extension;
    for (UINT flags : {GCS_VERBA, GCS_VERBW}) {
        SCOPED_TRACE(flags);
        wchar_t buffer[64];
        ForEachFailingAllocation(
            [&] {
                std::memset(buffer, 0xA5, sizeof(buffer));
                return extension->GetCommandString(1, flags, nullptr,
                                                   reinterpret_cast<LPSTR>(buffer), 64);
            },
            [&](HRESULT result, bool refused) {
                if (refused) {
                    EXPECT_EQ(result, E_OUTOFMEMORY);
                    EXPECT_EQ(reinterpret_cast<const BYTE*>(buffer)[0], 0xA5) << "untouched";
                } else {
                    EXPECT_EQ(result, S_OK);
                    EXPECT_NE(reinterpret_cast<const BYTE*>(buffer)[0], 0xA5);
                }
            });
    }
}

TEST(ExhaustedMemory, InvokeCommandShowsOneBoxAndAnswersTheHost)
{
    // Nothing runs and no Vesk.exe stands beside the tests: a run that gets
    // through fails at the start of the main application.
    const TExtension extension({L"C:\\Data\\x.txt"});
    ASSERT_EQ(extension.InitResult(), S_OK);
    CMINVOKECOMMANDINFO backup = OffsetInvoke(1);
    for (long n = 0;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        TMessageBoxWatcher boxes(L"Vesk");
        HRESULT result = E_UNEXPECTED;
        bool refused = false;
        {
            const TFailingAllocations failing(n);
            result = extension->InvokeCommand(&backup);
            refused = failing.Failed();
        }
        EXPECT_EQ(result, S_OK);
        EXPECT_TRUE(boxes.WaitFor(1, 20000));
        const std::vector<std::wstring> expected = {
            refused ? L"FAIL: IContextMenu.InvokeCommand" : L"FAIL: ExecuteServer.ShellExecuteEx"};
        EXPECT_EQ(boxes.Texts(), expected);
        if (!refused || n > 1000) break;
    }

    // A string verb is looked up among the reported ones: no box either way.
    CMINVOKECOMMANDINFO verb = backup;
    verb.lpVerb = "open";
    ForEachFailingAllocation([&] { return extension->InvokeCommand(&verb); },
                             [&](HRESULT result, bool refused) {
                                 EXPECT_EQ(result, refused ? E_OUTOFMEMORY : E_FAIL);
                             });
}

TEST(ExhaustedMemory, CreateInstanceMakesNothingOnFailure)
{
    TShellExtensionFactory factory(ServerState());
    const LONG objects = ServerState().ObjectCount();
    void* out = nullptr;
    ForEachFailingAllocation(
        [&] {
            out = &factory;  // a sentinel the call must clear
            return factory.CreateInstance(nullptr, __uuidof(IContextMenu), &out);
        },
        [&](HRESULT result, bool refused) {
            EXPECT_EQ(result, refused ? E_UNEXPECTED : S_OK);
            if (SUCCEEDED(result))
                static_cast<IContextMenu*>(out)->Release();
            else
                EXPECT_EQ(out, nullptr);
            EXPECT_EQ(ServerState().ObjectCount(), objects);
        });
}
