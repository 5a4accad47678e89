// Path matching and the watch decision over the watch list.
#include "TestSupport.h"
#include "shellext/WatchList.h"
#include "support/AppData.h"

#include <gtest/gtest.h>

namespace {

struct TMatchCase {
    const wchar_t* Watch;
    const wchar_t* Selected;
    const wchar_t* Attribute;
    bool Expected;
};

const TMatchCase kMatchCases[] = {
    // Prefix test (capital D in the attribute).
    {L"c:\\data", L"C:\\Data\\Sub\\x.txt", L"D", true},  // ASCII letters fold both sides
    {L"C:\\Data", L"C:\\Database\\y.txt", L"D", true},   // no separator check
    {L"C:\\Data", L"C:\\Data", L"D", true},
    {L"C:\\Data\\", L"C:\\Data\\x.txt", L"D", true},
    {L"C:\\Data\\", L"C:\\Data", L"D", false},
    {L"C:\\\x00C4RGER", L"C:\\\x00E4rger\\x.txt", L"D", false},  // no folding beyond ASCII
    {L"C:\\\x00C4rger", L"c:\\\x00C4RGER\\x.txt", L"D", true},
    {L"", L"C:\\Data", L"D", false},  // an empty watch path never matches
    {L"", L"", L"D", false},          // nor does an empty selected path
    {L"C:\\Data\\x.txt", L"C:\\Data", L"D", false},
    {L"C:\\Data", L"C:\\Data\\x", L"AD", true},
    {L"C:\\Data", L"C:\\Data\\x", L"DH", true},
    {L"C:\\Data", L"C:\\Data\\x", L"XYD", true},
    // Equality with the item itself or its parent.
    {L"C:\\Data", L"C:\\Data", L"", true},
    {L"C:\\Data", L"C:\\Data\\x.txt", L"", true},
    {L"C:\\Data", L"C:\\Data\\Sub\\x.txt", L"", false},
    {L"C:\\Data", L"C:\\Database\\y.txt", L"", false},
    {L"C:\\Data", L"C:\\Data\\Sub\\x.txt", L"d", false},  // lower-case d is no D
    {L"C:\\Data\\", L"C:\\Data", L"", false},
    {L"C:\\Data\\", L"C:\\Data\\x.txt", L"", false},
    {L"C:\\", L"C:\\x.txt", L"", true},
    {L"C:\\", L"C:\\Data\\x.txt", L"", false},
    {L"\\\\SERVER\\SHARE", L"\\\\server\\share\\file.txt", L"", true},
    {L"C:", L"C:FILE.TXT", L"", true},
    {L"", L"FILE.TXT", L"", true},  // its parent is empty
    {L"", L"C:\\Data", L"", false},
    {L"", L"", L"", true},  // two empty strings are equal
    // The forward slash is no separator.
    {L"C:/Data", L"C:\\Data\\x.txt", L"", false},
    {L"C:", L"C:/Data/x.txt", L"", true},
};

}  // namespace

TEST(MatchWatchPath, Table)
{
    for (const auto& c : kMatchCases) {
        SCOPED_TRACE(testing::Message() << "watch '" << c.Watch << "' path '" << c.Selected
                                        << "' attribute '" << c.Attribute << "'");
        EXPECT_EQ(MatchWatchPath(c.Watch, c.Selected, c.Attribute), c.Expected);
    }
}

namespace {

const char kDecisionList[] = "[First]\r\n"
                             "Source=C:\\Data\r\n"
                             "Dest=E:\\Backup\r\n"
                             "Attribute=\r\n"
                             "[Second]\r\n"
                             "Source=E:\\Backup\\2023\r\n"
                             "Dest=F:\\Archive\r\n"
                             "Attribute=D\r\n"
                             "[Both]\r\n"
                             "Source=G:\\Same\r\n"
                             "Dest=G:\\Same\r\n"
                             "Attribute=D\r\n"
                             "[Quoted]\r\n"
                             "Source=\"H:\\Quoted Folder\"\r\n"
                             "Attribute='D'\r\n";

struct TDecisionCase {
    const wchar_t* Path;
    TCommandState Expected;
};

}  // namespace

