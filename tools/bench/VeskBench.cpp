// Benchmark of the extension under its host's eyes: the context menu over
// watch lists of growing size, Initialize over growing selections, the
// hand-off to a running main application (the stand-in), and module load to
// the first finished menu.  Beside each, where there is one, the least the
// platform work behind it can cost, measured in the same run.  Prints
// tables.  Not a test: it measures, it does not judge.
//
// Usage: VeskBench [--rounds N]
// It writes the current user's watch list and puts the previous one back
// at the end; run it in a prefix of its own (tools/bench.sh does).
#include "Extension.h"
#include "StandInClient.h"
#include "TestSupport.h"
#include "shellext/VESK_Consts.h"
#include "support/Handles.h"
#include "support/TextConv.h"

#include <windows.h>
#include <ddeml.h>
#include <objidl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;
using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

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

// One table row: a measurement's median and p95 beside its floor's, and
// their ratio, with the given number of decimals.
void PrintBesideFloor(int count, const std::vector<double>& measured,
                      const std::vector<double>& floor, int decimals)
{
    const double median = Percentile(measured, 0.5);
    const double floorMedian = Percentile(floor, 0.5);
    std::printf("| %d | %.*f | %.*f | %.2f | %.2f | %.*f |\n", count, decimals, median, decimals,
                Percentile(measured, 0.95), floorMedian, Percentile(floor, 0.95), decimals,
                median / floorMedian);
    std::fflush(stdout);
}

// The module as a host loads it; objects made from it must go before it.
class TModule {
public:
    explicit TModule(const std::wstring& path) : FHandle(LoadLibraryW(path.c_str()))
    {
        if (FHandle)
            FGetClassObject = GetExport<TGetClassObject>(FHandle.Get(), "DllGetClassObject");
    }
    bool Loaded() const { return FGetClassObject != nullptr; }

    // One extension object, not initialized yet, as a host makes it.
    ComPtr<IShellExtInit> CreateObject() const
    {
        ComPtr<IClassFactory> factory;
        if (FAILED(FGetClassObject(CLSID_VeskShellExtension, IID_IClassFactory,
                                   reinterpret_cast<void**>(factory.GetAddressOf()))))
            return nullptr;
        ComPtr<IShellExtInit> init;
        factory->CreateInstance(nullptr, IID_IShellExtInit,
                                reinterpret_cast<void**>(init.GetAddressOf()));
        return init;
    }

    // One context-menu object with the selection.
    ComPtr<IContextMenu> CreateMenuObject(const std::vector<std::wstring>& paths) const
    {
        const ComPtr<IShellExtInit> init = CreateObject();
        if (!init) return nullptr;
        TFileListDataObject data(paths);
        init->Initialize(nullptr, &data, nullptr);
        ComPtr<IContextMenu> menu;
        init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(menu.GetAddressOf()));
        return menu;
    }

private:
    TModuleHandle FHandle;
    TGetClassObject FGetClassObject = nullptr;
};

// One menu, built and thrown away.
bool QueryMenuOnce(IContextMenu* menu)
{
    const TMenuHandle host(CreatePopupMenu());
    const HRESULT result = menu->QueryContextMenu(host.Get(), 0, 1, 3, CMF_NORMAL);
    const bool enabled = !(GetMenuState(host.Get(), 2, MF_BYCOMMAND) & MF_GRAYED);
    return result == kThreeIdsUsed && enabled;
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
    for (const wchar_t* name = names.data(); name < names.data() + count;
         name += wcslen(name) + 1) {
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

std::vector<std::wstring> Paths(int count)
{
    std::vector<std::wstring> paths;
    for (int i = 0; i < count; ++i)
        paths.push_back(L"C:\\Data\\Reports\\2026\\report number " + std::to_wstring(i) + L".docx");
    return paths;
}

// A DROPFILES block in global memory, as a data object hands it out.
TGlobalMemory GlobalBlock(const std::string& block)
{
    TGlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, block.size()));
    if (memory) {
        std::memcpy(GlobalLock(memory.Get()), block.data(), block.size());
        GlobalUnlock(memory.Get());
    }
    return memory;
}

// The least reading a selection can cost: one walk over the names of a
// wide DROPFILES block, each made a wstring.
size_t ReadNamesOnce(HGLOBAL memory)
{
    const auto* header = static_cast<const DROPFILES*>(GlobalLock(memory));
    const auto* name = reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(header) +
                                                        header->pFiles);
    std::vector<std::wstring> names;
    while (*name != L'\0') {
        const size_t length = std::wcslen(name);
        names.emplace_back(name, length);
        name += length + 1;
    }
    GlobalUnlock(memory);
    return names.size();
}

