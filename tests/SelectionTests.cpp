// Capturing the selection from the host's data object.
#include "Extension.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

struct TSelectionCase {
    const char* Name;
    std::vector<std::wstring> Paths;
    std::wstring Path;
    std::wstring Files;
};

}  // namespace

TEST(Selection, PathsBecomeFirstPathAndLines)
{
    const std::wstring longPath = L"C:\\" + std::wstring(297, L'x');  // 300 units
    const TSelectionCase cases[] = {
        {"one file", {L"C:\\Docs\\a.txt"}, L"C:\\Docs\\a.txt", L"C:\\Docs\\a.txt\r\n"},
        {"folder then file",
         {L"C:\\Docs", L"C:\\Docs\\a.txt"},
         L"C:\\Docs",
         L"C:\\Docs\r\nC:\\Docs\\a.txt\r\n"},
        {"no paths", {}, L"", L""},
        {"duplicates stay", {L"C:\\a", L"C:\\a"}, L"C:\\a", L"C:\\a\r\nC:\\a\r\n"},
        {"300 units stand whole", {longPath}, longPath, longPath + L"\r\n"},
        {"outside the code page",
         {L"C:\\\x65E5\x672C\\\x0416.txt"},
         L"C:\\\x65E5\x672C\\\x0416.txt",
         L"C:\\\x65E5\x672C\\\x0416.txt\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TExtension extension(TExtension::kNoSelection);
        TFileListDataObject data(c.Paths);
        EXPECT_EQ(extension->Initialize(nullptr, &data, nullptr), S_OK);
        EXPECT_EQ(extension->FPath, c.Path);
        EXPECT_EQ(extension->FFiles, c.Files);
        EXPECT_EQ(data.Medium.Releases(), 1) << "the medium is released exactly once";
    }
}

TEST(Selection, DataObjectSuccessCodeIsPassedOn)
{
    TExtension extension(TExtension::kNoSelection);
    TFileListDataObject data({L"C:\\a"});
    data.GetDataResult = DATA_S_SAMEFORMATETC;
    EXPECT_EQ(extension->Initialize(nullptr, &data, nullptr), DATA_S_SAMEFORMATETC);
    EXPECT_EQ(extension->FPath, L"C:\\a");
}

TEST(Selection, FailuresLeaveEarlierFieldsAlone)
{
    struct TFailure {
        const char* Name;
        HRESULT GetDataResult;
        DWORD MediumType;
        std::string RawBlock;
        HRESULT Expected;
        int Releases;
    };
    std::string unterminated = BuildDropBlock({L"C:\\x"});
    unterminated.resize(unterminated.size() - 4);  // no closing empty name
    std::string offsetPastEnd = BuildDropBlock({L"C:\\x"});
    reinterpret_cast<DROPFILES*>(&offsetPastEnd[0])->pFiles = 0x7FFFFFF0;
    std::string loneTerminator = BuildDropBlock({});
    loneTerminator.resize(loneTerminator.size() - 2);  // the block ends after one terminator
    const TFailure failures[] = {
        {"format refused", DV_E_FORMATETC, TYMED_HGLOBAL, "", DV_E_FORMATETC, 0},
        {"other failure", E_OUTOFMEMORY, TYMED_HGLOBAL, "", E_OUTOFMEMORY, 0},
        {"not global memory", S_OK, TYMED_ISTREAM, "", E_FAIL, 1},
        {"list without its end", S_OK, TYMED_HGLOBAL, unterminated, E_FAIL, 1},
        {"list offset outside the block", S_OK, TYMED_HGLOBAL, offsetPastEnd, E_FAIL, 1},
        {"empty list of one terminator", S_OK, TYMED_HGLOBAL, loneTerminator, E_FAIL, 1},
        {"block shorter than its header", S_OK, TYMED_HGLOBAL, std::string(8, '\0'), E_FAIL, 1},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.Name);
        TExtension extension(TExtension::kNoSelection);
        TFileListDataObject first({L"C:\\kept"});
        ASSERT_EQ(extension->Initialize(nullptr, &first, nullptr), S_OK);

        TFileListDataObject data({L"C:\\new"});
        data.GetDataResult = f.GetDataResult;
        data.MediumType = f.MediumType;
        data.RawDropBlock = f.RawBlock;
        EXPECT_EQ(extension->Initialize(nullptr, &data, nullptr), f.Expected);
        EXPECT_EQ(extension->FPath, L"C:\\kept");
        EXPECT_EQ(extension->FFiles, L"C:\\kept\r\n");
        EXPECT_EQ(data.Medium.Releases(), f.Releases);
    }
}

TEST(Selection, NullDataObjectFails)
{
    TExtension extension(TExtension::kNoSelection);
    TFileListDataObject first({L"C:\\kept"});
    ASSERT_EQ(extension->Initialize(nullptr, &first, nullptr), S_OK);
    EXPECT_EQ(extension->Initialize(nullptr, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(extension->FPath, L"C:\\kept");
}

TEST(Selection, AnsiFileListIsReadToo)
{
    DROPFILES header = {};
    header.pFiles = sizeof(DROPFILES);
    header.fWide = FALSE;
    std::string block(reinterpret_cast<const char*>(&header), sizeof(header));
    block += std::string("C:\\one.txt\0C:\\two.txt\0\0", 24);
    TExtension extension(TExtension::kNoSelection);
    TFileListDataObject data({});
    data.RawDropBlock = block;
    EXPECT_EQ(extension->Initialize(nullptr, &data, nullptr), S_OK);
    EXPECT_EQ(extension->FFiles, L"C:\\one.txt\r\nC:\\two.txt\r\n");
}
