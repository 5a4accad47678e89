#pragma once
#include <windows.h>
#include <string>

// Full path of the module this code is linked into, at any length; empty
// when the platform cannot give it.
std::wstring GetModulePath();
std::wstring GetModulePathOf(HMODULE module);

// Path splitting at the backslash and the drive colon; "/" is an ordinary
// character.
//   ExtractFilePath: up to and including the last separator ("a\b\" of "a\b\c.ini").
//   ExtractFileDir:  the folder ("a\b"); the separator stays when it is a colon,
//                    the first character, or follows "\" or ":" ("C:\", "\\", "C:").
//   ExtractFileName: what follows the last separator.
std::wstring ExtractFilePath(const std::wstring& path);
std::wstring ExtractFileDir(const std::wstring& path);
std::wstring ExtractFileName(const std::wstring& path);
