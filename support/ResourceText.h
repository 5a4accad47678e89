#pragma once
#include <windows.h>
#include <string>

// A text of the string table of the module this code is linked into,
// loaded afresh on every call; empty when there is none.
std::wstring LoadResourceText(UINT id);
