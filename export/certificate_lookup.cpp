#include "export/certificate_lookup.h"

#include <algorithm>

#include "export/object_listing.h"

namespace {

enum LookedUpAttribute { kLabel, kId, kClass, kToken, kValue };

const std::vector<CK_ATTRIBUTE_TYPE> kLookedUpTypes = {CKA_LABEL, CKA_ID, CKA_CLASS, CKA_TOKEN,
                                                       CKA_VALUE};

bool sameByte(unsigned char tokenByte, char textByte) {
    return tokenByte == static_cast<unsigned char>(textByte);
}

bool labelMatches(const Bytes& label, const std::string& text) {
    return std::equal(label.begin(), label.end(), text.begin(), text.end(), sameByte) ||
           labelKey(label) == text;
}

// The id read as zero-terminated text; an id without a byte after the text never matches.
bool idMatches(const Bytes& id, const std::string& text) {
    return id.size() > text.size() && id[text.size()] == 0 &&
           std::equal(id.begin(), id.begin() + text.size(), text.begin(), sameByte);
}

}  // namespace

int findCertificateByLabel(const TokenSession& session, const std::string& label, Bytes& value) {
    bool found = false;
    const SearchOutcome outcome = examineCertificates(
        session.handle(), kLookedUpTypes, [&](const std::vector<Bytes>& values) {
            found = labelMatches(values[kLabel], label) || idMatches(values[kId], label);
            if (found) {
                value = values[kValue];
            }
            return found;
        });
    if (outcome < 0) {
        return outcome;
    }
    return found ? 1 : 0;
}