class WatchDecisionTest : public ::testing::Test {
protected:
    TWatchListGuard FGuard;
};

TEST_F(WatchDecisionTest, FirstMatchingWatchDecidesSourceBeforeDest)
{
    FGuard.WriteWatchList(kDecisionList);
    const TDecisionCase cases[] = {
        {L"C:\\Data\\x.txt", TCommandState::Both},
        {L"c:\\data", TCommandState::Both},
        {L"C:\\Data\\Sub\\x.txt", TCommandState::None},  // first watch matches children only
        {L"E:\\Backup\\2023\\x.txt", TCommandState::RestoreOnly},  // first watch's Dest wins
        {L"F:\\Archive\\deep\\x", TCommandState::RestoreOnly},     // Dest by prefix
        {L"G:\\Same\\x", TCommandState::Both},
        {L"H:\\Quoted Folder\\x", TCommandState::Both},
        {L"Z:\\Elsewhere", TCommandState::None},
        {L"", TCommandState::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        EXPECT_EQ(DecideCommandState(c.Path), c.Expected);
    }
}

TEST_F(WatchDecisionTest, DestMatchesByPrefixWhateverTheAttribute)
{
    FGuard.WriteWatchList("[W]\r\nSource=C:\\Src\r\nDest=E:\\Backup\r\nAttribute=\r\n");
    EXPECT_EQ(DecideCommandState(L"E:\\Backup\\2023\\x.txt"), TCommandState::RestoreOnly);
}

TEST_F(WatchDecisionTest, EmptySourceMatchesAnEmptySelection)
{
    FGuard.WriteWatchList("[W]\r\nDest=E:\\Backup\r\n");
    EXPECT_EQ(DecideCommandState(L""), TCommandState::Both);
    EXPECT_EQ(DecideCommandState(L"C:\\x"), TCommandState::None);
}

TEST_F(WatchDecisionTest, NoWatchListCreatesTheFolderOnly)
{
    EXPECT_EQ(DecideCommandState(L"C:\\Data\\x.txt"), TCommandState::None);
    EXPECT_TRUE(DirectoryExists(FGuard.HarrowfenDir() + L"\\Vesk"));
    EXPECT_FALSE(FileExists(FGuard.WatchListPath()));
}

TEST_F(WatchDecisionTest, WatchListIsNeverWritten)
{
    FGuard.WriteWatchList(kDecisionList);
    DecideCommandState(L"C:\\Data\\x.txt");
    DecideCommandState(L"Z:\\none");
    EXPECT_EQ(ReadFileBytes(FGuard.WatchListPath()), kDecisionList);
}

TEST_F(WatchDecisionTest, Utf16WatchListWithBom)
{
    CreateDirectoryW(FGuard.HarrowfenDir().c_str(), nullptr);
    CreateDirectoryW((FGuard.HarrowfenDir() + L"\\Vesk").c_str(), nullptr);
    WriteUtf16File(FGuard.WatchListPath(), L"[W]\r\nSource=C:\\\x65E5\x672C\r\nAttribute=D\r\n",
                   true);
    EXPECT_EQ(DecideCommandState(L"C:\\\x65E5\x672C\\a.txt"), TCommandState::Both);
}

TEST_F(WatchDecisionTest, MatchInTheLastOfThousandsOfWatches)
{
    std::string text;
    for (int i = 0; i < 2500; ++i)
        text += "[Watch" + std::to_string(i) + "]\r\nSource=C:\\S" + std::to_string(i) +
                "\r\nDest=E:\\D" + std::to_string(i) + "\r\n";
    text += "[Last]\r\nSource=C:\\Target\r\nAttribute=D\r\n";
    FGuard.WriteWatchList(text);
    EXPECT_EQ(DecideCommandState(L"C:\\Target\\x"), TCommandState::Both);
}
