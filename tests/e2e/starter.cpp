// Under Wine, the program that starts the tool in a case with a `parent` line, copied under the
// name given there (explorer.exe stands for Explorer): it runs the rest of its command line, as it
// came, with its own console and standard handles, waits for it and ends with its exit code.
#include <windows.h>

#include "platform/command_line.h"

int main() {
    wchar_t* line = platform::skipProgramName(GetCommandLineW());
    while (platform::isArgumentBlank(*line)) {
        ++line;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
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
    return static_cast<int>(code);
}
