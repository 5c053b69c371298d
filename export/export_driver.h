// One export run: every certificate of the token at the second slot with a token goes to the
// output file, the last label's remaining.
#pragma once

#include <functional>
#include <string>

#include "platform/platform.h"

// Asks the user whether to go on; true to go on.
using Confirmation = std::function<bool()>;

// Returns true when the run got through the export loop; every message is already written. When
// the token says that a wrong PIN would now lock it, the run logs in only if `goOnAtFinalTry`
// says so.
bool runExport(std::string pin, platform::NativePath outputPath,
               const Confirmation& goOnAtFinalTry);
