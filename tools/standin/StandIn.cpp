// Stand-in for the main application Vesk.exe, for tests, the demo and the
// benchmark: it shows the main window, serves the DDE topics of the
// hand-off (and offers them to wildcard connects, as DDEML servers commonly
// do) and records every event, one line each, in a record file.
//
// Record lines (UTF-8, each appended and flushed at once):
//   start pid=<pid> cmdline=<command line>
//   registered                          DDE service "Vesk" registered
//   ready                               about to enter the message loop
//   connect topic=<topic>               conversation accepted
//   refuse topic=<topic>                connect on service "Vesk" refused
//   execute topic=<topic> format=<n> bytes=<uppercase hex>
//                                       n: the format DDEML hands the callback;
//                                       an execute request carries none, and
//                                       Wine's DDEML gives 0
//   disconnect                          the client ended a conversation
//   exit
//
// Record file: --record=<path> on the command line, else the environment
// variable VESK_STANDIN_RECORD, else VeskStandIn.log beside the program.
// Switches (environment variables):
//   VESK_STANDIN_NO_DDE=1              window but no DDE service
//   VESK_STANDIN_TITLE=<title>         another window title than "Vesk"
//   VESK_STANDIN_EXIT_AFTER_MS=<n>     close after n ms
//   VESK_STANDIN_EXIT_ON_CONNECT=1     close as soon as a conversation is accepted
//   VESK_STANDIN_STARTUP_DELAY_MS=<n>  sleep before the window and DDE exist
//   VESK_STANDIN_DDE_DELAY_MS=<n>      register DDE n ms after the loop started
//   VESK_STANDIN_WATCH_PID=<pid>       close when that process (the test) ends
// Other command-line arguments are only recorded (in the start line).
#include "support/Handles.h"
#include "support/TextConv.h"

#include <windows.h>
#include <ddeml.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t kWindowClass[] = L"TMainForm";
const wchar_t kDefaultTitle[] = L"Vesk";
const char kService[] = "Vesk";
const char kBackupTopic[] = "DdeBackupConv";
const char kRestoreTopic[] = "DdeRestorConv";

const UINT_PTR kExitTimer = 1;
const UINT_PTR kDdeTimer = 2;

std::wstring gRecordPath;
bool gExitOnConnect = false;
HWND gWindow = nullptr;
TDdeInstanceHandle gDdeInst;
HSZ gHszService = nullptr;
HSZ gHszBackup = nullptr;
HSZ gHszRestore = nullptr;
bool gServing = false;

// One line, appended and on disk before this returns: a test may read the
// file at any moment, and other stand-ins may append to the same file.
void Record(const std::wstring& line)
{
    const std::string bytes = WideToMultiByte(line, CP_UTF8) + "\r\n";
    for (int attempt = 0; attempt < 50; ++attempt) {
        const TKernelHandle file(CreateFileW(gRecordPath.c_str(), FILE_APPEND_DATA,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            DWORD written = 0;
            WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                      nullptr);
            FlushFileBuffers(file.Get());
            return;
        }
        Sleep(10);
    }
}

std::wstring EnvironmentValue(const wchar_t* name)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::wstring();
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, &value[0], size);
    value.resize(length < size ? length : 0);
    return value;
}

bool EnvironmentFlag(const wchar_t* name)
{
    const std::wstring value = EnvironmentValue(name);
    return !value.empty() && value != L"0";
}

DWORD EnvironmentNumber(const wchar_t* name)
{
    return static_cast<DWORD>(std::wcstoul(EnvironmentValue(name).c_str(), nullptr, 10));
}

// The arguments after the program name, by the usual quoting rules
// (quotes group, and are dropped).
std::vector<std::wstring> Arguments(const std::wstring& commandLine)
{
    std::vector<std::wstring> arguments;
    size_t at = 0;
    bool first = true;
    while (at < commandLine.size()) {
        while (at < commandLine.size() && (commandLine[at] == L' ' || commandLine[at] == L'\t'))
            ++at;
        if (at >= commandLine.size()) break;
        std::wstring argument;
        bool quoted = false;
        while (at < commandLine.size() &&
               (quoted || (commandLine[at] != L' ' && commandLine[at] != L'\t'))) {
            if (commandLine[at] == L'"') {
                quoted = !quoted;
            } else {
                argument += commandLine[at];
            }
            ++at;
        }
        if (!first) arguments.push_back(argument);
        first = false;
    }
    return arguments;
}

