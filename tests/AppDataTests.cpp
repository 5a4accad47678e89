// Module path, path splitting, application-data paths and the settings file.
#include "TestSupport.h"
#include "shellext/VESK_Consts.h"
#include "support/AppData.h"
#include "support/Handles.h"
#include "support/SysInfo.h"
#include "support/VeskError.h"

#include <gtest/gtest.h>

namespace {

struct TSplitCase {
    const wchar_t* Path;
    const wchar_t* FilePath;  // folder part with separator
    const wchar_t* FileDir;   // folder
    const wchar_t* FileName;
};

const TSplitCase kSplitCases[] = {
    {L"a\\b\\c.ini", L"a\\b\\", L"a\\b", L"c.ini"},
    {L"\\c.ini", L"\\", L"\\", L"c.ini"},
    {L"C:\\c.ini", L"C:\\", L"C:\\", L"c.ini"},
    {L"C:c.ini", L"C:", L"C:", L"c.ini"},
    {L"c.ini", L"", L"", L"c.ini"},
    {L"a/b.ini", L"", L"", L"a/b.ini"},
    {L"\\\\SERVER\\SHARE\\FILE.TXT", L"\\\\SERVER\\SHARE\\", L"\\\\SERVER\\SHARE", L"FILE.TXT"},
    {L"\\\\SERVER\\SHARE", L"\\\\SERVER\\", L"\\\\SERVER", L"SHARE"},
    {L"C:\\DATA\\SUB\\", L"C:\\DATA\\SUB\\", L"C:\\DATA\\SUB", L""},
    {L"C:/Data/x.txt", L"C:", L"C:", L"/Data/x.txt"},
};

}  // namespace

TEST(PathSplitting, FolderPartFolderAndFileName)
{
    for (const auto& c : kSplitCases) {
        SCOPED_TRACE(c.Path);
        EXPECT_EQ(ExtractFilePath(c.Path), c.FilePath);
        EXPECT_EQ(ExtractFileDir(c.Path), c.FileDir);
        EXPECT_EQ(ExtractFileName(c.Path), c.FileName);
    }
}

TEST(ModulePath, IsThisProgramAndServerExeStandsBesideIt)
{
    wchar_t own[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH + 1);
    EXPECT_EQ(GetModulePath(), own);
    EXPECT_EQ(GetServerExePath(), TestBinDir() + L"Vesk.exe");
}

TEST(ModulePath, LongerThanMaxPathComesBackWhole)
{
    TTempDir temp;
    // Nest folders until the module's path passes 300 characters.
    std::wstring folder = L"\\\\?\\" + temp.Path();
    while (folder.size() < 300) {
        folder += L"\\" + std::wstring(40, L'd');
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    const std::wstring copy = folder + L"\\Vesk.x64.dll";
    ASSERT_TRUE(CopyFileW((TestBinDir() + L"Vesk.x64.dll").c_str(), copy.c_str(), FALSE));

    TModuleHandle loaded(LoadLibraryExW(copy.c_str(), nullptr, 0));
    const HMODULE module = loaded.Get();
    ASSERT_NE(module, nullptr) << GetLastError();
    const std::wstring path = GetModulePathOf(module);
    loaded.Reset();
    EXPECT_GT(path.size(), 300u);
    // The platform may or may not keep the long-path prefix.
    const std::wstring plain = copy.substr(4);
    EXPECT_TRUE(path == copy || path == plain) << path.size();
    DeleteFileW(copy.c_str());
}

TEST(ModulePath, FailingLookupGivesEmptyPath)
{
    EXPECT_EQ(GetModulePathOf(reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x10))), L"");
}

class AppDataFileTest : public ::testing::Test {
protected:
    TWatchListGuard FGuard;
};

TEST_F(AppDataFileTest, CreatesTheFoldersButNotTheFile)
{
    ASSERT_FALSE(FileExists(FGuard.HarrowfenDir()));
    const std::wstring path = GetAppDataFile(L"Harrowfen\\Vesk\\Watches.ini");
    EXPECT_EQ(path, FGuard.AppDataDir() + L"\\Harrowfen\\Vesk\\Watches.ini");
    EXPECT_TRUE(DirectoryExists(FGuard.HarrowfenDir()));
    EXPECT_TRUE(DirectoryExists(FGuard.HarrowfenDir() + L"\\Vesk"));
    EXPECT_FALSE(FileExists(path));

    // A folder deleted in the meantime is made again.
    RemoveTree(FGuard.HarrowfenDir());
    GetAppDataFile(L"Harrowfen\\Vesk\\Watches.ini");
    EXPECT_TRUE(DirectoryExists(FGuard.HarrowfenDir() + L"\\Vesk"));
}

TEST_F(AppDataFileTest, RelativeFileWithoutFolderGivesTwoBackslashes)
{
    EXPECT_EQ(GetAppDataFile(L"Watches.ini"), FGuard.AppDataDir() + L"\\\\Watches.ini");
}

TEST_F(AppDataFileTest, ForwardSlashIsNoSeparator)
{
    EXPECT_EQ(GetAppDataFile(L"Harrowfen/b.ini"), FGuard.AppDataDir() + L"\\\\Harrowfen/b.ini");
    EXPECT_FALSE(FileExists(FGuard.HarrowfenDir()));
}

