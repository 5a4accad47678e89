// Context-menu host: does for a selection what Explorer does when the user
// right-clicks it, with the extension as the current user registered it,
// and prints what the extension answers.  The way a support engineer sees
// the menu without Explorer, and the way the demo drives the extension.
//
//   VeskHost [--invoke backup|restore] [--show] [--show-for <ms>]
//            [--close-boxes <ms>] <path> [<path>...]
//
// Exit codes: 0 done, 1 usage, 2 selection (missing path, paths in more
// than one folder), 3 registration (handler or class not registered,
// module file missing), 4 a failing call (HRESULT or Win32 error), 5 the
// extension reported a failure in a message box.
#include "HostSupport.h"

#include "support/Handles.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <atomic>
#include <cstddef>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;

const int kExitOk = 0;
const int kExitUsage = 1;
const int kExitSelection = 2;
const int kExitRegistration = 3;
const int kExitFailedCall = 4;
const int kExitMessageBox = 5;

// Name of the handler among the context-menu handlers of "*" and "Directory".
const wchar_t kHandlerName[] = L"Vesk64";
const wchar_t kClassesKey[] = L"Software\\Classes";

// Explorer grants a range of identifiers; the first one is 1 here so that
// TrackPopupMenu's 0 still means "nothing chosen".
const UINT kFirstCommandId = 1;
const UINT kLastCommandId = 0x7FFF;

// Offsets of the extension's commands from the first identifier.
const UINT kBackupOffset = 1;
const UINT kRestoreOffset = 2;

const wchar_t kUsage[] =
    L"usage: VeskHost [--invoke backup|restore] [--show] [--show-for <ms>]\n"
    L"                [--close-boxes <ms>] <path> [<path>...]\n"
    L"\n"
    L"Builds the context menu of the selected items with the \"Vesk64\" handler\n"
    L"registered for the current user, prints the menu and the help texts.\n"
    L"  --invoke backup|restore  choose the command, as a click on it would\n"
    L"  --show                   open the menu on screen; a chosen command is invoked\n"
    L"  --show-for <ms>          open it, move the pointer onto the submenu, close it\n"
    L"                           after <ms> and print where on the screen it was\n"
    L"  --close-boxes <ms>       close the extension's message boxes after <ms>\n"
    L"Paths are Windows paths, all in one folder.\n"
    L"Exit codes: 0 done, 1 usage, 2 selection, 3 registration, 4 failing call,\n"
    L"5 the extension showed a message box.\n";

// A failure that ends the run: the exit code and a one-line message.
struct TFailure {
    int exitCode;
    std::wstring message;
};

[[noreturn]] void Fail(int exitCode, const std::wstring& message)
{
    throw TFailure{exitCode, message};
}

void Check(HRESULT hr, const std::wstring& call)
{
    if (FAILED(hr)) Fail(kExitFailedCall, call + L" failed: " + HResultText(hr));
}

void Line(const std::wstring& text)
{
    WriteOut(text + L"\n");
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

struct TOptions {
    UINT invokeOffset = 0;  // 0: none
    bool show = false;
    int showForMs = -1;     // -1: until the user closes the menu
    int closeBoxesMs = -1;  // -1: leave message boxes to the user
    std::vector<std::wstring> paths;
};

bool ParseMilliseconds(const wchar_t* text, int& value)
{
    if (text == nullptr || *text == L'\0') return false;
    long number = 0;
    for (const wchar_t* at = text; *at != L'\0'; ++at) {
        if (!std::iswdigit(*at)) return false;
        number = number * 10 + (*at - L'0');
        if (number > 3600000) return false;
    }
    value = static_cast<int>(number);
    return true;
}

const int kContinue = -1;

// kContinue, or the exit code for a command line that asks only for the
// usage or is not understood (after saying why).
int ParseOptions(int argc, wchar_t** argv, TOptions& options)
{
    bool pathsOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const wchar_t* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (pathsOnly || arg.empty() || arg[0] != L'-') {
            options.paths.push_back(arg);
        } else if (arg == L"--") {
            pathsOnly = true;
        } else if (arg == L"--invoke") {
            const std::wstring command = next != nullptr ? next : L"";
            if (command == L"backup") {
                options.invokeOffset = kBackupOffset;
            } else if (command == L"restore") {
                options.invokeOffset = kRestoreOffset;
            } else {
                WriteErr(L"VeskHost: --invoke takes backup or restore\n");
                return kExitUsage;
            }
            ++i;
        } else if (arg == L"--show") {
            options.show = true;
        } else if (arg == L"--show-for" || arg == L"--close-boxes") {
            int ms = 0;
            if (!ParseMilliseconds(next, ms)) {
                WriteErr(L"VeskHost: " + arg + L" takes a time in milliseconds\n");
                return kExitUsage;
            }
            if (arg == L"--show-for") {
                options.show = true;
                options.showForMs = ms;
            } else {
                options.closeBoxesMs = ms;
            }
            ++i;
        } else if (arg == L"--help" || arg == L"-h" || arg == L"-?") {
            WriteOut(kUsage);
            return kExitOk;
        } else {
            WriteErr(L"VeskHost: unknown option " + arg + L"\n");
            return kExitUsage;
        }
    }
    if (options.paths.empty()) {
        WriteErr(kUsage);
        return kExitUsage;
    }
    return kContinue;
}

