#pragma once
// Reads the file list of a CF_HDROP block: a DROPFILES header, then at
// pFiles the names, each closed by a terminator, and an empty name that
// closes the list.  The names are 16-bit units when fWide is nonzero and
// bytes in the process's ANSI code page (CP_ACP, as DragQueryFileW takes
// them) otherwise.
//
// The whole list is checked and read in one pass, and no byte outside the
// block is read, whatever it holds.  Refused:
//   - a block shorter than the header;
//   - pFiles inside the header, or at or past the end of the block;
//   - a list without two terminators in a row inside the block: a name
//     that runs to the end, a last name with no closing empty name, and an
//     empty list that is a single terminator (the platform's reader looks
//     at the unit after it);
//   - an empty first name followed by a name ("\0name\0\0");
//   - for wide lists, a unit that straddles the end of the block: an odd
//     byte left over after the last whole unit is not part of the list;
//   - an ANSI name the code page conversion fails on.
// Anything after the closing terminators (slack) is not looked at.  Odd
// pFiles are fine: units are read byte-wise.  Names are whole at any
// length; the empty list gives no paths.

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

// True with the names in paths (replacing what it held); false for a
// malformed block, with paths untouched.  Locks and unlocks the block, and
// takes its size from GlobalSize.  May throw std::bad_alloc.
bool ReadDropFiles(HGLOBAL block, std::vector<std::wstring>& paths);

// The same over size bytes at data, which need no alignment.
bool ReadDropFiles(const void* data, size_t size, std::vector<std::wstring>& paths);
