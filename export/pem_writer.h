// Writes one certificate of the token to the output file as PEM text.
#pragma once

#include <string>

#include "platform/platform.h"
#include "token/object_search.h"
#include "token/token_session.h"

// What one export left in the output file.
enum class PemExport {
    Written,     // the whole PEM text of the certificate
    NotFound,    // the file is untouched
    NotWritten,  // not encoded, or the file not opened or not written whole
};

// Looks the label up, encodes the certificate and recreates the output file with it. The
// certificate's DER value is left in `certificate` once found.
PemExport exportCertificatePem(const TokenSession& session, std::string label,
                               platform::NativePath outputPath, Bytes& certificate);
