// The module's entry points.  Loading and unloading do no work of their
// own: the server state and the class object are static and ready before
// any export runs, and nothing may touch windows, DDE or the registry
// under the loader lock.  The runtime's own DllMain is all that runs.
#include "ModuleState.h"
#include "../shellext/VESK_Consts.h"
#include "../support/ComBoundary.h"

#include <windows.h>

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    return GuardComCall(E_FAIL, [&] {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (IsNullReference(&rclsid) || !IsEqualCLSID(rclsid, CLSID_VeskShellExtension))
            return CLASS_E_CLASSNOTAVAILABLE;
        return ClassObject().QueryInterface(riid, ppv);
    });
}

STDAPI DllCanUnloadNow()
{
    return ServerState().CanUnload() ? S_OK : S_FALSE;
}

namespace {

// Any error ends the pass with E_FAIL, exhausted memory included: the
// registration tool only tells success from failure.
HRESULT RunRegistrationPass(bool Register) noexcept
{
    return GuardComCall(
        E_FAIL,
        [&] {
            ClassObject().UpdateRegistry(Register);
            return S_OK;
        },
        E_FAIL);
}

}  // namespace

STDAPI DllRegisterServer()
{
    return RunRegistrationPass(true);
}

STDAPI DllUnregisterServer()
{
    return RunRegistrationPass(false);
}
