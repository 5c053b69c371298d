// The command-line arguments: the output path, the PIN, and the PIN's mask in the process list.
#include <algorithm>
#include <cstring>

#include "platform/pin_text.h"
#include "platform/platform.h"

namespace platform {

NativePath pathArgument(char* argv[], int index) {
    return argv[index];
}

void maskCommandLineArgument(char* argv[], int index) {
    // argv points into the argument area that /proc/<pid>/cmdline and ps show.
    std::fill(argv[index], argv[index] + std::strlen(argv[index]), '*');
}

std::string pinArgument(char* argv[], int index) {
    std::string pin;
    pin.reserve(std::max(std::strlen(argv[index]), sizeof(std::string)));
    pin.assign(argv[index]);
    foldFullWidthFormsUtf8(pin);
    return pin;
}

}  // namespace platform
