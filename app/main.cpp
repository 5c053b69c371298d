// certexport: exports the signing certificate of a smart-card token to a PEM file.
#include <cstdio>

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
    // The PIN text is built once, straight into the parameter that runExport erases: a moved-from
    // short string would keep its bytes here.
    runExport(argv[1], argv[2]);
    std::printf("\n");
    return 0;
}
