#include "LiveConversations.h"
#include "../support/Lock.h"

namespace {

// A handful of conversations at most: a list is all the table needs.
TLock GLock;
TDdeLinkState* GFirst = nullptr;
DWORD GLastKey = 0;

TDdeLinkState* FindLocked(DWORD_PTR key) noexcept
{
    if (key == 0 || key > MAXDWORD) return nullptr;
    for (TDdeLinkState* at = GFirst; at != nullptr; at = at->NextLive)
        if (at->LiveKey == key) return at;
    return nullptr;
}

}  // namespace

void RegisterConversation(TDdeLinkState& state) noexcept
{
    TLockHold hold(GLock);
    do {
        ++GLastKey;
    } while (GLastKey == 0 || FindLocked(GLastKey) != nullptr);
    state.LiveKey = GLastKey;
    state.NextLive = GFirst;
    GFirst = &state;
}

void UnregisterConversation(TDdeLinkState& state) noexcept
{
    TLockHold hold(GLock);
    for (TDdeLinkState** link = &GFirst; *link != nullptr; link = &(*link)->NextLive) {
        if (*link == &state) {
            *link = state.NextLive;
            break;
        }
    }
    state.NextLive = nullptr;
    state.LiveKey = 0;
}

void MarkServerDisconnected(DWORD_PTR userData, HCONV conv) noexcept
{
    TLockHold hold(GLock);
    TDdeLinkState* const state = FindLocked(userData);
    if (state != nullptr && state->FConv == conv) state->FConv = nullptr;
}

void MarkExecuteCompleted(DWORD_PTR userData) noexcept
{
    TLockHold hold(GLock);
    TDdeLinkState* const state = FindLocked(userData);
    if (state != nullptr) state->FWaitStat = false;
}
