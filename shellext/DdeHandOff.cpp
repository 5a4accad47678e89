#include "DdeHandOff.h"
#include "VESK_Consts.h"
#include "../dde/DdeConversation.h"
#include "../dde/DdeInstance.h"

TDdeHandOff::TDdeHandOff(std::wstring topic, std::vector<std::wstring> lines,
                         std::wstring serverExe)
    : FTopic(std::move(topic)), FLines(std::move(lines)), FServerExe(std::move(serverExe))
{
}

void TDdeHandOff::Run(THandOffGate& gate) noexcept
{
    try {
        TDdeInstance instance;
        if (!instance.Initialized()) {
            gate.Settle(TDdeInstance::ErrorText(instance.InitError()).c_str());
            return;
        }
        TDdeConversation conversation(instance, FServerExe);
        if (!conversation.SetLink(kDdeService, FTopic)) {
            gate.Settle(kSetLinkFailureText);
            return;
        }
        if (!gate.CommitToSend()) return;  // the caller gave up: nothing goes out
        const bool sent = conversation.ExecuteMacroLines(FLines, false);
        gate.Settle(sent ? nullptr : kExecuteMacroLinesFailureText);
        // The conversation ends here, without waiting for the main
        // application to act on the request.
    } catch (...) {
        // Once settled, a later failure (in the close) changes nothing.
        gate.Settle(kInvokeFailureText);
    }
}
