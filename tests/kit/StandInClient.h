#pragma once
// Test helpers around VeskStandIn.exe, the stand-in for the main
// application (see tools/standin/StandIn.cpp for its record lines and
// switches).  Two ways to use it:
//   - TStandIn starts one stand-in itself, with its own record file;
//   - TStandInRecord points VESK_STANDIN_RECORD of this process at a fresh
//     record file, so that every stand-in the code under test starts
//     records there, and stops those stand-ins at the end.
#include "TestSupport.h"
#include "support/Handles.h"

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Generous bound for anything a stand-in does on its own.
const DWORD kStandInWaitMs = 20000;

// Name and value of an environment variable, e.g. {L"VESK_STANDIN_NO_DDE", L"1"}.
using TEnvSetting = std::pair<std::wstring, std::wstring>;

// Full path of VeskStandIn.exe beside the running test program.
std::wstring StandInPath();

// Dispatches this thread's messages until done() holds or timeoutMs has
// passed; returns done().  DDEML calls its callbacks only while the thread
// pumps or is inside a DDEML call.
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs = kStandInWaitMs);

// Sets an environment variable of this process (inherited by the processes
// it starts) and restores the earlier value, or its absence, at the end.
// An empty value removes the variable.
class TScopedEnv {
public:
    TScopedEnv(std::wstring name, const std::wstring& value);
    ~TScopedEnv();
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    std::wstring FName;
    std::wstring FOldValue;
    bool FHadValue = false;
};

// A record file in a fresh temporary folder, removed at the end.
class TRecordFile {
public:
    TRecordFile();
    ~TRecordFile();
    TRecordFile(const TRecordFile&) = delete;
    TRecordFile& operator=(const TRecordFile&) = delete;

    const std::wstring& Path() const { return FPath; }
    // All lines so far (none when the file does not exist yet).
    std::vector<std::wstring> Lines() const;
    // The lines that begin with prefix, in file order.
    std::vector<std::wstring> LinesWith(const std::wstring& prefix) const;
    // Waits until at least count lines begin with prefix; returns the
    // count-th of them, or an empty string on time-out.
    std::wstring WaitForLine(const std::wstring& prefix, size_t count = 1,
                             DWORD timeoutMs = kStandInWaitMs) const;
    // Process ids from the "start pid=" lines.
    std::vector<DWORD> StartedPids() const;
    // Waits until every conversation recorded so far has its "disconnect"
    // line after its "connect" line.  A client's DdeConnect returns only
    // after the stand-in wrote the connect line, and an execute reaches the
    // stand-in before the disconnect that follows it: so once a client has
    // returned and this holds, none of its executes is still on the way.
    bool WaitForConversationsToEnd(DWORD timeoutMs = kStandInWaitMs) const;

private:
    TTempDir FFolder;
    std::wstring FPath;
};

// Counts the lines of a record file that begin with a prefix, reading each
// byte once however often it is asked: cheap enough to poll in a timed loop.
class TRecordCounter {
public:
    TRecordCounter(const TRecordFile& record, std::string prefix);
    // Complete lines so far that begin with the prefix (UTF-8 bytes).
    size_t Count();

private:
    std::wstring FPath;
    std::string FPrefix;
    LONGLONG FOffset = 0;
    std::string FLine;  // the line being read, up to its line break
    size_t FCount = 0;
};

// Main window (class "TMainForm") of a process, or null.
HWND FindStandInWindow(DWORD processId);

// Closes a stand-in: WM_CLOSE to its window, then TerminateProcess if it
// has not ended within timeoutMs.  Returns true when it ended on its own.
bool StopStandIn(HANDLE process, DWORD processId, DWORD timeoutMs = kStandInWaitMs);

// One stand-in started by the test, with a fresh record file and the given
// switches; any VESK_STANDIN_* variable of this process is not passed on.
// Like every stand-in these helpers start, it closes itself when the test
// process ends (VESK_STANDIN_WATCH_PID): a stand-in left running would keep
// the test runner's output pipes open.
class TStandIn {
public:
    explicit TStandIn(const std::vector<TEnvSetting>& switches = {},
                      const std::wstring& arguments = std::wstring(), bool waitReady = true);
    // For TStandIn s({{L"VESK_STANDIN_NO_DDE", L"1"}}).
    explicit TStandIn(std::initializer_list<TEnvSetting> switches,
                      const std::wstring& arguments = std::wstring(), bool waitReady = true)
        : TStandIn(std::vector<TEnvSetting>(switches), arguments, waitReady)
    {
    }
    ~TStandIn();  // Stop
    TStandIn(const TStandIn&) = delete;
    TStandIn& operator=(const TStandIn&) = delete;

    bool Started() const { return FProcess.IsValid(); }
    bool WaitReady(DWORD timeoutMs = kStandInWaitMs) const;
    bool Stop(DWORD timeoutMs = kStandInWaitMs);
    // Waits for the process to end by itself, pumping this thread's messages.
    bool WaitForExit(DWORD timeoutMs = kStandInWaitMs) const;
    bool HasExited() const;

    const TRecordFile& Record() const { return FRecord; }
    std::vector<std::wstring> Lines() const { return FRecord.Lines(); }
    std::wstring WaitForLine(const std::wstring& prefix, size_t count = 1,
                             DWORD timeoutMs = kStandInWaitMs) const
    {
        return FRecord.WaitForLine(prefix, count, timeoutMs);
    }
    HANDLE Process() const { return FProcess.Get(); }
    DWORD ProcessId() const { return FProcessId; }
    HWND Window() const { return FindStandInWindow(FProcessId); }

private:
    TRecordFile FRecord;
    TKernelHandle FProcess;
    DWORD FProcessId = 0;
};

// Record file for stand-ins started by the code under test: sets
// VESK_STANDIN_RECORD, VESK_STANDIN_WATCH_PID and the given switches in this
// process for its lifetime, and stops every stand-in that recorded its
// start there.
class TStandInRecord {
public:
    explicit TStandInRecord(const std::vector<TEnvSetting>& switches = {});
    explicit TStandInRecord(std::initializer_list<TEnvSetting> switches)
        : TStandInRecord(std::vector<TEnvSetting>(switches))
    {
    }
    ~TStandInRecord();  // StopAll
    TStandInRecord(const TStandInRecord&) = delete;
    TStandInRecord& operator=(const TStandInRecord&) = delete;

    const TRecordFile& Record() const { return FRecord; }
    std::vector<std::wstring> Lines() const { return FRecord.Lines(); }
    std::wstring WaitForLine(const std::wstring& prefix, size_t count = 1,
                             DWORD timeoutMs = kStandInWaitMs) const
    {
        return FRecord.WaitForLine(prefix, count, timeoutMs);
    }
    // Stops every stand-in that recorded a start so far.
    void StopAll();

private:
    TRecordFile FRecord;
    std::vector<std::unique_ptr<TScopedEnv>> FEnv;
};
