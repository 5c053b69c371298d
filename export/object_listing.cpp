#include "export/object_listing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr std::size_t kMaxLabelKeyLength = 255;

enum ListedAttribute { kId, kClass, kToken, kSubject, kCertificateType, kLabel };

const std::vector<CK_ATTRIBUTE_TYPE> kListedTypes = {
    CKA_ID, CKA_CLASS, CKA_TOKEN, CKA_SUBJECT, CKA_CERTIFICATE_TYPE, CKA_LABEL};

bool isCertificateClass(const Bytes& value) {
    CK_OBJECT_CLASS objectClass = 0;
    if (value.size() != sizeof objectClass) {
        return false;
    }
    std::memcpy(&objectClass, value.data(), sizeof objectClass);
    return objectClass == CKO_CERTIFICATE;
}

// "certificate id=" and the first id byte as a signed number; nothing for an empty id.
std::string describe(const Bytes& id) {
    std::string description = "certificate id=";
    if (!id.empty()) {
        char idText[16];
        std::snprintf(idText, sizeof idText, "%d\n", static_cast<signed char>(id[0]));
        description += idText;
    }
    return description;
}

}  // namespace

std::string labelKey(const Bytes& label) {
    const std::size_t bounded = std::min(label.size(), kMaxLabelKeyLength);
    const auto end = std::find(label.begin(), label.begin() + bounded, 0);
    return std::string(label.begin(), end);
}

int listObjects(const TokenSession& session, LabelMap& labels) {
    const SearchOutcome outcome =
        examineCertificates(session.handle(), kListedTypes, [&](const std::vector<Bytes>& values) {
            if (isCertificateClass(values[kClass])) {
                labels[labelKey(values[kLabel])] = describe(values[kId]);
            }
            return false;
        });
    if (outcome == kSearchFoundNothing) {
        platform::print("   xxx no certificate found xxx\n");
        return 0;
    }
    return outcome;
}
