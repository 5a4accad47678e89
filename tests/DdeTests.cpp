// The DDE client against the stand-in main application in another process,
// over the platform's DDEML.
#include "../dde/DdeConversation.h"
#include "support/TextConv.h"
#include "StandInClient.h"
#include "TestSupport.h"
#include "support/Handles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const wchar_t kService[] = L"Vesk";
const wchar_t kBackupTopic[] = L"DdeBackupConv";
const wchar_t kRestoreTopic[] = L"DdeRestorConv";

// A name no server in the session uses.
std::wstring UniqueName(const std::wstring& stem)
{
    static LONG counter = 0;
    return stem + std::to_wstring(GetCurrentProcessId()) + L"x" +
           std::to_wstring(InterlockedIncrement(&counter));
}

std::wstring FieldOf(const std::wstring& line, const std::wstring& name)
{
    const std::wstring key = L" " + name + L"=";
    const size_t at = line.find(key);
    if (at == std::wstring::npos) return L"<none>";
    const size_t start = at + key.size();
    return line.substr(start, line.find(L' ', start) - start);
}

// The record lines of the conversation itself, without the format number,
// which the execute message does not carry (so DDEML makes it up).
std::vector<std::wstring> ConversationLines(const TRecordFile& record)
{
    std::vector<std::wstring> lines;
    for (const auto& line : record.Lines()) {
        if (line.compare(0, 8, L"connect ") == 0 || line == L"disconnect") {
            lines.push_back(line);
        } else if (line.compare(0, 8, L"execute ") == 0) {
            lines.push_back(L"execute topic=" + FieldOf(line, L"topic") + L" bytes=" +
                            FieldOf(line, L"bytes"));
        }
    }
    return lines;
}

std::wstring StringOf(DWORD instance, HSZ hsz)
{
    char name[256] = {};
    if (hsz == nullptr || DdeQueryStringA(instance, hsz, name, sizeof(name), CP_WINANSI) == 0) {
        return std::wstring();
    }
    return std::wstring(name, name + strlen(name));
}

class TCurrentFolder {
public:
    explicit TCurrentFolder(const std::wstring& folder)
    {
        wchar_t old[MAX_PATH * 4] = {};
        GetCurrentDirectoryW(MAX_PATH * 4, old);
        FOld = old;
        SetCurrentDirectoryW(folder.c_str());
    }
    ~TCurrentFolder() { SetCurrentDirectoryW(FOld.c_str()); }
    TCurrentFolder(const TCurrentFolder&) = delete;
    TCurrentFolder& operator=(const TCurrentFolder&) = delete;

private:
    std::wstring FOld;
};

// A DDEML instance of the test's own, for probing the one under test.
class TProbeInstance {
public:
    TProbeInstance(PFNCALLBACK callback, DWORD flags)
    {
        DWORD id = 0;
        if (DdeInitializeA(&id, callback, flags, 0) == DMLERR_NO_ERROR) FInstance.Reset(id);
    }
    TProbeInstance(const TProbeInstance&) = delete;
    TProbeInstance& operator=(const TProbeInstance&) = delete;
    DWORD Id() const { return FInstance.Get(); }
    HSZ Hsz(const std::wstring& name) const
    {
        return name.empty() ? nullptr
                            : DdeCreateStringHandleA(Id(), WideToAnsi(name).c_str(), CP_WINANSI);
    }

private:
    TDdeInstanceHandle FInstance;  // its string handles go with it
};

HDDEDATA CALLBACK AcceptingServer(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    return type == XTYP_CONNECT ? reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(TRUE))
                                : nullptr;
}

