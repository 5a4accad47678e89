#pragma once
#include <string>
#include <vector>

// Full path of RelativeFile below a special folder (a CSIDL value); the
// file's folder is created, with its parents, when missing.  Never fails.
std::wstring GetSpecialFolderFile(int FolderId, const std::wstring& RelativeFile);
// The same below the current user's roaming application-data folder.
std::wstring GetAppDataFile(const std::wstring& RelativeFile);

// True when a folder stands at the path (links followed).
bool DirectoryExists(const std::wstring& path);
// Creates the folder and every missing parent; false at the first failure.
bool ForceDirectories(std::wstring path);

using TStringList = std::vector<std::wstring>;

// One settings file in the platform's private-profile (INI) form.  Holds
// only its file name; every operation goes to the platform's profile
// functions afresh.  Write failures raise EVeskError.
class TAppIniFile {
public:
    explicit TAppIniFile(std::wstring FileName);
    ~TAppIniFile();  // asks the platform to write out its cached copy
    TAppIniFile(const TAppIniFile&) = delete;
    TAppIniFile& operator=(const TAppIniFile&) = delete;

    const std::wstring& FileName() const noexcept { return FFileName; }

    void ReadSections(TStringList& Strings) const;
    void ReadSection(const std::wstring& Section, TStringList& Strings) const;
    bool SectionExists(const std::wstring& Section) const;
    std::wstring ReadString(const std::wstring& Section, const std::wstring& Ident,
                            const std::wstring& Default) const;
    void WriteString(const std::wstring& Section, const std::wstring& Ident,
                     const std::wstring& Value);
    void WriteQuotedString(const std::wstring& Section, const std::wstring& Ident,
                           const std::wstring& Value);
    void EraseSection(const std::wstring& Section);
    void DeleteSection(const std::wstring& Section);
    void Clear();
    void UpdateFile() noexcept;

private:
    [[noreturn]] void RaiseWriteError() const;

    const std::wstring FFileName;
};
