#include "TextConv.h"

std::string WideToMultiByte(const std::wstring& text, UINT codePage, DWORD flags)
{
    if (text.empty()) return std::string();
    const int units = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(codePage, flags, text.data(), units, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, flags, text.data(), units, &result[0], length, nullptr, nullptr);
    return result;
}

std::wstring MultiByteToWide(const std::string& text, UINT codePage)
{
    if (text.empty()) return std::wstring();
    const int units = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, 0, text.data(), units, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring result(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), units, &result[0], length);
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
