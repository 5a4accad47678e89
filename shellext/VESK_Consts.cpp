#include "VESK_Consts.h"
#include "../support/SysInfo.h"

#include <cwchar>

extern "C" IMAGE_DOS_HEADER __ImageBase;

const CLSID CLSID_VeskShellExtension = {
    0x4A9340A6, 0xABD2, 0x4183, {0x88, 0xF6, 0xCB, 0xB4, 0x09, 0x5C, 0xC2, 0x7D}};

const wchar_t kMainWindowClass[] = L"TMainForm";
const wchar_t kMainWindowTitle[] = L"Vesk";
const wchar_t kDdeService[] = L"Vesk";
const wchar_t kBackupTopic[] = L"DdeBackupConv";
const wchar_t kRestoreTopic[] = L"DdeRestorConv";
const wchar_t kMessageCaption[] = L"Vesk";

namespace {
const wchar_t kServerExeName[] = L"Vesk.exe";
}

std::wstring GetClassIdText()
{
    const GUID& id = CLSID_VeskShellExtension;
    wchar_t text[39];
    swprintf(text, 39, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0], id.Data4[1],
             id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
    return text;
}

std::wstring GetServerExePath()
{
    return ExtractFilePath(GetModulePath()) + kServerExeName;
}

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
