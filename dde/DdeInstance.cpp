#include "DdeInstance.h"
#include "LiveConversations.h"

namespace {

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

TDdeInstance::TDdeInstance() noexcept
{
    DWORD instance = 0;
    const UINT result = DdeInitializeA(&instance, DdeCallback, 0, 0);
    if (result == DMLERR_NO_ERROR)
        FDdeInstId.Reset(instance);
    else
        FInitError = result;
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
    switch (type) {
    case XTYP_DISCONNECT:
        MarkServerDisconnected(info.hUser, conv);
        break;
    case XTYP_XACT_COMPLETE:
        MarkExecuteCompleted(info.hUser);
        break;
    default:
        break;
    }
    return nullptr;
}
