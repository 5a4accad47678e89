#pragma once
// Module-wide server state: the counts that decide whether the module may
// be unloaded.  Changed only by interlocked operations.
#include <windows.h>

class TShellExtensionFactory;

class TServerState {
public:
    LONG ObjectCount() const noexcept { return FObjectCount; }
    LONG FactoryCount() const noexcept { return FFactoryCount; }
    LONG IncObjectCount() noexcept { return InterlockedIncrement(&FObjectCount); }
    LONG DecObjectCount() noexcept { return InterlockedDecrement(&FObjectCount); }
    LONG IncFactoryCount() noexcept { return InterlockedIncrement(&FFactoryCount); }
    LONG DecFactoryCount() noexcept { return InterlockedDecrement(&FFactoryCount); }
    bool CanUnload() const noexcept { return FObjectCount == 0 && FFactoryCount == 0; }

private:
    volatile LONG FObjectCount = 0;
    volatile LONG FFactoryCount = 0;
};

TServerState& ServerState() noexcept;

// The one class object of the module.
TShellExtensionFactory& ClassObject() noexcept;
