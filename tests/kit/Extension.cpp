#include "Extension.h"

#include "TestSupport.h"

CMINVOKECOMMANDINFO OffsetInvoke(UINT_PTR offset)
{
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof(info);
    info.lpVerb = reinterpret_cast<LPCSTR>(offset);
    info.nShow = SW_SHOWNORMAL;
    return info;
}

TExtension::TExtension(TNoSelection) : FObject(new TShellExtension(nullptr, nullptr))
{
}

TExtension::TExtension(std::vector<std::wstring> paths) : TExtension(kNoSelection)
{
    TFileListDataObject data(std::move(paths));
    FInitResult = FObject->Initialize(nullptr, &data, nullptr);
}

HRESULT TExtension::Invoke(UINT_PTR offset) const
{
    CMINVOKECOMMANDINFO info = OffsetInvoke(offset);
    return FObject->InvokeCommand(&info);
}