// What the hand-off sends for the paths: each path and CR LF, in the ANSI
// code page, with the closing NUL.
std::string ExecuteBytes(const std::vector<std::wstring>& paths)
{
    std::wstring text;
    for (const auto& path : paths) text += path + L"\r\n";
    return WideToAnsi(text) + '\0';
}

HDDEDATA CALLBACK IgnoreDde(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    return nullptr;
}

// The hand-off's floor: the same exchange made by a bare DDEML client on a
// fresh thread, joined.  Same instance flags, names and data as the hand-off.
bool BareDdeExchange(const std::string& bytes)
{
    bool sent = false;
    std::thread client([&] {
        DWORD id = 0;
        if (DdeInitializeA(&id, IgnoreDde, 0, 0) != DMLERR_NO_ERROR) return;
        const TDdeInstanceHandle instance(id);
        const TDdeStringHandle service(
            {id, DdeCreateStringHandleA(id, WideToAnsi(kDdeService).c_str(), CP_WINANSI)});
        const TDdeStringHandle topic(
            {id, DdeCreateStringHandleA(id, WideToAnsi(kBackupTopic).c_str(), CP_WINANSI)});
        const TDdeConversationHandle conversation(
            DdeConnect(id, service.Get().Handle, topic.Get().Handle, nullptr));
        if (!conversation) return;
        TDdeDataHandle data(
            DdeCreateDataHandle(id, reinterpret_cast<LPBYTE>(const_cast<char*>(bytes.data())),
                                static_cast<DWORD>(bytes.size()), 0, nullptr, CF_TEXT, 0));
        if (!data) return;
        DWORD transaction = 0;
        // DDEML takes the data over with the call.
        sent = DdeClientTransaction(reinterpret_cast<LPBYTE>(data.Release()), 0xFFFFFFFF,
                                    conversation.Get(), nullptr, CF_TEXT, XTYP_EXECUTE,
                                    TIMEOUT_ASYNC, &transaction) != nullptr;
    });
    client.join();
    return sent;
}