HDDEDATA CALLBACK IdleClient(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------

TEST(DdeErrorText, ChoosesTheTextByTheCodeAndShowsTheCodeInHex)
{
    const struct {
        UINT Code;
        const wchar_t* Text;
    } cases[] = {
        {DMLERR_LOW_MEMORY, L"DDE 実行時にメモリ不足エラーが発生しました ($04007)"},
        {DMLERR_MEMORY_ERROR, L"DDE 実行時にメモリ不足エラーが発生しました ($04008)"},
        {DMLERR_NO_CONV_ESTABLISHED, L"DDE エラー ($0400a) のため対話を確立できません"},
        {DMLERR_DLL_USAGE, L"DDE がエラーを返しました ($04004)"},
        {DMLERR_INVALIDPARAMETER, L"DDE がエラーを返しました ($04006)"},
        {DMLERR_SYS_ERROR, L"DDE がエラーを返しました ($0400f)"},
        {0, L"DDE がエラーを返しました ($00)"},
        {0xABCDEF12u, L"DDE がエラーを返しました ($0abcdef12)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.Text, TDdeInstance::ErrorText(c.Code)) << "code 0x" << std::hex << c.Code;
    }
}

TEST(DdeInstance, EachHandOffGetsItsOwnInstanceOnItsThread)
{
    TDdeInstance first;
    TDdeInstance second;
    ASSERT_TRUE(first.Initialized());
    ASSERT_TRUE(second.Initialized());
    EXPECT_EQ(static_cast<UINT>(DMLERR_NO_ERROR), first.InitError());
    EXPECT_NE(first.DdeInstId(), second.DdeInstId());
}

// The instance serves nothing: even with a service name registered on it,
// every connect, named or wildcard, is refused.  A second instance with an
// accepting callback shows that the same probe does connect.
TEST(DdeInstance, RefusesEveryIncomingConnect)
{
    TDdeInstance instance;
    ASSERT_TRUE(instance.Initialized());
    TProbeInstance control(AcceptingServer, APPCLASS_STANDARD);
    TProbeInstance client(IdleClient, APPCMD_CLIENTONLY);
    ASSERT_NE(0u, control.Id());
    ASSERT_NE(0u, client.Id());

    const std::wstring refusing = UniqueName(L"VeskRefusing");
    const std::wstring accepting = UniqueName(L"VeskAccepting");
    const HSZ refusingName = DdeCreateStringHandleA(instance.DdeInstId(),
                                                    WideToAnsi(refusing).c_str(), CP_WINANSI);
    const TDdeStringHandle freeing({instance.DdeInstId(), refusingName});
    ASSERT_NE(nullptr, DdeNameService(instance.DdeInstId(), refusingName, nullptr, DNS_REGISTER));
    ASSERT_NE(nullptr, DdeNameService(control.Id(), control.Hsz(accepting), nullptr, DNS_REGISTER));

    const struct {
        std::wstring Service;  // empty: any
        std::wstring Topic;    // empty: any
        bool Connects;
    } cases[] = {
        {accepting, kBackupTopic, true},  {refusing, kBackupTopic, false},
        {refusing, kRestoreTopic, false}, {refusing, L"AnyTopic", false},
        {refusing, L"", false},           {L"", UniqueName(L"VeskTopic"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "service '" << WideToAnsi(c.Service) << "' topic '"
                                        << WideToAnsi(c.Topic) << "'");
        const HCONV conv = DdeConnect(client.Id(), client.Hsz(c.Service), client.Hsz(c.Topic),
                                      nullptr);
        const TDdeConversationHandle ending(conv);
        EXPECT_EQ(c.Connects, conv != nullptr);
    }
    DdeNameService(instance.DdeInstId(), nullptr, nullptr, DNS_UNREGISTER);
}

// ---------------------------------------------------------------------------

TEST(DdeExecute, SendsTheLinesAsAnsiTextEndedByOneNul)
{
    TStandIn standIn;
    ASSERT_TRUE(standIn.WaitReady());
    TDdeInstance instance;

    const struct {
        const char* Name;
        std::vector<std::wstring> Lines;
        std::wstring Hex;
    } cases[] = {
        {"two paths",
         {L"C:\\Data\\a.txt", L"D:\\Photos"},
         L"433A5C446174615C612E7478740D0A443A5C50686F746F730D0A00"},
        {"no lines", {}, L"00"},
        {"one empty line", {L""}, L"0D0A00"},
        // A letter the Western code page has, and one it lacks: the data are
        // what the ANSI conversion makes of them ('?' for the missing one
        // there), neither UTF-8 nor UTF-16, and no error.
        {"code page letter", {L"C:\\caf\u00E9"}, HexOf(WideToAnsi(L"C:\\caf\u00E9\r\n") + '\0')},
        {"letter missing in the code page",
         {L"C:\\\u4E00.txt"},
         HexOf(WideToAnsi(L"C:\\\u4E00.txt\r\n") + '\0')},
    };
    size_t sent = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        {
            TDdeConversation conversation(instance, std::wstring());
            ASSERT_TRUE(conversation.SetLink(kService, kBackupTopic));
            EXPECT_EQ(static_cast<UINT>(CF_TEXT), conversation.DdeFmt());
            ASSERT_TRUE(conversation.ExecuteMacroLines(c.Lines, false));
            EXPECT_FALSE(conversation.WaitStat());
        }
        const std::wstring line = standIn.WaitForLine(L"execute ", ++sent);
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(c.Hex, FieldOf(line, L"bytes"));
    }

    // Raw ANSI bytes pass unchanged, up to and including their NUL.
    TDdeConversation conversation(instance, std::wstring());
    ASSERT_TRUE(conversation.SetLink(kService, kRestoreTopic));
    ASSERT_TRUE(conversation.ExecuteMacro("\xE9\x80\x7F", false));
    const std::wstring line = standIn.WaitForLine(L"execute ", ++sent);
    EXPECT_EQ(L"E9807F00", FieldOf(line, L"bytes"));
    EXPECT_EQ(kRestoreTopic, FieldOf(line, L"topic"));
}

TEST(DdeExecute, RefusedWithoutLinkAndWhileAWaitedExecuteIsOutstanding)
{
    TDdeInstance instance;
    {
        TDdeConversation unlinked(instance, std::wstring());
        EXPECT_FALSE(unlinked.ExecuteMacroLines({L"C:\\Data"}, false));
        EXPECT_FALSE(unlinked.ExecuteMacro("C:\\Data\r\n", false));
        EXPECT_FALSE(unlinked.WaitStat());
    }

    TStandIn standIn;
    ASSERT_TRUE(standIn.WaitReady());
    {
        TDdeConversation conversation(instance, std::wstring());
        ASSERT_TRUE(conversation.SetLink(kService, kBackupTopic));
        ASSERT_TRUE(conversation.ExecuteMacroLines({L"first"}, true));
        EXPECT_TRUE(conversation.WaitStat());
        // No message has been pumped: the completion cannot have arrived.
        EXPECT_FALSE(conversation.ExecuteMacroLines({L"second"}, false));
        EXPECT_FALSE(conversation.ExecuteMacro("second\r\n", false));
        ASSERT_TRUE(PumpMessagesUntil([&] { return !conversation.WaitStat(); }));
        EXPECT_TRUE(conversation.ExecuteMacroLines({L"third"}, false));
    }
    ASSERT_FALSE(standIn.WaitForLine(L"disconnect").empty());
    EXPECT_EQ((std::vector<std::wstring>{
                  L"connect topic=DdeBackupConv",
                  L"execute topic=DdeBackupConv bytes=" + HexOf(std::string("first\r\n", 8)),
                  L"execute topic=DdeBackupConv bytes=" + HexOf(std::string("third\r\n", 8)),
                  L"disconnect",
              }),
              ConversationLines(standIn.Record()));
}

// ---------------------------------------------------------------------------

TEST(DdeLink, BackupAndRestoreTopicsAreServedAndANewLinkEndsTheOldOne)
{
    TStandIn standIn;
    ASSERT_TRUE(standIn.WaitReady());
    TDdeInstance instance;
    {
        TDdeConversation conversation(instance, std::wstring());
        ASSERT_TRUE(conversation.SetLink(kService, kBackupTopic));
        EXPECT_NE(nullptr, conversation.Conv());
        EXPECT_EQ(kService, conversation.DdeService());
        EXPECT_EQ(kBackupTopic, conversation.DdeTopic());
        EXPECT_TRUE(conversation.ExecuteMacroLines({L"B"}, false));

        ASSERT_TRUE(conversation.SetLink(kService, kRestoreTopic));
        EXPECT_EQ(kRestoreTopic, conversation.DdeTopic());
        EXPECT_TRUE(conversation.ExecuteMacroLines({L"R"}, false));
    }
    ASSERT_FALSE(standIn.WaitForLine(L"disconnect", 2).empty());
    EXPECT_EQ((std::vector<std::wstring>{
                  L"connect topic=DdeBackupConv",
                  L"execute topic=DdeBackupConv bytes=420D0A00",
                  L"disconnect",
                  L"connect topic=DdeRestorConv",
                  L"execute topic=DdeRestorConv bytes=520D0A00",
                  L"disconnect",
              }),
              ConversationLines(standIn.Record()));
}

// With no server for the names, SetLink starts the fallback program once,
// by its full path with the topic as the only argument, connects exactly
// once more and fails.  The stand-in serves "Vesk" but refuses other topics,
// so its refusals count the connects that reached it.
TEST(DdeLink, UnservedLinkStartsTheFallbackProgramOnceAndConnectsOnceMore)
{
    const struct {
        std::wstring Service;
        std::wstring Topic;
        size_t ConnectsSeen;
    } cases[] = {
        {kService, L"DdeOtherConv", 1},
        {UniqueName(L"VeskNobody"), kBackupTopic, 0},
    };
    TDdeInstance instance;
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToAnsi(c.Service + L" " + c.Topic));
        TStandInRecord started;
        {
            TDdeConversation conversation(instance, StandInPath());
            EXPECT_FALSE(conversation.SetLink(c.Service, c.Topic));
            EXPECT_EQ(nullptr, conversation.Conv());
            EXPECT_EQ(L"", conversation.DdeService());
            EXPECT_EQ(L"", conversation.DdeTopic());
        }
        const auto starts = started.Record().LinesWith(L"start ");
        ASSERT_EQ(1u, starts.size());
        EXPECT_EQ(L"\"" + StandInPath() + L"\" " + c.Topic,
                  starts[0].substr(starts[0].find(L" cmdline=") + 9));
        // It was idle for input before the second connect.
        EXPECT_EQ(1u, started.Record().LinesWith(L"ready").size());
        EXPECT_EQ(c.ConnectsSeen, started.Record().LinesWith(L"refuse topic=" + c.Topic).size());
        const auto pids = started.Record().StartedPids();
        ASSERT_EQ(1u, pids.size());
        const HWND window = FindStandInWindow(pids[0]);
        ASSERT_NE(nullptr, window);
        EXPECT_TRUE(IsIconic(window)) << "started minimised";
    }
}

