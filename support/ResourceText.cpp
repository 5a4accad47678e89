#include "ResourceText.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

std::wstring LoadResourceText(UINT id)
{
    // With a zero length LoadStringW hands out a pointer into the resource
    // itself, so texts of any length load whole.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(reinterpret_cast<HINSTANCE>(&__ImageBase), id,
                                   reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr) return std::wstring();
    return std::wstring(text, static_cast<size_t>(length));
}
