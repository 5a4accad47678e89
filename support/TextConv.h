#pragma once
#include <string>

// Converts to the process's ANSI code page (GetACP) with no flags and the
// platform's default character for what that code page cannot represent.
std::string WideToAnsi(const std::wstring& text);
