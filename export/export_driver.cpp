#include "export/export_driver.h"

#include <cstdlib>
#include <optional>
#include <utility>

#include "export/object_listing.h"
#include "export/pem_writer.h"
#include "platform/platform.h"
#include "platform/texts.h"
#include "token/module_binding.h"
#include "token/token_info.h"
#include "token/token_session.h"

namespace {

// The signing PIN lives on the second slot: a card with two PINs shows as two slots.
constexpr std::size_t kSigningSlotIndex = 1;

// The PIN of the run under way. A missing module ends the process from inside the binding, where
// no destructor runs; the exit hook erases it then.
std::string* pinInUse = nullptr;

void erasePinInUse() {
    if (pinInUse) {
        platform::eraseSecret(&(*pinInUse)[0], pinInUse->size());
    }
}

// Erases the PIN's bytes when the run ends, whichever way it ends.
class PinEraser {
  public:
    explicit PinEraser(std::string& pin) {
        static const int hooked = std::atexit(erasePinInUse);
        static_cast<void>(hooked);
        pinInUse = &pin;
    }
    ~PinEraser() {
        erasePinInUse();
        pinInUse = nullptr;
    }
    PinEraser(const PinEraser&) = delete;
    PinEraser& operator=(const PinEraser&) = delete;
};

// Warns of wrong PINs entered before, and asks once more before the last try; the outcome that
// ends the run before the login, or nothing when the run may log in.
std::optional<ExportOutcome> outcomeBeforeLogin(CK_SLOT_ID slot,
                                                const Confirmation& goOnAtFinalTry) {
    const texts::ConsoleTexts& text = texts::console();
    switch (userPinTries(slot)) {
        case PinTries::Locked:
            platform::print("%s", text.pinLocked);
            platform::print("login error\n");
            return ExportOutcome::PinLocked;
        case PinTries::FinalTry:
            // Keys typed in a hurry before the warning shows must not answer it.
            platform::discardTypedAhead();
            platform::print("%s", text.pinFinalTry);
            if (!goOnAtFinalTry()) {
                return ExportOutcome::DeclinedAtFinalTry;
            }
            break;
        case PinTries::TriedBefore:
            platform::print("%s", text.pinTriedBefore);
            break;
        case PinTries::Full:
            break;
    }
    return std::nullopt;
}

// After a refused login: whether the next wrong PIN locks the card, or it is locked now.
void warnOfTriesLeft(CK_SLOT_ID slot) {
    const texts::ConsoleTexts& text = texts::console();
    switch (userPinTries(slot)) {
        case PinTries::Locked:
            platform::print("%s", text.pinNowLocked);
            break;
        case PinTries::FinalTry:
            platform::print("%s", text.pinNowFinalTry);
            break;
        case PinTries::TriedBefore:
        case PinTries::Full:
            break;
    }
}

// Each label's certificate in turn. The file ends up holding the last certificate found, which
// writes over the ones before it, so that one decides the result.
ExportResult exportEveryLabel(const TokenSession& session, const LabelMap& labels,
                              const platform::NativePath& outputPath) {
    ExportResult result{ExportOutcome::NothingFound, std::nullopt};
    for (const auto& entry : labels) {
        platform::printText("Exporting ... %s\n", entry.first);
        Bytes certificate;
        switch (exportCertificatePem(session, entry.first, outputPath, certificate)) {
            case PemExport::Written:
                result.certificate = platform::describeCertificate(certificate);
                // A value that is not a certificate is written as ever, but is no export.
                result.outcome =
                    result.certificate ? ExportOutcome::Exported : ExportOutcome::NothingFound;
                break;
            case PemExport::NotWritten:
                result = {ExportOutcome::FileNotWritten, std::nullopt};
                break;
            case PemExport::NotFound:
                break;
        }
    }
    return result;
}

}  // namespace

ExportResult runExport(std::string pin, platform::NativePath outputPath,
                       const Confirmation& goOnAtFinalTry) {
    PinEraser eraser(pin);
    ModuleBinding binding;
    if (ModuleBinding::slotCount() <= kSigningSlotIndex) {
        platform::print("No token found\n");
        // A card whose signing PIN is locked may show as a token that cannot be read.
        if (someTokenUnreadable()) {
            platform::print("%s", texts::console().unreadableCard);
        }
        return {ExportOutcome::NoToken, std::nullopt};
    }
    const CK_SLOT_ID slot = ModuleBinding::slots()[kSigningSlotIndex];
    TokenSession session(slot);
    if (session.handle() == CK_INVALID_HANDLE) {
        platform::print("session open error\n");
        return {ExportOutcome::NoToken, std::nullopt};
    }
    if (const std::optional<ExportOutcome> ended = outcomeBeforeLogin(slot, goOnAtFinalTry)) {
        return {*ended, std::nullopt};
    }
    TokenLogin login(session.handle(), pin);
    if (login.handle() == CK_INVALID_HANDLE) {
        platform::print("login error\n");
        warnOfTriesLeft(slot);
        return {ExportOutcome::LoginRefused, std::nullopt};
    }
    LabelMap labels;
    listObjects(session, labels);
    return exportEveryLabel(session, labels, outputPath);
}
