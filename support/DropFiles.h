#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Reads the file list of a CF_HDROP block; false for a malformed block.
bool ReadDropFiles(HGLOBAL block, std::vector<std::wstring>& paths);
