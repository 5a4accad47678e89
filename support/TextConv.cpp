#include "TextConv.h"

#include <climits>

std::string WideToMultiByte(const std::wstring& text, UINT codePage, DWORD flags)
{
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::string();
    const int units = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(codePage, flags, text.data(), units, nullptr, 0, nullptr,
                                           nullptr);
    if (length <= 0) return std::string();
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, flags, text.data(), units, &result[0], length, nullptr, nullptr);
    return result;
}

bool MultiByteToWide(const char* text, size_t length, UINT codePage, std::wstring& result)
{
    result.clear();
    if (length == 0) return true;
    if (length > static_cast<size_t>(INT_MAX)) return false;
    const int bytes = static_cast<int>(length);
    const int units = MultiByteToWideChar(codePage, 0, text, bytes, nullptr, 0);
    if (units <= 0) return false;
    result.assign(static_cast<size_t>(units), L'\0');
    return MultiByteToWideChar(codePage, 0, text, bytes, &result[0], units) == units;
}

std::wstring MultiByteToWide(const std::string& text, UINT codePage)
{
    std::wstring result;
    if (!MultiByteToWide(text.data(), text.size(), codePage, result)) result.clear();
    return result;
}

std::string WideToAnsi(const std::wstring& text)
{
    return WideToMultiByte(text, GetACP());
}

std::string PathToAnsi(const std::wstring& path)
{
    // UTF-8 as the ANSI code page (a Windows 10 option) carries every
    // character and refuses the flag.
    const UINT codePage = GetACP();
    return WideToMultiByte(path, codePage, codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS);
}
