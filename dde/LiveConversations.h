#pragma once
// The conversations alive in the process, by the key a conversation gives
// DDEML as its user data.  Some DDEML implementations keep only 32 bits of
// that user data, so it cannot be an object's address.  Hand-offs may run
// on several threads at once; the instance callback that looks a
// conversation up runs on the thread of that conversation.
#include <windows.h>
#include <ddeml.h>

// What the instance callback tells a conversation.
class TDdeConversationEvents {
public:
    // The server ended the conversation: there is nothing left to disconnect.
    virtual void ServerDisconnected(HCONV conv) noexcept = 0;
    // A waited execute has completed.
    virtual void ExecuteCompleted() noexcept = 0;

    // Set by RegisterConversation; the chain of live conversations.
    DWORD LiveKey = 0;
    TDdeConversationEvents* NextLive = nullptr;

protected:
    ~TDdeConversationEvents() = default;
};

// Gives the conversation its key (never 0); neither allocates nor throws.
void RegisterConversation(TDdeConversationEvents& conversation) noexcept;
void UnregisterConversation(TDdeConversationEvents& conversation) noexcept;
// The live conversation with the key, or null.
TDdeConversationEvents* FindConversation(DWORD_PTR userData) noexcept;
