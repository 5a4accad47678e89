#include "VESK_Consts.h"
#include "../support/SysInfo.h"

#include <objbase.h>

const CLSID CLSID_VeskShellExtension = {
    0x4A9340A6, 0xABD2, 0x4183, {0x88, 0xF6, 0xCB, 0xB4, 0x09, 0x5C, 0xC2, 0x7D}};

const wchar_t kMainWindowClass[] = L"TMainForm";
const wchar_t kMainWindowTitle[] = L"Vesk";
const wchar_t kDdeService[] = L"Vesk";
const wchar_t kBackupTopic[] = L"DdeBackupConv";
const wchar_t kRestoreTopic[] = L"DdeRestorConv";
const wchar_t kMessageCaption[] = L"Vesk";

const wchar_t kInvokeFailureText[] = L"FAIL: IContextMenu.InvokeCommand";
const wchar_t kShellExecuteFailureText[] = L"FAIL: ExecuteServer.ShellExecuteEx";
const wchar_t kSetLinkFailureText[] = L"FAIL: ExecuteServer.SetLink";
const wchar_t kExecuteMacroLinesFailureText[] = L"FAIL: ExecuteServer.ExecuteMacroLines";

namespace {
const wchar_t kServerExeName[] = L"Vesk.exe";
}

std::wstring GetClassIdText()
{
    // StringFromGUID2 writes the registry form: braces, upper-case digits.
    wchar_t text[39] = {};
    StringFromGUID2(CLSID_VeskShellExtension, text, 39);
    return text;
}

std::wstring GetServerExePath()
{
    return ExtractFilePath(GetModulePath()) + kServerExeName;
}
