#include "ShellExtensionFactory.h"
#include "VESK_SHExt.h"
#include "../support/ComBoundary.h"
#include "../support/VeskError.h"

#include <string>

namespace {

const wchar_t kConstructionErrorCaption[] = L"ZAZ エラー";

// The message of a failed construction, with a full stop added when its
// last character sorts after ".".  Without memory for that it goes as it is.
void ShowConstructionError(const std::wstring& text) noexcept
{
    const UINT style = MB_OK | MB_ICONERROR | MB_SETFOREGROUND;
    if (!text.empty() && text.back() > L'.') {
        try {
            const std::wstring sentence = text + L'.';
            MessageBoxW(nullptr, sentence.c_str(), kConstructionErrorCaption, style);
            return;
        } catch (...) {
        }
    }
    MessageBoxW(nullptr, text.c_str(), kConstructionErrorCaption, style);
}

}  // namespace

HRESULT TShellExtensionFactory::QueryInterface(REFIID riid, void** ppv)
{
    return GuardComCall(E_FAIL, [&] {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (IsNullReference(&riid)) return E_INVALIDARG;
        if (!IsEqualIID(riid, __uuidof(IUnknown)) && !IsEqualIID(riid, __uuidof(IClassFactory)))
            return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    });
}

ULONG TShellExtensionFactory::AddRef()
{
    return static_cast<ULONG>(FServer.IncFactoryCount());
}

ULONG TShellExtensionFactory::Release()
{
    return static_cast<ULONG>(FServer.DecFactoryCount());
}

TShellExtension* TShellExtensionFactory::CreateComObject(IUnknown* controller)
{
    // The object counts itself in this class object's server while it lives.
    return new TShellExtension(&FServer, controller);
}

TShellExtension* TShellExtensionFactory::ConstructObject(IUnknown* controller) noexcept
{
    try {
        return CreateComObject(controller);
    } catch (const EVeskError& error) {
        ShowConstructionError(error.Message());
    } catch (...) {
        // Only the system's own errors carry a text worth showing.
    }
    return nullptr;
}

HRESULT TShellExtensionFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    return GuardComCall(E_UNEXPECTED, [&] {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (IsNullReference(&riid)) return E_INVALIDARG;
        if (outer != nullptr && !IsEqualIID(riid, __uuidof(IUnknown))) return CLASS_E_NOAGGREGATION;

        TShellExtension* const object = ConstructObject(outer);
        if (object == nullptr) return E_UNEXPECTED;
        // The non-delegating query also for an aggregated object: the outer
        // object asked for IUnknown and gets the inner one.
        const HRESULT result = object->ObjQueryInterface(riid, ppv);
        if (object->RefCount() == 0) delete object;
        return result;
    });
}

HRESULT TShellExtensionFactory::LockServer(BOOL fLock)
{
    return GuardComCall(E_FAIL, [&] {
        const HRESULT result = CoLockObjectExternal(static_cast<IUnknown*>(this), fLock, TRUE);
        if (fLock)
            FServer.IncObjectCount();
        else
            FServer.DecObjectCount();
        return result;
    });
}
