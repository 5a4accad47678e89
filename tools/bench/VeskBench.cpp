// Benchmark of the extension under its host's eyes: the context menu over
// watch lists of growing size, the hand-off to a running main application
// (the stand-in), and module load to the first finished menu.  Prints one
// table.  Not a test: it measures, it does not judge.
//
// Usage: VeskBench [--rounds N]
// It writes the current user's watch list and puts the previous one back
// at the end; run it in a prefix of its own (tools/bench.sh does).
#include <windows.h>
#include <objidl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const CLSID kExtensionClass = {
    0x4A9340A6, 0xABD2, 0x4183, {0x88, 0xF6, 0xCB, 0xB4, 0x09, 0x5C, 0xC2, 0x7D}};

using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using TCanUnloadNow = HRESULT(STDAPICALLTYPE*)();

double NowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const size_t at = static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[std::min(at, samples.size() - 1)];
}

std::wstring BinDir()
{
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring text(path);
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

// A CF_HDROP data object for the selection.
class TDropData : public IDataObject {
public:
    explicit TDropData(const std::vector<std::wstring>& paths)
    {
        DROPFILES header = {};
        header.pFiles = sizeof(header);
        header.fWide = TRUE;
        FBlock.assign(reinterpret_cast<const char*>(&header), sizeof(header));
        for (const auto& path : paths)
            FBlock.append(reinterpret_cast<const char*>(path.c_str()), (path.size() + 1) * 2);
        FBlock.append(2, '\0');
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, FBlock.size());
        std::memcpy(GlobalLock(memory), FBlock.data(), FBlock.size());
        GlobalUnlock(memory);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = memory;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    std::string FBlock;
};

class TModule {
public:
    explicit TModule(const std::wstring& path) : FHandle(LoadLibraryW(path.c_str()))
    {
        if (FHandle) {
            FGetClassObject = reinterpret_cast<TGetClassObject>(
                reinterpret_cast<void*>(GetProcAddress(FHandle, "DllGetClassObject")));
            FCanUnloadNow = reinterpret_cast<TCanUnloadNow>(
                reinterpret_cast<void*>(GetProcAddress(FHandle, "DllCanUnloadNow")));
        }
    }
    ~TModule()
    {
        if (FHandle) FreeLibrary(FHandle);
    }
    bool Loaded() const { return FGetClassObject != nullptr; }

    // One context-menu object with the selection, as a host makes it.
    IContextMenu* CreateMenuObject(const std::vector<std::wstring>& paths) const
    {
        IClassFactory* factory = nullptr;
        if (FAILED(FGetClassObject(kExtensionClass, IID_IClassFactory,
                                   reinterpret_cast<void**>(&factory))))
            return nullptr;
        IShellExtInit* init = nullptr;
        factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
        factory->Release();
        if (!init) return nullptr;
        TDropData data(paths);
        init->Initialize(nullptr, &data, nullptr);
        IContextMenu* menu = nullptr;
        init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
        init->Release();
        return menu;
    }

private:
    HMODULE FHandle;
    TGetClassObject FGetClassObject = nullptr;
    TCanUnloadNow FCanUnloadNow = nullptr;
};

// One menu, built and thrown away.
bool QueryMenuOnce(IContextMenu* menu)
{
    HMENU host = CreatePopupMenu();
    const HRESULT result = menu->QueryContextMenu(host, 0, 1, 3, CMF_NORMAL);
    const bool enabled = !(GetMenuState(host, 2, MF_BYCOMMAND) & MF_GRAYED);
    DestroyMenu(host);
    return result == 3 && enabled;
}

// The section names of the file, read as the watch decision reads them:
// a second, larger buffer when the first one is filled.
std::vector<wchar_t> ReadSectionNames(const std::wstring& file, DWORD& count)
{
    std::vector<wchar_t> names(16384);
    count = GetPrivateProfileStringW(nullptr, nullptr, nullptr, names.data(), 16384, file.c_str());
    if (count == 16382) {
        WIN32_FILE_ATTRIBUTE_DATA info = {};
        GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &info);
        names.assign(info.nFileSizeLow + 2, L'\0');
        count = GetPrivateProfileStringW(nullptr, nullptr, nullptr, names.data(),
                                         static_cast<DWORD>(names.size()), file.c_str());
    }
    return names;
}

