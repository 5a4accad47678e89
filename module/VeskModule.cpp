// The module's entry points.  Load and unload do no window or DDE work:
// they run under the loader lock.  The server state and the class object
// have static storage and are ready before DllMain runs.
#include "ServerState.h"
#include "../shellext/VESK_Consts.h"
#include "../shellext/VESK_SHExt.h"

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_VeskShellExtension)) return CLASS_E_CLASSNOTAVAILABLE;
    return ClassObject().QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return ServerState().CanUnload() ? S_OK : S_FALSE;
}

namespace {

HRESULT RunRegistrationPass(bool Register) noexcept
{
    try {
        ClassObject().UpdateRegistry(Register);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
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
