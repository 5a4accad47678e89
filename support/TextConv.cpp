#include "TextConv.h"

#include <windows.h>

std::string WideToAnsi(const std::wstring& text)
{
    if (text.empty()) return std::string();
    const UINT codePage = GetACP();
    const int length = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &result[0], length,
                        nullptr, nullptr);
    return result;
}