TEST(DdeLink, NoFallbackStartWithoutAFullPathToAnExistingProgram)
{
    const TCurrentFolder binFolder(StandInPath().substr(0, StandInPath().find_last_of(L'\\')));
    const std::wstring programs[] = {
        L"",
        L"C:\\no\\such\\folder\\VeskStandIn.exe",
        L"VeskStandIn.exe",  // present in the current folder, which is not searched
        L".\\VeskStandIn.exe",
    };
    TDdeInstance instance;
    for (const auto& program : programs) {
        SCOPED_TRACE(WideToAnsi(program));
        TStandInRecord started;
        {
            TDdeConversation conversation(instance, program);
            EXPECT_FALSE(conversation.SetLink(UniqueName(L"VeskNobody"), kBackupTopic));
        }
        EXPECT_EQ(std::vector<std::wstring>(), started.Lines());
    }
}

TEST(DdeLink, BothNamesEmptyFailWithoutAnyDdemlCall)
{
    TStandInRecord started;
    TDdeInstance instance;
    TDdeConversation conversation(instance, StandInPath());
    EXPECT_FALSE(conversation.SetLink(L"", L""));
    EXPECT_FALSE(conversation.OpenLink());
    EXPECT_EQ(nullptr, conversation.HszApp());
    EXPECT_EQ(nullptr, conversation.HszTopic());
    EXPECT_EQ(nullptr, conversation.Conv());
    EXPECT_EQ(std::vector<std::wstring>(), started.Lines());
}

