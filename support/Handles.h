#pragma once
// Owners for the platform handle kinds the extension uses.  Each owner
// closes its handle exactly once; none is copyable, all are movable.
#include <windows.h>
#include <ddeml.h>
#include <ole2.h>
#include <utility>

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
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    HandleType Get() const noexcept { return FHandle; }
    bool IsValid() const noexcept { return Traits::IsValid(FHandle); }
    explicit operator bool() const noexcept { return IsValid(); }

    // For out-parameters of the platform functions: closes what is held first.
    HandleType* Put() noexcept {
        Reset();
        return &FHandle;
    }

    HandleType Release() noexcept {
        HandleType handle = FHandle;
        FHandle = Traits::Invalid();
        return handle;
    }

    void Reset(HandleType handle = Traits::Invalid()) noexcept {
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
    static bool IsValid(HANDLE handle) noexcept {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
    static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};

using TRegKey = TUniqueHandle<TRegKeyTraits>;
using TMenuHandle = TUniqueHandle<TMenuTraits>;
using TKernelHandle = TUniqueHandle<TKernelHandleTraits>;

// A storage medium filled by IDataObject::GetData, released once.
class TStgMedium {
public:
    TStgMedium() noexcept : FMedium() {}
    ~TStgMedium() { Reset(); }
    TStgMedium(const TStgMedium&) = delete;
    TStgMedium& operator=(const TStgMedium&) = delete;

    STGMEDIUM* Put() noexcept {
        Reset();
        return &FMedium;
    }
    const STGMEDIUM& Get() const noexcept { return FMedium; }

    void Reset() noexcept {
        if (FFilled) ReleaseStgMedium(&FMedium);
        FMedium = STGMEDIUM();
        FFilled = false;
    }
    // Marks the medium as filled once GetData has succeeded.
    void SetFilled() noexcept { FFilled = true; }

private:
    STGMEDIUM FMedium;
    bool FFilled = false;
};

// DDEML string handle: freeing needs the instance it belongs to.
class TDdeStringHandle {
public:
    TDdeStringHandle() noexcept = default;
    TDdeStringHandle(DWORD instance, HSZ handle) noexcept : FInstance(instance), FHandle(handle) {}
    ~TDdeStringHandle() { Reset(); }
    TDdeStringHandle(const TDdeStringHandle&) = delete;
    TDdeStringHandle& operator=(const TDdeStringHandle&) = delete;
    TDdeStringHandle(TDdeStringHandle&& other) noexcept
        : FInstance(other.FInstance), FHandle(std::exchange(other.FHandle, nullptr)) {}
    TDdeStringHandle& operator=(TDdeStringHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            FInstance = other.FInstance;
            FHandle = std::exchange(other.FHandle, nullptr);
        }
        return *this;
    }

    HSZ Get() const noexcept { return FHandle; }
    explicit operator bool() const noexcept { return FHandle != nullptr; }
    void Reset() noexcept {
        if (FHandle) DdeFreeStringHandle(FInstance, FHandle);
        FHandle = nullptr;
    }

private:
    DWORD FInstance = 0;
    HSZ FHandle = nullptr;
};

// DDEML data handle that has not been handed to a transaction yet.
class TDdeDataHandle {
public:
    TDdeDataHandle() noexcept = default;
    explicit TDdeDataHandle(HDDEDATA handle) noexcept : FHandle(handle) {}
    ~TDdeDataHandle() { Reset(); }
    TDdeDataHandle(const TDdeDataHandle&) = delete;
    TDdeDataHandle& operator=(const TDdeDataHandle&) = delete;

    HDDEDATA Get() const noexcept { return FHandle; }
    explicit operator bool() const noexcept { return FHandle != nullptr; }
    // DDEML owns the data once a transaction has taken it.
    HDDEDATA Release() noexcept { return std::exchange(FHandle, nullptr); }
    void Reset() noexcept {
        if (FHandle) DdeFreeDataHandle(FHandle);
        FHandle = nullptr;
    }

private:
    HDDEDATA FHandle = nullptr;
};

// ---------------------------------------------------------------------------
// Handle kinds of the programs in tools/ (host, stand-in).  Kept apart from
// the module's owners above.
#include <shtypes.h>
#include <type_traits>

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

struct TLibraryTraits {
    using HandleType = HMODULE;
    static HMODULE Invalid() noexcept { return nullptr; }
    static bool IsValid(HMODULE module) noexcept { return module != nullptr; }
    static void Close(HMODULE module) noexcept { FreeLibrary(module); }
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

using TPidl = TUniqueHandle<TCoTaskMemTraits<std::remove_pointer_t<PIDLIST_ABSOLUTE>>>;
using TLibraryHandle = TUniqueHandle<TLibraryTraits>;
using TWindowHandle = TUniqueHandle<TWindowTraits>;
using TDdeInstanceHandle = TUniqueHandle<TDdeInstanceTraits>;
