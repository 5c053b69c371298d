#include "export/export_driver.h"

#include <cstdlib>

#include "export/object_listing.h"
#include "export/pem_writer.h"
#include "platform/platform.h"
#include "token/module_binding.h"
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

}  // namespace

bool runExport(std::string pin, platform::NativePath outputPath) {
    PinEraser eraser(pin);
    ModuleBinding binding;
    if (ModuleBinding::slotCount() <= kSigningSlotIndex) {
        platform::print("No token found\n");
        return false;
    }
    TokenSession session(ModuleBinding::slots()[kSigningSlotIndex]);
    if (session.handle() == CK_INVALID_HANDLE) {
        platform::print("session open error\n");
        return false;
    }
    TokenLogin login(session.handle(), pin);
    if (login.handle() == CK_INVALID_HANDLE) {
        platform::print("login error\n");
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
