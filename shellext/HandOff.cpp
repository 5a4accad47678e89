#include "HandOff.h"
#include "VESK_Consts.h"
#include "../dde/DdeConversation.h"
#include "../dde/DdeInstance.h"
#include "../support/Handles.h"
#include "../support/Lock.h"
#include "../support/VeskError.h"

#include <memory>

const wchar_t kSetLinkFailureText[] = L"FAIL: ExecuteServer.SetLink";
const wchar_t kExecuteMacroLinesFailureText[] = L"FAIL: ExecuteServer.ExecuteMacroLines";
const wchar_t kInvokeFailureText[] = L"FAIL: IContextMenu.InvokeCommand";

void TFailureText::Assign(const wchar_t* text) noexcept
{
    const size_t capacity = sizeof(FText) / sizeof(FText[0]);
    size_t length = 0;
    if (text != nullptr)
        for (; length + 1 < capacity && text[length] != L'\0'; ++length) FText[length] = text[length];
    FText[length] = L'\0';
}

namespace {

// What the caller and the worker share.  Everything either side does after
// a failure is allocation-free: it only copies fixed texts and sets events.
class THandOffJob {
public:
    THandOffJob(const std::wstring& topic, std::vector<std::wstring> lines, std::wstring serverExe)
        : FTopic(topic), FLines(std::move(lines)), FServerExe(std::move(serverExe)),
          FDone(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          FSettled(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        if (!FDone || !FSettled) throw EVeskError(kInvokeFailureText);
    }

    HANDLE Done() const noexcept { return FDone.Get(); }
    HANDLE Settled() const noexcept { return FSettled.Get(); }

    // The worker: its own DDE instance, link, execute, close.
    void Run() noexcept
    {
        try {
            TDdeInstance instance;
            if (!instance.Initialized()) {
                Settle(TDdeInstance::ErrorText(instance.InitError()).c_str());
            } else {
                TDdeConversation conversation(instance, FServerExe);
                if (!conversation.SetLink(kDdeService, FTopic)) {
                    Settle(kSetLinkFailureText);
                } else if (CommitToSend()) {
                    const bool sent = conversation.ExecuteMacroLines(FLines, false);
                    Settle(sent ? nullptr : kExecuteMacroLinesFailureText);
                }
                // The conversation and the instance end here, before Done.
            }
        } catch (...) {
            Settle(kInvokeFailureText);
        }
        SetEvent(FDone.Get());
    }

    // The caller, once the worker is done.
    TFailureText Result() noexcept
    {
        TLockHold hold(FLock);
        return FFailure;
    }

    // The caller, when the wait ran out.  Before the worker committed to the
    // send, nothing will go out: the link is what failed.  After it, the
    // send's own outcome counts; it is a local post that blocks on no one,
    // so waiting for it cannot hang.
    TFailureText Abandon() noexcept;

private:
    bool CommitToSend() noexcept
    {
        TLockHold hold(FLock);
        if (FAbandoned) return false;
        FCommitted = true;
        return true;
    }

    // Records the first outcome; later ones (an error after the send) do
    // not replace it.
    void Settle(const wchar_t* failure) noexcept
    {
        {
            TLockHold hold(FLock);
            if (FSettledOnce) return;
            FSettledOnce = true;
            FFailure.Assign(failure);
        }
        SetEvent(FSettled.Get());
    }

    const std::wstring FTopic;
    const std::vector<std::wstring> FLines;
    const std::wstring FServerExe;
    TKernelHandle FDone;     // the worker has finished, conversation closed
    TKernelHandle FSettled;  // the request's fate is known
    TLock FLock;
    bool FAbandoned = false;
    bool FCommitted = false;
    bool FSettledOnce = false;
    TFailureText FFailure;
};

// Waits for the event while serving the messages other threads send to
// this thread's windows: the worker's initiate message may be one of them.
bool WaitServingSentMessages(HANDLE event, DWORD timeoutMs) noexcept
{
    const ULONGLONG deadline =
        timeoutMs == INFINITE ? ~0ULL : GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
        const ULONGLONG left = deadline - now;
        const DWORD slice = left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(left);
        const DWORD result = MsgWaitForMultipleObjects(1, &event, FALSE, slice, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) return true;
        if (result == WAIT_OBJECT_0 + 1) {
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        if (result == WAIT_TIMEOUT) return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
        return false;
    }
}

TFailureText THandOffJob::Abandon() noexcept
{
    {
        TLockHold hold(FLock);
        if (!FCommitted) {
            FAbandoned = true;
            if (FSettledOnce) return FFailure;
            TFailureText failure;
            failure.Assign(kSetLinkFailureText);
            return failure;
        }
    }
    WaitServingSentMessages(FSettled.Get(), INFINITE);
    return Result();
}

struct THandOffThreadStart {
    std::shared_ptr<THandOffJob> Job;
    HMODULE Module;
};

DWORD WINAPI RunHandOffThread(LPVOID parameter)
{
    std::unique_ptr<THandOffThreadStart> start(static_cast<THandOffThreadStart*>(parameter));
    start->Job->Run();
    const HMODULE module = start->Module;
    start.reset();
    // The thread holds the module, so a late worker never runs unloaded code.
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

TFailureText RunHandOff(const std::wstring& topic, std::vector<std::wstring> lines,
                        std::wstring serverExe, DWORD timeoutMs)
{
    auto start = std::make_unique<THandOffThreadStart>();
    start->Job = std::make_shared<THandOffJob>(topic, std::move(lines), std::move(serverExe));
    TModuleHandle module;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&RunHandOffThread), module.Put()))
        throw EVeskError(kInvokeFailureText);
    start->Module = module.Get();
    const std::shared_ptr<THandOffJob> job = start->Job;
    const TKernelHandle thread(CreateThread(nullptr, 0, RunHandOffThread, start.get(), 0, nullptr));
    if (!thread) throw EVeskError(kInvokeFailureText);
    // The thread owns the start block and the module reference now.
    start.release();
    module.Release();

    if (WaitServingSentMessages(job->Done(), timeoutMs)) return job->Result();
    return job->Abandon();
}
