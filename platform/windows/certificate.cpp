// What a certificate says of itself, read with the CryptoAPI.
#include <windows.h>
// Included after windows.h, which it needs.
#include <wincrypt.h>

#include <memory>

#include "platform/platform.h"
#include "platform/windows/encoding.h"

namespace platform {
namespace {

// A FILETIME counts 100-nanosecond ticks from 1601; these many lie before 1970.
constexpr long long kTicksBefore1970 = 116444736000000000LL;
constexpr long long kTicksPerSecond = 10000000LL;

// The first common name of the subject, or of the issuer with CERT_NAME_ISSUER_FLAG, in UTF-8.
std::string commonName(PCCERT_CONTEXT certificate, DWORD flags) {
    void* const commonNameOid = const_cast<char*>(szOID_COMMON_NAME);
    // The size counts the terminating zero, and is 1 for a name without a common name.
    const DWORD size =
        CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, flags, commonNameOid, nullptr, 0);
    std::wstring name(size, L'\0');
    CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, flags, commonNameOid, &name[0], size);
    name.resize(size > 0 ? size - 1 : 0);
    return narrowed(CP_UTF8, name);
}

std::optional<ValidityBound> boundOf(const FILETIME& time) {
    SYSTEMTIME utc, local;
    // The local day under the time zone's rule for that date, summer time included.
    if (!FileTimeToSystemTime(&time, &utc) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        return std::nullopt;
    }
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    const long long seconds =
        (static_cast<long long>(ticks.QuadPart) - kTicksBefore1970) / kTicksPerSecond;
    return ValidityBound{seconds, {local.wYear, local.wMonth, local.wDay}};
}

}  // namespace

std::optional<CertificateFacts> describeCertificate(const std::vector<unsigned char>& der) {
    const DWORD length = static_cast<DWORD>(der.size());
    if (der.empty() || der.size() != length) {
        return std::nullopt;
    }
    const std::unique_ptr<const CERT_CONTEXT, decltype(&CertFreeCertificateContext)> certificate(
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), length),
        &CertFreeCertificateContext);
    if (!certificate) {
        return std::nullopt;
    }
    const std::optional<ValidityBound> from = boundOf(certificate->pCertInfo->NotBefore);
    const std::optional<ValidityBound> until = boundOf(certificate->pCertInfo->NotAfter);
    if (!from || !until) {
        return std::nullopt;
    }
    return CertificateFacts{commonName(certificate.get(), 0),
                            commonName(certificate.get(), CERT_NAME_ISSUER_FLAG), *from, *until};
}

}  // namespace platform
