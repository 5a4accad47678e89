#pragma once
// The extension's fixed names: its class, its texts (string resources
// 65288 to 65292) and what the main application serves and shows.
#include "../resources/resource.h"

#include <windows.h>
#include <string>

// The extension's class identifier {4A9340A6-ABD2-4183-88F6-CBB4095CC27D}.
extern const CLSID CLSID_VeskShellExtension;

// The class identifier in registry form: 38 characters, upper-case hex.
std::wstring GetClassIdText();

// Vesk.exe in the folder of this module.
std::wstring GetServerExePath();

// What the main application serves and shows.
extern const wchar_t kMainWindowClass[];  // "TMainForm"
extern const wchar_t kMainWindowTitle[];  // "Vesk"
extern const wchar_t kDdeService[];       // "Vesk"
extern const wchar_t kBackupTopic[];      // "DdeBackupConv"
extern const wchar_t kRestoreTopic[];     // "DdeRestorConv"
extern const wchar_t kMessageCaption[];   // "Vesk"

// What the user is shown when a command fails, under kMessageCaption.
extern const wchar_t kInvokeFailureText[];             // "FAIL: IContextMenu.InvokeCommand"
extern const wchar_t kShellExecuteFailureText[];       // "FAIL: ExecuteServer.ShellExecuteEx"
extern const wchar_t kSetLinkFailureText[];            // "FAIL: ExecuteServer.SetLink"
extern const wchar_t kExecuteMacroLinesFailureText[];  // "FAIL: ExecuteServer.ExecuteMacroLines"
