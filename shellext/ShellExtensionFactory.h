#pragma once
// The class object of the extension: hands out extension objects and
// counts its own references and the server locks in the server state it
// was given.  UpdateRegistry lives in Registration.cpp.
#include "ServerState.h"

#include <windows.h>
#include <unknwn.h>

class TShellExtension;

class TShellExtensionFactory : public IClassFactory {
public:
    constexpr explicit TShellExtensionFactory(TServerState& server) noexcept : FServer(server) {}
    virtual ~TShellExtensionFactory() = default;
    TShellExtensionFactory(const TShellExtensionFactory&) = delete;
    TShellExtensionFactory& operator=(const TShellExtensionFactory&) = delete;

    TServerState& Server() const noexcept { return FServer; }

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

private:
    // CreateComObject with its failure shown as the class object shows it;
    // null when it failed.
    TShellExtension* ConstructObject(IUnknown* controller) noexcept;

    TServerState& FServer;
};
