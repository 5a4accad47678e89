#include "TestSupport.h"

#include <shlobj.h>
#include <shellapi.h>

#include <cstring>
#include <stdexcept>

std::wstring TestBinDir()
{
    wchar_t path[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring text(path);
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

std::wstring HexOf(const std::string& bytes)
{
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(bytes.size() * 2);
    for (const unsigned char value : bytes) {
        text += kDigits[value >> 4];
        text += kDigits[value & 0xF];
    }
    return text;
}

HMENU DestroyedMenu()
{
    return TMenuHandle(CreatePopupMenu()).Get();
}

TTempDir::TTempDir()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    static LONG counter = 0;
    for (;;) {
        FPath = std::wstring(temp) + L"vesk-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(InterlockedIncrement(&counter));
        if (CreateDirectoryW(FPath.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot create temp dir");
    }
}

TTempDir::~TTempDir()
{
    RemoveTree(FPath);
}

void RemoveTree(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(path.c_str())) RemoveDirectoryW(path.c_str());
        return;
    }
    {
        WIN32_FIND_DATAW found;
        const TFindHandle search(FindFirstFileW((path + L"\\*").c_str(), &found));
        if (search) {
            do {
                const std::wstring name = found.cFileName;
                if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
            } while (FindNextFileW(search.Get(), &found));
        }
    }  // the search is closed before its folder goes
    RemoveDirectoryW(path.c_str());
}

bool KeyExists(const std::wstring& path)
{
    TRegKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    const TKernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw std::runtime_error("cannot create file");
    DWORD written = 0;
    if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        throw std::runtime_error("cannot write file");
}

std::string ReadFileBytes(const std::wstring& path)
{
    // Shared for deletion too: a stand-in may be appending to the file.
    const TKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::string();
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    return bytes;
}

void WriteUtf16File(const std::wstring& path, const std::wstring& text, bool withBom)
{
    std::string bytes;
    if (withBom) bytes += "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    WriteFileBytes(path, bytes);
}

// ---------------------------------------------------------------------------

TWatchListGuard::TWatchListGuard()
{
    wchar_t folder[MAX_PATH + 1] = {};
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_APPDATA, FALSE);
    FAppData = folder;
    // Flush the profile cache so that a moved file is not written back.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, WatchListPath().c_str());
    if (FileExists(HarrowfenDir())) {
        FBackup = FAppData + L"\\Harrowfen.test-backup";
        RemoveTree(FBackup);
        MoveFileW(HarrowfenDir().c_str(), FBackup.c_str());
    }
}

TWatchListGuard::~TWatchListGuard()
{
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, WatchListPath().c_str());
    RemoveTree(HarrowfenDir());
    if (!FBackup.empty()) MoveFileW(FBackup.c_str(), HarrowfenDir().c_str());
}

void TWatchListGuard::WriteWatchList(const std::string& content) const
{
    CreateDirectoryW(HarrowfenDir().c_str(), nullptr);
    CreateDirectoryW((HarrowfenDir() + L"\\Vesk").c_str(), nullptr);
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, WatchListPath().c_str());
    WriteFileBytes(WatchListPath(), content);
}

// ---------------------------------------------------------------------------

HRESULT TReleaseCounter::QueryInterface(REFIID riid, void** ppv)
{
    if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = this;
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

std::string BuildDropBlock(const std::vector<std::wstring>& paths)
{
    DROPFILES header = {};
    header.pFiles = sizeof(DROPFILES);
    header.fWide = TRUE;
    std::string block(reinterpret_cast<const char*>(&header), sizeof(header));
    for (const auto& path : paths)
        block.append(reinterpret_cast<const char*>(path.c_str()),
                     (path.size() + 1) * sizeof(wchar_t));
    block.append(sizeof(wchar_t), '\0');
    if (paths.empty()) block.append(sizeof(wchar_t), '\0');
    return block;
}

TFileListDataObject::TFileListDataObject(std::vector<std::wstring> paths) : FPaths(std::move(paths))
{
}

TFileListDataObject::~TFileListDataObject() = default;

HRESULT TFileListDataObject::QueryInterface(REFIID riid, void** ppv)
{
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
        *ppv = static_cast<IDataObject*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT TFileListDataObject::GetData(FORMATETC* format, STGMEDIUM* medium)
{
    ++GetDataCalls;
    if (GetDataResult != S_OK && FAILED(GetDataResult)) return GetDataResult;
    if (format == nullptr || medium == nullptr) return E_INVALIDARG;
    if (format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
    // A raw block is served without a copy: the benchmark times GetData too.
    const std::string built = RawDropBlock.empty() ? BuildDropBlock(FPaths) : std::string();
    const std::string& block = RawDropBlock.empty() ? built : RawDropBlock;
    TGlobalMemory owned(GlobalAlloc(GMEM_MOVEABLE, block.size()));
    if (!owned) return E_OUTOFMEMORY;
    const HGLOBAL memory = owned.Get();
    std::memcpy(GlobalLock(memory), block.data(), block.size());
    GlobalUnlock(memory);
    FHanded.push_back(std::move(owned));
    medium->tymed = MediumType;
    medium->hGlobal = memory;
    if (MediumType == TYMED_ISTREAM) {
        IStream* stream = nullptr;
        CreateStreamOnHGlobal(memory, FALSE, &stream);
        medium->pstm = stream;
    }
    // The counter stands in for the owner: ReleaseStgMedium calls its
    // Release instead of freeing the memory.
    medium->pUnkForRelease = &Medium;
    return GetDataResult;
}

// ---------------------------------------------------------------------------

TMessageBoxWatcher::TMessageBoxWatcher(std::wstring caption)
    : FCaption(std::move(caption)), FThread([this] { Run(); })
{
}

TMessageBoxWatcher::~TMessageBoxWatcher()
{
    FStop = true;
    FThread.join();
}

void TMessageBoxWatcher::Run()
{
    while (!FStop) {
        HWND box = FindWindowW(L"#32770", FCaption.c_str());
        if (box != nullptr && IsWindowVisible(box)) {
            wchar_t text[1024] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 1024);
            {
                std::lock_guard<std::mutex> hold(FLock);
                FTexts.push_back(text);
            }
            SendMessageW(box, WM_COMMAND, IDOK, 0);
            // Do not count the same box twice while it closes.
            for (int i = 0; i < 200 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(10);
        }
        Sleep(20);
    }
}

std::vector<std::wstring> TMessageBoxWatcher::Texts()
{
    std::lock_guard<std::mutex> hold(FLock);
    return FTexts;
}

bool TMessageBoxWatcher::WaitFor(size_t count, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (Texts().size() >= count) return true;
        Sleep(20);
    }
    return Texts().size() >= count;
}
