// The hand-off from a chosen command to the main application, against the
// stand-in main application in other processes.
#include "Extension.h"
#include "StandInClient.h"
#include "TestSupport.h"
#include "shellext/VESK_Consts.h"
#include "support/TextConv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

const std::vector<std::wstring> kTwoPaths = {L"C:\\Docs\\a.txt", L"C:\\Docs\\b.txt"};

// The server's side of an execute carries no clipboard format, so the
// record's format field is left out of the comparison.
std::wstring ExecuteLine(const std::wstring& topic, const std::string& text)
{
    return L"execute topic=" + topic + L" bytes=" + HexOf(text + std::string(1, '\0'));
}

std::wstring WithoutFormat(std::wstring line)
{
    const auto at = line.find(L" format=");
    if (at != std::wstring::npos) line.erase(at, line.find(L' ', at + 1) - at);
    return line;
}

// Vesk.exe beside the module (here: beside the test program), for the
// time of a test: a copy of the stand-in.
class TServerExeBeside {
public:
    TServerExeBeside()
    {
        FPath = GetServerExePath();
        EXPECT_FALSE(FileExists(FPath)) << "a Vesk.exe was left beside the tests";
        EXPECT_TRUE(CopyFileW(StandInPath().c_str(), FPath.c_str(), FALSE));
    }
    ~TServerExeBeside()
    {
        for (int i = 0; i < 100 && FileExists(FPath) && !DeleteFileW(FPath.c_str()); ++i) Sleep(50);
    }

private:
    std::wstring FPath;
};

struct TTopicCase {
    UINT_PTR Offset;
    const wchar_t* Topic;
};
const TTopicCase kTopics[] = {{1, L"DdeBackupConv"}, {2, L"DdeRestorConv"}};

}  // namespace

class HandOffTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(FindWindowW(L"TMainForm", nullptr), nullptr) << "a main window is left over";
        ASSERT_FALSE(FileExists(GetServerExePath()));
    }
    TMessageBoxWatcher FBoxes{L"Vesk"};
};

TEST_F(HandOffTest, RunningMainApplicationGetsThePathsOnTheCommandsTopic)
{
    for (const auto& c : kTopics) {
        SCOPED_TRACE(c.Topic);
        TStandInRecord started;  // catches any program the hand-off would start
        TStandIn mainApp;
        ASSERT_TRUE(mainApp.Started());
        TExtension extension(kTwoPaths);
        EXPECT_EQ(extension.Invoke(c.Offset), S_OK);
        EXPECT_EQ(WithoutFormat(mainApp.WaitForLine(L"execute")),
                  ExecuteLine(c.Topic, "C:\\Docs\\a.txt\r\nC:\\Docs\\b.txt\r\n"));
        EXPECT_EQ(mainApp.Record().LinesWith(L"execute").size(), 1u);
        EXPECT_TRUE(started.Lines().empty()) << "no program was started";
    }
    EXPECT_TRUE(FBoxes.Texts().empty());
}

TEST_F(HandOffTest, AbsentMainApplicationIsStartedFromTheModulesFolder)
{
    for (const auto& c : kTopics) {
        SCOPED_TRACE(c.Topic);
        TServerExeBeside serverExe;
        TStandInRecord started;
        TExtension extension(kTwoPaths);
        EXPECT_EQ(extension.Invoke(c.Offset), S_OK);
        EXPECT_EQ(WithoutFormat(started.WaitForLine(L"execute")),
                  ExecuteLine(c.Topic, "C:\\Docs\\a.txt\r\nC:\\Docs\\b.txt\r\n"));
        const auto starts = started.Record().LinesWith(L"start");
        ASSERT_EQ(starts.size(), 1u) << "started once, no fallback start";
        // Started by the shell with no arguments: the command line is the program alone.
        const std::wstring commandLine = starts[0].substr(starts[0].find(L"cmdline=") + 8);
        EXPECT_NE(commandLine.find(L"Vesk.exe"), std::wstring::npos) << commandLine;
        EXPECT_EQ(commandLine.find(c.Topic), std::wstring::npos) << commandLine;
    }
    EXPECT_TRUE(FBoxes.Texts().empty());
}

