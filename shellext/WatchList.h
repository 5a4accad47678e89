#pragma once
// The main application's watch list (Watches.ini) and the decision which
// commands apply to a selected path.
#include <string>

// Ordered: each state enables what the one before it does, and more.
enum class TCommandState { None, RestoreOnly, Both };

// Where the watch list lies, below the roaming application-data folder.
extern const wchar_t kWatchListFile[];  // "Harrowfen\\Vesk\\Watches.ini"

// True when SelectedPath falls under WatchPath.  With a capital "D" in
// Attribute: WatchPath is a prefix of SelectedPath (no separator check).
// Without: SelectedPath is WatchPath itself or one of its direct children.
// Letters are compared with ASCII case folding only.
bool MatchWatchPath(std::wstring WatchPath, std::wstring SelectedPath, std::wstring Attribute);

// Reads the watch list at WatchListFile; the first watch whose Source
// (Both) or Dest (RestoreOnly) matches the path decides.
TCommandState DecideCommandState(const std::wstring& WatchListFile, const std::wstring& FirstPath);

// The same for the current user's watch list (its folder is created when missing).
TCommandState DecideCommandState(const std::wstring& FirstPath);
