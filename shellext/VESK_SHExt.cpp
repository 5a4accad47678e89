#include "VESK_SHExt.h"
#include "VESK_Consts.h"
#include "WatchList.h"
#include "../dde/DdeConversation.h"
#include "../module/ServerState.h"
#include "../support/DropFiles.h"
#include "../support/Handles.h"
#include "../support/TextConv.h"
#include "../support/VeskError.h"

#include <shellapi.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <new>

namespace {

const wchar_t kInvokeFailureText[] = L"FAIL: IContextMenu.InvokeCommand";
const wchar_t kExecuteServerFailureText[] = L"FAIL: ExecuteServer.";
const wchar_t kConstructionErrorCaption[] = L"ZAZ エラー";

// The main application gets this long to become idle for input after a start.
const DWORD kServerStartIdleTimeoutMs = 60000;
// The DDE part of a hand-off gets this long: the fallback start inside it
// waits up to 30 s for the started program.
const DWORD kHandOffTimeoutMs = 45000;

// Command offsets from the host's first identifier; 0 is the submenu item.
const UINT kOffsetBackup = 1;
const UINT kOffsetRestore = 2;
const HRESULT kCommandsAdded = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3);

void ShowErrorBox(const std::wstring& text) noexcept
{
    MessageBoxW(nullptr, text.c_str(), kMessageCaption, MB_OK | MB_ICONERROR);
}