// Folder part of a full path, for messages only.
std::wstring FolderOf(const std::wstring& path)
{
    const size_t last = path.find_last_of(L'\\');
    if (last == std::wstring::npos) return std::wstring();
    return path.substr(0, last == 2 && path[1] == L':' ? 3 : last);
}

std::wstring FullPath(const std::wstring& path)
{
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    full.resize(length < needed ? length : 0);
    return full.empty() ? path : full;
}

struct TSelectedPaths {
    std::vector<std::wstring> paths;  // full paths, in the order given
    bool firstIsFolder = false;
};

TSelectedPaths CheckPaths(const std::vector<std::wstring>& arguments)
{
    TSelectedPaths selected;
    for (const std::wstring& argument : arguments) {
        const std::wstring full = FullPath(argument);
        const DWORD attributes = GetFileAttributesW(full.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            Fail(kExitSelection, L"path does not exist: " + full);
        if (selected.paths.empty())
            selected.firstIsFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        selected.paths.push_back(full);
    }
    return selected;
}

// The registration as Explorer follows it: the handler key of the item's
// class, its class identifier, the class's in-process server.
struct THandler {
    std::wstring classKey;    // "Software\Classes\*" or "...\Directory"
    std::wstring handlerKey;  // below HKEY_CURRENT_USER
    std::wstring classIdText;
    CLSID classId = {};
    std::wstring serverKey;
    std::wstring modulePath;
    std::wstring threadingModel;
};

THandler FindHandler(bool forFolder)
{
    // Wine keeps HKCU\Software\Classes apart from HKEY_CLASSES_ROOT, so the
    // per-user registration is read where it is written.
    THandler handler;
    handler.classKey = std::wstring(kClassesKey) + (forFolder ? L"\\Directory" : L"\\*");
    handler.handlerKey = handler.classKey + L"\\shellex\\ContextMenuHandlers\\" + kHandlerName;
    LONG status = ReadUserString(handler.handlerKey, nullptr, handler.classIdText);
    if (status != ERROR_SUCCESS) {
        Fail(kExitRegistration, L"handler not registered: HKCU\\" + handler.handlerKey + L" (" +
                                    Win32ErrorText(static_cast<DWORD>(status)) + L")");
    }
    if (FAILED(CLSIDFromString(handler.classIdText.c_str(), &handler.classId))) {
        Fail(kExitRegistration, L"handler key HKCU\\" + handler.handlerKey +
                                    L" holds no class identifier: " + Quoted(handler.classIdText));
    }
    handler.serverKey = std::wstring(kClassesKey) + L"\\CLSID\\" + handler.classIdText +
                        L"\\InprocServer32";
    status = ReadUserString(handler.serverKey, nullptr, handler.modulePath);
    if (status != ERROR_SUCCESS || handler.modulePath.empty()) {
        Fail(kExitRegistration, L"class " + handler.classIdText + L" not registered: HKCU\\" +
                                    handler.serverKey + L" has no module path" +
                                    (status != ERROR_SUCCESS
                                         ? L" (" + Win32ErrorText(static_cast<DWORD>(status)) + L")"
                                         : std::wstring()));
    }
    ReadUserString(handler.serverKey, L"ThreadingModel", handler.threadingModel);
    const DWORD attributes = GetFileAttributesW(handler.modulePath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Fail(kExitRegistration, L"module file missing: " + handler.modulePath +
                                    L" (registered in HKCU\\" + handler.serverKey + L")");
    }
    return handler;
}

// ---------------------------------------------------------------------------
// The selection as the shell hands it to a handler: the items' folder and a
// data object that the folder made for its child items.

struct TShellSelection {
    TPidl folder;
    std::vector<TPidl> items;
    ComPtr<IShellFolder> shellFolder;
    ComPtr<IDataObject> dataObject;
};

void BuildShellSelection(const std::vector<std::wstring>& paths, HWND owner,
                         TShellSelection& selection)
{
    for (const std::wstring& path : paths) {
        TPidl pidl;
        Check(SHParseDisplayName(path.c_str(), nullptr, pidl.Put(), 0, nullptr),
              L"SHParseDisplayName(" + path + L")");
        TPidl parent(ILClone(pidl.Get()));
        selection.items.push_back(std::move(pidl));
        if (!parent) Fail(kExitFailedCall, L"ILClone failed: " + HResultText(E_OUTOFMEMORY));
        ILRemoveLastID(parent.Get());
        if (!selection.folder) {
            selection.folder = std::move(parent);
        } else if (!ILIsEqual(selection.folder.Get(), parent.Get())) {
            Fail(kExitSelection, L"the paths are not in one folder: " + Quoted(paths.front()) +
                                     L" is in " + Quoted(FolderOf(paths.front())) + L", " +
                                     Quoted(path) + L" in " + Quoted(FolderOf(path)) +
                                     L"; a context menu is for items of one folder");
        }
    }
    PCUITEMID_CHILD first = nullptr;
    Check(SHBindToParent(selection.items.front().Get(), IID_PPV_ARGS(&selection.shellFolder),
                         &first),
          L"SHBindToParent");
    std::vector<PCUITEMID_CHILD> children;
    for (const TPidl& item : selection.items) children.push_back(ILFindLastID(item.Get()));
    Check(selection.shellFolder->GetUIObjectOf(owner, static_cast<UINT>(children.size()),
                                               children.data(), IID_IDataObject, nullptr,
                                               &selection.dataObject),
          L"IShellFolder::GetUIObjectOf(IDataObject)");
}

std::wstring FormatName(CLIPFORMAT format)
{
    switch (format) {
    case CF_TEXT:
        return L"CF_TEXT";
    case CF_OEMTEXT:
        return L"CF_OEMTEXT";
    case CF_UNICODETEXT:
        return L"CF_UNICODETEXT";
    case CF_HDROP:
        return L"CF_HDROP";
    case CF_LOCALE:
        return L"CF_LOCALE";
    default:
        break;
    }
    wchar_t name[128] = {};
    if (GetClipboardFormatNameW(format, name, 128) > 0) return Quoted(name);
    return L"format " + std::to_wstring(format);
}

// What the shell's data object offers, and the file list a handler reads.
void PrintDataObject(IDataObject* data)
{
    std::wstring formats;
    ComPtr<IEnumFORMATETC> list;
    if (SUCCEEDED(data->EnumFormatEtc(DATADIR_GET, &list)) && list) {
        FORMATETC format = {};
        ULONG fetched = 0;
        while (list->Next(1, &format, &fetched) == S_OK && fetched == 1) {
            // The caller owns the target device the enumerator filled in.
            const TUniqueHandle<TCoTaskMemTraits<DVTARGETDEVICE>> device(format.ptd);
            formats += (formats.empty() ? L"" : L", ") + FormatName(format.cfFormat);
        }
    }
    Line(L"Data object formats: " + (formats.empty() ? std::wstring(L"(none listed)") : formats));

    FORMATETC request = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM filled = {};
    const HRESULT hr = data->GetData(&request, &filled);
    if (FAILED(hr)) {
        Line(L"Data object CF_HDROP: " + HResultText(hr));
        return;
    }
    const TStgMedium medium(filled);
    const auto drop = static_cast<HDROP>(medium.Get().hGlobal);
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    Line(L"Data object CF_HDROP: " + std::to_wstring(count) + (count == 1 ? L" path" : L" paths"));
    for (UINT index = 0; index < count; ++index) {
        const UINT length = DragQueryFileW(drop, index, nullptr, 0);
        std::wstring path(static_cast<size_t>(length) + 1, L'\0');
        path.resize(DragQueryFileW(drop, index, &path[0], length + 1));
        Line(L"  " + path);
    }
}

// ---------------------------------------------------------------------------
// The menu

std::wstring StateText(UINT state)
{
    std::wstring text = (state & MF_GRAYED) != 0     ? L"grayed"
                        : (state & MF_DISABLED) != 0 ? L"disabled"
                                                     : L"enabled";
    if ((state & MFS_CHECKED) != 0) text += L", checked";
    if ((state & MFS_DEFAULT) != 0) text += L", default";
    return text;
}

void PrintMenu(HMENU menu, IContextMenu* contextMenu, UINT usedIds, const std::wstring& indent)
{
    const int count = GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        MENUITEMINFOW item = {};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &item)) {
            Line(indent + L"[" + std::to_wstring(position) + L"] (unreadable: " +
                 Win32ErrorText(GetLastError()) + L")");
            continue;
        }
        std::wstring caption;
        if (item.cch > 0) {
            caption.assign(static_cast<size_t>(item.cch) + 1, L'\0');
            item.dwTypeData = &caption[0];
            ++item.cch;
            GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &item);
            caption.resize(wcslen(caption.c_str()));
        }
        std::wstring text = indent + L"[" + std::to_wstring(position) + L"] ";
        if ((item.fType & MFT_SEPARATOR) != 0) {
            Line(text + L"----");
            continue;
        }
        text += Quoted(caption) + L"  id " + std::to_wstring(item.wID) + L"  " +
                StateText(item.fState);
        if (item.hSubMenu != nullptr) {
            Line(text + L"  submenu:");
            PrintMenu(item.hSubMenu, contextMenu, usedIds, indent + L"    ");
            continue;
        }
        if (item.wID >= kFirstCommandId && item.wID < kFirstCommandId + usedIds) {
            const UINT_PTR offset = item.wID - kFirstCommandId;
            wchar_t help[MAX_PATH] = {};
            const HRESULT hr = contextMenu->GetCommandString(offset, GCS_VERBW, nullptr,
                                                             reinterpret_cast<LPSTR>(help),
                                                             MAX_PATH);
            text += L"  offset " + std::to_wstring(offset);
            text += SUCCEEDED(hr) ? L"  help " + Quoted(help) : L"  help: " + HResultText(hr);
        }
        Line(text);
    }
}

