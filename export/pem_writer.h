// Writes one certificate of the token to the output file as PEM text.
#pragma once

#include <string>

#include "platform/platform.h"
#include "token/token_session.h"

// Looks the label up, encodes the certificate and recreates the output file with it.
// Returns 0 when the file holds the whole PEM text, -1 otherwise.
int exportCertificatePem(const TokenSession& session, std::string label,
                         platform::NativePath outputPath);
