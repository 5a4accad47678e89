#include "HandOff.h"
#include "VESK_Consts.h"
#include "../support/Handles.h"
#include "../support/Lock.h"
#include "../support/VeskError.h"

#include <memory>
#include <utility>

void TFailureText::Assign(const wchar_t* text) noexcept
{
    const size_t capacity = sizeof(FText) / sizeof(FText[0]);
    size_t length = 0;
    if (text != nullptr)
        for (; length + 1 < capacity && text[length] != L'\0'; ++length)
            FText[length] = text[length];
    FText[length] = L'\0';
}

namespace {

// Waits for the event while serving the messages other threads send to
// this thread's windows: the worker's initiate message may be one of them.
bool WaitServingSentMessages(HANDLE event, DWORD timeoutMs) noexcept
{
    const ULONGLONG deadline = timeoutMs == INFINITE ? ~0ULL : GetTickCount64() + timeoutMs;
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

// What the caller and the worker share.  Everything after a failure is allocation-free: fixed texts
// are copied and events set.
class THandOffJob final : public THandOffGate {
public:
    explicit THandOffJob(std::unique_ptr<THandOffWork> work)
        : FWork(std::move(work)), FDone(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          FSettled(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        if (!FDone || !FSettled) throw EVeskError(kInvokeFailureText);
    }

    HANDLE Done() const noexcept { return FDone.Get(); }

    // The worker.  The work is destroyed here, on its own thread: a DDE
    // conversation ends on the thread that made it.
    void Run() noexcept
    {
        FWork->Run(*this);
        FWork.reset();
        SetEvent(FDone.Get());
    }

    bool CommitToSend() noexcept override
    {
        TLockHold hold(FLock);
        if (FAbandoned) return false;
        FCommitted = true;
        return true;
    }

    void Settle(const wchar_t* failure) noexcept override
    {
        {
            TLockHold hold(FLock);
            if (FSettledOnce) return;
            FSettledOnce = true;
            FFailure.Assign(failure);
        }
        SetEvent(FSettled.Get());
    }

    // The caller, once the worker is done.
    TFailureText Result() noexcept
    {
        TLockHold hold(FLock);
        return FFailure;
    }

    // The caller, when the wait ran out.  Before the work committed to the
    // send nothing will go out, and the step it was in failed.  After it,
    // the send's own outcome counts: a send is a local post that blocks on
    // no other process, so waiting for it cannot hang.
    TFailureText Abandon(const wchar_t* timeoutFailure) noexcept
    {
        {
            TLockHold hold(FLock);
            if (!FCommitted) {
                FAbandoned = true;
                if (FSettledOnce) return FFailure;
                TFailureText failure;
                failure.Assign(timeoutFailure);
                return failure;
            }
        }
        WaitServingSentMessages(FSettled.Get(), INFINITE);
        return Result();
    }

private:
    std::unique_ptr<THandOffWork> FWork;
    TKernelHandle FDone;     // the work has ended and is destroyed
    TKernelHandle FSettled;  // the request's fate is known
    TLock FLock;
    bool FAbandoned = false;
    bool FCommitted = false;
    bool FSettledOnce = false;
    TFailureText FFailure;
};

// What the thread owns: its share of the job, and a reference on the
// module so that a late worker never runs unloaded code.
struct TThreadStart {
    std::shared_ptr<THandOffJob> Job;
    HMODULE Module;
};

DWORD WINAPI RunHandOffThread(LPVOID parameter)
{
    std::unique_ptr<TThreadStart> start(static_cast<TThreadStart*>(parameter));
    start->Job->Run();
    const HMODULE module = start->Module;
    start.reset();
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

TFailureText RunHandOff(std::unique_ptr<THandOffWork> work, DWORD timeoutMs,
                        const wchar_t* timeoutFailure)
{
    const auto job = std::make_shared<THandOffJob>(std::move(work));
    auto start = std::make_unique<TThreadStart>(TThreadStart{job, nullptr});
    TModuleHandle module;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&RunHandOffThread), module.Put()))
        throw EVeskError(kInvokeFailureText);
    start->Module = module.Get();
    const TKernelHandle thread(CreateThread(nullptr, 0, RunHandOffThread, start.get(), 0, nullptr));
    if (!thread) throw EVeskError(kInvokeFailureText);
    // The thread owns the start block and the module reference now.
    start.release();
    module.Release();

    if (WaitServingSentMessages(job->Done(), timeoutMs)) return job->Result();
    return job->Abandon(timeoutFailure);
}
