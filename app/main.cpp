// certexport: exports the signing certificate of a smart-card token to a PEM file.
#include <cstdio>
#include <string>

#include "export/export_driver.h"
#include "platform/platform.h"
#include "platform/texts.h"

namespace {

bool confirmed(int key) {
    return ((key - 'Y') & ~0x20) == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    const texts::ConsoleTexts& text = texts::console();
    if (argc != 3) {
        const char* program = argc > 0 ? argv[0] : "";
        std::printf(text.usage, program);
        std::printf(text.example, program);
        return -1;
    }
    std::printf("PIN          = %s\n", argv[1]);
    std::printf(text.outputFile, argv[2]);
    std::printf("%s", text.prompt);
    if (!confirmed(platform::readConfirmationKey())) {
        return -1;
    }
    std::printf("%s", text.processing);
    std::string outputPath = argv[2];
    std::string pin = argv[1];
    runExport(std::move(pin), std::move(outputPath));
    std::printf("\n");
    return 0;
}