std::wstring RecordPath(const std::wstring& commandLine)
{
    const std::wstring option = L"--record=";
    for (const auto& argument : Arguments(commandLine)) {
        if (argument.compare(0, option.size(), option) == 0) return argument.substr(option.size());
    }
    const std::wstring fromEnvironment = EnvironmentValue(L"VESK_STANDIN_RECORD");
    if (!fromEnvironment.empty()) return fromEnvironment;
    wchar_t module[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
    std::wstring path(module);
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"VeskStandIn.log";
}

std::wstring StringOf(HSZ hsz)
{
    char name[256] = {};
    if (hsz == nullptr ||
        DdeQueryStringA(gDdeInst.Get(), hsz, name, sizeof(name), CP_WINANSI) == 0) {
        return std::wstring();
    }
    return MultiByteToWide(name, CP_ACP);
}

std::wstring HexOf(const std::vector<BYTE>& bytes)
{
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(bytes.size() * 2);
    for (const BYTE value : bytes) {
        text += kDigits[value >> 4];
        text += kDigits[value & 0xF];
    }
    return text;
}

bool IsServedTopic(HSZ topic)
{
    return DdeCmpStringHandles(topic, gHszBackup) == 0 ||
           DdeCmpStringHandles(topic, gHszRestore) == 0;
}

HDDEDATA CALLBACK DdeCallback(UINT type, UINT format, HCONV, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                              ULONG_PTR, ULONG_PTR)
{
    switch (type) {
    case XTYP_CONNECT:
        // hsz1 is the topic, hsz2 the service.
        if (DdeCmpStringHandles(hsz2, gHszService) != 0) return nullptr;
        if (!IsServedTopic(hsz1)) {
            Record(L"refuse topic=" + StringOf(hsz1));
            return nullptr;
        }
        return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(TRUE));
    case XTYP_WILDCONNECT: {
        // Offer each served pair that matches; a null name matches any.
        if (hsz2 != nullptr && DdeCmpStringHandles(hsz2, gHszService) != 0) return nullptr;
        HSZPAIR pairs[3] = {};
        size_t count = 0;
        for (const HSZ topic : {gHszBackup, gHszRestore}) {
            if (hsz1 == nullptr || DdeCmpStringHandles(hsz1, topic) == 0) {
                pairs[count].hszSvc = gHszService;
                pairs[count].hszTopic = topic;
                ++count;
            }
        }
        if (count == 0) return nullptr;
        return DdeCreateDataHandle(gDdeInst.Get(), reinterpret_cast<LPBYTE>(pairs),
                                   static_cast<DWORD>(sizeof(HSZPAIR) * (count + 1)), 0, nullptr, 0,
                                   0);
    }
    case XTYP_CONNECT_CONFIRM:
        Record(L"connect topic=" + StringOf(hsz1));
        if (gExitOnConnect) PostMessageW(gWindow, WM_CLOSE, 0, 0);
        return nullptr;
    case XTYP_EXECUTE: {
        std::vector<BYTE> bytes(DdeGetData(data, nullptr, 0, 0));
        if (!bytes.empty()) DdeGetData(data, bytes.data(), static_cast<DWORD>(bytes.size()), 0);
        Record(L"execute topic=" + StringOf(hsz1) + L" format=" + std::to_wstring(format) +
               L" bytes=" + HexOf(bytes));
        return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(DDE_FACK));
    }
    case XTYP_DISCONNECT:
        Record(L"disconnect");
        return nullptr;
    default:
        return nullptr;
    }
}

