#pragma once
// The work of a hand-off on its thread: a DDE instance of its own, the
// link to the main application, the one execute request, and the close.
#include "HandOff.h"

#include <string>
#include <vector>

class TDdeHandOff final : public THandOffWork {
public:
    // serverExe: the program to start once when no server answers.
    TDdeHandOff(std::wstring topic, std::vector<std::wstring> lines, std::wstring serverExe);

    void Run(THandOffGate& gate) noexcept override;

private:
    const std::wstring FTopic;
    const std::vector<std::wstring> FLines;
    const std::wstring FServerExe;
};
