// The module as a host sees it: loaded with LoadLibraryW and reached only
// through its exports.
#include "Extension.h"
#include "StandInClient.h"
#include "TestSupport.h"
#include "module/ModuleState.h"
#include "shellext/VESK_Consts.h"
#include "shellext/VESK_SHExt.h"
#include "support/Handles.h"
#include "support/VeskError.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

void* const kSentinel = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0xDEADBEEF));

using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using TCanUnloadNow = HRESULT(STDAPICALLTYPE*)();

// {00000000-0000-0000-0000-000000000001}: any class but the extension's.
const CLSID kOtherClass = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};

class ModuleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        FLoaded.Reset(LoadLibraryW((TestBinDir() + L"Vesk.x64.dll").c_str()));
        FModule = FLoaded.Get();
        ASSERT_NE(FModule, nullptr);
        FGetClassObject = GetExport<TGetClassObject>(FModule, "DllGetClassObject");
        FCanUnloadNow = GetExport<TCanUnloadNow>(FModule, "DllCanUnloadNow");
    }
    static void TearDownTestSuite()
    {
        FLoaded.Reset();
        FModule = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(FGetClassObject, nullptr);
        ASSERT_NE(FCanUnloadNow, nullptr);
        ASSERT_EQ(FCanUnloadNow(), S_OK) << "an earlier test left something alive";
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    void TearDown() override
    {
        EXPECT_EQ(FCanUnloadNow(), S_OK);
        CoUninitialize();
    }

    IClassFactory* Factory()
    {
        void* factory = kSentinel;
        EXPECT_EQ(FGetClassObject(CLSID_VeskShellExtension, IID_IClassFactory, &factory), S_OK);
        return static_cast<IClassFactory*>(factory);
    }

    static TModuleHandle FLoaded;
    static HMODULE FModule;
    static TGetClassObject FGetClassObject;
    static TCanUnloadNow FCanUnloadNow;
};

TModuleHandle ModuleTest::FLoaded;
HMODULE ModuleTest::FModule = nullptr;
TGetClassObject ModuleTest::FGetClassObject = nullptr;
TCanUnloadNow ModuleTest::FCanUnloadNow = nullptr;

}  // namespace

