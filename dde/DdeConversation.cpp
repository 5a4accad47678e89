#include "DdeConversation.h"
#include "../support/TextConv.h"

#include <cstring>

namespace {

// How long a fallback start may take to become idle for input.
const DWORD kFallbackIdleTimeoutMs = 30000;

// A name reaches DDEML whole or not at all: DDEML keeps at most 255 bytes,
// and an embedded NUL would cut it silently.
bool IsPassableName(const std::string& name)
{
    return name.size() <= TDdeConversation::kMaxNameBytes && name.find('\0') == std::string::npos;
}

// Only a full path: anything else would be looked up relative to the
// current folder.
bool IsFullPath(const std::wstring& path)
{
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
        const wchar_t drive = path[0];
        return (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
    }
    return path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\';
}

}  // namespace

TDdeConversation::TDdeConversation(TDdeInstance& instance, std::wstring fallbackProgram)
    : FInstance(instance), FFallbackProgram(std::move(fallbackProgram))
{
    RegisterConversation(*this);
}

TDdeConversation::~TDdeConversation()
{
    CloseLink();
    UnregisterConversation(*this);
}

bool TDdeConversation::SetLink(const std::wstring& service, const std::wstring& topic)
{
    CloseLink();
    FDdeService = service;
    FDdeTopic = topic;
    const bool linked = OpenLink();
    if (!linked) {
        // The string handles of the attempt live on until CloseLink.
        FDdeService.clear();
        FDdeTopic.clear();
    }
    return linked;
}

bool TDdeConversation::OpenLink()
{
    if (FConv != nullptr) return false;
    if (FDdeService.empty() && FDdeTopic.empty()) return false;
    if (!FInstance.Initialized()) return false;

    const std::string service = WideToAnsi(FDdeService);
    const std::string topic = WideToAnsi(FDdeTopic);
    if (!IsPassableName(service) || !IsPassableName(topic)) return false;

    const DWORD instId = FInstance.DdeInstId();
    if (!FHszApp)
        FHszApp.Reset({instId, DdeCreateStringHandleA(instId, service.c_str(), CP_WINANSI)});
    if (!FHszTopic)
        FHszTopic.Reset({instId, DdeCreateStringHandleA(instId, topic.c_str(), CP_WINANSI)});

    Connect();
    // One start of the main application and one more attempt, never more.
    if (FConv == nullptr && !FDdeService.empty() && StartFallbackProgram()) Connect();
    if (FConv == nullptr) return false;

    FDdeFmt = FCnvInfo.wFmt != 0 ? FCnvInfo.wFmt : CF_TEXT;
    return true;
}

void TDdeConversation::Connect()
{
    // DDEML reads a null string handle as "any": that is never meant here.
    if (!FHszApp || !FHszTopic) return;
    FConv = DdeConnect(FInstance.DdeInstId(), HszApp(), HszTopic(), nullptr);
    if (FConv == nullptr) return;
    FCnvInfo = CONVINFO();
    FCnvInfo.cb = sizeof(CONVINFO);
    DdeQueryConvInfo(FConv, QID_SYNC, &FCnvInfo);
    DdeSetUserHandle(FConv, QID_SYNC, LiveKey);
}

bool TDdeConversation::StartFallbackProgram() const
{
    if (!IsFullPath(FFallbackProgram)) return false;
    std::wstring commandLine = L"\"" + FFallbackProgram + L"\" " + FDdeTopic;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMINNOACTIVE;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(FFallbackProgram.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &started)) {
        return false;
    }
    const TKernelHandle process(started.hProcess);
    const TKernelHandle thread(started.hThread);
    WaitForInputIdle(process.Get(), kFallbackIdleTimeoutMs);
    return true;
}

bool TDdeConversation::ExecuteMacroLines(const std::vector<std::wstring>& lines, bool waitFlg)
{
    if (FConv == nullptr || FWaitStat) return false;
    size_t length = 0;
    for (const auto& line : lines) length += line.size() + 2;
    std::wstring text;
    text.reserve(length);
    for (const auto& line : lines) {
        text += line;
        text += L"\r\n";
    }
    // Paths: no character may turn into another path character on the way.
    const std::string ansi = PathToAnsi(text);
    return ExecuteMacro(ansi.c_str(), waitFlg);
}

bool TDdeConversation::ExecuteMacro(const char* text, bool waitFlg)
{
    if (FConv == nullptr || FWaitStat || text == nullptr) return false;
    const size_t length = std::strlen(text);
    if (length >= MAXDWORD) return false;

    TDdeDataHandle data(DdeCreateDataHandle(FInstance.DdeInstId(),
                                            reinterpret_cast<LPBYTE>(const_cast<char*>(text)),
                                            static_cast<DWORD>(length + 1), 0, nullptr, FDdeFmt,
                                            0));
    if (!data) return false;

    if (waitFlg) FWaitStat = true;
    DWORD transaction = 0;
    // DDEML takes the data over with the call.
    const HDDEDATA started = DdeClientTransaction(reinterpret_cast<LPBYTE>(data.Release()),
                                                  0xFFFFFFFF, FConv, nullptr, FDdeFmt, XTYP_EXECUTE,
                                                  TIMEOUT_ASYNC, &transaction);
    if (started == nullptr) {
        FWaitStat = false;
        return false;
    }
    // The completion finds this object through the transaction's user
    // data; without it the flag would never clear.
    if (waitFlg && !DdeSetUserHandle(FConv, transaction, LiveKey)) FWaitStat = false;
    return true;
}

void TDdeConversation::CloseLink() noexcept
{
    if (FConv != nullptr) {
        const HCONV conv = FConv;
        FConv = nullptr;
        DdeSetUserHandle(conv, QID_SYNC, 0);
        // A server's terminate does not always come through XTYP_DISCONNECT
        // (Wine's DDEML only marks the conversation): its status still says
        // whether there is anything left to end.
        CONVINFO info = {};
        info.cb = sizeof(info);
        if (DdeQueryConvInfo(conv, QID_SYNC, &info) != 0 && (info.wStatus & ST_CONNECTED) != 0 &&
            (info.wStatus & ST_TERMINATED) == 0) {
            DdeDisconnect(conv);
        }
    }
    FHszApp.Reset();
    FHszTopic.Reset();
    FDdeService.clear();
    FDdeTopic.clear();
}
