#include "export/export_driver.h"

#include <cstdlib>

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

// Warns of wrong PINs entered before, and asks once more before the last try; false when the run
// must not log in.
bool mayLogIn(CK_SLOT_ID slot, const Confirmation& goOnAtFinalTry) {
    const texts::ConsoleTexts& text = texts::console();
    switch (userPinTries(slot)) {
        case PinTries::Locked:
            platform::print("%s", text.pinLocked);
            platform::print("login error\n");
            return false;
        case PinTries::FinalTry:
            // Keys typed in a hurry before the warning shows must not answer it.
            platform::discardTypedAhead();
            platform::print("%s", text.pinFinalTry);
            return goOnAtFinalTry();
        case PinTries::TriedBefore:
            platform::print("%s", text.pinTriedBefore);
            return true;
        case PinTries::Full:
            break;
    }
    return true;
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

}  // namespace

bool runExport(std::string pin, platform::NativePath outputPath,
               const Confirmation& goOnAtFinalTry) {
    PinEraser eraser(pin);
    ModuleBinding binding;
    if (ModuleBinding::slotCount() <= kSigningSlotIndex) {
        platform::print("No token found\n");
        // A card whose signing PIN is locked may show as a token that cannot be read.
        if (someTokenUnreadable()) {
            platform::print("%s", texts::console().unreadableCard);
        }
        return false;
    }
    const CK_SLOT_ID slot = ModuleBinding::slots()[kSigningSlotIndex];
    TokenSession session(slot);
    if (session.handle() == CK_INVALID_HANDLE) {
        platform::print("session open error\n");
        return false;
    }
    if (!mayLogIn(slot, goOnAtFinalTry)) {
        return false;
    }
    TokenLogin login(session.handle(), pin);
    if (login.handle() == CK_INVALID_HANDLE) {
        platform::print("login error\n");
        warnOfTriesLeft(slot);
        return false;
    }
    LabelMap labels;
    listObjects(session, labels);
    for (const auto& entry : labels) {
        platform::printText("Exporting ... %s\n", entry.first);
        exportCertificatePem(session, entry.first, outputPath);
    }
    return true;
}
