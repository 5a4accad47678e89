// The bounded wait of a hand-off and the one decision whether its request
// is sent, with scripted work in place of DDE: the caller's report must
// match what happened to the request, however late the work is.
#include "shellext/HandOff.h"
#include "shellext/VESK_Consts.h"
#include "support/Handles.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const DWORD kShortWaitMs = 100;
// Well past the caller's wait: the work is late for certain.
const DWORD kLateMs = 6 * kShortWaitMs;

// What the scripted work did, shared with the test: the work may outlive
// the call that started it.
struct TWorkRecord {
    bool CommitAsked = false;
    bool Committed = false;
    TKernelHandle Finished{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

struct TScript {
    DWORD DelayBeforeCommitMs;
    bool AsksToCommit;          // false: it fails before the send (no link)
    DWORD DelayBeforeSettleMs;  // after the commit
    const wchar_t* Outcome;     // what it settles: null for "sent"
};

class TScriptedWork final : public THandOffWork {
public:
    TScriptedWork(TScript script, std::shared_ptr<TWorkRecord> record)
        : FScript(script), FRecord(std::move(record))
    {
    }
    ~TScriptedWork() override { SetEvent(FRecord->Finished.Get()); }

    void Run(THandOffGate& gate) noexcept override
    {
        Sleep(FScript.DelayBeforeCommitMs);
        if (!FScript.AsksToCommit) {
            gate.Settle(FScript.Outcome);
            return;
        }
        FRecord->CommitAsked = true;
        FRecord->Committed = gate.CommitToSend();
        if (!FRecord->Committed) return;
        Sleep(FScript.DelayBeforeSettleMs);
        gate.Settle(FScript.Outcome);
    }

private:
    const TScript FScript;
    const std::shared_ptr<TWorkRecord> FRecord;
};

}  // namespace

TEST(HandOffDecision, TheReportMatchesWhatHappenedToTheRequest)
{
    struct TCase {
        const char* Name;
        TScript Script;
        bool Sent;              // the work went through with the send
        std::wstring Reported;  // what the caller shows
    };
    const TCase cases[] = {
        {"sent in time", {0, true, 0, nullptr}, true, L""},
        {"link failed in time", {0, false, 0, kSetLinkFailureText}, false, kSetLinkFailureText},
        {"send failed in time",
         {0, true, 0, kExecuteMacroLinesFailureText},
         true,
         kExecuteMacroLinesFailureText},
        // The caller gave up while the link was still being made: the late
        // work must not send, and the box names the link.
        {"late before the send", {kLateMs, true, 0, nullptr}, false, kSetLinkFailureText},
        {"late link failure", {kLateMs, false, 0, kSetLinkFailureText}, false, kSetLinkFailureText},
        // Committed before the wait ran out: the request goes out, so no
        // failure may be shown, however late the send ends.
        {"late after committing", {0, true, kLateMs, nullptr}, true, L""},
        {"late failed send",
         {0, true, kLateMs, kExecuteMacroLinesFailureText},
         true,
         kExecuteMacroLinesFailureText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        auto record = std::make_shared<TWorkRecord>();
        const TFailureText reported = RunHandOff(std::make_unique<TScriptedWork>(c.Script, record),
                                                 kShortWaitMs, kSetLinkFailureText);
        EXPECT_EQ(std::wstring(reported.Text()), c.Reported);
        // The work ends on its own thread; its record says what it did.
        ASSERT_EQ(WaitForSingleObject(record->Finished.Get(), 10000), WAIT_OBJECT_0);
        EXPECT_EQ(record->Committed, c.Sent);
        EXPECT_EQ(record->CommitAsked, c.Script.AsksToCommit);
    }
}
