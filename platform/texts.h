// The user-facing Japanese texts, as UTF-8 for POSIX terminals and as code page 932
// (Shift_JIS) for the Windows console. Both tables hold the same characters.
#pragma once

namespace texts {

struct ConsoleTexts {
    const char* usage;       // with the program name
    const char* example;     // with the program name
    const char* outputFile;  // with the output path
    const char* prompt;
    const char* processing;
};

extern const ConsoleTexts kUtf8;
extern const ConsoleTexts kShiftJis;

// The table of the platform this binary runs on.
const ConsoleTexts& console();

}  // namespace texts
