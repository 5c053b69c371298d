// Run under Wine as `command_line_mask_check.exe PIN OUTPUT`: takes the output path and the PIN and
// masks the PIN as the tool does at start-up, then looks for it in both command-line buffers and in
// the runtime's copies. Wine's runtime gives the wide arguments in one shared block; this check's
// stand-in for the runtime's split gives a new block on every call, as another runtime may, and
// every block given must be masked.
#include <windows.h>
// Included after windows.h, like the tool's own Windows code.
#include <corecrt_startup.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"

struct StartupInfo;
extern "C" int __cdecl __real___wgetmainargs(int* count, wchar_t*** arguments,
                                             wchar_t*** environment, int expandWildcards,
                                             StartupInfo* info);

namespace {

std::vector<wchar_t**> argumentBlocks;

}  // namespace

// Linked in place of msvcrt's split (--wrap): a copy of its arguments in a block of their own.
extern "C" int __cdecl __wrap___wgetmainargs(int* count, wchar_t*** arguments,
                                             wchar_t*** environment, int expandWildcards,
                                             StartupInfo* info) {
    const int result = __real___wgetmainargs(count, arguments, environment, expandWildcards, info);
    if (result == 0 && *arguments) {
        wchar_t** copy = new wchar_t*[*count + 1]();
        for (int i = 0; i < *count; ++i) {
            copy[i] = _wcsdup((*arguments)[i]);
        }
        argumentBlocks.push_back(copy);
        *arguments = copy;
    }
    return result;
}

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
    // As the tool starts: the output path and the PIN from the wide arguments, then the mask.
    const std::wstring path = platform::pathArgument(argv, 2);
    std::string taken = platform::pinArgument(argv, 1);
    platform::maskCommandLineArgument(argv, 1);
    platform::eraseSecret(&taken[0], taken.size());
    check("pathArgument", path.c_str(), pin, output);
    check("GetCommandLineW", GetCommandLineW(), pin, output);
    check("GetCommandLineA", widened(GetCommandLineA()).c_str(), pin, output);
    check("_wcmdln", _wcmdln, pin, output);
    check("_acmdln", _acmdln ? widened(_acmdln).c_str() : nullptr, pin, output);
    check("argv[1]", widened(argv[1]).c_str(), pin, L"");
    check("__argv[1]", widened(__argv[1]).c_str(), pin, L"");
    check("__wargv[1]", __wargv ? __wargv[1] : nullptr, pin, L"");
    for (wchar_t** block : argumentBlocks) {
        check("split block[1]", block[1], pin, L"");
    }
    return failures == 0 ? 0 : 1;
}
