// Standard output: the texts are UTF-8, as the terminal reads them, so bytes go out as they are.
#include <cstdarg>
#include <cstdio>
#include <iostream>

#include "platform/platform.h"

namespace platform {

void print(const char* format, ...) {
    va_list values;
    va_start(values, format);
    std::vprintf(format, values);
    va_end(values);
}

void printText(const char* format, const std::string& text) {
    std::printf(format, text.c_str());
}

void printPath(const char* format, const NativePath& path) {
    printText(format, path);
}

void printLine(const char* line) {
    std::cout << line << std::endl;
}

// A POSIX tool is started from a shell, whose window stays.
void explainDoubleClick() {}

}  // namespace platform
