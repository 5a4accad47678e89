#pragma once
// A DDEML instance for the hand-off to the main application.  Everything
// that crosses DDE is ANSI text in the process's ANSI code page.
//
// A DDEML instance belongs to the thread that made it, and one that
// outlives the module would call a callback that is gone; so there is no
// module-wide instance: each hand-off makes a TDdeInstance on its own
// thread, uses it for its conversation and releases it when it ends.
#include "../support/Handles.h"

#include <windows.h>
#include <ddeml.h>

#include <string>

class TDdeInstance {
public:
    TDdeInstance() noexcept;  // DdeInitializeA on the calling thread; DdeUninitialize at the end
    TDdeInstance(const TDdeInstance&) = delete;
    TDdeInstance& operator=(const TDdeInstance&) = delete;

    DWORD DdeInstId() const noexcept { return FDdeInstId.Get(); }
    bool Initialized() const noexcept { return static_cast<bool>(FDdeInstId); }
    UINT InitError() const noexcept { return FInitError; }  // DMLERR_NO_ERROR on success

    // The user-visible text for a DDEML error code.
    static std::wstring ErrorText(UINT errorCode);

private:
    // Refuses every connect (this instance serves nothing) and passes the
    // end of a conversation and the completion of a waited execute on to
    // the conversation they belong to.
    static HDDEDATA CALLBACK DdeCallback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                         HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);

    TDdeInstanceHandle FDdeInstId;  // 0 when DdeInitializeA failed
    UINT FInitError = DMLERR_NO_ERROR;
};
