#pragma once
// Conversions between the UTF-16 text used inside the extension and the
// 8-bit code pages it meets at its edges.
#include <windows.h>
#include <string>

// UTF-16 to a code page.  Characters the code page lacks become its default
// character; flags are those of WideCharToMultiByte.
std::string WideToMultiByte(const std::wstring& text, UINT codePage, DWORD flags = 0);
// A code page to UTF-16.  The first form reports a conversion the code page
// refuses (invalid bytes where the flags forbid them, a text too long).
bool MultiByteToWide(const char* text, size_t length, UINT codePage, std::wstring& result);
std::wstring MultiByteToWide(const std::string& text, UINT codePage);

// The process's ANSI code page (GetACP), no flags: the platform's best-fit
// mappings apply.  Right for texts shown to a person.
std::string WideToAnsi(const std::wstring& text);
// The same for file-system paths: without best-fit mappings, so that no
// character turns into another path character (a fullwidth reverse solidus
// into "\", a yen sign into "\" in code page 932); what the code page lacks
// arrives as its default character.
std::string PathToAnsi(const std::wstring& path);
