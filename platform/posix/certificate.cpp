// What a certificate says of itself, read with OpenSSL.
#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/x509.h>

#include <climits>
#include <ctime>
#include <memory>

#include "platform/platform.h"

namespace platform {
namespace {

// The name's first common name in UTF-8, whatever string type the certificate chose for it.
std::string commonName(const X509_NAME* name) {
    const int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    unsigned char* utf8 = nullptr;
    const int length = index < 0
                           ? -1
                           : ASN1_STRING_to_UTF8(
                                 &utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    if (length < 0) {
        return std::string();
    }
    std::string text(reinterpret_cast<const char*>(utf8), length);
    OPENSSL_free(utf8);
    return text;
}

std::optional<ValidityBound> boundOf(const ASN1_TIME* time) {
    std::tm utc{};
    if (ASN1_TIME_to_tm(time, &utc) != 1) {
        return std::nullopt;
    }
    const std::time_t instant = timegm(&utc);
    std::tm local{};
    if (!localtime_r(&instant, &local)) {
        return std::nullopt;
    }
    return ValidityBound{instant, {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}};
}

}  // namespace

std::optional<CertificateFacts> describeCertificate(const std::vector<unsigned char>& der) {
    if (der.size() > static_cast<std::size_t>(LONG_MAX)) {
        return std::nullopt;
    }
    const unsigned char* next = der.data();
    const std::unique_ptr<X509, decltype(&X509_free)> certificate(
        d2i_X509(nullptr, &next, static_cast<long>(der.size())), &X509_free);
    if (!certificate) {
        return std::nullopt;
    }
    const std::optional<ValidityBound> from = boundOf(X509_get0_notBefore(certificate.get()));
    const std::optional<ValidityBound> until = boundOf(X509_get0_notAfter(certificate.get()));
    if (!from || !until) {
        return std::nullopt;
    }
    return CertificateFacts{commonName(X509_get_subject_name(certificate.get())),
                            commonName(X509_get_issuer_name(certificate.get())), *from, *until};
}

}  // namespace platform
