#pragma once
// Helpers shared by the tests and the benchmark: temporary folders and
// files, the watch-list folder guard, a file-list data object and a watcher
// for message boxes.  No test framework here: the benchmark links them too.
#include "support/Handles.h"

#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An exported function of a loaded module, typed.
template <typename TFunction>
TFunction GetExport(HMODULE module, const char* name)
{
    // Through the generic function type, which any function pointer may be
    // cast to and back.
    return reinterpret_cast<TFunction>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Folder of the running program (with a trailing backslash): the module,
// the stand-in and the tests sit side by side in it.
std::wstring TestBinDir();

// Two upper-case hex digits per byte, as the stand-in records data.
std::wstring HexOf(const std::string& bytes);

// A handle that named a menu once and names none now.
HMENU DestroyedMenu();

// A fresh folder below %TEMP%, removed with its content at the end.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::wstring& Path() const { return FPath; }
    std::wstring operator/(const std::wstring& name) const { return FPath + L"\\" + name; }

private:
    std::wstring FPath;
};

void RemoveTree(const std::wstring& path);
// True when the key exists below HKEY_CURRENT_USER.
bool KeyExists(const std::wstring& path);
bool FileExists(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
// UTF-16 little endian, with or without the byte-order mark.
void WriteUtf16File(const std::wstring& path, const std::wstring& text, bool withBom);

// Keeps the user's Harrowfen folder below the application-data folder as
// it was: a test may create, write or delete the watch list freely.
class TWatchListGuard {
public:
    TWatchListGuard();
    ~TWatchListGuard();
    TWatchListGuard(const TWatchListGuard&) = delete;
    TWatchListGuard& operator=(const TWatchListGuard&) = delete;

    const std::wstring& AppDataDir() const { return FAppData; }
    std::wstring HarrowfenDir() const { return FAppData + L"\\Harrowfen"; }
    std::wstring WatchListPath() const { return FAppData + L"\\Harrowfen\\Vesk\\Watches.ini"; }
    // Writes the watch list (ANSI text) after removing whatever was there.
    void WriteWatchList(const std::string& content) const;

private:
    std::wstring FAppData;
    std::wstring FBackup;  // moved-away original, empty when there was none
};

// IUnknown whose Release calls are counted: handed out as pUnkForRelease so
// that ReleaseStgMedium is observable.
class TReleaseCounter : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++FAddRefs; }
    STDMETHODIMP_(ULONG) Release() override { return ++FReleases; }
    int Releases() const { return FReleases; }

private:
    int FAddRefs = 0;
    int FReleases = 0;
};

// A data object that serves a CF_HDROP file list, or fails as told.
class TFileListDataObject : public IDataObject {
public:
    explicit TFileListDataObject(std::vector<std::wstring> paths);

    HRESULT GetDataResult = S_OK;      // returned by GetData when not S_OK
    DWORD MediumType = TYMED_HGLOBAL;  // the tymed handed out
    std::string RawDropBlock;          // when set, served instead of the built list
    TReleaseCounter Medium;            // counts ReleaseStgMedium on what was handed out
    int GetDataCalls = 0;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

    ~TFileListDataObject();

private:
    std::vector<std::wstring> FPaths;
    std::vector<TGlobalMemory> FHanded;  // the medium does not own them
};

// Builds a DROPFILES block (wide) for the paths.
std::string BuildDropBlock(const std::vector<std::wstring>& paths);

// Watches for message boxes (class "#32770") with a caption, records their
// text (control 0xFFFF) and closes them, from a thread of its own.
class TMessageBoxWatcher {
public:
    explicit TMessageBoxWatcher(std::wstring caption);
    ~TMessageBoxWatcher();
    TMessageBoxWatcher(const TMessageBoxWatcher&) = delete;
    TMessageBoxWatcher& operator=(const TMessageBoxWatcher&) = delete;

    std::vector<std::wstring> Texts();
    // Waits up to timeoutMs for at least count boxes.
    bool WaitFor(size_t count, DWORD timeoutMs);

private:
    void Run();
    std::wstring FCaption;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::vector<std::wstring> FTexts;
    std::thread FThread;
};