TEST_F(ModuleTest, ExportsByName)
{
    for (const char* name :
         {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"}) {
        EXPECT_NE(GetProcAddress(FModule, name), nullptr) << name;
    }
}

TEST_F(ModuleTest, ClassObjectByClassAndInterface)
{
    struct TCase {
        const char* Name;
        const CLSID* Class;
        const IID* Interface;
        HRESULT Expected;
    };
    const TCase cases[] = {
        {"class factory", &CLSID_VeskShellExtension, &IID_IClassFactory, S_OK},
        {"unknown", &CLSID_VeskShellExtension, &IID_IUnknown, S_OK},
        {"context menu from the class object", &CLSID_VeskShellExtension, &IID_IContextMenu,
         E_NOINTERFACE},
        {"another class", &kOtherClass, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        void* out = kSentinel;
        EXPECT_EQ(FGetClassObject(*c.Class, *c.Interface, &out), c.Expected);
        if (c.Expected == S_OK) {
            ASSERT_NE(out, nullptr);
            EXPECT_NE(out, kSentinel);
            EXPECT_EQ(FCanUnloadNow(), S_FALSE) << "the reference counts as a factory reference";
            static_cast<IUnknown*>(out)->Release();
        } else {
            EXPECT_EQ(out, nullptr);
        }
        EXPECT_EQ(FCanUnloadNow(), S_OK);
    }
    EXPECT_EQ(FGetClassObject(CLSID_VeskShellExtension, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ModuleTest, FactoryCountFollowsAddRefAndRelease)
{
    IClassFactory* factory = Factory();
    EXPECT_EQ(factory->AddRef(), 2u);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(factory));
    EXPECT_EQ(unknown->Release(), 2u);
    void* other = kSentinel;
    EXPECT_EQ(factory->QueryInterface(IID_IContextMenu, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(FCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST_F(ModuleTest, CreateInstanceErrors)
{
    IClassFactory* factory = Factory();
    TReleaseCounter outer;
    struct TCase {
        const char* Name;
        IUnknown* Outer;
        const IID* Interface;
        HRESULT Expected;
    };
    const TCase cases[] = {
        {"aggregated for an interface other than IUnknown", &outer, &IID_IContextMenu,
         CLASS_E_NOAGGREGATION},
        {"IContextMenu3", nullptr, &IID_IContextMenu3, E_NOINTERFACE},
        {"IContextMenu2", nullptr, &IID_IContextMenu2, E_NOINTERFACE},
        {"IDataObject", nullptr, &IID_IDataObject, E_NOINTERFACE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        void* out = kSentinel;
        EXPECT_EQ(factory->CreateInstance(c.Outer, *c.Interface, &out), c.Expected);
        EXPECT_EQ(out, nullptr);
        factory->Release();
        EXPECT_EQ(FCanUnloadNow(), S_OK) << "no object is left alive";
        factory->AddRef();
    }
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    factory->Release();
}

TEST_F(ModuleTest, ObjectIdentityAndReferenceCounts)
{
    IClassFactory* factory = Factory();
    IShellExtInit* init = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)),
              S_OK);
    factory->Release();
    EXPECT_EQ(FCanUnloadNow(), S_FALSE) << "an object is alive";

    EXPECT_EQ(init->AddRef(), 2u);
    EXPECT_EQ(init->Release(), 1u);
    IContextMenu* menu = nullptr;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    EXPECT_EQ(menu->AddRef(), 3u);
    EXPECT_EQ(menu->Release(), 2u);

    IUnknown* fromInit = nullptr;
    IUnknown* fromMenu = nullptr;
    ISupportErrorInfo* errorInfo = nullptr;
    IUnknown* fromErrorInfo = nullptr;
    init->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromInit));
    menu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromMenu));
    menu->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errorInfo));
    ASSERT_NE(errorInfo, nullptr);
    errorInfo->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromErrorInfo));
    EXPECT_NE(fromInit, nullptr);
    EXPECT_EQ(fromInit, fromMenu);
    EXPECT_EQ(fromInit, fromErrorInfo);

    void* refused = kSentinel;
    EXPECT_EQ(menu->QueryInterface(IID_IContextMenu3, &refused), E_NOINTERFACE);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(menu->QueryInterface(IID_IContextMenu, nullptr), E_POINTER);

    struct TErrorInfoCase {
        const IID* Interface;
        HRESULT Expected;
    };
    const TErrorInfoCase errorInfoCases[] = {
        {&IID_IContextMenu, S_OK}, {&IID_IShellExtInit, S_OK},  {&IID_ISupportErrorInfo, S_OK},
        {&IID_IUnknown, S_OK},     {&IID_IDataObject, S_FALSE}, {&IID_IContextMenu2, S_FALSE},
    };
    for (const auto& c : errorInfoCases)
        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(*c.Interface), c.Expected);

    EXPECT_EQ(fromErrorInfo->Release(), 5u);
    EXPECT_EQ(errorInfo->Release(), 4u);
    EXPECT_EQ(fromMenu->Release(), 3u);
    EXPECT_EQ(fromInit->Release(), 2u);
    EXPECT_EQ(menu->Release(), 1u);
    EXPECT_EQ(FCanUnloadNow(), S_FALSE);
    EXPECT_EQ(init->Release(), 0u);
    EXPECT_EQ(FCanUnloadNow(), S_OK) << "the object went at the Release that returned 0";
}

namespace {

// An outer object of the test's own that aggregates the extension.
class TOuter : public IUnknown {
public:
    IUnknown* Inner = nullptr;
    int AddRefs = 0;
    int Releases = 0;
    int Queries = 0;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        ++Queries;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return Inner->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(100 + ++AddRefs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(200 + ++Releases); }
};

}  // namespace

