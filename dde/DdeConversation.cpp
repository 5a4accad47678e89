#include "DdeConversation.h"
// Placeholder so the module links; the real conversation replaces it.
TDdeInstance::TDdeInstance() {}
TDdeInstance::~TDdeInstance() {}
std::wstring TDdeInstance::ErrorText(UINT) { return std::wstring(); }
HDDEDATA CALLBACK TDdeInstance::DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }
TDdeConversation::TDdeConversation(TDdeInstance& instance, std::wstring fallbackProgram)
    : FInstance(instance), FFallbackProgram(std::move(fallbackProgram)) {}
TDdeConversation::~TDdeConversation() {}
bool TDdeConversation::SetLink(const std::wstring&, const std::wstring&) { return false; }
bool TDdeConversation::OpenLink() { return false; }
bool TDdeConversation::ExecuteMacroLines(const std::vector<std::wstring>&, bool) { return false; }
bool TDdeConversation::ExecuteMacro(const char*, bool) { return false; }
void TDdeConversation::CloseLink() {}
