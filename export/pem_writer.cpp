#include "export/pem_writer.h"

#include "export/certificate_lookup.h"
#include "platform/platform.h"

namespace {
// Room for a usual certificate; a larger value replaces the buffer.
constexpr std::size_t kFirstGuessCertificateSize = 2048;
}  // namespace

PemExport exportCertificatePem(const TokenSession& session, std::string label,
                               platform::NativePath outputPath, Bytes& certificate) {
    certificate.reserve(kFirstGuessCertificateSize);
    if (findCertificateByLabel(session, label, certificate) <= 0) {
        platform::printText("   xxx Certificate( id= %s ) not found xxx\n", label);
        return PemExport::NotFound;
    }
    platform::printText("   *** Certificate( label= %s ) found ***\n", label);
    const std::optional<std::string> pem = platform::encodeCertificatePem(certificate);
    if (!pem) {
        platform::print("error\n");
        return PemExport::NotWritten;
    }
    switch (platform::writeTextFile(outputPath, *pem)) {
        case platform::WriteResult::OpenFailed:
            return PemExport::NotWritten;
        case platform::WriteResult::WriteFailed:
            platform::print(" xxx File write error xxx\n");
            return PemExport::NotWritten;
        case platform::WriteResult::Written:
            break;
    }
    platform::printPath("      --> %s \n", outputPath);
    return PemExport::Written;
}