TEST_F(ModuleTest, AggregatedObjectForwardsToItsOuterObject)
{
    IClassFactory* factory = Factory();
    TOuter outer;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.Inner)),
              S_OK);
    factory->Release();
    EXPECT_EQ(outer.AddRefs, 0) << "the outer object is held without a reference";

    // The inner IUnknown counts its own references.
    EXPECT_EQ(outer.Inner->AddRef(), 2u);
    EXPECT_EQ(outer.Inner->Release(), 1u);

    IContextMenu* menu = nullptr;
    ASSERT_EQ(outer.Inner->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    EXPECT_EQ(outer.AddRefs, 1)
        << "AddRef through the handed-out interface goes to the outer object";
    EXPECT_EQ(menu->AddRef(), 102u);
    EXPECT_EQ(menu->Release(), 201u);
    IShellExtInit* init = nullptr;
    EXPECT_EQ(menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
    EXPECT_EQ(outer.Queries, 1);
    init->Release();
    menu->Release();
    EXPECT_EQ(outer.Releases, 3);

    EXPECT_EQ(FCanUnloadNow(), S_FALSE);
    EXPECT_EQ(outer.Inner->Release(), 0u);
}

TEST_F(ModuleTest, LockServerKeepsTheModuleLoaded)
{
    IClassFactory* factory = Factory();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(FCanUnloadNow(), S_FALSE);
    factory = Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(FCanUnloadNow(), S_OK);
}

TEST_F(ModuleTest, StringTableHoldsTheMenuTexts)
{
    const std::pair<UINT, const wchar_t*> texts[] = {
        {65288, L"Vesk"},
        {65289, L"バックアップ"},
        {65290, L"選択した項目をバックアップします"},
        {65291, L"リストア"},
        {65292, L"選択した項目をリストアします"},
    };
    for (const auto& text : texts) {
        wchar_t buffer[64];
        std::fill(std::begin(buffer), std::end(buffer), L'#');
        const int length = LoadStringW(FModule, text.first, buffer, 64);
        EXPECT_EQ(std::wstring(buffer, static_cast<size_t>(length)), text.second) << text.first;
    }
}

TEST_F(ModuleTest, WholeRightClickLeavesNothingAlive)
{
    TWatchListGuard watchList;
    watchList.WriteWatchList("[W]\r\nSource=C:\\Docs\r\nAttribute=D\r\n");
    TStandIn mainApp;
    ASSERT_TRUE(mainApp.Started());

    IClassFactory* factory = Factory();
    IShellExtInit* init = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)),
              S_OK);
    factory->Release();
    TFileListDataObject data({L"C:\\Docs\\a.txt"});
    EXPECT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
    IContextMenu* menu = nullptr;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    init->Release();

    TMenuHandle hostMenu(CreatePopupMenu());
    const HMENU host = hostMenu.Get();
    EXPECT_EQ(menu->QueryContextMenu(host, 0, 1, 3, CMF_NORMAL), kThreeIdsUsed);
    EXPECT_EQ(GetMenuState(host, 2, MF_BYCOMMAND) & MF_GRAYED, 0u);
    hostMenu.Reset();
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof(info);
    info.lpVerb = MAKEINTRESOURCEA(1);
    EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
    EXPECT_FALSE(mainApp.WaitForLine(L"execute topic=DdeBackupConv").empty());
    EXPECT_EQ(FCanUnloadNow(), S_FALSE);
    EXPECT_EQ(menu->Release(), 0u);
    EXPECT_EQ(FCanUnloadNow(), S_OK);
}

TEST(ModuleVersion, ResourceReadsBack)
{
    const std::wstring module = TestBinDir() + L"Vesk.x64.dll";
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(module.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(module.c_str(), 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 0));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(1, 1));
    EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(0, 3));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 932);

    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"FileVersion", L"1.1.0.0"},
        {L"ProductVersion", L"1.1.3.0"},
        {L"FileDescription", L"Vesk Shell Extension (x64)"},
        {L"InternalName", L"VESK_64_DLL"},
        {L"OriginalFilename", L"Vesk.x64.dll"},
        {L"ProductName", L"Vesk"},
    };
    for (const auto& s : strings) {
        wchar_t* value = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\041103A4\\") + s.first;
        ASSERT_TRUE(
            VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            << s.first;
        EXPECT_STREQ(value, s.second);
    }
}

// ---------------------------------------------------------------------------
// Construction failure, on the class object linked into the tests.

namespace {

class TFailingFactory : public TShellExtensionFactory {
public:
    TFailingFactory() : TShellExtensionFactory(ServerState()) {}
    std::function<void()> Fail;
    TShellExtension* CreateComObject(IUnknown* controller) override
    {
        // Counted first, as a real construction step would be, then failing.
        std::unique_ptr<TShellExtension> object(
            TShellExtensionFactory::CreateComObject(controller));
        Fail();
        return object.release();
    }
};

}  // namespace

TEST(ClassObjectConstruction, FailureShowsOwnErrorsAndRestoresTheCount)
{
    struct TCase {
        const char* Name;
        std::function<void()> Fail;
        std::vector<std::wstring> Boxes;
    };
    const TCase cases[] = {
        {"own error gets a full stop",
         [] { throw EVeskError(L"構築に失敗しました"); },
         {L"構築に失敗しました."}},
        {"full stop already there", [] { throw EVeskError(L"failed."); }, {L"failed."}},
        {"empty text still shown", [] { throw EVeskError(L""); }, {L""}},
        {"other failure shows nothing", [] { throw std::bad_alloc(); }, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TFailingFactory factory;
        factory.Fail = c.Fail;
        const LONG objects = ServerState().ObjectCount();
        TMessageBoxWatcher boxes(L"ZAZ エラー");
        void* out = kSentinel;
        EXPECT_EQ(factory.CreateInstance(nullptr, IID_IContextMenu, &out), E_UNEXPECTED);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(ServerState().ObjectCount(), objects);
        if (!c.Boxes.empty()) boxes.WaitFor(c.Boxes.size(), 20000);
        EXPECT_EQ(boxes.Texts(), c.Boxes);
    }
}
