// The one search for the token's certificate objects and the two-call attribute read that the
// listing and the lookup share.
#pragma once

#include <functional>
#include <vector>

#include "token/pkcs11.h"

using Bytes = std::vector<unsigned char>;

// How many certificate objects a search examines at the most.
constexpr CK_ULONG kMaxCertificateObjects = 64;

// How a search ended. The failures carry the codes that the listing and the lookup return.
enum SearchOutcome : int {
    kSearchExamined = 0,
    kSearchFoundNothing = 1,
    kSearchInitFailed = -1,
    kSearchFindFailed = -2,
    kSearchFinalFailed = -3,
};

// Receives one object's attribute values, in the order of the types asked for; returns true to
// end the examination.
using ObjectVisitor = std::function<bool(const std::vector<Bytes>& values)>;

// Searches the token's certificate objects (at most kMaxCertificateObjects), closes the search,
// then reads the attributes of each object in the module's order and hands them to the visitor.
// An object whose attributes cannot be read ends the examination with a message. A search that
// found no object is kSearchFoundNothing and prints nothing.
SearchOutcome examineCertificates(CK_SESSION_HANDLE session,
                                  const std::vector<CK_ATTRIBUTE_TYPE>& types,
                                  const ObjectVisitor& visit);
