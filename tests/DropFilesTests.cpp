// The CF_HDROP reader: well-formed lists read as the platform's
// DragQueryFileW reads them, malformed blocks are refused, and no byte
// past a block's end is read either way.
#include "support/DropFiles.h"
#include "support/Handles.h"

#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using TPaths = std::vector<std::wstring>;

// What paths holds before a read: a refusal must leave it so.
const TPaths kKept = {L"C:\\kept"};

// The block in global memory, as a data object hands it out.
TGlobalMemory GlobalCopy(const std::string& bytes, UINT flags = GMEM_MOVEABLE)
{
    TGlobalMemory memory(GlobalAlloc(flags, bytes.size()));
    if (!bytes.empty()) {
        std::memcpy(GlobalLock(memory.Get()), bytes.data(), bytes.size());
        GlobalUnlock(memory.Get());
    }
    return memory;
}

// The block copied to read-only memory that ends where a no-access page
// starts: reading a byte past its end faults.
class TGuardedCopy {
public:
    explicit TGuardedCopy(const std::string& bytes) : FSize(bytes.size())
    {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        const size_t page = system.dwPageSize;
        const size_t dataBytes = (bytes.size() + page - 1) / page * page;
        FMemory.Reset(
            VirtualAlloc(nullptr, dataBytes + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        auto* guard = static_cast<BYTE*>(FMemory.Get()) + dataBytes;
        FData = guard - bytes.size();
        if (!bytes.empty()) std::memcpy(FData, bytes.data(), bytes.size());
        DWORD previous = 0;
        VirtualProtect(guard, page, PAGE_NOACCESS, &previous);
        if (dataBytes != 0) VirtualProtect(FMemory.Get(), dataBytes, PAGE_READONLY, &previous);
    }

    const void* Data() const { return FData; }
    size_t Size() const { return FSize; }
    bool EndsAtGuardPage() const
    {
        MEMORY_BASIC_INFORMATION info = {};
        return VirtualQuery(FData + FSize, &info, sizeof(info)) == sizeof(info) &&
               info.Protect == PAGE_NOACCESS;
    }

private:
    TVirtualMemory FMemory;
    BYTE* FData = nullptr;
    size_t FSize;
};

std::string Bytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

const std::string kWideTerminator(sizeof(wchar_t), '\0');

// A list as a careful writer lays it out: each name with its terminator,
// then the closing empty name; the empty list is two terminators.
std::string WideList(const TPaths& names)
{
    std::string list;
    for (const auto& name : names) list += Bytes(name) + kWideTerminator;
    list += kWideTerminator;
    if (names.empty()) list += kWideTerminator;
    return list;
}

std::string AnsiList(const std::vector<std::string>& names)
{
    std::string list;
    for (const auto& name : names) list += name + '\0';
    list += std::string(names.empty() ? 2 : 1, '\0');
    return list;
}

// Header, gap zero bytes, then the list: pFiles is past the gap.  The
// header's fNC is zero, so an offset into it finds terminators.
std::string Block(bool wide, const std::string& list, size_t gap = 0)
{
    DROPFILES header = {};
    header.pFiles = static_cast<DWORD>(sizeof(header) + gap);
    header.pt.x = 10;
    header.pt.y = 20;
    header.fWide = wide ? TRUE : FALSE;
    return std::string(reinterpret_cast<const char*>(&header), sizeof(header)) +
           std::string(gap, '\0') + list;
}

std::string WithOffset(std::string block, size_t pFiles)
{
    const auto offset = static_cast<DWORD>(pFiles);
    std::memcpy(&block[offsetof(DROPFILES, pFiles)], &offset, sizeof(offset));
    return block;
}

// What DragQueryFileW gives for the block, each name at full length.  It
// reports the empty list as one empty name; that counts as no paths here,
// as it does for the extension.
TPaths PlatformPaths(HGLOBAL block)
{
    const auto drop = static_cast<HDROP>(block);
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    TPaths paths;
    for (UINT index = 0; index < count; ++index) {
        const UINT length = DragQueryFileW(drop, index, nullptr, 0);
        std::wstring path(static_cast<size_t>(length) + 1, L'\0');
        EXPECT_EQ(DragQueryFileW(drop, index, &path[0], length + 1), length);
        path.resize(length);
        paths.push_back(path);
    }
    if (paths.size() == 1 && paths.front().empty()) paths.clear();
    return paths;
}

// Reads a well-formed block from global memory and from a guarded copy;
// both must give what the platform gives.  Returns the names read.
TPaths ExpectPlatformReading(const std::string& bytes)
{
    const TGlobalMemory block = GlobalCopy(bytes);
    const TPaths platform = PlatformPaths(block.Get());

    TPaths fromHandle = kKept;
    EXPECT_TRUE(ReadDropFiles(block.Get(), fromHandle));
    EXPECT_EQ(fromHandle, platform);

    const TGuardedCopy copy(bytes);
    EXPECT_TRUE(copy.EndsAtGuardPage());
    TPaths fromMemory = kKept;
    EXPECT_TRUE(ReadDropFiles(copy.Data(), copy.Size(), fromMemory));
    EXPECT_EQ(fromMemory, platform);
    return fromHandle;
}

struct TWellFormedCase {
    const char* Name;
    bool Wide;
    TPaths WideNames;
    std::vector<std::string> AnsiNames;
    size_t Gap;
    std::string Slack;
};

}  // namespace

TEST(DropFiles, WellFormedListsReadAsThePlatformReadsThem)
{
    const std::wstring wide300 = L"C:\\" + std::wstring(297, L'w');
    const std::wstring wide40000 = L"C:\\" + std::wstring(39997, L'v');
    const std::string ansi300 = "C:\\" + std::string(297, 'a');
    const TWellFormedCase cases[] = {
        {"wide, one name", true, {L"C:\\Docs\\a.txt"}, {}, 0, ""},
        {"wide, several names", true, {L"C:\\Docs", L"C:\\Docs\\a.txt", L"D:\\b"}, {}, 0, ""},
        {"wide, empty list", true, {}, {}, 0, ""},
        {"wide, letters beyond ASCII", true, {L"C:\\caf\x00E9\\\x00DF\x0416.txt"}, {}, 0, ""},
        {"wide, outside any ANSI code page",
         true,
         {L"C:\\\x65E5\x672C\\\x0416\x00E9", L"C:\\\xD83D\xDE00.txt"},
         {},
         0,
         ""},
        {"wide, 300 units", true, {wide300, L"C:\\short"}, {}, 0, ""},
        {"wide, 40000 units", true, {wide40000}, {}, 0, ""},
        {"wide, slack after the list", true, {L"C:\\a", L"C:\\b"}, {}, 0, "junk\x01\x02"},
        {"wide, odd byte after the list", true, {L"C:\\a"}, {}, 0, "\x7F"},
        {"wide, list at an odd offset", true, {L"C:\\a", L"C:\\\x65E5"}, {}, 1, ""},
        {"wide, empty list at an odd offset", true, {}, {}, 3, "x"},
        {"wide, gap before the list", true, {L"C:\\a"}, {}, 8, ""},
        {"ANSI, one name", false, {}, {"C:\\Docs\\a.txt"}, 0, ""},
        {"ANSI, several names", false, {}, {"C:\\Docs", "C:\\Docs\\a.txt", "D:\\b"}, 0, ""},
        {"ANSI, empty list", false, {}, {}, 0, ""},
        {"ANSI, bytes beyond ASCII",
         false,
         {},
         {"C:\\caf\xE9", "C:\\\x93\xFA\x96\x7B\\\xB1.txt", "C:\\\x95\x5C\\x"},
         0,
         ""},
        {"ANSI, lead byte before the terminator", false, {}, {"C:\\a\x81", "C:\\b"}, 0, ""},
        {"ANSI, 300 bytes", false, {}, {ansi300, "C:\\short"}, 0, ""},
        {"ANSI, slack after the list", false, {}, {"C:\\a"}, 0, "junk"},
        {"ANSI, gap before the list", false, {}, {"C:\\a"}, 5, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string list = c.Wide ? WideList(c.WideNames) : AnsiList(c.AnsiNames);
        const TPaths paths = ExpectPlatformReading(Block(c.Wide, list, c.Gap) + c.Slack);
        if (c.Wide)
            EXPECT_EQ(paths, c.WideNames);
        else
            EXPECT_EQ(paths.size(), c.AnsiNames.size());
    }
}

TEST(DropFiles, RandomListsReadAsThePlatformReadsThem)
{
    std::mt19937 random(20261211);
    auto pick = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        const bool wide = pick(0, 1) == 1;
        const int count = pick(0, 12);
        TPaths wideNames;
        std::vector<std::string> ansiNames;
        for (int n = 0; n < count; ++n) {
            const int length = pick(0, 9) == 0 ? pick(260, 700) : pick(1, 40);
            std::wstring wideName;
            std::string ansiName;
            for (int i = 0; i < length; ++i) {
                if (wide)
                    wideName += static_cast<wchar_t>(pick(1, 0xFFFF));
                else
                    ansiName += static_cast<char>(pick(1, 0xFF));
            }
            wideNames.push_back(wideName);
            ansiNames.push_back(ansiName);
        }
        std::string slack(static_cast<size_t>(pick(0, 5)), '\0');
        for (char& byte : slack) byte = static_cast<char>(pick(0, 0xFF));
        const std::string list = wide ? WideList(wideNames) : AnsiList(ansiNames);
        const TPaths paths = ExpectPlatformReading(Block(wide, list, pick(0, 3)) + slack);
        if (wide)
            EXPECT_EQ(paths, wideNames);
        else
            EXPECT_EQ(paths.size(), ansiNames.size());
    }
}

TEST(DropFiles, MalformedBlocksAreRefused)
{
    struct TCase {
        const char* Name;
        std::string Block;
    };
    const std::string wideName = Bytes(L"C:\\x");
    const std::string block = Block(true, WideList({L"C:\\x"}));
    const std::string cutUnit(1, '\0');
    const TCase cases[] = {
        {"no bytes", ""},
        {"shorter than the header", block.substr(0, sizeof(DROPFILES) - 1)},
        {"header only", Block(true, "")},
        {"offset zero", WithOffset(block, 0)},
        {"offset at the header's zero fNC", WithOffset(block, offsetof(DROPFILES, fNC))},
        {"offset one short of the header's end", WithOffset(block, sizeof(DROPFILES) - 1)},
        {"offset at the end", WithOffset(block, block.size())},
        {"offset past the end", WithOffset(block, block.size() + 1)},
        {"offset far past the end", WithOffset(block, 0x7FFFFFF0)},
        {"offset at the top", WithOffset(block, 0xFFFFFFFF)},
        {"wide, name running to the end", Block(true, wideName)},
        {"wide, no closing empty name", Block(true, wideName + kWideTerminator)},
        {"wide, empty list of one terminator at the end", Block(true, kWideTerminator)},
        {"wide, closing terminator cut in half", Block(true, wideName + kWideTerminator + cutUnit)},
        {"wide, odd offset, closing terminator cut in half",
         Block(true, wideName + kWideTerminator + cutUnit, 1)},
        {"wide, one byte of list", Block(true, cutUnit)},
        {"wide, empty first name before a name",
         Block(true, kWideTerminator + wideName + kWideTerminator + kWideTerminator)},
        {"wide, terminators only in the gap", Block(true, wideName, 4)},
        {"ANSI, name running to the end", Block(false, "C:\\x")},
        {"ANSI, no closing empty name", Block(false, std::string("C:\\x\0", 5))},
        {"ANSI, empty list of one terminator at the end", Block(false, std::string(1, '\0'))},
        {"ANSI, empty first name before a name", Block(false, std::string("\0C:\\x\0\0", 7))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TGlobalMemory memory = GlobalCopy(c.Block);
        TPaths paths = kKept;
        EXPECT_FALSE(ReadDropFiles(memory.Get(), paths));
        EXPECT_EQ(paths, kKept);

        const TGuardedCopy copy(c.Block);
        ASSERT_TRUE(copy.EndsAtGuardPage());
        paths = kKept;
        EXPECT_FALSE(ReadDropFiles(copy.Data(), copy.Size(), paths));
        EXPECT_EQ(paths, kKept);
    }
}

TEST(DropFiles, MissingMemoryIsRefused)
{
    TPaths paths = kKept;
    EXPECT_FALSE(ReadDropFiles(HGLOBAL(nullptr), paths));
    const TGlobalMemory discarded(GlobalAlloc(GMEM_MOVEABLE, 0));
    ASSERT_TRUE(discarded);
    EXPECT_FALSE(ReadDropFiles(discarded.Get(), paths));
    const std::string block = Block(true, WideList({L"C:\\a"}));
    EXPECT_FALSE(ReadDropFiles(nullptr, block.size(), paths));
    EXPECT_EQ(paths, kKept);
}

// The reader's own lock is gone afterwards, read or refused, and one the
// caller holds stays.
TEST(DropFiles, LockCountIsAsBefore)
{
    const std::string blocks[] = {Block(true, WideList({L"C:\\a"})), Block(true, kWideTerminator)};
    for (const auto& bytes : blocks) {
        for (UINT held = 0; held < 2; ++held) {
            SCOPED_TRACE(held);
            const TGlobalMemory memory = GlobalCopy(bytes);
            for (UINT i = 0; i < held; ++i) GlobalLock(memory.Get());
            TPaths paths;
            ReadDropFiles(memory.Get(), paths);
            EXPECT_EQ(GlobalFlags(memory.Get()) & GMEM_LOCKCOUNT, held);
            for (UINT i = 0; i < held; ++i) GlobalUnlock(memory.Get());
        }
    }
}

TEST(DropFiles, FixedMemoryIsReadToo)
{
    const std::string bytes = Block(true, WideList({L"C:\\a", L"C:\\b"}));
    const TGlobalMemory memory = GlobalCopy(bytes, GMEM_FIXED);
    TPaths paths;
    EXPECT_TRUE(ReadDropFiles(memory.Get(), paths));
    EXPECT_EQ(paths, (TPaths{L"C:\\a", L"C:\\b"}));
}

// ANSI names are in the process's ANSI code page; the tests run once in
// code page 1252 and once in 932.
TEST(DropFiles, AnsiNamesTakeTheAnsiCodePage)
{
    const UINT codePage = GetACP();
    std::string name;
    std::wstring expected;
    if (codePage == 932) {
        name = "C:\\\x93\xFA\x96\x7B\\\xB1\x95\x5C.txt";
        expected = L"C:\\\x65E5\x672C\\\xFF71\x8868.txt";
    } else if (codePage == 1252) {
        name = "C:\\caf\xE9\\\xB1\x80.txt";
        expected = L"C:\\caf\x00E9\\\x00B1\x20AC.txt";
    } else {
        GTEST_SKIP() << "code page " << codePage;
    }
    EXPECT_EQ(ExpectPlatformReading(Block(false, AnsiList({name, "C:\\b"}))),
              (TPaths{expected, L"C:\\b"}));
}