const wchar_t kOwnerClass[] = L"VeskHostOwner";
const UINT_PTR kOpenSubmenuTimer = 1;
const UINT_PTR kCloseMenuTimer = 2;
const UINT kOpenSubmenuDelayMs = 400;
// Where the menu opens, in the owner window.
const POINT kMenuAt = {40, 40};

BOOL CALLBACK AddMenuWindow(HWND window, LPARAM context)
{
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    RECT rect = {};
    if (wcscmp(className, L"#32768") == 0 && IsWindowVisible(window) &&
        GetWindowRect(window, &rect)) {
        auto* all = reinterpret_cast<RECT*>(context);
        if (IsRectEmpty(all)) {
            *all = rect;
        } else {
            UnionRect(all, all, &rect);
        }
    }
    return TRUE;
}

// Where the open menu and its submenu lie, as ImageMagick's geometry
// (WxH+X+Y), so a screen photo can be cut down to the menu.
void PrintMenuRectangle()
{
    RECT all = {};
    EnumThreadWindows(GetCurrentThreadId(), AddMenuWindow, reinterpret_cast<LPARAM>(&all));
    if (IsRectEmpty(&all)) {
        Line(L"Menu on screen: not found");
        return;
    }
    Line(L"Menu on screen: " + std::to_wstring(all.right - all.left) + L"x" +
         std::to_wstring(all.bottom - all.top) + L"+" + std::to_wstring(all.left) + L"+" +
         std::to_wstring(all.top));
}

