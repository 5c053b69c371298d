#include "export/pem_writer.h"

#include <cstdio>

#include "export/certificate_lookup.h"
#include "platform/platform.h"

namespace {
// Room for a usual certificate; a larger value replaces the buffer.
constexpr std::size_t kFirstGuessCertificateSize = 2048;
}  // namespace

int exportCertificatePem(const TokenSession& session, std::string label, std::string outputPath) {
    Bytes certificate;
    certificate.reserve(kFirstGuessCertificateSize);
    if (findCertificateByLabel(session, label, certificate) <= 0) {
        std::printf("   xxx Certificate( id= %s ) not found xxx\n", label.c_str());
        return -1;
    }
    std::printf("   *** Certificate( label= %s ) found ***\n", label.c_str());
    const std::optional<std::string> pem = platform::encodeCertificatePem(certificate);
    if (!pem) {
        std::printf("error\n");
        return -1;
    }
    switch (platform::writeTextFile(outputPath, *pem)) {
        case platform::WriteResult::OpenFailed:
            return -1;
        case platform::WriteResult::WriteFailed:
            std::printf(" xxx File write error xxx\n");
            return -1;
        case platform::WriteResult::Written:
            break;
    }
    std::printf("      --> %s \n", outputPath.c_str());
    return 0;
}
