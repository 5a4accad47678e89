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
// Kinds the tests and the benchmark hold as well.

struct TModuleTraits {
    using HandleType = HMODULE;
    static HMODULE Invalid() noexcept { return nullptr; }
    static bool IsValid(HMODULE module) noexcept { return module != nullptr; }
    static void Close(HMODULE module) noexcept { FreeLibrary(module); }
};

// FindFirstFileW fails with INVALID_HANDLE_VALUE, not null.
struct TFindTraits {
    using HandleType = HANDLE;
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE search) noexcept {
        return search != INVALID_HANDLE_VALUE && search != nullptr;
    }
    static void Close(HANDLE search) noexcept { FindClose(search); }
};

struct TGlobalMemoryTraits {
    using HandleType = HGLOBAL;
    static HGLOBAL Invalid() noexcept { return nullptr; }
    static bool IsValid(HGLOBAL memory) noexcept { return memory != nullptr; }
    static void Close(HGLOBAL memory) noexcept { GlobalFree(memory); }
};

struct TLocalMemoryTraits {
    using HandleType = HLOCAL;
    static HLOCAL Invalid() noexcept { return nullptr; }
    static bool IsValid(HLOCAL memory) noexcept { return memory != nullptr; }
    static void Close(HLOCAL memory) noexcept { LocalFree(memory); }
};

// Destroy it on the thread that made the window.
struct TWindowTraits {
    using HandleType = HWND;
    static HWND Invalid() noexcept { return nullptr; }
    static bool IsValid(HWND window) noexcept { return window != nullptr; }
    static void Close(HWND window) noexcept { DestroyWindow(window); }
};

struct TEnvironmentStringsTraits {
    using HandleType = wchar_t*;
    static wchar_t* Invalid() noexcept { return nullptr; }
    static bool IsValid(wchar_t* strings) noexcept { return strings != nullptr; }
    static void Close(wchar_t* strings) noexcept { FreeEnvironmentStringsW(strings); }
};

// A DDEML instance: uninitializing it frees its string handles and ends
// its conversations as well.
struct TDdeInstanceTraits {
    using HandleType = DWORD;
    static DWORD Invalid() noexcept { return 0; }
    static bool IsValid(DWORD instance) noexcept { return instance != 0; }
    static void Close(DWORD instance) noexcept { DdeUninitialize(instance); }
};

struct TDdeConversationTraits {
    using HandleType = HCONV;
    static HCONV Invalid() noexcept { return nullptr; }
    static bool IsValid(HCONV conversation) noexcept { return conversation != nullptr; }
    static void Close(HCONV conversation) noexcept { DdeDisconnect(conversation); }
};

using TModuleHandle = TUniqueHandle<TModuleTraits>;
using TFindHandle = TUniqueHandle<TFindTraits>;
using TGlobalMemory = TUniqueHandle<TGlobalMemoryTraits>;
using TLocalMemory = TUniqueHandle<TLocalMemoryTraits>;
using TWindowHandle = TUniqueHandle<TWindowTraits>;
using TEnvironmentStrings = TUniqueHandle<TEnvironmentStringsTraits>;
using TDdeInstanceHandle = TUniqueHandle<TDdeInstanceTraits>;
using TDdeConversationHandle = TUniqueHandle<TDdeConversationTraits>;
