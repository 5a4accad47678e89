#include "VESK_SHExt.h"
#include "../support/ComBoundary.h"
#include "../support/DropFiles.h"
#include "../support/Handles.h"

#include <vector>

namespace {

// The interfaces of the extension object, searched before its COM base's
// (ISupportErrorInfo and the inner IUnknown).
const TInterfaceEntry kOwnInterfaces[] = {
    {&__uuidof(IContextMenu), InterfaceOffset<TShellExtension, IContextMenu>()},
    {&__uuidof(IShellExtInit), InterfaceOffset<TShellExtension, IShellExtInit>()},
    {nullptr, 0},
};

}  // namespace

TShellExtension::TShellExtension(TServerState* server, IUnknown* controller) noexcept
    : TComObject(server, controller, kOwnInterfaces)
{
}

HRESULT TShellExtension::QueryInterface(REFIID riid, void** ppv)
{
    return DelegatingQueryInterface(riid, ppv);
}

ULONG TShellExtension::AddRef()
{
    return DelegatingAddRef();
}

ULONG TShellExtension::Release()
{
    return DelegatingRelease();
}

HRESULT TShellExtension::Initialize(PCIDLIST_ABSOLUTE, IDataObject* lpdObj, HKEY)
{
    return GuardComCall(E_FAIL, [&] {
        if (lpdObj == nullptr) return E_FAIL;
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM filled = {};
        const HRESULT result = lpdObj->GetData(&format, &filled);
        if (FAILED(result)) return result;
        const TStgMedium medium(filled);  // released once, whatever follows
        if (medium.Get().tymed != TYMED_HGLOBAL || medium.Get().hGlobal == nullptr) return E_FAIL;

        std::vector<std::wstring> paths;
        if (!ReadDropFiles(medium.Get().hGlobal, paths)) return E_FAIL;
        size_t length = 0;
        for (const auto& path : paths) length += path.size() + 2;
        std::wstring files;
        files.reserve(length);
        for (const auto& path : paths) {
            files += path;
            files += L"\r\n";
        }
        std::wstring first = paths.empty() ? std::wstring() : paths.front();
        // Both fields change together or not at all.
        FPath.swap(first);
        FFiles.swap(files);
        return result;
    });
}