// An ANSI instance: execute data then reach the callback byte for byte as
// the client sent them, with no conversion to UTF-16 on the way.
bool StartDde()
{
    if (DdeInitializeA(gDdeInst.Put(), DdeCallback,
                       APPCLASS_STANDARD | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS,
                       0) != DMLERR_NO_ERROR) {
        gDdeInst.Release();  // no instance was made
        return false;
    }
    // The instance frees them when it goes.
    gHszService = DdeCreateStringHandleA(gDdeInst.Get(), kService, CP_WINANSI);
    gHszBackup = DdeCreateStringHandleA(gDdeInst.Get(), kBackupTopic, CP_WINANSI);
    gHszRestore = DdeCreateStringHandleA(gDdeInst.Get(), kRestoreTopic, CP_WINANSI);
    return true;
}

void RegisterService()
{
    if (!gDdeInst || gServing) return;
    if (DdeNameService(gDdeInst.Get(), gHszService, nullptr, DNS_REGISTER) != nullptr) {
        gServing = true;
        Record(L"registered");
    }
}

void StopDde()
{
    if (!gDdeInst) return;
    if (gServing) DdeNameService(gDdeInst.Get(), nullptr, nullptr, DNS_UNREGISTER);
    gServing = false;
    gDdeInst.Reset();
}

// A stand-in must not outlive the test that started it: it would keep the
// test runner's output pipes open.
DWORD WINAPI WatchProcess(void* handle)
{
    {
        const TKernelHandle process(static_cast<HANDLE>(handle));
        WaitForSingleObject(process.Get(), INFINITE);
    }
    PostMessageW(gWindow, WM_CLOSE, 0, 0);
    return 0;
}

void StartWatch(DWORD processId)
{
    TKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process) {
        PostMessageW(gWindow, WM_CLOSE, 0, 0);  // already gone
        return;
    }
    const TKernelHandle thread(CreateThread(nullptr, 0, WatchProcess, process.Get(), 0, nullptr));
    if (thread) process.Release();  // the watching thread owns it now
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == kExitTimer) {
            KillTimer(window, kExitTimer);
            PostMessageW(window, WM_CLOSE, 0, 0);
        } else if (wParam == kDdeTimer) {
            KillTimer(window, kDdeTimer);
            RegisterService();
        }
        return 0;
    case WM_CLOSE:
        // Leaves the window to the process exit: destroying it first costs
        // seconds under an X server without a window manager.
    case WM_DESTROY:
        // No conversation is served from here on, even if requests are
        // still queued.
        StopDde();
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand)
{
    const std::wstring commandLine = GetCommandLineW();
    gRecordPath = RecordPath(commandLine);
    Record(L"start pid=" + std::to_wstring(GetCurrentProcessId()) + L" cmdline=" + commandLine);

    const bool noDde = EnvironmentFlag(L"VESK_STANDIN_NO_DDE");
    std::wstring title = EnvironmentValue(L"VESK_STANDIN_TITLE");
    if (title.empty()) title = kDefaultTitle;
    const DWORD exitAfterMs = EnvironmentNumber(L"VESK_STANDIN_EXIT_AFTER_MS");
    gExitOnConnect = EnvironmentFlag(L"VESK_STANDIN_EXIT_ON_CONNECT");
    const DWORD startupDelayMs = EnvironmentNumber(L"VESK_STANDIN_STARTUP_DELAY_MS");
    const DWORD ddeDelayMs = EnvironmentNumber(L"VESK_STANDIN_DDE_DELAY_MS");
    const DWORD watchedProcess = EnvironmentNumber(L"VESK_STANDIN_WATCH_PID");

    if (startupDelayMs != 0) Sleep(startupDelayMs);

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0) return 1;
    gWindow = CreateWindowExW(0, kWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 360, 140, nullptr, nullptr, instance, nullptr);
    if (gWindow == nullptr) return 1;
    ShowWindow(gWindow, showCommand);
    UpdateWindow(gWindow);

    if (!noDde && StartDde()) {
        if (ddeDelayMs != 0) {
            SetTimer(gWindow, kDdeTimer, ddeDelayMs, nullptr);
        } else {
            RegisterService();
        }
    }
    if (exitAfterMs != 0) SetTimer(gWindow, kExitTimer, exitAfterMs, nullptr);
    if (watchedProcess != 0) StartWatch(watchedProcess);

    Record(L"ready");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    StopDde();
    Record(L"exit");
    return 0;
}
