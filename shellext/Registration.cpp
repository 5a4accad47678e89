// Per-user registration of the extension (pending).
#include "VESK_SHExt.h"
#include "../support/VeskError.h"

void TShellExtensionFactory::UpdateRegistry(bool)
{
    throw EVeskError(L"registration is not available yet");
}
