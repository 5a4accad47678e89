#pragma once
// Output, error texts and registry reads of the context-menu host.
#include <windows.h>

#include <string>

// UTF-8 text on the standard output or error stream; callable from any
// thread, each call's text stays in one piece.
void WriteOut(const std::wstring& text);
void WriteErr(const std::wstring& text);

// "0x80004005"
std::wstring HexCode(DWORD value);
// "E_FAIL (0x80004005)", or the code with the system's text when it has no
// well-known name.
std::wstring HResultText(HRESULT hr);
// "error 2: The system cannot find the file specified."
std::wstring Win32ErrorText(DWORD error);

// A string value below HKEY_CURRENT_USER (expandable strings expanded).
// Returns ERROR_SUCCESS, or why the key or value could not be read.
LONG ReadUserString(const std::wstring& keyPath, const wchar_t* valueName, std::wstring& value);
