#include "DropFiles.h"

#include <shellapi.h>
#include <shlobj.h>

// Placeholder: the old reader, replaced by the one-pass reader.
bool ReadDropFiles(HGLOBAL memory, std::vector<std::wstring>& paths)
{
    const SIZE_T size = GlobalSize(memory);
    if (size < sizeof(DROPFILES)) return false;
    const auto* header = static_cast<const DROPFILES*>(GlobalLock(memory));
    if (header == nullptr) return false;
    bool wellFormed = header->pFiles >= sizeof(DROPFILES) && header->pFiles < size;
    UINT names = 0;
    if (wellFormed) {
        const auto* bytes = reinterpret_cast<const BYTE*>(header);
        const SIZE_T unit = header->fWide ? sizeof(wchar_t) : 1;
        const SIZE_T count = (size - header->pFiles) / unit;
        wellFormed = false;
        bool previousWasTerminator = true;
        for (SIZE_T i = 0; i < count; ++i) {
            const BYTE* at = bytes + header->pFiles + i * unit;
            const bool terminator = unit == 1 ? *at == 0 : (at[0] == 0 && at[1] == 0);
            if (terminator && previousWasTerminator) {
                wellFormed = true;
                break;
            }
            if (terminator) ++names;
            previousWasTerminator = terminator;
        }
    }
    GlobalUnlock(memory);
    if (!wellFormed) return false;
    const auto drop = static_cast<HDROP>(memory);
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    if (count > names) count = names;
    paths.clear();
    for (UINT index = 0; index < count; ++index) {
        const UINT length = DragQueryFileW(drop, index, nullptr, 0);
        std::wstring path(static_cast<size_t>(length) + 1, L'\0');
        const UINT copied = DragQueryFileW(drop, index, &path[0], length + 1);
        path.resize(copied <= length ? copied : length);
        paths.push_back(std::move(path));
    }
    return true;
}
