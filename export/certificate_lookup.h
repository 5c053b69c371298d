// Finds a certificate object of the token by label and reads its value.
#pragma once

#include <string>

#include "token/object_search.h"
#include "token/token_session.h"

// The first certificate object whose label is the text, or whose label key is the text, or whose
// id holds the text's bytes followed by a zero byte. Its whole value replaces `value`.
// Returns 1 when found, 0 when not (or when reading an object failed, with a message), and
// -1, -2, -3 when starting, reading or closing the search failed.
int findCertificateByLabel(const TokenSession& session, const std::string& label, Bytes& value);
