#pragma once
// A hand-off's work on a thread of its own.  DdeConnect sends its initiate
// message to every top-level window and waits for each; one window whose
// thread never pumps would hold the caller, Explorer's UI thread, forever.
// So the caller waits a bounded time while serving the messages sent to
// it, and then gives up.  Whether the request is sent is decided once,
// under a lock: a caller that gives up before the work commits to sending
// is sure that nothing goes out; after that, it learns how the send ended.
#include <windows.h>

#include <memory>

// A text for the user, held without allocation so that it can be passed
// on from failure paths; empty when there is nothing to show.
class TFailureText {
public:
    bool Empty() const noexcept { return FText[0] == L'\0'; }
    const wchar_t* Text() const noexcept { return FText; }
    void Assign(const wchar_t* text) noexcept;  // null for none; cut to the buffer

private:
    wchar_t FText[128] = {};
};

// What the work tells the waiting caller.
class THandOffGate {
public:
    // False when the caller has given up: the work must send nothing.
    virtual bool CommitToSend() noexcept = 0;
    // The request's fate, once known: the failure to show, or null when it
    // went out.  Only the first call counts.
    virtual void Settle(const wchar_t* failure) noexcept = 0;

protected:
    ~THandOffGate() = default;
};

class THandOffWork {
public:
    virtual ~THandOffWork() = default;
    // Runs on the worker thread; settles the gate unless the caller gave up.
    virtual void Run(THandOffGate& gate) noexcept = 0;
};

// Runs the work on a new thread and waits for it up to timeoutMs.  Returns
// the failure to show, or an empty text when the request went out.  When
// the wait runs out before the work committed to sending, the failure is
// timeoutFailure.  Throws when the thread cannot be started.
TFailureText RunHandOff(std::unique_ptr<THandOffWork> work, DWORD timeoutMs,
                        const wchar_t* timeoutFailure);