LRESULT CALLBACK OwnerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == kOpenSubmenuTimer) {
        // The pointer on the first item opens the submenu without choosing
        // a command in it, so a picture shows every command's own state.
        KillTimer(window, kOpenSubmenuTimer);
        POINT at = {kMenuAt.x + 8, kMenuAt.y + 8};
        ClientToScreen(window, &at);
        SetCursorPos(at.x, at.y);
        return 0;
    }
    if (message == WM_TIMER && wParam == kCloseMenuTimer) {
        KillTimer(window, kCloseMenuTimer);
        PrintMenuRectangle();
        // Ends the menu's modal loop as a click elsewhere would.
        SendMessageW(window, WM_CANCELMODE, 0, 0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The host's own window: owner of the popup menu, as Explorer's window is.
class TOwnerWindow {
public:
    explicit TOwnerWindow(const std::wstring& title)
    {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = OwnerWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = kOwnerClass;
        RegisterClassExW(&windowClass);
        FWindow.Reset(CreateWindowExW(0, kOwnerClass, title.c_str(), WS_OVERLAPPEDWINDOW, 16, 16,
                                      520, 240, nullptr, nullptr, GetModuleHandleW(nullptr),
                                      nullptr));
        if (!FWindow)
            Fail(kExitFailedCall, L"CreateWindowExW failed: " + Win32ErrorText(GetLastError()));
        ShowWindow(FWindow.Get(), SW_SHOWNORMAL);
        UpdateWindow(FWindow.Get());
    }
    ~TOwnerWindow()
    {
        // The class can go only once its last window has.
        FWindow.Reset();
        UnregisterClassW(kOwnerClass, GetModuleHandleW(nullptr));
    }
    TOwnerWindow(const TOwnerWindow&) = delete;
    TOwnerWindow& operator=(const TOwnerWindow&) = delete;
    HWND Handle() const { return FWindow.Get(); }

private:
    TWindowHandle FWindow;
};

// Opens the menu where a right-click in the window would; returns the
// chosen identifier, or 0.
UINT TrackMenu(HMENU menu, HWND owner, int showForMs)
{
    SetForegroundWindow(owner);
    if (showForMs >= 0) {
        if (static_cast<UINT>(showForMs) > kOpenSubmenuDelayMs)
            SetTimer(owner, kOpenSubmenuTimer, kOpenSubmenuDelayMs, nullptr);
        SetTimer(owner, kCloseMenuTimer, static_cast<UINT>(showForMs), nullptr);
    }
    POINT at = kMenuAt;
    ClientToScreen(owner, &at);
    const UINT chosen = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN, at.x,
                       at.y, 0, owner, nullptr));
    KillTimer(owner, kOpenSubmenuTimer);
    KillTimer(owner, kCloseMenuTimer);
    // Lets a menu opened again later from this window close properly.
    PostMessageW(owner, WM_NULL, 0, 0);
    return chosen;
}