TEST_F(AppDataFileTest, FileInPlaceOfTheFolderIsNoError)
{
    CreateDirectoryW(FGuard.HarrowfenDir().c_str(), nullptr);
    WriteFileBytes(FGuard.HarrowfenDir() + L"\\Vesk", "not a folder");
    std::wstring path;
    ASSERT_NO_THROW(path = GetAppDataFile(L"Harrowfen\\Vesk\\Watches.ini"));
    EXPECT_EQ(path, FGuard.WatchListPath());
    TStringList sections{L"stale"};
    TAppIniFile(path).ReadSections(sections);
    EXPECT_TRUE(sections.empty());
}

// ---------------------------------------------------------------------------

class AppIniFileTest : public ::testing::Test {
protected:
    TTempDir FTemp;
    std::wstring FFile = FTemp / L"Settings.ini";

    void Write(const std::string& text) { WriteFileBytes(FFile, text); }
    TStringList Sections() const
    {
        TStringList names{L"left over"};
        TAppIniFile(FFile).ReadSections(names);
        return names;
    }
};

TEST_F(AppIniFileTest, MissingFileReadsAsEmptyAndIsNotCreated)
{
    EXPECT_TRUE(Sections().empty());
    EXPECT_EQ(TAppIniFile(FFile).ReadString(L"S", L"K", L"dflt"), L"dflt");
    EXPECT_FALSE(FileExists(FFile));
}

TEST_F(AppIniFileTest, SectionsComeInFileOrder)
{
    Write("[B]\r\nk=1\r\n[A]\r\nk=2\r\n[C]\r\n");
    EXPECT_EQ(Sections(), (TStringList{L"B", L"A", L"C"}));
}

TEST_F(AppIniFileTest, ThousandsOfSectionsPastTheFirstBuffer)
{
    std::string text;
    TStringList expected;
    for (int i = 0; i < 3000; ++i) {
        const std::string name = "Watch" + std::to_string(i);
        text += "[" + name + "]\r\nSource=C:\\x\r\n";
        expected.push_back(std::wstring(name.begin(), name.end()));
    }
    Write(text);
    const TStringList names = Sections();
    ASSERT_EQ(names.size(), expected.size());
    EXPECT_EQ(names, expected);
}

TEST_F(AppIniFileTest, Utf16FileWithByteOrderMark)
{
    WriteUtf16File(FFile, L"[Wätch]\r\nSource=C:\\Ärger\r\n", true);
    EXPECT_EQ(Sections(), TStringList{L"Wätch"});
    EXPECT_EQ(TAppIniFile(FFile).ReadString(L"Wätch", L"Source", L""), L"C:\\Ärger");
}

TEST_F(AppIniFileTest, QuotesAroundValuesAreDropped)
{
    Write("[S]\r\nA='single'\r\nB=\"double\"\r\nC='unbalanced\r\n");
    const TAppIniFile ini(FFile);
    EXPECT_EQ(ini.ReadString(L"S", L"A", L""), L"single");
    EXPECT_EQ(ini.ReadString(L"S", L"B", L""), L"double");
    EXPECT_EQ(ini.ReadString(L"S", L"C", L""), L"'unbalanced");
}

TEST_F(AppIniFileTest, ValueIsCutAt2047Characters)
{
    Write("[S]\r\nLong=" + std::string(3000, 'v') + "\r\n");
    EXPECT_EQ(TAppIniFile(FFile).ReadString(L"S", L"Long", L""), std::wstring(2047, L'v'));
}

TEST_F(AppIniFileTest, EmptySectionAndKeyGiveTheDefaultNotAList)
{
    Write("[S]\r\nk=v\r\n");
    EXPECT_EQ(TAppIniFile(FFile).ReadString(L"", L"", L"dflt"), L"dflt");
}

TEST_F(AppIniFileTest, WritesReadBack)
{
    {
        TAppIniFile ini(FFile);
        ini.WriteQuotedString(L"S", L"Quoted", L"abc");
        ini.WriteString(L"S", L"Empty", L"");
        ini.WriteString(L"T", L"k", L"v");
    }
    const TAppIniFile ini(FFile);
    EXPECT_EQ(ini.ReadString(L"S", L"Quoted", L""), L"abc");
    TStringList keys;
    ini.ReadSection(L"S", keys);
    EXPECT_EQ(keys, (TStringList{L"Quoted", L"Empty"}));
    EXPECT_EQ(ini.ReadString(L"S", L"Empty", L"dflt"), L"");
    EXPECT_NE(ReadFileBytes(FFile).find("Quoted='abc'"), std::string::npos);
}

TEST_F(AppIniFileTest, SectionWithoutEntriesCountsAsAbsent)
{
    Write("[Empty]\r\n[Full]\r\nk=v\r\n[Other]\r\nk=v\r\n");
    {
        TAppIniFile ini(FFile);
        EXPECT_FALSE(ini.SectionExists(L"Empty"));
        EXPECT_TRUE(ini.SectionExists(L"Full"));
        ini.DeleteSection(L"Empty");
        ini.DeleteSection(L"Full");
    }
    EXPECT_EQ(Sections(), (TStringList{L"Empty", L"Other"}));
    TAppIniFile(FFile).Clear();
    EXPECT_TRUE(Sections().empty());
}

TEST_F(AppIniFileTest, WriteErrorNamesTheFile)
{
    const std::wstring unwritable = FTemp / L"missing-folder\\Settings.ini";
    TAppIniFile ini(unwritable);
    try {
        ini.WriteString(L"S", L"k", L"v");
        FAIL() << "no error raised";
    } catch (const EVeskError& error) {
        EXPECT_EQ(error.Message(), unwritable + L" に書き込めません");
    }
    EXPECT_THROW(ini.EraseSection(L"S"), EVeskError);
}
