#include "DropFiles.h"
#include "Handles.h"
#include "TextConv.h"

#include <windows.h>
#include <shlobj.h>

#include <climits>
#include <cstring>
#include <utility>

namespace {

}  // namespace

bool ReadDropFiles(const void* data, size_t size, std::vector<std::wstring>& paths)
{
    if (data == nullptr || size < sizeof(DROPFILES)) return false;
    DROPFILES header;
    std::memcpy(&header, data, sizeof(header));
    if (header.pFiles < sizeof(DROPFILES) || header.pFiles >= size) return false;

    const bool wide = header.fWide != FALSE;
    const size_t unit = wide ? sizeof(wchar_t) : 1;
    const BYTE* list = static_cast<const BYTE*>(data) + header.pFiles;
    const size_t units = (size - header.pFiles) / unit;
    // Byte-wise, so that an odd pFiles needs no aligned access.
    auto isTerminator = [&](size_t i) {
        const BYTE* at = list + i * unit;
        return wide ? (at[0] == 0 && at[1] == 0) : at[0] == 0;
    };

    std::vector<std::wstring> names;
    size_t start = 0;  // first unit of the name being read
    for (size_t i = 0; i < units; ++i) {
        if (!isTerminator(i)) continue;
        if (i == start) {
            // The closing empty name.  An empty list must be two
            // terminators as well: the platform reads the unit after.
            if (i == 0 && !(units > 1 && isTerminator(1))) return false;
            paths = std::move(names);
            return true;
        }
        const size_t length = i - start;
        std::wstring name;
        if (wide) {
            name.assign(length, L'\0');
            std::memcpy(&name[0], list + start * unit, length * unit);
        } else if (!MultiByteToWide(reinterpret_cast<const char*>(list + start), length, CP_ACP,
                                    name)) {
            return false;
        }
        names.push_back(std::move(name));
        start = i + 1;
    }
    return false;
}

bool ReadDropFiles(HGLOBAL block, std::vector<std::wstring>& paths)
{
    if (block == nullptr) return false;
    const SIZE_T size = GlobalSize(block);
    const void* data = GlobalLock(block);
    if (data == nullptr) return false;
    TGlobalLock lock(block);
    return ReadDropFiles(data, size, paths);
}