// ---------------------------------------------------------------------------
// Message boxes the extension shows on this thread: reported, and closed
// after a while when asked, so an unattended run does not hang on them.

class TBoxWatcher {
public:
    TBoxWatcher(DWORD threadId, int closeAfterMs)
        : FThreadId(threadId), FCloseAfterMs(closeAfterMs), FThread([this] { Run(); })
    {
    }
    ~TBoxWatcher()
    {
        FStop = true;
        FThread.join();
    }
    TBoxWatcher(const TBoxWatcher&) = delete;
    TBoxWatcher& operator=(const TBoxWatcher&) = delete;
    int Count() const { return FCount; }

private:
    struct TSeenBox {
        HWND window;
        ULONGLONG seenAt;
        bool closed;
    };

    static std::wstring WindowText(HWND window)
    {
        wchar_t text[1024] = {};
        DWORD_PTR result = 0;
        SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 2000, &result);
        return text;
    }

    static BOOL CALLBACK CollectDialog(HWND window, LPARAM context)
    {
        wchar_t className[16] = {};
        GetClassNameW(window, className, 16);
        if (wcscmp(className, L"#32770") == 0 && IsWindowVisible(window))
            reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
        return TRUE;
    }

    static BOOL CALLBACK CollectStatic(HWND window, LPARAM context)
    {
        wchar_t className[16] = {};
        GetClassNameW(window, className, 16);
        if (_wcsicmp(className, L"Static") == 0) {
            std::wstring text = WindowText(window);
            auto* longest = reinterpret_cast<std::wstring*>(context);
            if (text.size() > longest->size()) *longest = text;
        }
        return TRUE;
    }

    void Run()
    {
        std::vector<TSeenBox> seen;
        while (!FStop) {
            std::vector<HWND> dialogs;
            EnumThreadWindows(FThreadId, CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
            const ULONGLONG now = GetTickCount64();
            for (HWND dialog : dialogs) {
                bool known = false;
                for (const TSeenBox& box : seen) known = known || box.window == dialog;
                if (known) continue;
                std::wstring text;
                EnumChildWindows(dialog, CollectStatic, reinterpret_cast<LPARAM>(&text));
                ++FCount;
                Line(L"Message box " + Quoted(WindowText(dialog)) + L": " + Quoted(text));
                seen.push_back({dialog, now, false});
            }
            for (TSeenBox& box : seen) {
                if (box.closed || FCloseAfterMs < 0) continue;
                if (now - box.seenAt < static_cast<ULONGLONG>(FCloseAfterMs)) continue;
                box.closed = true;
                if (IsWindow(box.window)) {
                    PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                    Line(L"  (closed by VeskHost after " + std::to_wstring(FCloseAfterMs) +
                         L" ms)");
                }
            }
            // Forget boxes that are gone: their handles may be used again.
            for (size_t i = seen.size(); i-- > 0;) {
                if (!IsWindow(seen[i].window))
                    seen.erase(seen.begin() + static_cast<std::ptrdiff_t>(i));
            }
            Sleep(50);
        }
    }

    const DWORD FThreadId;
    const int FCloseAfterMs;
    std::atomic<bool> FStop{false};
    std::atomic<int> FCount{0};
    std::thread FThread;
};