TEST_F(HandOffTest, SlowStartIsAwaitedBeforeTheConnect)
{
    TServerExeBeside serverExe;
    TStandInRecord started(std::vector<TEnvSetting>{{L"VESK_STANDIN_STARTUP_DELAY_MS", L"3000"}});
    TExtension extension(kTwoPaths);
    EXPECT_EQ(extension.Invoke(1), S_OK);
    EXPECT_FALSE(started.WaitForLine(L"execute").empty());
    EXPECT_EQ(started.Record().LinesWith(L"start").size(), 1u) << "no second copy was started";
    EXPECT_TRUE(FBoxes.Texts().empty());
}

TEST_F(HandOffTest, FailuresShowOneBoxNamingTheStep)
{
    struct TCase {
        const char* Name;
        std::vector<TEnvSetting> RunningSwitches;  // empty Name: nothing runs
        bool Running;
        const wchar_t* Box;
    };
    const TCase cases[] = {
        {"nothing runs and Vesk.exe is missing", {}, false, L"FAIL: ExecuteServer.ShellExecuteEx"},
        {"main window without a DDE server",
         {{L"VESK_STANDIN_NO_DDE", L"1"}},
         true,
         L"FAIL: ExecuteServer.SetLink"},
        // Serving DDE, but its title is not the main application's: it does
        // not count, so the missing Vesk.exe is what fails.
        {"TMainForm window with another title",
         {{L"VESK_STANDIN_TITLE", L"Other"}},
         true,
         L"FAIL: ExecuteServer.ShellExecuteEx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const size_t before = FBoxes.Texts().size();
        std::unique_ptr<TStandIn> running;
        if (c.Running) {
            running.reset(new TStandIn(c.RunningSwitches));
            ASSERT_TRUE(running->Started());
        }
        TExtension extension(kTwoPaths);
        EXPECT_EQ(extension.Invoke(1), S_OK);
        // The box is modal on the invoking thread and recorded before it is
        // closed: once it is in, the call has shown all it will show.
        FBoxes.WaitFor(before + 1, 20000);
        const auto texts = FBoxes.Texts();
        EXPECT_EQ(std::vector<std::wstring>(texts.begin() + static_cast<std::ptrdiff_t>(before),
                                            texts.end()),
                  std::vector<std::wstring>{c.Box});
        if (running) {
            running->Record().WaitForConversationsToEnd();
            EXPECT_TRUE(running->Record().LinesWith(L"execute").empty());
        }
    }
}

TEST_F(HandOffTest, LateDdeServerGetsOneFallbackStartThenTheLinkFails)
{
    TServerExeBeside serverExe;
    TStandInRecord started(std::vector<TEnvSetting>{{L"VESK_STANDIN_DDE_DELAY_MS", L"8000"}});
    TExtension extension(kTwoPaths);
    EXPECT_EQ(extension.Invoke(2), S_OK);
    FBoxes.WaitFor(1, 20000);
    EXPECT_EQ(FBoxes.Texts(), std::vector<std::wstring>{L"FAIL: ExecuteServer.SetLink"});
    const auto starts = started.Record().LinesWith(L"start");
    ASSERT_EQ(starts.size(), 2u);
    // The fallback runs the program by its full path with the topic alone.
    EXPECT_NE(starts[1].find(L"\"" + GetServerExePath() + L"\" DdeRestorConv"), std::wstring::npos)
        << starts[1];
}

TEST_F(HandOffTest, ReportedVerbsRunTheirCommands)
{
    struct TCase {
        const char* Name;
        bool Wide;
        UINT TextId;
        const wchar_t* Topic;
    };
    const TCase cases[] = {
        {"8-bit backup verb", false, IDS_BACKUP_HELP, L"DdeBackupConv"},
        {"wide restore verb", true, IDS_RESTORE_HELP, L"DdeRestorConv"},
        {"wide backup verb", true, IDS_BACKUP_HELP, L"DdeBackupConv"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TStandIn mainApp;
        TExtension extension(kTwoPaths);
        // The verb exactly as GetCommandString reports it.
        char ansi[256] = {};
        wchar_t wide[256] = {};
        const UINT_PTR offset = c.TextId == IDS_BACKUP_HELP ? 1 : 2;
        extension.Menu()->GetCommandString(offset, GCS_VERBA, nullptr, ansi, 256);
        extension.Menu()->GetCommandString(offset, GCS_VERBW, nullptr,
                                           reinterpret_cast<LPSTR>(wide), 256);
        CMINVOKECOMMANDINFOEX info = {};
        info.cbSize = sizeof(info);
        info.lpVerb = c.Wide ? "not the verb" : ansi;
        if (c.Wide) {
            info.fMask = CMIC_MASK_UNICODE;
            info.lpVerbW = wide;
        }
        EXPECT_EQ(extension.Menu()->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info)),
                  S_OK);
        EXPECT_EQ(WithoutFormat(mainApp.WaitForLine(L"execute")),
                  ExecuteLine(c.Topic, "C:\\Docs\\a.txt\r\nC:\\Docs\\b.txt\r\n"));
    }
    EXPECT_TRUE(FBoxes.Texts().empty());
}

