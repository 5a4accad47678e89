// A host written in C passes REFIID and REFCLSID as pointers, and a null
// one is a bad argument like any other: every export and method that takes
// one answers with a failure code and leaves its out pointer null.  The
// calls go through the module's exports and vtables, typed as the C
// declarations are, so that a null can be passed at all.
#include "TestSupport.h"
#include "shellext/VESK_Consts.h"
#include "support/Handles.h"

#include <gtest/gtest.h>

#include <shobjidl.h>

namespace {

void* const kSentinel = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0xDEADBEEF));

using TGetClassObjectC = HRESULT(STDAPICALLTYPE*)(const CLSID*, const IID*, void**);
using TQueryInterfaceC = HRESULT(STDMETHODCALLTYPE*)(void*, const IID*, void**);
using TCreateInstanceC = HRESULT(STDMETHODCALLTYPE*)(void*, IUnknown*, const IID*, void**);
using TSupportsErrorInfoC = HRESULT(STDMETHODCALLTYPE*)(void*, const IID*);

// The function in a COM object's vtable slot.
template <typename TFunction>
TFunction Slot(void* object, int index)
{
    void** const table = *static_cast<void***>(object);
    return reinterpret_cast<TFunction>(table[index]);
}

}  // namespace

TEST(NullReferences, EveryIdentifierArgumentMayBeNull)
{
    const TModuleHandle loaded(LoadLibraryW((TestBinDir() + L"Vesk.x64.dll").c_str()));
    ASSERT_TRUE(loaded);
    const HMODULE module = loaded.Get();
    const auto getClassObject = GetExport<TGetClassObjectC>(module, "DllGetClassObject");
    ASSERT_NE(getClassObject, nullptr);

    void* out = kSentinel;
    EXPECT_EQ(getClassObject(nullptr, &IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    out = kSentinel;
    EXPECT_EQ(getClassObject(&CLSID_VeskShellExtension, nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);

    void* factory = nullptr;
    ASSERT_EQ(getClassObject(&CLSID_VeskShellExtension, &IID_IClassFactory, &factory), S_OK);
    out = kSentinel;
    EXPECT_EQ(Slot<TQueryInterfaceC>(factory, 0)(factory, nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    out = kSentinel;
    EXPECT_EQ(Slot<TCreateInstanceC>(factory, 3)(factory, nullptr, nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);

    IUnknown* object = nullptr;
    ASSERT_EQ(static_cast<IClassFactory*>(factory)->CreateInstance(
                  nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)),
              S_OK);
    // QueryInterface through each interface the object serves.
    const IID* const interfaces[] = {&IID_IUnknown, &IID_IContextMenu, &IID_IShellExtInit,
                                     &IID_ISupportErrorInfo};
    for (const IID* iid : interfaces) {
        void* face = nullptr;
        ASSERT_EQ(object->QueryInterface(*iid, &face), S_OK);
        out = kSentinel;
        EXPECT_EQ(Slot<TQueryInterfaceC>(face, 0)(face, nullptr, &out), E_INVALIDARG);
        EXPECT_EQ(out, nullptr);
        static_cast<IUnknown*>(face)->Release();
    }
    void* errorInfo = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, &errorInfo), S_OK);
    EXPECT_EQ(Slot<TSupportsErrorInfoC>(errorInfo, 3)(errorInfo, nullptr), E_INVALIDARG);
    static_cast<IUnknown*>(errorInfo)->Release();

    object->Release();
    static_cast<IUnknown*>(factory)->Release();
    const auto canUnloadNow = GetExport<HRESULT(STDAPICALLTYPE*)()>(module, "DllCanUnloadNow");
    EXPECT_EQ(canUnloadNow(), S_OK);
}
