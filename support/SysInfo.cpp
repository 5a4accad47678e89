#include "SysInfo.h"

#include <vector>

extern "C" IMAGE_DOS_HEADER __ImageBase;

std::wstring GetModulePathOf(HMODULE module)
{
    // The platform cuts the path to the buffer (and says so by filling it
    // whole), so grow until the path fits.
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD stored = GetModuleFileNameW(module, buffer.data(), size);
        if (stored == 0) return std::wstring();
        if (stored < size) return std::wstring(buffer.data(), stored);
        if (size >= 0x10000) return std::wstring();  // no valid path is that long
        buffer.resize(size * 2);
    }
}

std::wstring GetModulePath()
{
    return GetModulePathOf(reinterpret_cast<HMODULE>(&__ImageBase));
}

namespace {

std::wstring::size_type LastSeparator(const std::wstring& path)
{
    return path.find_last_of(L"\\:");
}

}  // namespace

std::wstring ExtractFilePath(const std::wstring& path)
{
    const auto at = LastSeparator(path);
    return at == std::wstring::npos ? std::wstring() : path.substr(0, at + 1);
}

std::wstring ExtractFileDir(const std::wstring& path)
{
    const auto at = LastSeparator(path);
    if (at == std::wstring::npos) return std::wstring();
    const bool keepSeparator = path[at] == L':' || at == 0 || path[at - 1] == L'\\' ||
                               path[at - 1] == L':';
    return path.substr(0, keepSeparator ? at + 1 : at);
}

std::wstring ExtractFileName(const std::wstring& path)
{
    const auto at = LastSeparator(path);
    return at == std::wstring::npos ? path : path.substr(at + 1);
}