// The wide verb of CMINVOKECOMMANDINFOEX is read only when cbSize covers
// lpVerbW itself; the members after it need not be there.
TEST_F(HandOffTest, WideVerbIsReadOnlyWhereTheStructureHoldsIt)
{
    const size_t holdsWideVerb = offsetof(CMINVOKECOMMANDINFOEX, lpVerbW) + sizeof(LPCWSTR);
    const struct {
        const char* Name;
        size_t Size;
        bool Runs;
    } cases[] = {
        {"the plain structure", sizeof(CMINVOKECOMMANDINFO), false},
        {"one byte short of lpVerbW", holdsWideVerb - 1, false},
        {"up to lpVerbW", holdsWideVerb, true},
        {"the whole extended structure", sizeof(CMINVOKECOMMANDINFOEX), true},
    };
    TStandIn mainApp;
    TExtension extension(kTwoPaths);
    wchar_t wide[256] = {};
    extension.Menu()->GetCommandString(1, GCS_VERBW, nullptr, reinterpret_cast<LPSTR>(wide), 256);
    size_t executes = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        CMINVOKECOMMANDINFOEX info = {};
        info.cbSize = static_cast<DWORD>(c.Size);
        info.fMask = CMIC_MASK_UNICODE;
        info.lpVerb = "open";
        info.lpVerbW = wide;
        EXPECT_EQ(extension.Menu()->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info)),
                  c.Runs ? S_OK : E_FAIL);
        // An execute would follow a connect made before the call returned.
        mainApp.Record().WaitForConversationsToEnd();
        if (c.Runs) ++executes;
        EXPECT_EQ(mainApp.Record().LinesWith(L"execute topic=DdeBackupConv").size(), executes);
    }
}

TEST_F(HandOffTest, CommandInvokedOnAnotherThread)
{
    TStandIn mainApp;
    HRESULT result = E_FAIL;
    std::thread worker([&] {
        TExtension extension(kTwoPaths);
        result = extension.Invoke(1);
    });
    worker.join();
    EXPECT_EQ(result, S_OK);
    EXPECT_FALSE(mainApp.WaitForLine(L"execute").empty());
    EXPECT_TRUE(FBoxes.Texts().empty());
}

// ---------------------------------------------------------------------------
// Hostile conditions around the hand-off.

// A character the code page lacks arrives as the code page's default
// character, never as a best-fit look-alike: a fullwidth full stop or
// reverse solidus must not become "." or "\\", nor a yen sign the
// backslash of code page 932, or the main application gets another path.
TEST_F(HandOffTest, PathsOutsideTheAnsiCodePageArriveWithoutBestFit)
{
    const std::vector<std::wstring> paths = {L"C:\\\x65E5\x672C\\\x0416.txt", L"C:\\caf\x00E9.txt",
                                             L"C:\\Docs\\x\xFF0E\xFF0E\xFF3C",
                                             L"C:\\Docs\\\x4FA1\x683C\x00A5"
                                             L"1000.txt"};
    TStandIn mainApp;
    TExtension extension(paths);
    EXPECT_EQ(extension.Invoke(1), S_OK);
    std::string expected;
    if (GetACP() == 1252) {
        expected = "C:\\??\\?.txt\r\nC:\\caf\xE9.txt\r\nC:\\Docs\\x???\r\n"
                   "C:\\Docs\\??\xA5"
                   "1000.txt\r\n";
    } else if (GetACP() == 932) {
        expected = "C:\\\x93\xFA\x96\x7B\\\x84\x47.txt\r\nC:\\caf?.txt\r\n"
                   "C:\\Docs\\x\x81\x44\x81\x44\x81\x5F\r\nC:\\Docs\\\x89\xBF\x8A\x69?1000.txt\r\n";
    } else {
        GTEST_SKIP() << "code page " << GetACP();
    }
    EXPECT_EQ(WithoutFormat(mainApp.WaitForLine(L"execute")),
              ExecuteLine(L"DdeBackupConv", expected));
}

