#pragma once
// The one error type raised inside the extension.  It carries the
// user-visible message text; COM methods and exports catch it at their
// boundary and turn it into an HRESULT or a message box.
#include <exception>
#include <string>

class EVeskError : public std::exception {
public:
    explicit EVeskError(std::wstring message) : FMessage(std::move(message)) {}
    const std::wstring& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return "EVeskError"; }

private:
    std::wstring FMessage;
};

// Builds a message from a pattern holding one "%s".
std::wstring FormatMessageText(const std::wstring& pattern, const std::wstring& argument);
