// Conversions between the code pages the Windows build meets: UTF-16, UTF-8 (the tool's texts,
// PKCS#11 labels), the ANSI code page (command lines) and Shift_JIS (the texts redirected).
#pragma once

#include <windows.h>

#include <string>

namespace platform {

// The code page in which the tool's Japanese texts have always been written when redirected.
constexpr UINT kShiftJis = 932;

std::wstring widened(UINT codePage, const std::string& bytes, DWORD flags = 0);
std::string narrowed(UINT codePage, const std::wstring& text, DWORD flags = 0);

// One of the tool's own texts (UTF-8) in Shift_JIS.
std::string inShiftJis(const std::string& text);

// The code page of bytes from outside the tool: UTF-8 where they are valid UTF-8, as PKCS#11 labels
// are, else the ANSI code page, in which the command line gives text.
UINT codePageOf(const std::string& bytes);

// The PIN in the ANSI code page, as the command line has always given it, with full-width forms
// turned into ASCII first, in a buffer that never moves. The wide text is erased.
std::string pinInAnsiCodePage(std::wstring& text);

}  // namespace platform