// ---------------------------------------------------------------------------
// The session with the extension

class TApartment {
public:
    TApartment()
    {
        Check(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE),
              L"CoInitializeEx(COINIT_APARTMENTTHREADED)");
    }
    ~TApartment() { CoUninitialize(); }
    TApartment(const TApartment&) = delete;
    TApartment& operator=(const TApartment&) = delete;
};

class TModule {
public:
    explicit TModule(const std::wstring& path) : FModule(LoadLibraryW(path.c_str()))
    {
        if (!FModule) {
            Fail(kExitFailedCall,
                 L"LoadLibraryW(" + path + L") failed: " + Win32ErrorText(GetLastError()));
        }
    }

    template <typename TFunction>
    TFunction Export(const char* name) const
    {
        return reinterpret_cast<TFunction>(
            reinterpret_cast<void*>(GetProcAddress(FModule.Get(), name)));
    }
    void Free() { FModule.Reset(); }
    // Leaves the module loaded for the rest of the process.
    void Keep() { FModule.Release(); }

private:
    TModuleHandle FModule;
};

// The class key handed to Initialize, or none when it cannot be opened.
TRegKey OpenUserKey(const std::wstring& path)
{
    TRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        key.Release();  // nothing was opened
    return key;
}

const wchar_t* CommandName(UINT offset)
{
    return offset == kBackupOffset ? L"backup" : offset == kRestoreOffset ? L"restore" : L"?";
}

void Invoke(IContextMenu* contextMenu, UINT offset, HWND owner)
{
    Line(L"Invoking " + std::wstring(CommandName(offset)) + L" (offset " + std::to_wstring(offset) +
         L")...");
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof(info);
    info.hwnd = owner;
    info.lpVerb = MAKEINTRESOURCEA(offset);
    info.nShow = SW_SHOWNORMAL;
    const HRESULT hr = contextMenu->InvokeCommand(&info);
    Line(L"InvokeCommand: " + HResultText(hr));
    if (FAILED(hr))
        Fail(kExitFailedCall, L"IContextMenu::InvokeCommand failed: " + HResultText(hr));
}

