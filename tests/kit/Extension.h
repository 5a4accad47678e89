#pragma once
// The extension object as the tests drive it: made here and nowhere else,
// so a change to its constructor is a change in one line.
#include "shellext/VESK_SHExt.h"

#include <wrl/client.h>

#include <string>
#include <vector>

// QueryContextMenu's answer when it has placed its submenu and two commands.
const HRESULT kThreeIdsUsed = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3);

// An invocation by command offset, as a host makes it.
CMINVOKECOMMANDINFO OffsetInvoke(UINT_PTR offset);

// An extension object owned by the test, released at the end.
class TExtension {
public:
    struct TNoSelection {};
    static constexpr TNoSelection kNoSelection{};

    // Initialized with these paths, as a host does before anything else.
    explicit TExtension(std::vector<std::wstring> paths = {L"C:\\Data\\x.txt"});
    // Not initialized: the test hands over a selection itself.
    explicit TExtension(TNoSelection);

    TShellExtension* operator->() const { return FObject.Get(); }
    IContextMenu* Menu() const { return FObject.Get(); }
    // What Initialize returned (E_FAIL when it was not called).
    HRESULT InitResult() const { return FInitResult; }
    HRESULT Invoke(UINT_PTR offset) const;

private:
    Microsoft::WRL::ComPtr<TShellExtension> FObject;
    HRESULT FInitResult = E_FAIL;
};
