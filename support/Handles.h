#pragma once
// One owner for every platform handle kind: TUniqueHandle with the kind's
// traits.  An owner closes its handle exactly once; none is copyable, all
// are movable.  Ownership begins when the handle is known to be valid: a
// failed call's out-parameter is never adopted.
#include <windows.h>
#include <ddeml.h>
#include <ole2.h>
#include <shtypes.h>

#include <type_traits>

template <typename Traits>
class TUniqueHandle {
public:
    using HandleType = typename Traits::HandleType;

    TUniqueHandle() noexcept : FHandle(Traits::Invalid()) {}
    explicit TUniqueHandle(HandleType handle) noexcept : FHandle(handle) {}
    ~TUniqueHandle() { Reset(); }

    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    TUniqueHandle(TUniqueHandle&& other) noexcept : FHandle(other.Release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    const HandleType& Get() const noexcept { return FHandle; }
    bool IsValid() const noexcept { return Traits::IsValid(FHandle); }
    explicit operator bool() const noexcept { return IsValid(); }

    // For out-parameters of functions that leave the handle invalid when
    // they fail: closes what is held first.
    HandleType* Put() noexcept
    {
        Reset();
        return &FHandle;
    }

    HandleType Release() noexcept
    {
        HandleType handle = FHandle;
        FHandle = Traits::Invalid();
        return handle;
    }

    void Reset(HandleType handle = Traits::Invalid()) noexcept
    {
        if (Traits::IsValid(FHandle)) Traits::Close(FHandle);
        FHandle = handle;
    }

private:
    HandleType FHandle;
};

// The handle kinds whose "none" is null and that one function closes.
template <typename THandle, auto Closer>
struct TNullHandleTraits {
    using HandleType = THandle;
    static THandle Invalid() noexcept { return nullptr; }
    static bool IsValid(THandle handle) noexcept { return handle != nullptr; }
    static void Close(THandle handle) noexcept { Closer(handle); }
};

// HANDLE kinds, for which both null and INVALID_HANDLE_VALUE mean "none"
// (CreateFileW and FindFirstFileW fail with the latter).
template <auto Closer>
struct TWin32HandleTraits {
    using HandleType = HANDLE;
    static HANDLE Invalid() noexcept { return nullptr; }
    static bool IsValid(HANDLE handle) noexcept
    {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
    static void Close(HANDLE handle) noexcept { Closer(handle); }
};

// A storage medium that IDataObject::GetData filled.
struct TStgMediumTraits {
    using HandleType = STGMEDIUM;
    static STGMEDIUM Invalid() noexcept { return STGMEDIUM(); }
    static bool IsValid(const STGMEDIUM& medium) noexcept
    {
        return medium.tymed != TYMED_NULL || medium.pUnkForRelease != nullptr;
    }
    static void Close(STGMEDIUM medium) noexcept { ReleaseStgMedium(&medium); }
};

// A DDEML string handle is freed through the instance that made it.
struct TDdeString {
    DWORD Instance;
    HSZ Handle;
};

struct TDdeStringTraits {
    using HandleType = TDdeString;
    static TDdeString Invalid() noexcept { return TDdeString{0, nullptr}; }
    static bool IsValid(const TDdeString& text) noexcept { return text.Handle != nullptr; }
    static void Close(const TDdeString& text) noexcept
    {
        DdeFreeStringHandle(text.Instance, text.Handle);
    }
};

// A DDEML instance: uninitializing it frees its string handles and ends
// its conversations as well.
struct TDdeInstanceTraits {
    using HandleType = DWORD;
    static DWORD Invalid() noexcept { return 0; }
    static bool IsValid(DWORD instance) noexcept { return instance != 0; }
    static void Close(DWORD instance) noexcept { DdeUninitialize(instance); }
};

inline void ReleaseVirtualMemory(void* memory) noexcept
{
    VirtualFree(memory, 0, MEM_RELEASE);
}

// Memory of the COM task allocator (item ID lists, target devices) and of
// LocalAlloc (FormatMessage's allocated text).
template <typename T>
using TCoTaskMemTraits = TNullHandleTraits<T*, &CoTaskMemFree>;
template <typename T>
using TLocalMemTraits = TNullHandleTraits<T*, &LocalFree>;

using TRegKey = TUniqueHandle<TNullHandleTraits<HKEY, &RegCloseKey>>;
using TMenuHandle = TUniqueHandle<TNullHandleTraits<HMENU, &DestroyMenu>>;
using TKernelHandle = TUniqueHandle<TWin32HandleTraits<&CloseHandle>>;
// A module reference taken with LoadLibrary or GetModuleHandleEx.
using TModuleHandle = TUniqueHandle<TNullHandleTraits<HMODULE, &FreeLibrary>>;
using TGlobalMemory = TUniqueHandle<TNullHandleTraits<HGLOBAL, &GlobalFree>>;
// A GlobalLock held on a block.
using TGlobalLock = TUniqueHandle<TNullHandleTraits<HGLOBAL, &GlobalUnlock>>;
using TVirtualMemory = TUniqueHandle<TNullHandleTraits<void*, &ReleaseVirtualMemory>>;
using TStgMedium = TUniqueHandle<TStgMediumTraits>;
// DDEML data that no transaction has taken over yet.
using TDdeDataHandle = TUniqueHandle<TNullHandleTraits<HDDEDATA, &DdeFreeDataHandle>>;
using TDdeStringHandle = TUniqueHandle<TDdeStringTraits>;
using TDdeInstanceHandle = TUniqueHandle<TDdeInstanceTraits>;
using TPidl = TUniqueHandle<TCoTaskMemTraits<std::remove_pointer_t<PIDLIST_ABSOLUTE>>>;
// Destroy a window on the thread that made it.
using TWindowHandle = TUniqueHandle<TNullHandleTraits<HWND, &DestroyWindow>>;
using TLocalMemory = TUniqueHandle<TNullHandleTraits<HLOCAL, &LocalFree>>;
using TEnvironmentStrings = TUniqueHandle<TNullHandleTraits<wchar_t*, &FreeEnvironmentStringsW>>;
using TDdeConversationHandle = TUniqueHandle<TNullHandleTraits<HCONV, &DdeDisconnect>>;
using TFindHandle = TUniqueHandle<TWin32HandleTraits<&FindClose>>;
