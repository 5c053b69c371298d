// Standard output: a console gets UTF-16 through the console API, redirected output the bytes it
// always had, the tool's texts in Shift_JIS.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <iostream>

#include "platform/platform.h"
#include "platform/windows/console.h"
#include "platform/windows/encoding.h"

namespace platform {
namespace {

std::string vformatted(const char* format, va_list values) {
    va_list measuring;
    va_copy(measuring, values);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length <= 0) {
        return std::string();
    }
    std::string text(length + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, values);
    text.resize(length);
    return text;
}

std::string formatted(const char* format, ...) {
    va_list values;
    va_start(values, format);
    std::string text = vformatted(format, values);
    va_end(values);
    return text;
}

// A message with one value from outside the tool on the console.
void writeConsoleWithValue(const char* format, const std::wstring& value) {
    writeConsole(widened(CP_UTF8, formatted(format, narrowed(CP_UTF8, value).c_str())));
}

}  // namespace

void print(const char* format, ...) {
    va_list values;
    va_start(values, format);
    const std::string text = vformatted(format, values);
    va_end(values);
    if (outputIsConsole()) {
        writeConsole(widened(CP_UTF8, text));
    } else {
        std::fputs(inShiftJis(text).c_str(), stdout);
    }
}

void printText(const char* format, const std::string& text) {
    if (!outputIsConsole()) {
        std::printf(inShiftJis(format).c_str(), text.c_str());
        return;
    }
    writeConsoleWithValue(format, widened(codePageOf(text), text));
}

void printPath(const char* format, const NativePath& path) {
    if (outputIsConsole()) {
        writeConsoleWithValue(format, path);
        return;
    }
    // No best fit: a look-alike (e for é) would name another file. UTF-8 takes no such flag.
    const DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    std::printf(inShiftJis(format).c_str(), narrowed(CP_ACP, path, flags).c_str());
}

void printLine(const char* line) {
    if (outputIsConsole()) {
        writeConsole(widened(CP_UTF8, std::string(line) + "\n"));
    } else {
        std::cout << line << std::endl;
    }
}

}  // namespace platform
