// Per-user registration: the handler entry for all files ("*") and all
// folders ("Directory") and the class key, everything below
// HKEY_CURRENT_USER\Software\Classes so that no administrator rights are
// needed and only the registering user gets the menu.
#include "ShellExtensionFactory.h"
#include "VESK_Consts.h"
#include "../support/RegData.h"
#include "../support/SysInfo.h"

#include <string>

namespace {

const wchar_t kClassesKey[] = L"Software\\Classes";
const wchar_t kClassIdKeyPrefix[] = L"Software\\Classes\\CLSID\\";
// Below kClassesKey, so that unregistering can prune them back to it.
const wchar_t kFileHandlerPath[] = L"*\\shellex\\ContextMenuHandlers\\Vesk64";
const wchar_t kFolderHandlerPath[] = L"Directory\\shellex\\ContextMenuHandlers\\Vesk64";
const wchar_t kServerKey[] = L"InprocServer32";
const wchar_t kClassName[] = L"Vesk";
const wchar_t kThreadingModelName[] = L"ThreadingModel";
const wchar_t kThreadingModel[] = L"Apartment";
const wchar_t kDefaultValue[] = L"";

// A handler key that cannot be created is passed over: the other one and
// the class key are still worth having.
void WriteHandler(TRegData& registry, const wchar_t* handlerPath, const std::wstring& classId)
{
    if (!registry.OpenKey(std::wstring(kClassesKey) + L"\\" + handlerPath, true)) return;
    registry.WriteString(kDefaultValue, classId);
    registry.CloseKey();
}

void WriteRegistration(TRegData& registry, const std::wstring& classId)
{
    WriteHandler(registry, kFileHandlerPath, classId);
    WriteHandler(registry, kFolderHandlerPath, classId);

    if (!registry.OpenKey(kClassIdKeyPrefix + classId, true)) return;
    registry.WriteString(kDefaultValue, kClassName);
    if (registry.OpenKey(kServerKey, true)) {
        // Whatever an earlier registration left (a moved module's path, a
        // different threading model, stray values) must not survive.
        registry.ClearValues();
        registry.WriteString(kDefaultValue, GetModulePath());
        registry.WriteString(kThreadingModelName, kThreadingModel);
    }
    registry.CloseKey();
}

void RemoveRegistration(TRegData& registry, const std::wstring& classId)
{
    // DeletePath removes the handler and then every key on its way back
    // that nothing else uses; Software\Classes itself always stays.
    if (registry.OpenKey(kClassesKey, true)) {
        registry.DeletePath(kFileHandlerPath);
        registry.DeletePath(kFolderHandlerPath);
        registry.CloseKey();
    }
    // Software\Classes\CLSID stays even when this was its last class.
    registry.DeleteKey(kClassIdKeyPrefix + classId);
}

}  // namespace

void TShellExtensionFactory::UpdateRegistry(bool Register)
{
    const std::wstring classId = GetClassIdText();
    TRegData registry;
    if (Register)
        WriteRegistration(registry, classId);
    else
        RemoveRegistration(registry, classId);
}
