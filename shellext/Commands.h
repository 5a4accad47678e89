#pragma once
// The commands of the submenu, as data: what QueryContextMenu adds, what
// GetCommandString answers and what InvokeCommand runs all come from here.
#include "VESK_Consts.h"
#include "WatchList.h"

#include <windows.h>

struct TCommand {
    UINT Offset;                // from the host's first command identifier
    UINT ItemTextId;            // the menu item's caption
    UINT HelpTextId;            // the help text, also reported as the verb
    const wchar_t* Topic;       // the DDE topic the selection is handed over on
    TCommandState EnabledFrom;  // the least watch state that enables it
};

// Offset 0 is the submenu item itself, which runs nothing.
constexpr UINT kSubmenuOffset = 0;

constexpr TCommand kCommands[] = {
    {1, IDS_BACKUP_ITEM, IDS_BACKUP_HELP, kBackupTopic, TCommandState::Both},
    {2, IDS_RESTORE_ITEM, IDS_RESTORE_HELP, kRestoreTopic, TCommandState::RestoreOnly},
};

// The submenu item and one identifier per command.
constexpr UINT kIdentifiersUsed = 1 + sizeof(kCommands) / sizeof(kCommands[0]);

// The command at an offset, or null.
inline const TCommand* FindCommand(UINT_PTR offset) noexcept
{
    for (const auto& command : kCommands)
        if (command.Offset == offset) return &command;
    return nullptr;
}

inline bool IsEnabledIn(const TCommand& command, TCommandState state) noexcept
{
    return state >= command.EnabledFrom;
}