// Names longer than DDEML keeps are refused before any DDEML call (and
// without a fallback start); the longest passable one reaches the server
// whole.
TEST(DdeLink, OverlongNamesAreRefusedNotCut)
{
    TStandIn standIn;
    ASSERT_TRUE(standIn.WaitReady());
    const std::wstring longest(TDdeConversation::kMaxNameBytes, L'T');
    const std::wstring overlong(TDdeConversation::kMaxNameBytes + 1, L'T');
    const struct {
        std::wstring Service;
        std::wstring Topic;
        bool Passed;
    } cases[] = {
        {kService, longest, true},
        {kService, overlong, false},
        {std::wstring(TDdeConversation::kMaxNameBytes + 1, L'S'), kBackupTopic, false},
        {kService, std::wstring(L"Dde\0BackupConv", 14), false},
    };
    TDdeInstance instance;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.Service.size() << " and " << c.Topic.size() << " units");
        TStandInRecord started;
        const size_t refusalsBefore = standIn.Record().LinesWith(L"refuse ").size();
        TDdeConversation conversation(instance, c.Passed ? std::wstring() : StandInPath());
        EXPECT_FALSE(conversation.SetLink(c.Service, c.Topic));
        EXPECT_EQ(c.Passed, conversation.HszApp() != nullptr);
        EXPECT_EQ(c.Passed, conversation.HszTopic() != nullptr);
        const auto refusals = standIn.Record().LinesWith(L"refuse ");
        ASSERT_EQ(refusalsBefore + (c.Passed ? 1 : 0), refusals.size());
        if (c.Passed) {
            EXPECT_EQ(L"refuse topic=" + c.Topic, refusals.back());
        }
        EXPECT_EQ(std::vector<std::wstring>(), started.Lines());
    }
}