// Everything the extension is asked, in Explorer's order; every object of
// the module is released before this returns.
int UseExtension(const TModule& module, const THandler& handler, TShellSelection& selection,
                 HWND owner, const TOptions& options)
{
    using TDllGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject = module.Export<TDllGetClassObject>("DllGetClassObject");
    if (getClassObject == nullptr)
        Fail(kExitFailedCall, L"the module exports no DllGetClassObject: " + handler.modulePath);

    TBoxWatcher boxes(GetCurrentThreadId(), options.closeBoxesMs);

    ComPtr<IClassFactory> factory;
    Check(getClassObject(handler.classId, IID_PPV_ARGS(&factory)),
          L"DllGetClassObject(" + handler.classIdText + L", IClassFactory)");
    ComPtr<IShellExtInit> init;
    Check(factory->CreateInstance(nullptr, IID_PPV_ARGS(&init)),
          L"IClassFactory::CreateInstance(IShellExtInit)");

    const TRegKey classKey = OpenUserKey(handler.classKey);
    Check(init->Initialize(selection.folder.Get(), selection.dataObject.Get(), classKey.Get()),
          L"IShellExtInit::Initialize");
    ComPtr<IContextMenu> contextMenu;
    Check(init.As(&contextMenu), L"QueryInterface(IContextMenu)");

    // The host's menu: it owns the submenu the extension inserts.
    const TMenuHandle menu(CreatePopupMenu());
    if (!menu) Fail(kExitFailedCall, L"CreatePopupMenu failed: " + Win32ErrorText(GetLastError()));
    const HRESULT added = contextMenu->QueryContextMenu(menu.Get(), 0, kFirstCommandId,
                                                        kLastCommandId, CMF_NORMAL);
    Check(added, L"IContextMenu::QueryContextMenu");
    const UINT usedIds = HRESULT_CODE(added);
    Line(L"QueryContextMenu(indexMenu 0, idCmdFirst " + std::to_wstring(kFirstCommandId) +
         L", CMF_NORMAL): " + HexCode(static_cast<DWORD>(added)) + L", " +
         std::to_wstring(usedIds) + L" identifiers used");
    Line(L"Menu:");
    PrintMenu(menu.Get(), contextMenu.Get(), usedIds, L"  ");

    if (options.show) {
        const UINT chosen = TrackMenu(menu.Get(), owner, options.showForMs);
        if (chosen == 0) {
            Line(L"Menu closed, nothing chosen");
        } else {
            Line(L"Chosen: id " + std::to_wstring(chosen));
            if (chosen > kFirstCommandId && chosen < kFirstCommandId + usedIds)
                Invoke(contextMenu.Get(), chosen - kFirstCommandId, owner);
        }
    }
    if (options.invokeOffset != 0) Invoke(contextMenu.Get(), options.invokeOffset, owner);

    return boxes.Count() > 0 ? kExitMessageBox : kExitOk;
}

int Run(const TOptions& options)
{
    const TSelectedPaths selected = CheckPaths(options.paths);
    const THandler handler = FindHandler(selected.firstIsFolder);

    Line(L"Selection: " + std::to_wstring(selected.paths.size()) +
         (selected.paths.size() == 1 ? L" item" : L" items") +
         (selected.firstIsFolder ? L" (first one a folder)" : L" (first one a file)"));
    for (const std::wstring& path : selected.paths) Line(L"  " + path);
    Line(L"Handler: HKCU\\" + handler.handlerKey + L" = " + handler.classIdText);
    Line(L"Server: HKCU\\" + handler.serverKey + L" = " + Quoted(handler.modulePath) +
         L", ThreadingModel " +
         (handler.threadingModel.empty() ? std::wstring(L"(none)") : handler.threadingModel));

    // Destroyed in reverse: the module's objects, the shell's, the window,
    // the module itself, and the apartment last.
    const TApartment apartment;
    std::unique_ptr<TOwnerWindow> owner;
    if (options.show) owner.reset(new TOwnerWindow(L"VeskHost - " + selected.paths.front()));
    const HWND ownerWindow = owner ? owner->Handle() : nullptr;

    auto selection = std::make_unique<TShellSelection>();
    BuildShellSelection(selected.paths, ownerWindow, *selection);
    PrintDataObject(selection->dataObject.Get());

    TModule module(handler.modulePath);
    int result = kExitOk;
    try {
        result = UseExtension(module, handler, *selection, ownerWindow, options);
    } catch (const TFailure& failure) {
        WriteErr(L"VeskHost: " + failure.message + L"\n");
        result = failure.exitCode;
    }
    selection.reset();
    owner.reset();

    using TDllCanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    const auto canUnloadNow = module.Export<TDllCanUnloadNow>("DllCanUnloadNow");
    if (canUnloadNow == nullptr) {
        Line(L"DllCanUnloadNow: not exported");
    } else {
        const HRESULT unload = canUnloadNow();
        Line(L"DllCanUnloadNow: " + HResultText(unload));
        // A module that still holds objects must stay: its code may run.
        if (unload != S_OK) {
            Line(L"The module stays loaded: objects or locks remain");
            module.Keep();
            return result;
        }
    }
    module.Free();
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    TOptions options;
    const int parsed = ParseOptions(argc, argv, options);
    if (parsed != kContinue) return parsed;
    try {
        return Run(options);
    } catch (const TFailure& failure) {
        WriteErr(L"VeskHost: " + failure.message + L"\n");
        return failure.exitCode;
    }
}
