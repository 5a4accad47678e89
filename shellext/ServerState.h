#pragma once
// The counts that decide whether an in-process server may be unloaded:
// live objects (with server locks) and references on the class object.
// Changed only by interlocked operations, read without a lock.
#include <windows.h>

class TServerState {
public:
    constexpr TServerState() noexcept = default;
    TServerState(const TServerState&) = delete;
    TServerState& operator=(const TServerState&) = delete;

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
