#pragma once
// The context-menu extension object and its class object.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <oaidl.h>

#include <string>
#include <vector>

class TShellExtensionFactory;

// COM identity of an extension object: the controlling outer object when
// aggregated, the non-delegating IUnknown, the reference count, the error
// information support and the object count it holds.
class TComObject : public ISupportErrorInfo {
public:
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

    // Construction steps that need the object count.
    void CountObject() noexcept;
    void SetRefCount(LONG value) noexcept { FRefCount = value; }

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

protected:
    // Delegating IUnknown of the object's interfaces.
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
    volatile LONG FRefCount = 0;
    bool FCounted = false;
    TInnerUnknown FInner;
};

class TShellExtension final : public TComObject, public IShellExtInit, public IContextMenu {
public:
    TShellExtension(TShellExtensionFactory* factory, IUnknown* controller) noexcept;

    // IUnknown of IShellExtInit, IContextMenu and ISupportErrorInfo: delegating.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* lpdObj,
                            HKEY hkeyProgID) override;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU Menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                  UINT uFlags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* lpici) override;
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT uFlags, UINT* pwReserved, LPSTR pszName,
                                  UINT cchMax) override;

    // The selection: the first path, and every path followed by CR LF.
    std::wstring FPath;
    std::wstring FFiles;

protected:
    void* FindOwnInterface(REFIID riid) noexcept override;

private:
    void ExecuteServer(const std::wstring& topic);
};

// Splits a text into lines at CR LF, a lone CR or a lone LF; a final line
// break adds no empty line.
std::vector<std::wstring> SplitLines(const std::wstring& text);

class TShellExtensionFactory : public IClassFactory {
public:
    constexpr TShellExtensionFactory() noexcept = default;
    virtual ~TShellExtensionFactory() = default;

    // IUnknown: the factory count; the class object lives as long as the module.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IClassFactory
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

    // Builds one extension object with reference count 0 for the given
    // controlling outer object, or for none.
    virtual TShellExtension* CreateComObject(IUnknown* controller);

    // Writes (true) or removes (false) the per-user registration.
    void UpdateRegistry(bool Register);
};
