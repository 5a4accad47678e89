#pragma once
// The context-menu extension object: one per context menu.  It captures
// the selection (IShellExtInit), adds the submenu and dispatches its
// commands (IContextMenu, ContextMenu.cpp), and hands the selection to the
// main application (ExecuteServer.cpp).
#include "ComObject.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

class TShellExtension final : public TComObject, public IShellExtInit, public IContextMenu {
public:
    TShellExtension(TServerState* server, IUnknown* controller) noexcept;

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

private:
    // Finds or starts the main application and hands it FFiles on the topic;
    // shows what failed.  Never throws.
    void ExecuteServer(const wchar_t* topic) noexcept;
};
