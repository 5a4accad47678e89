#pragma once
#include "../resources/resource.h"

#include <windows.h>
#include <string>

// The extension's class identifier {4A9340A6-ABD2-4183-88F6-CBB4095CC27D}.
extern const CLSID CLSID_VeskShellExtension;

// The class identifier in registry form: 38 characters, upper-case hex.
std::wstring GetClassIdText();

// Vesk.exe in the folder of this module.
std::wstring GetServerExePath();

// A text of this module's string table, loaded afresh on every call.
std::wstring LoadResourceText(UINT id);

// What the main application serves and shows.
extern const wchar_t kMainWindowClass[];  // "TMainForm"
extern const wchar_t kMainWindowTitle[];  // "Vesk"
extern const wchar_t kDdeService[];       // "Vesk"
extern const wchar_t kBackupTopic[];      // "DdeBackupConv"
extern const wchar_t kRestoreTopic[];     // "DdeRestorConv"
extern const wchar_t kMessageCaption[];   // "Vesk"