// A name that gives no string handle (the empty one) fails the link: a null
// handle would ask DDEML for any service or topic, and the stand-in answers
// such wildcard requests, as the probe shows.
TEST(DdeLink, NameWithoutAStringHandleIsNoWildcard)
{
    TStandIn standIn;
    ASSERT_TRUE(standIn.WaitReady());
    TDdeInstance instance;
    const std::pair<std::wstring, std::wstring> names[] = {
        {L"", kBackupTopic},
        {kService, L""},
    };
    for (const auto& name : names) {
        SCOPED_TRACE(WideToAnsi(name.first + L"/" + name.second));
        TDdeConversation conversation(instance, std::wstring());
        EXPECT_FALSE(conversation.SetLink(name.first, name.second));
        EXPECT_EQ(nullptr, conversation.Conv());
    }
    EXPECT_EQ(std::vector<std::wstring>(), standIn.Record().LinesWith(L"connect "));

    TProbeInstance probe(IdleClient, APPCMD_CLIENTONLY);
    const HCONV wild = DdeConnect(probe.Id(), nullptr, probe.Hsz(kBackupTopic), nullptr);
    TDdeConversationHandle ending(wild);
    EXPECT_NE(nullptr, wild);
    ending.Reset();
    EXPECT_EQ(1u, standIn.Record().LinesWith(L"connect topic=DdeBackupConv").size());
}

