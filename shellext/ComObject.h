#pragma once
// COM identity of an extension object: the controlling outer object when
// aggregated, the non-delegating IUnknown, the reference count, the error
// information support, and the unit of its server's object count that the
// object holds from construction to destruction.
#include <windows.h>
#include <oaidl.h>

#include <cstddef>

class TServerState;
class TComObject;

// One interface of a class built on TComObject: its identifier and where
// it lies in the object, counted from the TComObject part.  A class's
// table ends with a null identifier.
struct TInterfaceEntry {
    const IID* Iid;
    std::ptrdiff_t Offset;
};

template <typename TClass, typename TInterface>
std::ptrdiff_t InterfaceOffset() noexcept
{
    // Any address will do: only the distance between the two parts counts.
    TClass* const object = reinterpret_cast<TClass*>(0x1000);
    return reinterpret_cast<char*>(static_cast<TInterface*>(object)) -
           reinterpret_cast<char*>(static_cast<TComObject*>(object));
}

class TComObject : public ISupportErrorInfo {
public:
    // The object is counted in the server from here on; with no server (an
    // object made outside any) it is counted nowhere.  ownInterfaces is the
    // derived class's table, searched before the base's interfaces.
    TComObject(TServerState* server, IUnknown* controller,
               const TInterfaceEntry* ownInterfaces) noexcept;
    virtual ~TComObject();
    TComObject(const TComObject&) = delete;
    TComObject& operator=(const TComObject&) = delete;

    // Non-delegating IUnknown: the object's own count and interface query.
    HRESULT ObjQueryInterface(REFIID riid, void** ppv) noexcept;
    ULONG ObjAddRef() noexcept;
    ULONG ObjRelease() noexcept;

    IUnknown* InnerUnknown() noexcept { return &FInner; }
    IUnknown* Controller() const noexcept { return FController; }
    LONG RefCount() const noexcept { return FRefCount; }

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

protected:
    // Delegating IUnknown of the object's interfaces: to the controller
    // when aggregated, else to the object's own.
    HRESULT DelegatingQueryInterface(REFIID riid, void** ppv) noexcept;
    ULONG DelegatingAddRef() noexcept;
    ULONG DelegatingRelease() noexcept;

private:
    class TInnerUnknown : public IUnknown {
    public:
        explicit TInnerUnknown(TComObject& owner) noexcept : FOwner(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        TComObject& FOwner;
    };

    void* FindInterface(REFIID riid) noexcept;

    IUnknown* const FController;  // held without a reference
    TServerState* const FServer;
    const TInterfaceEntry* const FOwnInterfaces;
    volatile LONG FRefCount = 0;  // 0 until the query that hands the object out
    TInnerUnknown FInner;
};
