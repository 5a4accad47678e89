#pragma once
// What lives as long as the module is loaded: the server state and the one
// class object, which counts its references and objects in that state.
#include "../shellext/ServerState.h"
#include "../shellext/ShellExtensionFactory.h"

TServerState& ServerState() noexcept;
TShellExtensionFactory& ClassObject() noexcept;
