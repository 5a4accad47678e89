#pragma once
// DDE client for the hand-off to the main application, on the platform's
// DDEML.  Everything that crosses DDE is ANSI text in the process's ANSI
// code page.
//
// A DDEML instance belongs to the thread that made it, and one that
// outlives the module would call a callback that is gone; so there is no
// module-wide instance: each hand-off makes a TDdeInstance on its own
// thread, uses it for its conversation and releases it when it ends.
#include <windows.h>
#include <ddeml.h>

#include <string>
#include <vector>

class TDdeInstance {
public:
    TDdeInstance();   // DdeInitializeA on the calling thread
    ~TDdeInstance();  // DdeUninitialize
    TDdeInstance(const TDdeInstance&) = delete;
    TDdeInstance& operator=(const TDdeInstance&) = delete;

    DWORD DdeInstId() const noexcept { return FDdeInstId; }
    bool Initialized() const noexcept { return FDdeInstId != 0; }
    UINT InitError() const noexcept { return FInitError; }  // DMLERR_NO_ERROR on success

    // The user-visible text for a DDEML error code.
    static std::wstring ErrorText(UINT errorCode);

private:
    static HDDEDATA CALLBACK DdeCallback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                         HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);

    DWORD FDdeInstId = 0;
    UINT FInitError = DMLERR_NO_ERROR;
};

class TDdeConversation {
public:
    // fallbackProgram: full path of the program started, with the topic as
    // its only argument, when the first connect finds no server; empty for
    // none.
    TDdeConversation(TDdeInstance& instance, std::wstring fallbackProgram);
    ~TDdeConversation();  // CloseLink
    TDdeConversation(const TDdeConversation&) = delete;
    TDdeConversation& operator=(const TDdeConversation&) = delete;

    bool SetLink(const std::wstring& service, const std::wstring& topic);
    bool OpenLink();
    bool ExecuteMacroLines(const std::vector<std::wstring>& lines, bool waitFlg);
    bool ExecuteMacro(const char* text, bool waitFlg);
    void CloseLink();

    const std::wstring& DdeService() const noexcept { return FDdeService; }
    const std::wstring& DdeTopic() const noexcept { return FDdeTopic; }
    HCONV Conv() const noexcept { return FConv; }
    UINT DdeFmt() const noexcept { return FDdeFmt; }
    bool WaitStat() const noexcept { return FWaitStat; }
    HSZ HszApp() const noexcept { return FHszApp; }
    HSZ HszTopic() const noexcept { return FHszTopic; }

    // Longest service or topic name, in ANSI bytes, that is passed on.
    static constexpr size_t kMaxNameBytes = 255;

private:
    friend class TDdeInstance;  // its callback clears FConv and FWaitStat

    void Connect();
    bool StartFallbackProgram() const;

    TDdeInstance& FInstance;
    const std::wstring FFallbackProgram;
    // DDEML user data of this object's conversation and waited transactions.
    // Some DDEML implementations keep only 32 bits of it, so it is a key
    // into a table of live conversations rather than this object's address.
    const DWORD FCookie;
    std::wstring FDdeService;
    std::wstring FDdeTopic;
    HSZ FHszApp = nullptr;
    HSZ FHszTopic = nullptr;
    HCONV FConv = nullptr;
    CONVINFO FCnvInfo = {};
    UINT FDdeFmt = CF_TEXT;
    bool FWaitStat = false;
};
