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

struct TRegKeyTraits {
    using HandleType = HKEY;
    static HKEY Invalid() noexcept { return nullptr; }
    static bool IsValid(HKEY key) noexcept { return key != nullptr; }
    static void Close(HKEY key) noexcept { RegCloseKey(key); }
};

struct TMenuTraits {
    using HandleType = HMENU;
    static HMENU Invalid() noexcept { return nullptr; }
    static bool IsValid(HMENU menu) noexcept { return menu != nullptr; }
    static void Close(HMENU menu) noexcept { DestroyMenu(menu); }
};

// Kernel handles: both null and INVALID_HANDLE_VALUE mean "none".
struct TKernelHandleTraits {
    using HandleType = HANDLE;
    static HANDLE Invalid() noexcept { return nullptr; }
    static bool IsValid(HANDLE handle) noexcept
    {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
    static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};

// A module reference taken with LoadLibrary or GetModuleHandleEx.
struct TModuleTraits {
    using HandleType = HMODULE;
    static HMODULE Invalid() noexcept { return nullptr; }
    static bool IsValid(HMODULE module) noexcept { return module != nullptr; }
    static void Close(HMODULE module) noexcept { FreeLibrary(module); }
};

// Memory from GlobalAlloc.
struct TGlobalMemoryTraits {
    using HandleType = HGLOBAL;
    static HGLOBAL Invalid() noexcept { return nullptr; }
    static bool IsValid(HGLOBAL memory) noexcept { return memory != nullptr; }
    static void Close(HGLOBAL memory) noexcept { GlobalFree(memory); }
};

// A GlobalLock held on a block, released with GlobalUnlock.
struct TGlobalLockTraits {
    using HandleType = HGLOBAL;
    static HGLOBAL Invalid() noexcept { return nullptr; }
    static bool IsValid(HGLOBAL block) noexcept { return block != nullptr; }
    static void Close(HGLOBAL block) noexcept { GlobalUnlock(block); }
};

// Pages from VirtualAlloc.
struct TVirtualMemoryTraits {
    using HandleType = void*;
    static void* Invalid() noexcept { return nullptr; }
    static bool IsValid(void* memory) noexcept { return memory != nullptr; }
    static void Close(void* memory) noexcept { VirtualFree(memory, 0, MEM_RELEASE); }
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

// DDEML data that no transaction has taken over yet.
struct TDdeDataTraits {
    using HandleType = HDDEDATA;
    static HDDEDATA Invalid() noexcept { return nullptr; }
    static bool IsValid(HDDEDATA data) noexcept { return data != nullptr; }
    static void Close(HDDEDATA data) noexcept { DdeFreeDataHandle(data); }
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

// Memory the COM task allocator handed out: item ID lists, target devices.
template <typename T>
struct TCoTaskMemTraits {
    using HandleType = T*;
    static T* Invalid() noexcept { return nullptr; }
    static bool IsValid(T* memory) noexcept { return memory != nullptr; }
    static void Close(T* memory) noexcept { CoTaskMemFree(memory); }
};

// Memory from LocalAlloc, such as FormatMessage's allocated text.
template <typename T>
struct TLocalMemTraits {
    using HandleType = T*;
    static T* Invalid() noexcept { return nullptr; }
    static bool IsValid(T* memory) noexcept { return memory != nullptr; }
    static void Close(T* memory) noexcept { LocalFree(memory); }
};

struct TWindowTraits {
    using HandleType = HWND;
    static HWND Invalid() noexcept { return nullptr; }
    static bool IsValid(HWND window) noexcept { return window != nullptr; }
    static void Close(HWND window) noexcept { DestroyWindow(window); }
};

// A DDEML instance; uninitializing it frees its string handles as well.
struct TDdeInstanceTraits {
    using HandleType = DWORD;
    static DWORD Invalid() noexcept { return 0; }
    static bool IsValid(DWORD instance) noexcept { return instance != 0; }
    static void Close(DWORD instance) noexcept { DdeUninitialize(instance); }
};

using TRegKey = TUniqueHandle<TRegKeyTraits>;
using TMenuHandle = TUniqueHandle<TMenuTraits>;
using TKernelHandle = TUniqueHandle<TKernelHandleTraits>;
using TModuleHandle = TUniqueHandle<TModuleTraits>;
using TGlobalMemory = TUniqueHandle<TGlobalMemoryTraits>;
using TGlobalLock = TUniqueHandle<TGlobalLockTraits>;
using TVirtualMemory = TUniqueHandle<TVirtualMemoryTraits>;
using TStgMedium = TUniqueHandle<TStgMediumTraits>;
using TDdeDataHandle = TUniqueHandle<TDdeDataTraits>;
using TDdeStringHandle = TUniqueHandle<TDdeStringTraits>;
using TPidl = TUniqueHandle<TCoTaskMemTraits<std::remove_pointer_t<PIDLIST_ABSOLUTE>>>;
using TWindowHandle = TUniqueHandle<TWindowTraits>;
using TDdeInstanceHandle = TUniqueHandle<TDdeInstanceTraits>;