// The profile calls the watch decision needs, made directly: the section
// list, then Source, Dest and Attribute of every watch up to the match.
double ProfileCallsMs(const std::wstring& file)
{
    const double start = NowMs();
    DWORD count = 0;
    const std::vector<wchar_t> names = ReadSectionNames(file, count);
    wchar_t value[2048];
    for (const wchar_t* name = names.data(); name < names.data() + count; name += wcslen(name) + 1) {
        GetPrivateProfileStringW(name, L"Source", L"", value, 2048, file.c_str());
        GetPrivateProfileStringW(name, L"Dest", L"", value, 2048, file.c_str());
        GetPrivateProfileStringW(name, L"Attribute", L"", value, 2048, file.c_str());
    }
    return NowMs() - start;
}

double SectionListMs(const std::wstring& file)
{
    const double start = NowMs();
    DWORD count = 0;
    ReadSectionNames(file, count);
    return NowMs() - start;
}

std::string WatchList(int watches)
{
    std::string text;
    for (int i = 1; i < watches; ++i)
        text += "[Watch" + std::to_string(i) + "]\r\nSource=D:\\Projects\\P" + std::to_string(i) +
                "\r\nDest=E:\\Backup\\P" + std::to_string(i) + "\r\nAttribute=D\r\n";
    text += "[Last]\r\nSource=C:\\Data\r\nDest=E:\\Backup\\Last\r\nAttribute=D\r\n";
    return text;
}

// Keeps the user's watch list as it was.
class TWatchListSwap {
public:
    TWatchListSwap()
    {
        wchar_t folder[MAX_PATH + 1] = {};
        SHGetSpecialFolderPathW(nullptr, folder, CSIDL_APPDATA, FALSE);
        const std::wstring harrowfen = std::wstring(folder) + L"\\Harrowfen";
        CreateDirectoryW(harrowfen.c_str(), nullptr);
        CreateDirectoryW((harrowfen + L"\\Vesk").c_str(), nullptr);
        FFile = harrowfen + L"\\Vesk\\Watches.ini";
        FHadFile = GetFileAttributesW(FFile.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (FHadFile) FSaved = ReadBytes(FFile);
    }
    ~TWatchListSwap()
    {
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, FFile.c_str());
        if (FHadFile)
            WriteBytes(FFile, FSaved);
        else
            DeleteFileW(FFile.c_str());
    }
    void Write(const std::string& content)
    {
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, FFile.c_str());
        WriteBytes(FFile, content);
    }
    const std::wstring& File() const { return FFile; }

private:
    std::wstring FFile;
    bool FHadFile = false;
    std::string FSaved;
};

// The stand-in main application, running, with its record file.
class TRunningStandIn {
public:
    TRunningStandIn()
    {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        FRecord = std::wstring(temp) + L"vesk-bench-record.txt";
        DeleteFileW(FRecord.c_str());
        SetEnvironmentVariableW(L"VESK_STANDIN_RECORD", FRecord.c_str());
        std::wstring command = L"\"" + BinDir() + L"VeskStandIn.exe\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWMINNOACTIVE;
        if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &FProcess)) {
            WaitForInputIdle(FProcess.hProcess, 30000);
            for (int i = 0; i < 2000 && Lines("ready") == 0; ++i) Sleep(5);
        }
        SetEnvironmentVariableW(L"VESK_STANDIN_RECORD", nullptr);
    }
    ~TRunningStandIn()
    {
        if (FProcess.hProcess) {
            HWND window = FindWindowW(L"TMainForm", L"Vesk");
            if (window) PostMessageW(window, WM_CLOSE, 0, 0);
            if (WaitForSingleObject(FProcess.hProcess, 10000) != WAIT_OBJECT_0)
                TerminateProcess(FProcess.hProcess, 1);
            CloseHandle(FProcess.hProcess);
            CloseHandle(FProcess.hThread);
        }
        DeleteFileW(FRecord.c_str());
    }
    bool Running() const { return Lines("ready") > 0; }
    size_t Lines(const char* prefix) const
    {
        const std::string text = ReadBytes(FRecord);
        size_t count = 0;
        const std::string head = std::string(prefix);
        for (size_t at = 0; at < text.size();) {
            const size_t end = text.find('\n', at);
            if (text.compare(at, head.size(), head) == 0) ++count;
            if (end == std::string::npos) break;
            at = end + 1;
        }
        return count;
    }

private:
    std::wstring FRecord;
    PROCESS_INFORMATION FProcess = {};
};

