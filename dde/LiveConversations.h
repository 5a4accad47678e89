#pragma once
// The conversations alive in the process, by the key a conversation gives
// DDEML as its user data.  Some DDEML implementations keep only 32 bits of
// that user data, so it cannot be an object's address.  Hand-offs may run
// on several threads at once; the instance callback that marks a
// conversation runs on the thread of that conversation.
#include <windows.h>
#include <ddeml.h>

// What the instance callback may change in a conversation.
struct TDdeLinkState {
    HCONV FConv = nullptr;   // 0 while no conversation is open
    bool FWaitStat = false;  // a waited execute has not completed yet

    // Set while registered.
    DWORD LiveKey = 0;
    TDdeLinkState* NextLive = nullptr;
};

// Gives the state its key (never 0); neither allocates nor throws.
void RegisterConversation(TDdeLinkState& state) noexcept;
void UnregisterConversation(TDdeLinkState& state) noexcept;

// The server ended the conversation: there is nothing left to disconnect.
void MarkServerDisconnected(DWORD_PTR userData, HCONV conv) noexcept;
// A waited execute has completed.
void MarkExecuteCompleted(DWORD_PTR userData) noexcept;