TEST_F(HandOffTest, TenThousandPathsInOneRequest)
{
    std::vector<std::wstring> paths;
    std::string expected;
    for (int i = 0; i < 10000; ++i) {
        paths.push_back(L"C:\\Folder\\file " + std::to_wstring(i) + L".txt");
        expected += "C:\\Folder\\file " + std::to_string(i) + ".txt\r\n";
    }
    TStandIn mainApp;
    TExtension extension(paths);
    EXPECT_EQ(extension.Invoke(1), S_OK);
    EXPECT_TRUE(WithoutFormat(mainApp.WaitForLine(L"execute")) ==
                ExecuteLine(L"DdeBackupConv", expected));
}

TEST_F(HandOffTest, MainApplicationLeavingMidConversation)
{
    TStandIn mainApp(std::vector<TEnvSetting>{{L"VESK_STANDIN_EXIT_ON_CONNECT", L"1"}});
    TExtension extension(kTwoPaths);
    EXPECT_EQ(extension.Invoke(1), S_OK);
    EXPECT_TRUE(mainApp.WaitForExit());
    // A box is modal on the invoking thread: any box came before the call
    // returned.  Either the request went out before the server left, or the
    // step that met the departed server is named.
    const auto texts = FBoxes.Texts();
    EXPECT_LE(texts.size(), 1u);
    for (const auto& text : texts) {
        EXPECT_TRUE(text == L"FAIL: ExecuteServer.ExecuteMacroLines" ||
                    text == L"FAIL: ExecuteServer.SetLink")
            << testing::PrintToString(text);
    }
}

TEST_F(HandOffTest, TopLevelWindowThatNeverPumpsDoesNotHangTheHandOff)
{
    // A window on a thread that then blocks: every message sent to it waits.
    const TKernelHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const TKernelHandle created(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread owner([&] {
        const TWindowHandle hung(CreateWindowExW(0, L"STATIC", L"never pumps", WS_OVERLAPPEDWINDOW,
                                                 0, 0, 100, 100, nullptr, nullptr, nullptr,
                                                 nullptr));
        SetEvent(created.Get());
        WaitForSingleObject(release.Get(), INFINITE);
    });
    WaitForSingleObject(created.Get(), INFINITE);

    TStandIn mainApp;
    // A hand-off that never returns outlives this test: what it writes is its own.
    struct THandOffRun {
        TKernelHandle Ended{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        std::atomic<HRESULT> Result{E_FAIL};
    };
    const auto run = std::make_shared<THandOffRun>();
    const DWORD start = GetTickCount();
    std::thread handOff([run] {
        TExtension extension(kTwoPaths);
        run->Result = extension.Invoke(1);
        SetEvent(run->Ended.Get());
    });
    // Bounded: a hand-off that never returns fails the test instead of hanging it.
    const DWORD waited = WaitForSingleObject(run->Ended.Get(), 180000);
    const DWORD blockedMs = GetTickCount() - start;
    SetEvent(release.Get());
    owner.join();
    if (waited != WAIT_OBJECT_0) {
        handOff.detach();
        FAIL() << "the hand-off did not end";
    }
    handOff.join();
    EXPECT_EQ(run->Result.load(), S_OK);
    std::printf("hand-off with a window that never pumps returned after %lu ms\n",
                static_cast<unsigned long>(blockedMs));
    RecordProperty("BlockedMs", static_cast<int>(blockedMs));
    // The connect never finished in time: the user is told so, and the
    // worker that gets through once the window pumps again sends nothing.
    EXPECT_EQ(FBoxes.Texts(), std::vector<std::wstring>{L"FAIL: ExecuteServer.SetLink"});
    // Its conversation ends with a disconnect, which reaches the stand-in
    // after anything the worker sent.
    mainApp.WaitForLine(L"disconnect");
    EXPECT_TRUE(mainApp.Record().LinesWith(L"execute").empty());
}
