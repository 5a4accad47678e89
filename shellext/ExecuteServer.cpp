// The hand-off of the selection to the main application: find its window
// or start it, then deliver the paths over DDE (HandOff.cpp).
#include "DdeHandOff.h"
#include "HandOff.h"
#include "VESK_Consts.h"
#include "VESK_SHExt.h"
#include "../support/Handles.h"

#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// The main application gets this long to become idle for input after a start.
const DWORD kServerStartIdleTimeoutMs = 60000;
// The DDE part of a hand-off gets this long: the fallback start inside it
// waits up to 30 s for the started program.
const DWORD kHandOffTimeoutMs = 45000;

void ShowErrorBox(const wchar_t* text) noexcept
{
    MessageBoxW(nullptr, text, kMessageCaption, MB_OK | MB_ICONERROR);
}

// Lines end at CR LF, a lone CR or a lone LF; a final line break adds no
// empty line.
std::vector<std::wstring> SplitLines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\r' && text[i] != L'\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// Starts the main application and waits until it takes input; false when
// it could not be started.
bool StartServer(const std::wstring& serverExe)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // Some platforms ignore SEE_MASK_WAITFORINPUTIDLE; the process handle
    // lets the wait below happen everywhere.
    info.fMask = SEE_MASK_WAITFORINPUTIDLE | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC |
                 SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"open";
    info.lpFile = serverExe.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) return false;
    const TKernelHandle process(info.hProcess);
    if (process) WaitForInputIdle(process.Get(), kServerStartIdleTimeoutMs);
    return true;
}

}  // namespace

void TShellExtension::ExecuteServer(const wchar_t* topic) noexcept
{
    try {
        // Started here when no main window is open, and by the link's one
        // fallback start when no server answers.
        std::wstring serverExe = GetServerExePath();
        if (FindWindowW(kMainWindowClass, kMainWindowTitle) == nullptr && !StartServer(serverExe)) {
            ShowErrorBox(kShellExecuteFailureText);
            return;
        }
        // The lines are joined again on the way out, each with CR LF.
        // A hand-off that runs out of time was still connecting.
        const TFailureText failure = RunHandOff(
            std::make_unique<TDdeHandOff>(topic, SplitLines(FFiles), std::move(serverExe)),
            kHandOffTimeoutMs, kSetLinkFailureText);
        if (!failure.Empty()) ShowErrorBox(failure.Text());
    } catch (...) {
        // Nothing of the hand-off's own steps failed, but it did not happen.
        ShowErrorBox(kInvokeFailureText);
    }
}
