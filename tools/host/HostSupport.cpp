#include "HostSupport.h"
#include "support/TextConv.h"

#include "support/Handles.h"

#include <ole2.h>
#include <winerror.h>

#include <cwchar>
#include <mutex>
#include <vector>

namespace {

std::mutex gOutputLock;

// A real console shows the UTF-8 bytes right only in its UTF-8 code page;
// the user's code page comes back when the host ends.
class TConsoleCodePage {
public:
    TConsoleCodePage() = default;
    ~TConsoleCodePage()
    {
        if (FSwitched) SetConsoleOutputCP(FPrevious);
    }
    TConsoleCodePage(const TConsoleCodePage&) = delete;
    TConsoleCodePage& operator=(const TConsoleCodePage&) = delete;

    void SwitchToUtf8()
    {
        if (FTried) return;
        FTried = true;
        FPrevious = GetConsoleOutputCP();
        FSwitched = FPrevious != 0 && FPrevious != CP_UTF8 && SetConsoleOutputCP(CP_UTF8);
    }

private:
    bool FTried = false;
    bool FSwitched = false;
    UINT FPrevious = 0;
};

TConsoleCodePage gConsoleCodePage;

// UTF-8 bytes: under Wine the streams are usually the Linux terminal or a
// pipe, which expect UTF-8.
void WriteStream(DWORD which, const std::wstring& text)
{
    const std::string bytes = WideToMultiByte(text, CP_UTF8);
    std::lock_guard<std::mutex> lock(gOutputLock);
    const HANDLE stream = GetStdHandle(which);
    if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (GetConsoleMode(stream, &mode)) gConsoleCodePage.SwitchToUtf8();
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(bytes.size() - done);
        if (!WriteFile(stream, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return;
        done += written;
    }
}

struct TNamedCode {
    HRESULT code;
    const wchar_t* name;
};

const TNamedCode kNamedCodes[] = {
    {S_OK, L"S_OK"},
    {S_FALSE, L"S_FALSE"},
    {E_FAIL, L"E_FAIL"},
    {E_NOINTERFACE, L"E_NOINTERFACE"},
    {E_INVALIDARG, L"E_INVALIDARG"},
    {E_POINTER, L"E_POINTER"},
    {E_UNEXPECTED, L"E_UNEXPECTED"},
    {E_OUTOFMEMORY, L"E_OUTOFMEMORY"},
    {E_NOTIMPL, L"E_NOTIMPL"},
    {E_ACCESSDENIED, L"E_ACCESSDENIED"},
    {E_ABORT, L"E_ABORT"},
    {E_HANDLE, L"E_HANDLE"},
    {CLASS_E_CLASSNOTAVAILABLE, L"CLASS_E_CLASSNOTAVAILABLE"},
    {CLASS_E_NOAGGREGATION, L"CLASS_E_NOAGGREGATION"},
    {REGDB_E_CLASSNOTREG, L"REGDB_E_CLASSNOTREG"},
    {CO_E_NOTINITIALIZED, L"CO_E_NOTINITIALIZED"},
    {RPC_E_CHANGED_MODE, L"RPC_E_CHANGED_MODE"},
    {DV_E_FORMATETC, L"DV_E_FORMATETC"},
    {DV_E_TYMED, L"DV_E_TYMED"},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L"HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), L"HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)"},
    {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), L"HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)"},
    {HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), L"HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT)"},
    {HRESULT_FROM_WIN32(ERROR_CANCELLED), L"HRESULT_FROM_WIN32(ERROR_CANCELLED)"},
};

std::wstring SystemText(DWORD code)
{
    TUniqueHandle<TLocalMemTraits<wchar_t>> buffer;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(buffer.Put()), 0, nullptr);
    std::wstring text(buffer ? buffer.Get() : L"", buffer ? length : 0);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return text;
}

}  // namespace

void WriteOut(const std::wstring& text)
{
    WriteStream(STD_OUTPUT_HANDLE, text);
}

void WriteErr(const std::wstring& text)
{
    WriteStream(STD_ERROR_HANDLE, text);
}

std::wstring HexCode(DWORD value)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(value));
    return text;
}

std::wstring HResultText(HRESULT hr)
{
    const std::wstring hex = HexCode(static_cast<DWORD>(hr));
    for (const TNamedCode& named : kNamedCodes) {
        if (named.code == hr) return std::wstring(named.name) + L" (" + hex + L")";
    }
    if (SUCCEEDED(hr)) return L"success " + hex;
    const std::wstring text = SystemText(static_cast<DWORD>(hr));
    return text.empty() ? hex : hex + L" (" + text + L")";
}

std::wstring Win32ErrorText(DWORD error)
{
    const std::wstring text = SystemText(error);
    return L"error " + std::to_wstring(error) + (text.empty() ? std::wstring() : L": " + text);
}

LONG ReadUserString(const std::wstring& keyPath, const wchar_t* valueName, std::wstring& value)
{
    value.clear();
    TRegKey key;
    LONG status = RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.Put());
    if (status != ERROR_SUCCESS) {
        key.Release();  // nothing was opened
        return status;
    }
    DWORD type = 0;
    DWORD size = 0;
    status = RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ)
        status = ERROR_INVALID_DATA;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    if (status == ERROR_SUCCESS) {
        size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        status = RegQueryValueExW(key.Get(), valueName, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &size);
    }
    if (status != ERROR_SUCCESS) return status;
    value.assign(data.data());  // up to the first NUL, stored or not
    if (type == REG_EXPAND_SZ) {
        const DWORD needed = ExpandEnvironmentStringsW(value.c_str(), nullptr, 0);
        if (needed > 0) {
            std::vector<wchar_t> expanded(needed, L'\0');
            ExpandEnvironmentStringsW(value.c_str(), expanded.data(), needed);
            value.assign(expanded.data());
        }
    }
    return ERROR_SUCCESS;
}
