#include "ComObject.h"
#include "ServerState.h"
#include "../support/ComBoundary.h"

TComObject::TComObject(TServerState* server, IUnknown* controller,
                       const TInterfaceEntry* ownInterfaces) noexcept
    : FController(controller), FServer(server), FOwnInterfaces(ownInterfaces), FInner(*this)
{
    if (FServer != nullptr) FServer->IncObjectCount();
}

TComObject::~TComObject()
{
    if (FServer != nullptr) FServer->DecObjectCount();
}

void* TComObject::FindInterface(REFIID riid) noexcept
{
    for (const TInterfaceEntry* entry = FOwnInterfaces; entry->Iid != nullptr; ++entry)
        if (IsEqualIID(riid, *entry->Iid)) return reinterpret_cast<char*>(this) + entry->Offset;
    if (IsEqualIID(riid, __uuidof(ISupportErrorInfo))) return static_cast<ISupportErrorInfo*>(this);
    if (IsEqualIID(riid, __uuidof(IUnknown))) return &FInner;
    return nullptr;
}

HRESULT TComObject::ObjQueryInterface(REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (IsNullReference(&riid)) return E_INVALIDARG;
    void* found = FindInterface(riid);
    if (found == nullptr) return E_NOINTERFACE;
    static_cast<IUnknown*>(found)->AddRef();
    *ppv = found;
    return S_OK;
}

ULONG TComObject::ObjAddRef() noexcept
{
    return static_cast<ULONG>(InterlockedIncrement(&FRefCount));
}

ULONG TComObject::ObjRelease() noexcept
{
    const LONG count = InterlockedDecrement(&FRefCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT TComObject::DelegatingQueryInterface(REFIID riid, void** ppv) noexcept
{
    if (FController != nullptr) return FController->QueryInterface(riid, ppv);
    return ObjQueryInterface(riid, ppv);
}

ULONG TComObject::DelegatingAddRef() noexcept
{
    return FController != nullptr ? FController->AddRef() : ObjAddRef();
}

ULONG TComObject::DelegatingRelease() noexcept
{
    return FController != nullptr ? FController->Release() : ObjRelease();
}

HRESULT TComObject::InterfaceSupportsErrorInfo(REFIID riid)
{
    return GuardComCall(E_FAIL, [&] {
        if (IsNullReference(&riid)) return E_INVALIDARG;
        return FindInterface(riid) != nullptr ? S_OK : S_FALSE;
    });
}

HRESULT TComObject::TInnerUnknown::QueryInterface(REFIID riid, void** ppv)
{
    return FOwner.ObjQueryInterface(riid, ppv);
}

ULONG TComObject::TInnerUnknown::AddRef()
{
    return FOwner.ObjAddRef();
}

ULONG TComObject::TInnerUnknown::Release()
{
    return FOwner.ObjRelease();
}
