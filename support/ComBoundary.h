#pragma once
// The policy at every COM method and exported function: nothing thrown
// crosses into the host.  Exhausted memory is E_OUTOFMEMORY unless the
// entry point has a fixed answer for every failure; any other failure is
// the entry point's own failure code.  The handlers build nothing, so they
// cannot fail themselves.
#include <windows.h>
#include <new>

template <typename TBody>
HRESULT GuardComCall(HRESULT failure, TBody&& body, HRESULT outOfMemory = E_OUTOFMEMORY) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return outOfMemory;
    } catch (...) {
        return failure;
    }
}

// A reference parameter (REFIID, REFCLSID) is a pointer to the caller:
// it can be null.  The volatile read keeps the compiler from assuming that
// a reference is never null and dropping the test.
inline bool IsNullReference(const void* address) noexcept
{
    const void* volatile seen = address;
    return seen == nullptr;
}
