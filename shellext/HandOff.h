#pragma once
// The DDE part of a hand-off, on a thread of its own.  DdeConnect sends
// its initiate message to every top-level window and waits for each; one
// window whose thread never pumps would hold the caller, Explorer's UI
// thread, forever.  So the caller waits a bounded time while serving the
// messages sent to it, and then gives up.  Whether the request is sent is
// decided once, under a lock: a caller that gives up before that point is
// sure nothing goes out; after it, the caller learns how the send ended.
#include <windows.h>

#include <string>
#include <vector>

// A text for the user, held without allocation so that it can be passed
// on from failure paths; empty when there is nothing to show.
class TFailureText {
public:
    bool Empty() const noexcept { return FText[0] == L'\0'; }
    const wchar_t* Text() const noexcept { return FText; }
    void Assign(const wchar_t* text) noexcept;  // cut to the buffer

private:
    wchar_t FText[128] = {};
};

// Connects to the main application on the topic, with serverExe as the
// program to start when no server answers, and sends the lines as one
// execute request.  Returns what failed, or an empty text when the request
// went out.  Throws when the worker cannot be started at all.
TFailureText RunHandOff(const std::wstring& topic, std::vector<std::wstring> lines,
                        std::wstring serverExe, DWORD timeoutMs);

extern const wchar_t kSetLinkFailureText[];            // "FAIL: ExecuteServer.SetLink"
extern const wchar_t kExecuteMacroLinesFailureText[];  // "FAIL: ExecuteServer.ExecuteMacroLines"
extern const wchar_t kInvokeFailureText[];             // "FAIL: IContextMenu.InvokeCommand"