TEST(DdeLink, FailedLinkKeepsItsStringHandlesUntilTheyAreFreedWithoutADisconnect)
{
    TDdeInstance instance;
    const DWORD id = instance.DdeInstId();
    const std::wstring service = UniqueName(L"VeskNobody");
    const std::wstring topic = UniqueName(L"VeskTopic");
    HSZ app = nullptr;
    HSZ top = nullptr;
    {
        TDdeConversation conversation(instance, std::wstring());
        ASSERT_FALSE(conversation.SetLink(service, topic));
        EXPECT_EQ(nullptr, conversation.Conv()) << "nothing to disconnect";
        app = conversation.HszApp();
        top = conversation.HszTopic();
        EXPECT_EQ(service, StringOf(id, app));
        EXPECT_EQ(topic, StringOf(id, top));

        // A new link frees the handles of the failed one first (their
        // values may be reused for the new names).
        ASSERT_FALSE(conversation.SetLink(service + L"2", topic + L"2"));
        EXPECT_NE(service, StringOf(id, app));
        EXPECT_NE(topic, StringOf(id, top));
        app = conversation.HszApp();
        top = conversation.HszTopic();
        EXPECT_EQ(service + L"2", StringOf(id, app));
    }
    EXPECT_EQ(L"", StringOf(id, app));
    EXPECT_EQ(L"", StringOf(id, top));
}

