#include "DdeConversation.h"

#include "../support/Handles.h"
#include "../support/TextConv.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

// How long a fallback start may take to become idle for input.
const DWORD kFallbackIdleTimeoutMs = 30000;

// Conversations by their DDEML user data.  The callback runs on the thread
// of the conversation it looks up, but other threads may run hand-offs of
// their own at the same time.
std::mutex& ConversationsLock()
{
    static std::mutex lock;
    return lock;
}

std::unordered_map<DWORD, TDdeConversation*>& Conversations()
{
    static std::unordered_map<DWORD, TDdeConversation*> conversations;
    return conversations;
}

DWORD RegisterConversation(TDdeConversation* conversation)
{
    static DWORD lastCookie = 0;
    std::lock_guard<std::mutex> guard(ConversationsLock());
    auto& conversations = Conversations();
    do {
        ++lastCookie;
    } while (lastCookie == 0 || conversations.count(lastCookie) != 0);
    conversations.emplace(lastCookie, conversation);
    return lastCookie;
}

void UnregisterConversation(DWORD cookie) noexcept
{
    std::lock_guard<std::mutex> guard(ConversationsLock());
    Conversations().erase(cookie);
}

TDdeConversation* FindConversation(DWORD_PTR userData)
{
    if (userData == 0 || userData > MAXDWORD) return nullptr;
    std::lock_guard<std::mutex> guard(ConversationsLock());
    const auto& conversations = Conversations();
    const auto found = conversations.find(static_cast<DWORD>(userData));
    return found == conversations.end() ? nullptr : found->second;
}

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

std::wstring LowerHex(UINT value)
{
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// TDdeInstance

TDdeInstance::TDdeInstance()
{
    const UINT result = DdeInitializeA(&FDdeInstId, DdeCallback, 0, 0);
    if (result != DMLERR_NO_ERROR) {
        FDdeInstId = 0;
        FInitError = result;
    }
}

TDdeInstance::~TDdeInstance()
{
    if (FDdeInstId != 0) DdeUninitialize(FDdeInstId);
}

std::wstring TDdeInstance::ErrorText(UINT errorCode)
{
    std::wstring text;
    switch (errorCode) {
    case DMLERR_LOW_MEMORY:
    case DMLERR_MEMORY_ERROR:
        text = L"DDE 実行時にメモリ不足エラーが発生しました ($0%x)";
        break;
    case DMLERR_NO_CONV_ESTABLISHED:
        text = L"DDE エラー ($0%x) のため対話を確立できません";
        break;
    default:
        text = L"DDE がエラーを返しました ($0%x)";
        break;
    }
    text.replace(text.find(L"%x"), 2, LowerHex(errorCode));
    return text;
}

HDDEDATA CALLBACK TDdeInstance::DdeCallback(UINT type, UINT, HCONV conv, HSZ, HSZ, HDDEDATA,
                                            ULONG_PTR data1, ULONG_PTR)
{
    switch (type) {
    case XTYP_CONNECT:
        // This instance serves nothing.
        return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(FALSE));
    case XTYP_WILDCONNECT:
        return nullptr;
    default:
        break;
    }

    if (conv == nullptr) return nullptr;
    CONVINFO info = {};
    info.cb = sizeof(info);
    const DWORD id = type == XTYP_XACT_COMPLETE ? static_cast<DWORD>(data1) : QID_SYNC;
    if (DdeQueryConvInfo(conv, id, &info) == 0) return nullptr;
    TDdeConversation* const conversation = FindConversation(info.hUser);
    if (conversation == nullptr) return nullptr;

    switch (type) {
    case XTYP_DISCONNECT:
        // The server ended it: there is nothing left to disconnect.
        if (conversation->FConv == conv) conversation->FConv = nullptr;
        break;
    case XTYP_XACT_COMPLETE:
        conversation->FWaitStat = false;
        break;
    default:
        break;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// TDdeConversation

TDdeConversation::TDdeConversation(TDdeInstance& instance, std::wstring fallbackProgram)
    : FInstance(instance),
      FFallbackProgram(std::move(fallbackProgram)),
      FCookie(RegisterConversation(this))
{
}

TDdeConversation::~TDdeConversation()
{
    CloseLink();
    UnregisterConversation(FCookie);
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
    if (FHszApp == nullptr) FHszApp = DdeCreateStringHandleA(instId, service.c_str(), CP_WINANSI);
    if (FHszTopic == nullptr) FHszTopic = DdeCreateStringHandleA(instId, topic.c_str(), CP_WINANSI);

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
    if (FHszApp == nullptr || FHszTopic == nullptr) return;
    FConv = DdeConnect(FInstance.DdeInstId(), FHszApp, FHszTopic, nullptr);
    if (FConv == nullptr) return;
    FCnvInfo = CONVINFO();
    FCnvInfo.cb = sizeof(CONVINFO);
    DdeQueryConvInfo(FConv, QID_SYNC, &FCnvInfo);
    DdeSetUserHandle(FConv, QID_SYNC, FCookie);
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
    std::wstring text;
    for (const auto& line : lines) {
        text += line;
        text += L"\r\n";
    }
    const std::string ansi = WideToAnsi(text);
    return ExecuteMacro(ansi.c_str(), waitFlg);
}

bool TDdeConversation::ExecuteMacro(const char* text, bool waitFlg)
{
    if (FConv == nullptr || FWaitStat || text == nullptr) return false;
    const size_t length = std::strlen(text);
    if (length >= MAXDWORD) return false;

    TDdeDataHandle data(DdeCreateDataHandle(FInstance.DdeInstId(),
                                            reinterpret_cast<LPBYTE>(const_cast<char*>(text)),
                                            static_cast<DWORD>(length + 1), 0, nullptr, FDdeFmt, 0));
    if (!data) return false;

    if (waitFlg) FWaitStat = true;
    DWORD transaction = 0;
    // DDEML takes the data over with the call.
    const HDDEDATA started =
        DdeClientTransaction(reinterpret_cast<LPBYTE>(data.Release()), 0xFFFFFFFF, FConv, nullptr,
                             FDdeFmt, XTYP_EXECUTE, TIMEOUT_ASYNC, &transaction);
    if (started == nullptr) {
        FWaitStat = false;
        return false;
    }
    // The completion finds this object through the transaction's user
    // data; without it the flag would never clear.
    if (waitFlg && !DdeSetUserHandle(FConv, transaction, FCookie)) FWaitStat = false;
    return true;
}

void TDdeConversation::CloseLink()
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
    const DWORD instId = FInstance.DdeInstId();
    if (FHszApp != nullptr) {
        DdeFreeStringHandle(instId, FHszApp);
        FHszApp = nullptr;
    }
    if (FHszTopic != nullptr) {
        DdeFreeStringHandle(instId, FHszTopic);
        FHszTopic = nullptr;
    }
    FDdeService.clear();
    FDdeTopic.clear();
}
