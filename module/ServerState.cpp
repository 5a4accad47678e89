#include "ServerState.h"
#include "../shellext/VESK_SHExt.h"

namespace {
// Static storage: both exist from the module's load to its unload and need
// no work under the loader lock beyond their constant initialisation.
TServerState GServerState;
TShellExtensionFactory GClassObject;
}  // namespace

TServerState& ServerState() noexcept
{
    return GServerState;
}

TShellExtensionFactory& ClassObject() noexcept
{
    return GClassObject;
}
