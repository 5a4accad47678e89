// IContextMenu of the extension object: the submenu, its texts and the
// dispatch of a chosen command, all driven by the command table.
#include "Commands.h"
#include "VESK_SHExt.h"
#include "../support/ComBoundary.h"
#include "../support/Handles.h"
#include "../support/ResourceText.h"
#include "../support/TextConv.h"

#include <shellapi.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace {

// Copies at most capacity - 1 units and a terminator; nothing when there
// is no room even for the terminator.  Counts units, so an 8-bit copy may
// end inside a double-byte character.
template <typename TChar>
void CopyTruncated(const std::basic_string<TChar>& text, TChar* buffer, UINT capacity) noexcept
{
    if (capacity == 0) return;
    const size_t count = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(buffer, text.data(), count * sizeof(TChar));
    buffer[count] = TChar();
}

// The verb a host hands back is the help text this extension reported for
// the command, in the width the host used.
const TCommand* FindCommandByVerb(const CMINVOKECOMMANDINFO& info)
{
    // The wide verb is read only where the structure the host passed holds it.
    const auto* extended = reinterpret_cast<const CMINVOKECOMMANDINFOEX*>(&info);
    const bool wide = info.cbSize >= offsetof(CMINVOKECOMMANDINFOEX, lpVerbW) + sizeof(LPCWSTR) &&
                      (info.fMask & CMIC_MASK_UNICODE) != 0 && !IS_INTRESOURCE(extended->lpVerbW);
    for (const auto& command : kCommands) {
        const std::wstring verb = LoadResourceText(command.HelpTextId);
        if (wide ? verb == extended->lpVerbW : WideToAnsi(verb) == info.lpVerb) return &command;
    }
    return nullptr;
}

}  // namespace

HRESULT TShellExtension::QueryContextMenu(HMENU Menu, UINT indexMenu, UINT idCmdFirst, UINT, UINT)
{
    return GuardComCall(E_FAIL, [&] {
        TMenuHandle submenu(CreateMenu());
        const std::wstring caption = LoadResourceText(IDS_SUBMENU_CAPTION);
        MENUITEMINFOW item = {};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_TYPE;
        item.fType = MFT_STRING;
        item.wID = idCmdFirst + kSubmenuOffset;
        item.hSubMenu = submenu.Get();
        item.dwTypeData = const_cast<LPWSTR>(caption.c_str());
        item.cch = static_cast<UINT>(caption.size());
        // One below the suggested position, where the menu has always put it.
        if (!InsertMenuItemW(Menu, indexMenu + 1, TRUE, &item)) return S_OK;
        const HMENU commands = submenu.Release();  // the host's menu owns it now

        for (const auto& command : kCommands)
            AppendMenuW(commands, MF_GRAYED, idCmdFirst + command.Offset,
                        LoadResourceText(command.ItemTextId).c_str());

        TCommandState state = TCommandState::None;
        try {
            state = DecideCommandState(FPath);
        } catch (...) {
            // An unreadable watch list leaves every command grayed.
        }
        // The host's menu finds the items inside the submenu by identifier.
        for (const auto& command : kCommands)
            if (IsEnabledIn(command, state))
                EnableMenuItem(Menu, idCmdFirst + command.Offset, MF_BYCOMMAND | MF_ENABLED);
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, kIdentifiersUsed);
    });
}

HRESULT TShellExtension::GetCommandString(UINT_PTR idCmd, UINT uFlags, UINT*, LPSTR pszName,
                                          UINT cchMax)
{
    return GuardComCall(E_FAIL, [&] {
        const TCommand* const command = FindCommand(idCmd);
        if (command == nullptr) return E_INVALIDARG;
        switch (uFlags) {
        case GCS_VERBA:
            if (pszName == nullptr) return E_INVALIDARG;
            CopyTruncated(WideToAnsi(LoadResourceText(command->HelpTextId)), pszName, cchMax);
            break;
        case GCS_VERBW:
            if (pszName == nullptr) return E_INVALIDARG;
            CopyTruncated(LoadResourceText(command->HelpTextId),
                          reinterpret_cast<wchar_t*>(pszName), cchMax);
            break;
        default:
            // Help texts and validation requests are answered without a text.
            break;
        }
        return S_OK;
    });
}

HRESULT TShellExtension::InvokeCommand(CMINVOKECOMMANDINFO* lpici)
{
    return GuardComCall(E_FAIL, [&] {
        if (lpici == nullptr) return E_INVALIDARG;
        const TCommand* command = nullptr;
        if (IS_INTRESOURCE(lpici->lpVerb)) {
            command = FindCommand(reinterpret_cast<UINT_PTR>(lpici->lpVerb));
            if (command == nullptr) {
                MessageBoxW(nullptr, kInvokeFailureText, kMessageCaption, MB_OK | MB_ICONERROR);
                return E_INVALIDARG;
            }
        } else {
            // A string verb runs a command only when it is one this
            // extension reported.
            command = FindCommandByVerb(*lpici);
            if (command == nullptr) return E_FAIL;
        }
        // The hand-off shows its own failures; the host hears of none.
        ExecuteServer(command->Topic);
        return S_OK;
    });
}
