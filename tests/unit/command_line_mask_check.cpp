// Run under Wine as `command_line_mask_check.exe PIN OUTPUT`: takes the output path and masks the
// PIN as the tool does at start-up, then looks for it in both command-line buffers and in the
// runtime's copies.
#include <windows.h>
// Included after windows.h, like the tool's own Windows code.
#include <corecrt_startup.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "platform/platform.h"

namespace {

int failures = 0;

std::wstring widened(const char* text) {
    return std::wstring(text, text + std::strlen(text));  // the test's values are ASCII
}

// Every blank-separated word of the PIN must be gone; the output path, where given, kept.
void check(const char* where, const wchar_t* text, const std::wstring& pin,
           const std::wstring& output) {
    const std::wstring found = text ? text : L"";
    std::wistringstream words(pin);
    bool pinGone = true;
    for (std::wstring word; words >> word;) {
        pinGone = pinGone && found.find(word) == std::wstring::npos;
    }
    const bool outputKept = output.empty() || found.find(output) != std::wstring::npos;
    std::printf("%-16s %ls%s%s\n", where, found.c_str(), pinGone ? "" : "  <- holds the PIN",
                outputKept ? "" : "  <- lost the output path");
    failures += !pinGone || !outputKept;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::printf("usage: command_line_mask_check PIN OUTPUT\n");
        return 2;
    }
    const std::wstring pin = widened(argv[1]), output = widened(argv[2]);
    // As the tool starts: the output path from the wide arguments, then the mask.
    const std::wstring path = platform::pathArgument(argv, 2);
    platform::maskCommandLineArgument(argv, 1);
    check("pathArgument", path.c_str(), pin, output);
    check("GetCommandLineW", GetCommandLineW(), pin, output);
    check("GetCommandLineA", widened(GetCommandLineA()).c_str(), pin, output);
    check("_wcmdln", _wcmdln, pin, output);
    check("_acmdln", _acmdln ? widened(_acmdln).c_str() : nullptr, pin, output);
    check("argv[1]", widened(argv[1]).c_str(), pin, L"");
    check("__argv[1]", widened(__argv[1]).c_str(), pin, L"");
    check("__wargv[1]", __wargv ? __wargv[1] : nullptr, pin, L"");
    return failures == 0 ? 0 : 1;
}
