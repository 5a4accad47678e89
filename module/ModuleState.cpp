#include "ModuleState.h"

namespace {
// Static storage, constant-initialised: both exist from the module's load
// to its unload with no work under the loader lock.
TServerState GServerState;
TShellExtensionFactory GClassObject(GServerState);
}  // namespace

TServerState& ServerState() noexcept
{
    return GServerState;
}

TShellExtensionFactory& ClassObject() noexcept
{
    return GClassObject;
}
