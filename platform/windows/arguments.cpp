// The command-line arguments, taken from the wide command line so that every character typed is
// kept: the output path, the PIN, and the PIN's mask wherever the process keeps its command line.
#include <windows.h>
// Included after windows.h, which it needs.
#include <corecrt_startup.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "platform/command_line.h"
#include "platform/platform.h"
#include "platform/windows/encoding.h"

// msvcrt's wide twin of the split that gives main its arguments; MinGW-w64 declares it only for its
// own start-up code.
struct StartupInfo {
    int newMode;
};
extern "C" int __cdecl __wgetmainargs(int* count, wchar_t*** arguments, wchar_t*** environment,
                                      int expandWildcards, StartupInfo* info);

namespace platform {
namespace {

struct WideArguments {
    int count = 0;
    wchar_t** list = nullptr;
};

// Split once, as the narrow arguments are, without wildcards: a runtime may build a new block on
// every call, and each block that held the PIN would need its own mask. This also sets __wargv.
const WideArguments& wideArguments() {
    static const WideArguments arguments = [] {
        WideArguments split;
        wchar_t** environment = nullptr;
        StartupInfo info = {0};
        if (__wgetmainargs(&split.count, &split.list, &environment, 0, &info) != 0) {
            split = WideArguments();
        }
        return split;
    }();
    return arguments;
}

// Masks entry `index` of a null-terminated argument list, if it has one.
template <typename Char, typename Length>
void maskListedArgument(Char** list, int index, Length length) {
    if (!list) {
        return;
    }
    for (int i = 0; i <= index; ++i) {
        if (!list[i]) {
            return;
        }
    }
    std::fill(list[index], list[index] + length(list[index]), Char('*'));
}

}  // namespace

NativePath pathArgument(char* argv[], int index) {
    const WideArguments& arguments = wideArguments();
    if (arguments.list && index < arguments.count) {
        return arguments.list[index];
    }
    return widened(CP_ACP, argv[index]);
}

std::string pinArgument(char* argv[], int index) {
    NativePath text = pathArgument(argv, index);
    return pinInAnsiCodePage(text);
}

void maskCommandLineArgument(char* argv[], int index) {
    // Other processes read the line that GetCommandLineW returns, from the process parameters.
    // The runtime keeps copies of the line and of the split arguments; each gets the same mask.
    for (wchar_t* line : {GetCommandLineW(), _wcmdln}) {
        if (line) {
            maskArgumentInCommandLine(line, index, L'*');
        }
    }
    for (char* line : {GetCommandLineA(), _acmdln}) {
        if (line) {
            maskArgumentInCommandLine(line, index, '*');
        }
    }
    for (char** list : {argv, __argv}) {
        maskListedArgument(list, index, std::strlen);
    }
    for (wchar_t** list : {__wargv, wideArguments().list}) {
        maskListedArgument(list, index, std::wcslen);
    }
}

}  // namespace platform
