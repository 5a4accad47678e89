#include "StandInClient.h"
#include "support/TextConv.h"

#include <algorithm>
#include <cstring>
#include <cwctype>

namespace {

const wchar_t kSwitchPrefix[] = L"VESK_STANDIN_";
const DWORD kPollMs = 20;

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix)
{
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::towupper(text[i]) != std::towupper(prefix[i])) return false;
    }
    return true;
}

// The environment of this process without VESK_STANDIN_* variables, plus
// the given settings, as a sorted block for CreateProcessW.
std::vector<wchar_t> EnvironmentBlock(const std::vector<TEnvSetting>& settings)
{
    std::vector<std::wstring> entries;
    if (const TEnvironmentStrings strings{GetEnvironmentStringsW()}) {
        for (const wchar_t* at = strings.Get(); *at != L'\0'; at += wcslen(at) + 1) {
            if (!StartsWithNoCase(at, kSwitchPrefix)) entries.emplace_back(at);
        }
    }
    for (const auto& setting : settings) {
        // A later setting of the same name wins.
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const std::wstring& entry) {
                                         return StartsWithNoCase(entry, setting.first + L"=");
                                     }),
                      entries.end());
        entries.push_back(setting.first + L"=" + setting.second);
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const std::wstring& a, const std::wstring& b) {
                         const std::wstring nameA = a.substr(0, a.find(L'=', 1));
                         const std::wstring nameB = b.substr(0, b.find(L'=', 1));
                         return CompareStringOrdinal(nameA.c_str(), -1, nameB.c_str(), -1, TRUE) ==
                                CSTR_LESS_THAN;
                     });
    std::vector<wchar_t> block;
    for (const auto& entry : entries) {
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

struct TWindowSearch {
    DWORD ProcessId;
    HWND Found;
};

BOOL CALLBACK FindWindowOfProcess(HWND window, LPARAM parameter)
{
    auto* const search = reinterpret_cast<TWindowSearch*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t className[64] = {};
    if (processId == search->ProcessId && GetClassNameW(window, className, 64) > 0 &&
        wcscmp(className, L"TMainForm") == 0) {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::wstring StandInPath()
{
    return TestBinDir() + L"VeskStandIn.exe";
}

bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        const ULONGLONG elapsed = GetTickCount64() - start;
        if (elapsed >= timeoutMs) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
    }
}

// ---------------------------------------------------------------------------

TScopedEnv::TScopedEnv(std::wstring name, const std::wstring& value) : FName(std::move(name))
{
    const DWORD size = GetEnvironmentVariableW(FName.c_str(), nullptr, 0);
    if (size != 0) {
        FOldValue.resize(size);
        const DWORD length = GetEnvironmentVariableW(FName.c_str(), &FOldValue[0], size);
        FOldValue.resize(length < size ? length : 0);
        FHadValue = true;
    }
    SetEnvironmentVariableW(FName.c_str(), value.empty() ? nullptr : value.c_str());
}

TScopedEnv::~TScopedEnv()
{
    SetEnvironmentVariableW(FName.c_str(), FHadValue ? FOldValue.c_str() : nullptr);
}

// ---------------------------------------------------------------------------

TRecordFile::TRecordFile() : FPath(FFolder / L"record.log")
{
}

TRecordFile::~TRecordFile() = default;

std::vector<std::wstring> TRecordFile::Lines() const
{
    const std::wstring text = MultiByteToWide(ReadFileBytes(FPath), CP_UTF8);
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        // A line still being written has no line break yet.
        if (end == std::wstring::npos) break;
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<std::wstring> TRecordFile::LinesWith(const std::wstring& prefix) const
{
    std::vector<std::wstring> matching;
    for (const auto& line : Lines()) {
        if (line.compare(0, prefix.size(), prefix) == 0) matching.push_back(line);
    }
    return matching;
}

std::wstring TRecordFile::WaitForLine(const std::wstring& prefix, size_t count,
                                      DWORD timeoutMs) const
{
    std::wstring line;
    PumpMessagesUntil(
        [&] {
            const auto matching = LinesWith(prefix);
            if (matching.size() < count || count == 0) return false;
            line = matching[count - 1];
            return true;
        },
        timeoutMs);
    return line;
}

std::vector<DWORD> TRecordFile::StartedPids() const
{
    std::vector<DWORD> pids;
    const std::wstring prefix = L"start pid=";
    for (const auto& line : LinesWith(prefix)) {
        pids.push_back(static_cast<DWORD>(std::wcstoul(line.c_str() + prefix.size(), nullptr, 10)));
    }
    return pids;
}

bool TRecordFile::WaitForConversationsToEnd(DWORD timeoutMs) const
{
    return PumpMessagesUntil(
        [&] {
            size_t open = 0;
            for (const auto& line : Lines()) {
                if (line.compare(0, 8, L"connect ") == 0) {
                    ++open;
                } else if (line == L"disconnect" && open > 0) {
                    --open;
                }
            }
            return open == 0;
        },
        timeoutMs);
}

// ---------------------------------------------------------------------------

TRecordCounter::TRecordCounter(const TRecordFile& record, std::string prefix)
    : FPath(record.Path()), FPrefix(std::move(prefix))
{
}

size_t TRecordCounter::Count()
{
    const TKernelHandle file(CreateFileW(FPath.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER offset;
    offset.QuadPart = FOffset;
    if (!file || !SetFilePointerEx(file.Get(), offset, nullptr, FILE_BEGIN)) return FCount;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        FOffset += got;
        const char* const stop = chunk + got;
        for (const char* at = chunk; at < stop;) {
            const char* const end = static_cast<const char*>(
                std::memchr(at, '\n', static_cast<size_t>(stop - at)));
            // Only the head of a line is looked at: keep no more of it.
            const size_t wanted = FPrefix.size() > FLine.size() ? FPrefix.size() - FLine.size() : 0;
            FLine.append(at, std::min(wanted, static_cast<size_t>((end ? end : stop) - at)));
            if (end == nullptr) break;
            if (FLine.compare(0, FPrefix.size(), FPrefix) == 0) ++FCount;
            FLine.clear();
            at = end + 1;
        }
    }
    return FCount;
}

// ---------------------------------------------------------------------------

HWND FindStandInWindow(DWORD processId)
{
    TWindowSearch search = {processId, nullptr};
    EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

bool StopStandIn(HANDLE process, DWORD processId, DWORD timeoutMs)
{
    // The window may not exist yet (a delayed start): look again while
    // waiting.  Pumping keeps DDE traffic to this thread's windows flowing
    // while the stand-in shuts down.
    bool closeSent = false;
    const bool ended = PumpMessagesUntil(
        [&] {
            if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) return true;
            if (!closeSent) {
                if (const HWND window = FindStandInWindow(processId)) {
                    PostMessageW(window, WM_CLOSE, 0, 0);
                    closeSent = true;
                }
            }
            return false;
        },
        timeoutMs);
    if (ended) return true;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, timeoutMs);
    return false;
}

// ---------------------------------------------------------------------------

TStandIn::TStandIn(const std::vector<TEnvSetting>& switches, const std::wstring& arguments,
                   bool waitReady)
{
    std::vector<TEnvSetting> settings = {
        {L"VESK_STANDIN_WATCH_PID", std::to_wstring(GetCurrentProcessId())}};
    settings.insert(settings.end(), switches.begin(), switches.end());
    settings.emplace_back(L"VESK_STANDIN_RECORD", FRecord.Path());
    std::vector<wchar_t> environment = EnvironmentBlock(settings);

    const std::wstring path = StandInPath();
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup,
                        &started)) {
        return;
    }
    const TKernelHandle thread(started.hThread);
    FProcess.Reset(started.hProcess);
    FProcessId = started.dwProcessId;
    if (waitReady) WaitReady();
}