// The data of an execute line: what was sent, whatever format DDEML gave it.
std::wstring BytesOf(const std::wstring& line)
{
    const size_t at = line.find(L" bytes=");
    return at == std::wstring::npos ? std::wstring() : line.substr(at);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    int rounds = 50;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::wstring(argv[i]) == L"--rounds") rounds = std::max(5, _wtoi(argv[i + 1]));

    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring modulePath = TestBinDir() + L"Vesk.x64.dll";
    TWatchListGuard watchList;

    std::printf("Context menu over a watch list, match in the last watch (%d rounds each)\n\n",
                rounds);
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
            watchList.WriteWatchList(WatchList(watches));
            const ComPtr<IContextMenu> menu = module.CreateMenuObject({L"C:\\Data\\report.docx"});
            if (!menu || !QueryMenuOnce(menu.Get())) {
                std::fprintf(stderr, "the menu did not enable the commands\n");
                return 1;
            }
            const int n = watches >= 10000 ? std::max(5, rounds / 5) : rounds;
            std::vector<double> menuMs, profileMs, sectionMs;
            for (int r = 0; r < n; ++r) {
                const double start = NowMs();
                QueryMenuOnce(menu.Get());
                menuMs.push_back(NowMs() - start);
                profileMs.push_back(ProfileCallsMs(watchList.WatchListPath()));
                sectionMs.push_back(SectionListMs(watchList.WatchListPath()));
            }
            const double menuMedian = Percentile(menuMs, 0.5);
            const double profileMedian = Percentile(profileMs, 0.5);
            const double sectionMedian = Percentile(sectionMs, 0.5);
            std::printf("| %d | %.3f | %.3f | %.3f | %.3f | %.2f | %.1f |\n", watches, menuMedian,
                        Percentile(menuMs, 0.95), profileMedian, sectionMedian,
                        menuMedian / profileMedian, profileMedian / sectionMedian);
            std::fflush(stdout);
        }
    }

    std::printf(
        "\nInitialize over a wide CF_HDROP data object (%d rounds each), beside one bare pass"
        " over the same DROPFILES block:\nthe names walked once and made wstrings"
        " (averaged over repeats below 10,000 names, for the timer)\n\n",
        rounds);
    std::printf("| paths | Initialize median us | Initialize p95 us | bare pass median us |"
                " bare pass p95 us | Initialize / bare pass |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|\n");
    {
        TModule module(modulePath);
        size_t sink = 0;
        for (int count : {1, 1000, 10000}) {
            const std::string block = BuildDropBlock(Paths(count));
            const TGlobalMemory memory = GlobalBlock(block);
            const int repeats = std::max(1, 10000 / count);
            std::vector<double> initializeUs, passUs;
            for (int r = 0; r < rounds; ++r) {
                const ComPtr<IShellExtInit> object = module.CreateObject();
                TFileListDataObject data({});
                data.RawDropBlock = block;
                double start = NowMs();
                const HRESULT result = object ? object->Initialize(nullptr, &data, nullptr)
                                              : E_FAIL;
                initializeUs.push_back(1000 * (NowMs() - start));
                if (result != S_OK) {
                    std::fprintf(stderr, "Initialize failed: 0x%08lx\n",
                                 static_cast<unsigned long>(result));
                    return 1;
                }
                start = NowMs();
                for (int i = 0; i < repeats; ++i) sink += ReadNamesOnce(memory.Get());
                passUs.push_back(1000 * (NowMs() - start) / repeats);
            }
            PrintBesideFloor(count, initializeUs, passUs, 1);
        }
        if (sink == 0) std::fprintf(stderr, "no names read\n");
    }

    std::printf("\nHand-off from InvokeCommand to the running main application holding the data,"
                " beside\nthe same exchange made by a bare DDEML client on a fresh thread\n\n");
    std::printf("| paths | median ms | p95 ms | bare DDEML median ms | bare DDEML p95 ms |"
                " hand-off / bare DDEML |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|\n");
    {
        TStandIn mainApp;
        TRecordCounter executes(mainApp.Record(), "execute");
        TModule module(modulePath);
        if (!mainApp.WaitReady()) {
            std::fprintf(stderr, "the stand-in main application did not start\n");
            return 1;
        }
        // Both end when the stand-in has recorded the request: the time
        // since start, or a negative one when nothing came.
        const auto untilRecorded = [&](size_t before, double start) {
            while (executes.Count() == before && NowMs() - start < 30000) Sleep(1);
            return executes.Count() == before ? -1.0 : NowMs() - start;
        };
        for (int count : {1, 100, 1000}) {
            const std::vector<std::wstring> paths = Paths(count);
            const std::string bytes = ExecuteBytes(paths);
            std::vector<double> samples, bareSamples;
            const int n = std::max(5, rounds / 5);
            for (int r = 0; r < n; ++r) {
                const ComPtr<IContextMenu> menu = module.CreateMenuObject(paths);
                CMINVOKECOMMANDINFO info = OffsetInvoke(1);
                size_t before = executes.Count();
                double start = NowMs();
                menu->InvokeCommand(&info);
                samples.push_back(untilRecorded(before, start));

                before = executes.Count();
                start = NowMs();
                const bool sent = BareDdeExchange(bytes);
                bareSamples.push_back(untilRecorded(before, start));
                if (!sent || samples.back() < 0 || bareSamples.back() < 0) {
                    std::fprintf(stderr, "a request did not reach the stand-in\n");
                    return 1;
                }
                if (r == 0) {
                    const auto lines = mainApp.Record().LinesWith(L"execute");
                    if (lines.size() < 2 ||
                        BytesOf(lines.back()) != BytesOf(lines[lines.size() - 2])) {
                        std::fprintf(stderr,
                                     "the bare client did not send what the hand-off sent\n");
                        return 1;
                    }
                }
            }
            PrintBesideFloor(count, samples, bareSamples, 2);
        }
    }

    std::printf("\nModule load to the first finished menu (10 watches)\n\n");
    watchList.WriteWatchList(WatchList(10));
    std::vector<double> loadMs;
    for (int r = 0; r < std::max(5, rounds / 5); ++r) {
        const double start = NowMs();
        TModule module(modulePath);
        QueryMenuOnce(module.CreateMenuObject({L"C:\\Data\\report.docx"}).Get());
        loadMs.push_back(NowMs() - start);
    }
    std::printf("| median ms | p95 ms |\n|---:|---:|\n| %.2f | %.2f |\n", Percentile(loadMs, 0.5),
                Percentile(loadMs, 0.95));
    CoUninitialize();
    return 0;
}
