// One export run: every certificate of the token at the second slot with a token goes to the
// output file, the last label's remaining.
#pragma once

#include <string>

#include "platform/platform.h"

// Returns true when the run got through the export loop; every message is already written.
bool runExport(std::string pin, platform::NativePath outputPath);
