#include "LiveConversations.h"
#include "../support/Lock.h"

namespace {

// A handful of conversations at most: a list is all the table needs.
TLock GLock;
TDdeConversationEvents* GFirst = nullptr;
DWORD GLastKey = 0;

TDdeConversationEvents* FindLocked(DWORD key) noexcept
{
    for (TDdeConversationEvents* at = GFirst; at != nullptr; at = at->NextLive)
        if (at->LiveKey == key) return at;
    return nullptr;
}

}  // namespace

void RegisterConversation(TDdeConversationEvents& conversation) noexcept
{
    TLockHold hold(GLock);
    do {
        ++GLastKey;
    } while (GLastKey == 0 || FindLocked(GLastKey) != nullptr);
    conversation.LiveKey = GLastKey;
    conversation.NextLive = GFirst;
    GFirst = &conversation;
}

void UnregisterConversation(TDdeConversationEvents& conversation) noexcept
{
    TLockHold hold(GLock);
    for (TDdeConversationEvents** link = &GFirst; *link != nullptr; link = &(*link)->NextLive) {
        if (*link == &conversation) {
            *link = conversation.NextLive;
            break;
        }
    }
    conversation.NextLive = nullptr;
}

TDdeConversationEvents* FindConversation(DWORD_PTR userData) noexcept
{
    if (userData == 0 || userData > MAXDWORD) return nullptr;
    TLockHold hold(GLock);
    return FindLocked(static_cast<DWORD>(userData));
}
