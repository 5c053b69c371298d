// certexport: exports the signing certificate of a smart-card token to a PEM file.
#include <cstring>
#include <string>
#include <utility>

#include "export/export_driver.h"
#include "export/exported_certificate.h"
#include "platform/platform.h"
#include "platform/texts.h"

namespace {

// In place of the PIN, this asks for it, so that no shell history or process list ever holds it.
const char kPinFromPrompt[] = "-";

bool confirmed(int key) {
    return ((key - 'Y') & ~0x20) == 0;
}

// The one-key question; only Y or y goes on.
bool askToGoOn(const texts::ConsoleTexts& text) {
    platform::print("%s", text.prompt);
    return confirmed(platform::readConfirmationKey());
}

// The PIN typed at the prompt; the echo line shows a '*' for each of its characters.
std::string askForPin(const texts::ConsoleTexts& text) {
    std::string pin = platform::readPin(text.pinPrompt);
    if (!pin.empty()) {
        platform::printText("PIN          = %s\n", std::string(platform::characterCount(pin), '*'));
    }
    return pin;
}

// The PIN from the command line. From here on it is only in the string that the export erases:
// the process list shows the argument masked for as long as the prompt waits and the export runs.
std::string takePinArgument(char* argv[]) {
    std::string pin = platform::pinArgument(argv, 1);
    platform::maskCommandLineArgument(argv, 1);
    platform::printText("PIN          = %s\n", pin);
    return pin;
}

// The `-` form's exit status: 0 only when the file holds a certificate. A refusal before the run
// stays -1, as in the classic form.
int exitStatus(ExportOutcome outcome) {
    switch (outcome) {
        case ExportOutcome::Exported:
            return 0;
        case ExportOutcome::NoToken:
            return 1;
        case ExportOutcome::PinLocked:
            return 2;
        case ExportOutcome::DeclinedAtFinalTry:
            return 3;
        case ExportOutcome::LoginRefused:
            return 4;
        case ExportOutcome::NothingFound:
            return 5;
        case ExportOutcome::FileNotWritten:
            return 6;
    }
    return -1;
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
    const bool prompted = std::strcmp(argv[1], kPinFromPrompt) == 0;
    std::string pin = prompted ? askForPin(text) : takePinArgument(argv);
    // Nothing typed (an empty line, Ctrl+C, the end of input) ends the run as a refusal does.
    if (prompted && pin.empty()) {
        return -1;
    }
    platform::printPath(text.outputFile, outputPath);
    if (!askToGoOn(text)) {
        platform::eraseSecret(&pin[0], pin.size());
        return -1;
    }
    platform::print("%s", text.processing);
    const ExportResult result = runExport(std::move(pin), std::move(outputPath), [&text] {
        if (!askToGoOn(text)) {
            return false;
        }
        platform::print("\n");
        return true;
    });
    platform::print("\n");
    // The classic form keeps the output and the exit status that scripts have always had.
    if (!prompted) {
        return 0;
    }
    if (result.certificate) {
        describeExportedCertificate(*result.certificate);
    }
    return exitStatus(result.outcome);
}
