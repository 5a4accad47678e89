#include "VeskError.h"

std::wstring FormatMessageText(const std::wstring& pattern, const std::wstring& argument)
{
    std::wstring result = pattern;
    const auto at = result.find(L"%s");
    if (at != std::wstring::npos) result.replace(at, 2, argument);
    return result;
}
