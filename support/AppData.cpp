#include "AppData.h"
#include "Handles.h"
#include "SysInfo.h"
#include "VeskError.h"

#include <windows.h>
#include <shlobj.h>

namespace {

const DWORD kSectionListFirstCapacity = 16384;
const DWORD kValueCapacity = 2048;
const DWORD kKeyListFirstCapacity = 1024;

const wchar_t kWriteErrorText[] = L"%s に書き込めません";
const wchar_t kReadErrorText[] = L"%s を読み込めません";

DWORD FileSizeInBytes(const std::wstring& fileName)
{
    TKernelHandle file(CreateFileW(fileName.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw EVeskError(FormatMessageText(kReadErrorText, fileName));
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x3FFFFFFF)
        throw EVeskError(FormatMessageText(kReadErrorText, fileName));
    return static_cast<DWORD>(size.QuadPart);
}

// Appends the null-separated names of the first count characters.
void SplitNameList(const wchar_t* names, DWORD count, TStringList& strings)
{
    const wchar_t* at = names;
    const wchar_t* const end = names + count;
    while (at < end) {
        const std::wstring name(at);
        strings.push_back(name);
        at += name.size() + 1;
    }
}

}  // namespace

bool DirectoryExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A link: it counts when its target can be opened.
    TKernelHandle target(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!target) return false;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ForceDirectories(std::wstring path)
{
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    if (DirectoryExists(path)) return true;
    const std::wstring parent = ExtractFilePath(path);
    if (path.size() < 3 || parent == path) return CreateDirectoryW(path.c_str(), nullptr) != FALSE;
    if (!ForceDirectories(parent)) return false;
    return CreateDirectoryW(path.c_str(), nullptr) != FALSE;
}

std::wstring GetSpecialFolderFile(int FolderId, const std::wstring& RelativeFile)
{
    wchar_t folder[MAX_PATH + 1] = {};
    // A failed lookup leaves the buffer empty; the path is built on that.
    SHGetSpecialFolderPathW(nullptr, folder, FolderId, FALSE);
    const std::wstring target = std::wstring(folder) + L"\\" + ExtractFileDir(RelativeFile);
    if (!DirectoryExists(target)) ForceDirectories(target);
    return target + L"\\" + ExtractFileName(RelativeFile);
}

std::wstring GetAppDataFile(const std::wstring& RelativeFile)
{
    return GetSpecialFolderFile(CSIDL_APPDATA, RelativeFile);
}

TAppIniFile::TAppIniFile(std::wstring FileName) : FFileName(std::move(FileName))
{
}

TAppIniFile::~TAppIniFile()
{
    UpdateFile();
}

void TAppIniFile::ReadSections(TStringList& Strings) const
{
    Strings.clear();
    std::vector<wchar_t> buffer(kSectionListFirstCapacity);
    DWORD count = GetPrivateProfileStringW(nullptr, nullptr, nullptr, buffer.data(),
                                           static_cast<DWORD>(buffer.size()), FFileName.c_str());
    if (count == kSectionListFirstCapacity - 2) {
        // The list filled the buffer.  A file of n bytes holds at most n
        // characters in any encoding the profile functions read, so a buffer
        // of its size and the list's two closing NULs holds every name.
        const DWORD capacity = FileSizeInBytes(FFileName) + 2;
        buffer.assign(capacity, L'\0');
        count = GetPrivateProfileStringW(nullptr, nullptr, nullptr, buffer.data(), capacity,
                                         FFileName.c_str());
    }
    SplitNameList(buffer.data(), count, Strings);
}

void TAppIniFile::ReadSection(const std::wstring& Section, TStringList& Strings) const
{
    DWORD capacity = kKeyListFirstCapacity;
    std::vector<wchar_t> buffer;
    DWORD count = 0;
    for (;;) {
        buffer.assign(capacity, L'\0');
        count = GetPrivateProfileStringW(Section.c_str(), nullptr, nullptr, buffer.data(), capacity,
                                         FFileName.c_str());
        if (count < capacity - 2) break;
        capacity *= 4;
    }
    Strings.clear();
    if (count == 0) return;
    for (const wchar_t* at = buffer.data(); *at != L'\0';) {
        const std::wstring name(at);
        Strings.push_back(name);
        at += name.size() + 1;
    }
}

bool TAppIniFile::SectionExists(const std::wstring& Section) const
{
    TStringList keys;
    ReadSection(Section, keys);
    return !keys.empty();
}

std::wstring TAppIniFile::ReadString(const std::wstring& Section, const std::wstring& Ident,
                                     const std::wstring& Default) const
{
    wchar_t buffer[kValueCapacity];
    const DWORD count = GetPrivateProfileStringW(Section.c_str(), Ident.c_str(), Default.c_str(),
                                                 buffer, kValueCapacity, FFileName.c_str());
    return std::wstring(buffer, count);
}

void TAppIniFile::WriteString(const std::wstring& Section, const std::wstring& Ident,
                              const std::wstring& Value)
{
    if (!WritePrivateProfileStringW(Section.c_str(), Ident.c_str(), Value.c_str(),
                                    FFileName.c_str()))
        RaiseWriteError();
}

void TAppIniFile::WriteQuotedString(const std::wstring& Section, const std::wstring& Ident,
                                    const std::wstring& Value)
{
    WriteString(Section, Ident, L"'" + Value + L"'");
}

void TAppIniFile::EraseSection(const std::wstring& Section)
{
    if (!WritePrivateProfileStringW(Section.c_str(), nullptr, nullptr, FFileName.c_str()))
        RaiseWriteError();
}

void TAppIniFile::DeleteSection(const std::wstring& Section)
{
    if (SectionExists(Section)) EraseSection(Section);
}

void TAppIniFile::Clear()
{
    TStringList sections;
    ReadSections(sections);
    for (const auto& section : sections) EraseSection(section);
}

void TAppIniFile::UpdateFile() noexcept
{
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, FFileName.c_str());
}

void TAppIniFile::RaiseWriteError() const
{
    throw EVeskError(FormatMessageText(kWriteErrorText, FFileName));
}
