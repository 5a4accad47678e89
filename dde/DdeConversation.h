#pragma once
// A DDE client conversation with the main application: SetLink connects
// to a service and topic, ExecuteMacroLines sends one execute request, and
// destruction ends the conversation.
#include "DdeInstance.h"
#include "LiveConversations.h"
#include "../support/Handles.h"

#include <windows.h>
#include <ddeml.h>

#include <string>
#include <vector>

class TDdeConversation final : private TDdeLinkState {
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
    // The lines go out joined, each followed by CR LF, as ANSI path text.
    bool ExecuteMacroLines(const std::vector<std::wstring>& lines, bool waitFlg);
    bool ExecuteMacro(const char* text, bool waitFlg);
    void CloseLink() noexcept;

    const std::wstring& DdeService() const noexcept { return FDdeService; }
    const std::wstring& DdeTopic() const noexcept { return FDdeTopic; }
    HCONV Conv() const noexcept { return FConv; }
    UINT DdeFmt() const noexcept { return FDdeFmt; }
    bool WaitStat() const noexcept { return FWaitStat; }
    HSZ HszApp() const noexcept { return FHszApp.Get().Handle; }
    HSZ HszTopic() const noexcept { return FHszTopic.Get().Handle; }

    // Longest service or topic name, in ANSI bytes, that is passed on.
    static constexpr size_t kMaxNameBytes = 255;

private:
    void Connect();
    bool StartFallbackProgram() const;

    TDdeInstance& FInstance;
    const std::wstring FFallbackProgram;
    std::wstring FDdeService;
    std::wstring FDdeTopic;
    // Made at the first connect attempt, alive until CloseLink.
    TDdeStringHandle FHszApp;
    TDdeStringHandle FHszTopic;
    // FConv and FWaitStat are the link state the instance callback marks.
    CONVINFO FCnvInfo = {};
    UINT FDdeFmt = CF_TEXT;
};
