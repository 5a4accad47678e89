#pragma once
// COM identity of an extension object: the controlling outer object when
// aggregated, the non-delegating IUnknown, the reference count, the error
// information support, and the unit of its server's object count that the
// object holds from construction to destruction.
#include <windows.h>
#include <oaidl.h>

class TShellExtensionFactory;

class TComObject : public ISupportErrorInfo {
public:
    // The object is counted in its factory's server from here on; a null
    // factory (an object made outside any server) is counted nowhere.
    TComObject(TShellExtensionFactory* factory, IUnknown* controller) noexcept;
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

    // The derived class's own interfaces, searched before the base's.
    virtual void* FindOwnInterface(REFIID riid) noexcept = 0;

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
    TShellExtensionFactory* const FFactory;
    volatile LONG FRefCount = 0;  // 0 until the query that hands the object out
    TInnerUnknown FInner;
};