TStandIn::~TStandIn()
{
    Stop();
}

bool TStandIn::WaitReady(DWORD timeoutMs) const
{
    if (!FProcess) return false;
    return PumpMessagesUntil([&] { return !FRecord.LinesWith(L"ready").empty() || HasExited(); },
                             timeoutMs) &&
           !FRecord.LinesWith(L"ready").empty();
}

bool TStandIn::Stop(DWORD timeoutMs)
{
    if (!FProcess) return false;
    const bool clean = StopStandIn(FProcess.Get(), FProcessId, timeoutMs);
    FProcess.Reset();
    return clean;
}

bool TStandIn::WaitForExit(DWORD timeoutMs) const
{
    return PumpMessagesUntil([&] { return HasExited(); }, timeoutMs);
}

bool TStandIn::HasExited() const
{
    return !FProcess || WaitForSingleObject(FProcess.Get(), 0) == WAIT_OBJECT_0;
}

// ---------------------------------------------------------------------------

TStandInRecord::TStandInRecord(const std::vector<TEnvSetting>& switches)
{
    FEnv.push_back(std::make_unique<TScopedEnv>(L"VESK_STANDIN_RECORD", FRecord.Path()));
    FEnv.push_back(std::make_unique<TScopedEnv>(L"VESK_STANDIN_WATCH_PID",
                                                std::to_wstring(GetCurrentProcessId())));
    for (const auto& setting : switches) {
        FEnv.push_back(std::make_unique<TScopedEnv>(setting.first, setting.second));
    }
}

TStandInRecord::~TStandInRecord()
{
    StopAll();
    // Restore in reverse order, so a variable set twice ends as it began.
    while (!FEnv.empty()) FEnv.pop_back();
}

void TStandInRecord::StopAll()
{
    for (const DWORD pid : FRecord.StartedPids()) {
        const TKernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
        if (!process) continue;  // already gone
        StopStandIn(process.Get(), pid);
    }
}
