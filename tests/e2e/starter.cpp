// Under Wine, the program that starts the tool in a case with a `parent` line, copied under the
// name given there (explorer.exe stands for Explorer, cmd.exe for a shell): it runs the rest of its
// command line, as it came, with its own console and standard handles, waits for it and ends with
// its exit code. As a shell would suffer it, it says on standard error when the tool left the
// console's input mode changed.
#include <windows.h>

#include <cstdio>

#include "platform/command_line.h"

namespace {

// Ctrl+C and Ctrl+Break reach every process on the console: they are the tool's to handle.
BOOL WINAPI outlastBreaks(DWORD) {
    return TRUE;
}

}  // namespace

int main() {
    wchar_t* line = platform::skipProgramName(GetCommandLineW());
    while (platform::isArgumentBlank(*line)) {
        ++line;
    }
    SetConsoleCtrlHandler(outlastBreaks, TRUE);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD modeBefore = 0, modeAfter = 0;
    const bool console = GetConsoleMode(input, &modeBefore) != FALSE;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return 126;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 126;
    GetExitCodeProcess(process.hProcess, &code);
    if (console && GetConsoleMode(input, &modeAfter) && modeAfter != modeBefore) {
        std::fprintf(stderr, "console input mode left at %lx, was %lx\n", modeAfter, modeBefore);
    }
    return static_cast<int>(code);
}
