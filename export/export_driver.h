// One export run: every certificate of the token at the second slot with a token goes to the
// output file, the last label's remaining.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/platform.h"

// Asks the user whether to go on; true to go on.
using Confirmation = std::function<bool()>;

// How a run ended, which the `-` form tells by its exit status.
enum class ExportOutcome {
    Exported,            // the output file holds a certificate
    NoToken,             // no token at the second slot with a token, or no session with it
    PinLocked,           // the PIN is locked, so it was not sent
    DeclinedAtFinalTry,  // the user kept the PIN's last try
    LoginRefused,        // a wrong PIN, whatever it did to the tries left
    NothingFound,        // no certificate read from the token, or none that decodes as one
    FileNotWritten,      // a certificate was read, and the output file does not hold one
};

struct ExportResult {
    ExportOutcome outcome;
    std::optional<platform::CertificateFacts> certificate;  // what the file holds, once exported
};

// Every message is already written when it returns. When the token says that a wrong PIN would
// now lock it, the run logs in only if `goOnAtFinalTry` says so.
ExportResult runExport(std::string pin, platform::NativePath outputPath,
                       const Confirmation& goOnAtFinalTry);
