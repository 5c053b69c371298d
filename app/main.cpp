// certexport: exports the signing certificate of a smart-card token to a PEM file.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "export/export_driver.h"
#include "platform/platform.h"
#include "platform/texts.h"

namespace {

bool confirmed(int key) {
    return ((key - 'Y') & ~0x20) == 0;
}

// The PIN's bytes on the heap even when it is short: handing the string to the export then moves
// the buffer that the export erases, where a short string would copy its bytes and keep them here.
std::string takePin(const char* argument) {
    std::string pin;
    pin.reserve(std::max(std::strlen(argument), sizeof(std::string)));
    pin.assign(argument);
    return pin;
}

}  // namespace

int main(int argc, char* argv[]) {
    const texts::ConsoleTexts& text = texts::console();
    if (argc != 3) {
        const platform::NativePath program =
            argc > 0 ? platform::pathArgument(argv, 0) : platform::NativePath();
        platform::printPath(text.usage, program);
        platform::printPath(text.example, program);
        platform::explainDoubleClick();
        return -1;
    }
    platform::NativePath outputPath = platform::pathArgument(argv, 2);
    // From here on the PIN is only in the string that the export erases: the process list shows
    // the argument masked for as long as the prompt waits and the export runs.
    std::string pin = takePin(argv[1]);
    platform::maskCommandLineArgument(argv, 1);
    platform::printText("PIN          = %s\n", pin);
    platform::printPath(text.outputFile, outputPath);
    platform::print("%s", text.prompt);
    if (!confirmed(platform::readConfirmationKey())) {
        platform::eraseSecret(&pin[0], pin.size());
        return -1;
    }
    platform::print("%s", text.processing);
    runExport(std::move(pin), std::move(outputPath));
    platform::print("\n");
    return 0;
}