// Help text of a command, or 0 for an offset that has none.
UINT HelpTextId(UINT_PTR offset) noexcept
{
    switch (offset) {
    case kOffsetBackup: return IDS_BACKUP_HELP;
    case kOffsetRestore: return IDS_RESTORE_HELP;
    default: return 0;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// TComObject

TComObject::TComObject(TShellExtensionFactory* factory, IUnknown* controller) noexcept
    : FController(controller), FFactory(factory), FInner(*this)
{
}

TComObject::~TComObject()
{
    if (FCounted) ServerState().DecObjectCount();
}

void TComObject::CountObject() noexcept
{
    ServerState().IncObjectCount();
    FCounted = true;
}

void* TComObject::FindInterface(REFIID riid) noexcept
{
    if (void* own = FindOwnInterface(riid)) return own;
    if (IsEqualIID(riid, IID_ISupportErrorInfo)) return static_cast<ISupportErrorInfo*>(this);
    if (IsEqualIID(riid, IID_IUnknown)) return &FInner;
    return nullptr;
}

HRESULT TComObject::ObjQueryInterface(REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    void* found = FindInterface(riid);
    if (found == nullptr) return E_NOINTERFACE;
    static_cast<IUnknown*>(found)->AddRef();
    *ppv = found;
    return S_OK;
}

ULONG TComObject::ObjAddRef() noexcept
{
    return static_cast<ULONG>(InterlockedIncrement(&FRefCount));
}

ULONG TComObject::ObjRelease() noexcept
{
    const LONG count = InterlockedDecrement(&FRefCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT TComObject::DelegatingQueryInterface(REFIID riid, void** ppv) noexcept
{
    if (FController != nullptr) return FController->QueryInterface(riid, ppv);
    return ObjQueryInterface(riid, ppv);
}

ULONG TComObject::DelegatingAddRef() noexcept
{
    return FController != nullptr ? FController->AddRef() : ObjAddRef();
}

ULONG TComObject::DelegatingRelease() noexcept
{
    return FController != nullptr ? FController->Release() : ObjRelease();
}

HRESULT TComObject::InterfaceSupportsErrorInfo(REFIID riid)
{
    return FindInterface(riid) != nullptr ? S_OK : S_FALSE;
}

HRESULT TComObject::TInnerUnknown::QueryInterface(REFIID riid, void** ppv)
{
    return FOwner.ObjQueryInterface(riid, ppv);
}

ULONG TComObject::TInnerUnknown::AddRef()
{
    return FOwner.ObjAddRef();
}

ULONG TComObject::TInnerUnknown::Release()
{
    return FOwner.ObjRelease();
}

// ---------------------------------------------------------------------------
// TShellExtension

TShellExtension::TShellExtension(TShellExtensionFactory* factory, IUnknown* controller) noexcept
    : TComObject(factory, controller)
{
}

void* TShellExtension::FindOwnInterface(REFIID riid) noexcept
{
    if (IsEqualIID(riid, IID_IContextMenu)) return static_cast<IContextMenu*>(this);
    if (IsEqualIID(riid, IID_IShellExtInit)) return static_cast<IShellExtInit*>(this);
    return nullptr;
}

HRESULT TShellExtension::QueryInterface(REFIID riid, void** ppv)
{
    return DelegatingQueryInterface(riid, ppv);
}

ULONG TShellExtension::AddRef()
{
    return DelegatingAddRef();
}

ULONG TShellExtension::Release()
{
    return DelegatingRelease();
}

HRESULT TShellExtension::Initialize(PCIDLIST_ABSOLUTE, IDataObject* lpdObj, HKEY)
{
    if (lpdObj == nullptr) return E_FAIL;
    try {
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        TStgMedium medium;
        const HRESULT result = lpdObj->GetData(&format, medium.Put());
        if (FAILED(result)) return result;
        medium.SetFilled();
        if (medium.Get().tymed != TYMED_HGLOBAL || medium.Get().hGlobal == nullptr) return E_FAIL;

        std::vector<std::wstring> paths;
        if (!ReadDropFiles(medium.Get().hGlobal, paths)) return E_FAIL;
        std::wstring files;
        for (const auto& path : paths) files += path + L"\r\n";
        FPath = paths.empty() ? std::wstring() : paths.front();
        FFiles = std::move(files);
        return result;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT TShellExtension::QueryContextMenu(HMENU Menu, UINT indexMenu, UINT idCmdFirst, UINT,
                                          UINT)
{
    try {
        TMenuHandle submenu(CreateMenu());
        const std::wstring caption = LoadResourceText(IDS_SUBMENU_CAPTION);
        MENUITEMINFOW item = {};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_TYPE;
        item.fType = MFT_STRING;
        item.wID = idCmdFirst;
        item.hSubMenu = submenu.Get();
        item.dwTypeData = const_cast<LPWSTR>(caption.c_str());
        item.cch = static_cast<UINT>(caption.size());
        if (!InsertMenuItemW(Menu, indexMenu + 1, TRUE, &item)) return 0;
        const HMENU commands = submenu.Release();  // the host's menu owns it now

        AppendMenuW(commands, MF_GRAYED, idCmdFirst + kOffsetBackup,
                    LoadResourceText(IDS_BACKUP_ITEM).c_str());
        AppendMenuW(commands, MF_GRAYED, idCmdFirst + kOffsetRestore,
                    LoadResourceText(IDS_RESTORE_ITEM).c_str());

        try {
            switch (DecideCommandState(FPath)) {
            case TCommandState::Both:
                EnableMenuItem(Menu, idCmdFirst + kOffsetBackup, MF_BYCOMMAND | MF_ENABLED);
                EnableMenuItem(Menu, idCmdFirst + kOffsetRestore, MF_BYCOMMAND | MF_ENABLED);
                break;
            case TCommandState::RestoreOnly:
                EnableMenuItem(Menu, idCmdFirst + kOffsetRestore, MF_BYCOMMAND | MF_ENABLED);
                break;
            case TCommandState::None:
                break;
            }
        } catch (...) {
            // An unreadable watch list leaves both commands grayed.
        }
        return kCommandsAdded;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT TShellExtension::GetCommandString(UINT_PTR idCmd, UINT uFlags, UINT*, LPSTR pszName,
                                          UINT cchMax)
{
    const UINT textId = HelpTextId(idCmd);
    if (textId == 0) return E_INVALIDARG;
    if (pszName == nullptr || cchMax == 0) return S_OK;
    try {
        switch (uFlags) {
        case GCS_VERBA: {
            const std::string text = WideToAnsi(LoadResourceText(textId));
            const size_t count = text.size() < cchMax - 1 ? text.size() : cchMax - 1;
            std::memcpy(pszName, text.data(), count);
            pszName[count] = '\0';
            break;
        }
        case GCS_VERBW: {
            const std::wstring text = LoadResourceText(textId);
            const size_t count = text.size() < cchMax - 1 ? text.size() : cchMax - 1;
            auto* buffer = reinterpret_cast<wchar_t*>(pszName);
            std::memcpy(buffer, text.data(), count * sizeof(wchar_t));
            buffer[count] = L'\0';
            break;
        }
        default:
            break;
        }
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT TShellExtension::InvokeCommand(CMINVOKECOMMANDINFO* lpici)
{
    if (lpici == nullptr) return E_INVALIDARG;
    UINT_PTR offset = 0;
    try {
        if (!IS_INTRESOURCE(lpici->lpVerb)) {
            // A string verb runs a command only when it is the verb this
            // extension reported for it.
            const auto* extended = reinterpret_cast<const CMINVOKECOMMANDINFOEX*>(lpici);
            const bool wide = lpici->cbSize >= sizeof(CMINVOKECOMMANDINFOEX) &&
                              (lpici->fMask & CMIC_MASK_UNICODE) != 0 &&
                              !IS_INTRESOURCE(extended->lpVerbW);
            offset = 0;
            for (UINT candidate : {kOffsetBackup, kOffsetRestore}) {
                const std::wstring verb = LoadResourceText(HelpTextId(candidate));
                const bool same = wide ? verb == extended->lpVerbW
                                       : WideToAnsi(verb) == lpici->lpVerb;
                if (same) offset = candidate;
            }
            if (offset == 0) return E_FAIL;
        } else {
            offset = reinterpret_cast<UINT_PTR>(lpici->lpVerb);
        }

        switch (offset) {
        case kOffsetBackup:
            ExecuteServer(kBackupTopic);
            return S_OK;
        case kOffsetRestore:
            ExecuteServer(kRestoreTopic);
            return S_OK;
        default:
            ShowErrorBox(kInvokeFailureText);
            return E_INVALIDARG;
        }
    } catch (...) {
        ShowErrorBox(kInvokeFailureText);
        return offset == kOffsetBackup || offset == kOffsetRestore ? S_OK : E_FAIL;
    }
}

std::vector<std::wstring> SplitLines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\r' && text[i] != L'\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

namespace {

// The DDE part of a hand-off runs on a thread of its own.  DdeConnect sends
// its initiate message to every top-level window and waits for each; one
// window whose thread never pumps would hold the caller, Explorer's UI
// thread, forever.  The caller waits a bounded time and then gives up; a
// worker that got through too late sends nothing.
class THandOffJob {
public:
    enum class TStage { Connecting, Executing, Closing };

    THandOffJob(std::wstring topic, std::vector<std::wstring> lines, std::wstring serverExe)
        : FTopic(std::move(topic)), FLines(std::move(lines)), FServerExe(std::move(serverExe)),
          FDone(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }

    HANDLE Done() const noexcept { return FDone.Get(); }

    // Runs on the worker thread: its own DDE instance, link, execute, close.
    void Run() noexcept
    {
        try {
            TDdeInstance instance;
            if (!instance.Initialized()) {
                Finish(TDdeInstance::ErrorText(instance.InitError()));
                return;
            }
            TDdeConversation conversation(instance, FServerExe);
            if (!conversation.SetLink(kDdeService, FTopic)) {
                Finish(kExecuteServerFailureText + std::wstring(L"SetLink"));
                return;
            }
            if (!Enter(TStage::Executing)) return;  // the caller gave up: send nothing
            if (!conversation.ExecuteMacroLines(FLines, false)) {
                Finish(kExecuteServerFailureText + std::wstring(L"ExecuteMacroLines"));
                return;
            }
            Enter(TStage::Closing);
            // The conversation and the instance end here, before Done is set.
        } catch (...) {
            Finish(kInvokeFailureText);
            return;
        }
        Finish(std::wstring());
    }

    // Runs on the caller's thread when the wait ran out: the failure to
    // report, judged by how far the worker got.
    std::wstring Abandon()
    {
        std::lock_guard<std::mutex> hold(FLock);
        FAbandoned = true;
        if (FFinished) return FFailure;
        switch (FStage) {
        case TStage::Connecting: return kExecuteServerFailureText + std::wstring(L"SetLink");
        case TStage::Executing: return kExecuteServerFailureText + std::wstring(L"ExecuteMacroLines");
        case TStage::Closing: break;
        }
        return std::wstring();  // the request went out; only the close is slow
    }

    std::wstring Failure()
    {
        std::lock_guard<std::mutex> hold(FLock);
        return FFailure;
    }

private:
    bool Enter(TStage stage)
    {
        std::lock_guard<std::mutex> hold(FLock);
        if (FAbandoned) return false;
        FStage = stage;
        return true;
    }

    void Finish(std::wstring failure)
    {
        {
            std::lock_guard<std::mutex> hold(FLock);
            FFailure = std::move(failure);
            FFinished = true;
        }
        SetEvent(FDone.Get());
    }

    const std::wstring FTopic;
    const std::vector<std::wstring> FLines;
    const std::wstring FServerExe;
    TKernelHandle FDone;
    std::mutex FLock;
    TStage FStage = TStage::Connecting;
    bool FAbandoned = false;
    bool FFinished = false;
    std::wstring FFailure;
};

struct THandOffThreadStart {
    std::shared_ptr<THandOffJob> Job;
    HMODULE Module;
};

DWORD WINAPI RunHandOffThread(LPVOID parameter)
{
    std::unique_ptr<THandOffThreadStart> start(static_cast<THandOffThreadStart*>(parameter));
    start->Job->Run();
    const HMODULE module = start->Module;
    start.reset();
    // The thread holds the module, so a late worker never runs unloaded code.
    FreeLibraryAndExitThread(module, 0);
}

// Waits for the job while serving the messages other threads send to this
// thread's windows: the worker's initiate message may be one of them.
bool WaitServingSentMessages(HANDLE done, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return WaitForSingleObject(done, 0) == WAIT_OBJECT_0;
        const DWORD result = MsgWaitForMultipleObjects(1, &done, FALSE,
                                                       static_cast<DWORD>(deadline - now),
                                                       QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) return true;
        if (result == WAIT_OBJECT_0 + 1) {
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        if (result == WAIT_TIMEOUT) return WaitForSingleObject(done, 0) == WAIT_OBJECT_0;
        return false;
    }
}

}  // namespace

void TShellExtension::ExecuteServer(const std::wstring& topic)
{
    std::wstring failedStep;
    if (FindWindowW(kMainWindowClass, kMainWindowTitle) == nullptr) {
        const std::wstring serverExe = GetServerExePath();
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof(info);
        // Some platforms ignore SEE_MASK_WAITFORINPUTIDLE; the process handle
        // lets the wait below happen everywhere.
        info.fMask = SEE_MASK_WAITFORINPUTIDLE | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC |
                     SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = L"open";
        info.lpFile = serverExe.c_str();
        info.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExW(&info)) {
            ShowErrorBox(kExecuteServerFailureText + std::wstring(L"ShellExecuteEx"));
            return;
        }
        TKernelHandle process(info.hProcess);
        if (process) WaitForInputIdle(process.Get(), kServerStartIdleTimeoutMs);
    }

    auto job = std::make_shared<THandOffJob>(topic, SplitLines(FFiles), GetServerExePath());
    if (!job->Done()) throw EVeskError(kInvokeFailureText);
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&RunHandOffThread), &module))
        throw EVeskError(kInvokeFailureText);
    auto* start = new THandOffThreadStart{job, module};
    TKernelHandle thread(CreateThread(nullptr, 0, RunHandOffThread, start, 0, nullptr));
    if (!thread) {
        delete start;
        FreeLibrary(module);
        throw EVeskError(kInvokeFailureText);
    }

    const std::wstring failure = WaitServingSentMessages(job->Done(), kHandOffTimeoutMs)
                                     ? job->Failure()
                                     : job->Abandon();
    if (!failure.empty()) ShowErrorBox(failure);
}

// ---------------------------------------------------------------------------
// TShellExtensionFactory

HRESULT TShellExtensionFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG TShellExtensionFactory::AddRef()
{
    return static_cast<ULONG>(ServerState().IncFactoryCount());
}

ULONG TShellExtensionFactory::Release()
{
    return static_cast<ULONG>(ServerState().DecFactoryCount());
}

TShellExtension* TShellExtensionFactory::CreateComObject(IUnknown* controller)
{
    auto* object = new TShellExtension(this, controller);
    object->SetRefCount(1);
    object->CountObject();
    object->SetRefCount(0);
    return object;
}

HRESULT TShellExtensionFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;

    TShellExtension* object = nullptr;
    try {
        object = CreateComObject(outer);
    } catch (const EVeskError& error) {
        std::wstring text = error.Message();
        if (!text.empty() && text.back() > L'.') text += L'.';
        MessageBoxW(nullptr, text.c_str(), kConstructionErrorCaption,
                    MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
        return E_UNEXPECTED;
    } catch (...) {
        return E_UNEXPECTED;
    }

    const HRESULT result = object->ObjQueryInterface(riid, ppv);
    if (object->RefCount() == 0) delete object;
    return result;
}

HRESULT TShellExtensionFactory::LockServer(BOOL fLock)
{
    const HRESULT result =
        CoLockObjectExternal(static_cast<IUnknown*>(this), fLock, TRUE);
    if (fLock)
        ServerState().IncObjectCount();
    else
        ServerState().DecObjectCount();
    return result;
}
