// Tells the user what the output file holds: whose certificate it is, who issued it, until when it
// is valid, and that it carries personal data.
#pragma once

#include <string>

#include "platform/platform.h"

// Prints whose certificate it is, who issued it, its validity and the note on personal data.
void describeExportedCertificate(const platform::CertificateFacts& facts);

// The validity line, or in its place the word that the certificate has expired or is not valid
// yet; with a reminder after it when the last day is 30 days away or nearer. `now` counts seconds
// since 1970 (UTC).
std::string validityText(const platform::CertificateFacts& facts, long long now);