std::vector<std::wstring> Paths(int count)
{
    std::vector<std::wstring> paths;
    for (int i = 0; i < count; ++i)
        paths.push_back(L"C:\\Data\\Reports\\2026\\report number " + std::to_wstring(i) + L".docx");
    return paths;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    int rounds = 50;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::wstring(argv[i]) == L"--rounds") rounds = std::max(5, _wtoi(argv[i + 1]));

    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring modulePath = BinDir() + L"Vesk.x64.dll";
    TWatchListSwap watchList;

    std::printf("Context menu over a watch list, match in the last watch (%d rounds each)\n\n", rounds);
    std::printf("| watches | menu median ms | menu p95 ms | profile calls ms | section list ms |"
                " menu / profile calls | profile calls / section list |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|\n");
    {
        TModule module(modulePath);
        if (!module.Loaded()) {
            std::fprintf(stderr, "cannot load %ls\n", modulePath.c_str());
            return 1;
        }
        for (int watches : {10, 100, 1000, 10000}) {
            watchList.Write(WatchList(watches));
            IContextMenu* menu = module.CreateMenuObject({L"C:\\Data\\report.docx"});
            if (!menu || !QueryMenuOnce(menu)) {
                std::fprintf(stderr, "the menu did not enable the commands\n");
                return 1;
            }
            const int n = watches >= 10000 ? std::max(5, rounds / 5) : rounds;
            std::vector<double> menuMs, profileMs, sectionMs;
            for (int r = 0; r < n; ++r) {
                const double start = NowMs();
                QueryMenuOnce(menu);
                menuMs.push_back(NowMs() - start);
                profileMs.push_back(ProfileCallsMs(watchList.File()));
                sectionMs.push_back(SectionListMs(watchList.File()));
            }
            menu->Release();
            const double menuMedian = Percentile(menuMs, 0.5);
            const double profileMedian = Percentile(profileMs, 0.5);
            const double sectionMedian = Percentile(sectionMs, 0.5);
            std::printf("| %d | %.3f | %.3f | %.3f | %.3f | %.2f | %.1f |\n", watches, menuMedian,
                        Percentile(menuMs, 0.95), profileMedian, sectionMedian,
                        menuMedian / profileMedian, profileMedian / sectionMedian);
            std::fflush(stdout);
        }
    }

    std::printf("\nHand-off from InvokeCommand to the running main application holding the data\n\n");
    std::printf("| paths | median ms | p95 ms |\n|---:|---:|---:|\n");
    {
        TRunningStandIn mainApp;
        TModule module(modulePath);
        if (!mainApp.Running()) {
            std::fprintf(stderr, "the stand-in main application did not start\n");
            return 1;
        }
        for (int count : {1, 100, 1000}) {
            std::vector<double> samples;
            const int n = std::max(5, rounds / 5);
            for (int r = 0; r < n; ++r) {
                IContextMenu* menu = module.CreateMenuObject(Paths(count));
                CMINVOKECOMMANDINFO info = {};
                info.cbSize = sizeof(info);
                info.lpVerb = MAKEINTRESOURCEA(1);
                info.nShow = SW_SHOWNORMAL;
                const size_t before = mainApp.Lines("execute");
                const double start = NowMs();
                menu->InvokeCommand(&info);
                while (mainApp.Lines("execute") == before && NowMs() - start < 30000) Sleep(1);
                samples.push_back(NowMs() - start);
                menu->Release();
            }
            std::printf("| %d | %.2f | %.2f |\n", count, Percentile(samples, 0.5),
                        Percentile(samples, 0.95));
            std::fflush(stdout);
        }
    }

    std::printf("\nModule load to the first finished menu (10 watches)\n\n");
    watchList.Write(WatchList(10));
    std::vector<double> loadMs;
    for (int r = 0; r < std::max(5, rounds / 5); ++r) {
        const double start = NowMs();
        TModule module(modulePath);
        IContextMenu* menu = module.CreateMenuObject({L"C:\\Data\\report.docx"});
        QueryMenuOnce(menu);
        loadMs.push_back(NowMs() - start);
        menu->Release();
    }
    std::printf("| median ms | p95 ms |\n|---:|---:|\n| %.2f | %.2f |\n", Percentile(loadMs, 0.5),
                Percentile(loadMs, 0.95));
    CoUninitialize();
    return 0;
}