// When the server ends the conversation, the client does not end it a
// second time.  DDEML may report the end through the callback (which then
// forgets the conversation) or only in the conversation's status (Wine);
// either way no disconnect is attempted, which would leave
// DMLERR_NO_CONV_ESTABLISHED behind.
TEST(DdeLink, ConversationEndedByTheServerIsNotDisconnectedAgain)
{
    const struct {
        const char* Name;
        std::vector<TEnvSetting> Switches;
    } cases[] = {
        {"server leaves right after accepting", {{L"VESK_STANDIN_EXIT_ON_CONNECT", L"1"}}},
        {"server closed while linked", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TStandIn standIn(c.Switches);
        ASSERT_TRUE(standIn.WaitReady());
        TDdeInstance instance;
        const DWORD id = instance.DdeInstId();
        {
            TDdeConversation conversation(instance, std::wstring());
            ASSERT_TRUE(conversation.SetLink(kService, kBackupTopic));
            const HCONV conv = conversation.Conv();
            if (c.Switches.empty()) {
                EXPECT_TRUE(standIn.Stop());
            } else {
                EXPECT_TRUE(standIn.WaitForExit());
            }
            EXPECT_TRUE(PumpMessagesUntil([&] {
                CONVINFO info = {};
                info.cb = sizeof(info);
                return conversation.Conv() == nullptr ||
                       (DdeQueryConvInfo(conv, QID_SYNC, &info) != 0 &&
                        (info.wStatus & ST_CONNECTED) == 0);
            }));
            EXPECT_FALSE(conversation.ExecuteMacroLines({L"C:\\Data"}, false));
            DdeGetLastError(id);  // clears it
        }
        EXPECT_EQ(static_cast<UINT>(DMLERR_NO_ERROR), DdeGetLastError(id));
    }
}

// ---------------------------------------------------------------------------

// A hand-off runs on whichever thread invokes the command: the instance is
// made there, not on the thread that loaded the module.
TEST(DdeHandOff, WorksOnAThreadOtherThanTheLoadingOne)
{
    TStandIn standIn;
    ASSERT_TRUE(standIn.WaitReady());
    TDdeInstance loaderInstance;  // made on this thread

    std::atomic<bool> done(false);
    bool ownLinked = false;
    bool ownExecuted = false;
    bool foreignLinked = true;
    std::thread worker([&] {
        {
            // An instance of another thread is of no use here.
            TDdeConversation foreign(loaderInstance, std::wstring());
            foreignLinked = foreign.SetLink(kService, kBackupTopic);
        }
        TDdeInstance instance;
        TDdeConversation conversation(instance, std::wstring());
        ownLinked = conversation.SetLink(kService, kRestoreTopic);
        ownExecuted = ownLinked && conversation.ExecuteMacroLines({L"C:\\Data\\a.txt"}, false);
        done = true;
    });
    // This thread keeps its windows answering while the worker connects.
    const bool finished = PumpMessagesUntil([&] { return done.load(); });
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_FALSE(foreignLinked);
    EXPECT_TRUE(ownLinked);
    EXPECT_TRUE(ownExecuted);

    ASSERT_FALSE(standIn.WaitForLine(L"disconnect").empty());
    EXPECT_EQ((std::vector<std::wstring>{
                  L"connect topic=DdeRestorConv",
                  L"execute topic=DdeRestorConv bytes=433A5C446174615C612E7478740D0A00",
                  L"disconnect",
              }),
              ConversationLines(standIn.Record()));
}

// ---------------------------------------------------------------------------

// The stand-in's switches, as the tests of the hand-off rely on them.  It is
// idle for input only once its window exists, and its service too unless
// that is delayed on purpose.
TEST(DdeStandIn, SwitchesShapeWhatItShowsAndServes)
{
    const struct {
        const char* Name;
        std::vector<TEnvSetting> Switches;
        const wchar_t* Title;
        bool ServesWhenIdle;
        bool ServesLater;
        bool EndsByItself;
    } cases[] = {
        {"plain", {}, L"Vesk", true, true, false},
        {"no DDE", {{L"VESK_STANDIN_NO_DDE", L"1"}}, L"Vesk", false, false, false},
        {"other title", {{L"VESK_STANDIN_TITLE", L"Vesk Copy"}}, L"Vesk Copy", true, true, false},
        {"late start", {{L"VESK_STANDIN_STARTUP_DELAY_MS", L"300"}}, L"Vesk", true, true, false},
        {"late DDE", {{L"VESK_STANDIN_DDE_DELAY_MS", L"300"}}, L"Vesk", false, true, false},
        {"ends by itself", {{L"VESK_STANDIN_EXIT_AFTER_MS", L"300"}}, L"Vesk", true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TStandIn standIn(c.Switches, std::wstring(), false);
        ASSERT_TRUE(standIn.Started());
        ASSERT_EQ(0u, WaitForInputIdle(standIn.Process(), kStandInWaitMs));
        EXPECT_EQ(1u, standIn.Record().LinesWith(L"ready").size());
        EXPECT_EQ(c.ServesWhenIdle ? 1u : 0u, standIn.Record().LinesWith(L"registered").size());
        if (c.EndsByItself) {
            EXPECT_TRUE(standIn.WaitForExit());
            EXPECT_EQ(L"exit", standIn.Lines().back());
            continue;
        }
        wchar_t title[64] = {};
        ASSERT_NE(nullptr, standIn.Window());
        GetWindowTextW(standIn.Window(), title, 64);
        EXPECT_EQ(std::wstring(c.Title), title);
        EXPECT_TRUE(IsWindowVisible(standIn.Window()));
        if (c.ServesLater) {
            ASSERT_FALSE(standIn.WaitForLine(L"registered").empty());
        }

        TDdeInstance instance;
        TDdeConversation conversation(instance, std::wstring());
        EXPECT_EQ(c.ServesLater, conversation.SetLink(kService, kBackupTopic));
        conversation.CloseLink();
        EXPECT_TRUE(standIn.Stop());
        EXPECT_EQ(L"exit", standIn.Lines().back());
    }
}

// A stand-in left behind by a failed test would keep the test runner's
// output pipes open; it closes itself once the process it watches ends.
TEST(DdeStandIn, ClosesItselfWhenTheWatchedProcessEnds)
{
    TStandIn watched;
    ASSERT_TRUE(watched.WaitReady());
    TStandIn watcher({{L"VESK_STANDIN_WATCH_PID", std::to_wstring(watched.ProcessId())}});
    ASSERT_TRUE(watcher.WaitReady());
    EXPECT_FALSE(watcher.HasExited());

    EXPECT_TRUE(watched.Stop());
    EXPECT_TRUE(watcher.WaitForExit());
    EXPECT_EQ(L"exit", watcher.Lines().back());
}
