// The certificate as PEM text (OpenSSL's writer), and the output file with CR LF line ends.
#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/pem.h>

#include <climits>
#include <cstdio>
#include <memory>

#include "platform/platform.h"

namespace platform {

std::optional<std::string> encodeCertificatePem(const std::vector<unsigned char>& der) {
    std::unique_ptr<BIO, decltype(&BIO_free)> memory(BIO_new(BIO_s_mem()), &BIO_free);
    // Nothing to encode is a failure, as for the Windows encoder.
    if (der.empty() || !memory || der.size() > static_cast<std::size_t>(LONG_MAX) ||
        PEM_write_bio(memory.get(), "CERTIFICATE", "", der.data(), static_cast<long>(der.size())) <=
            0) {
        return std::nullopt;
    }
    BUF_MEM* text = nullptr;
    BIO_get_mem_ptr(memory.get(), &text);
    return std::string(text->data, text->length);
}

WriteResult writeTextFile(const NativePath& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "w+");
    if (!file) {
        return WriteResult::OpenFailed;
    }
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 32);
    for (char c : text) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    const bool written = std::fwrite(crlf.data(), 1, crlf.size(), file) == crlf.size();
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return written && flushed && closed ? WriteResult::Written : WriteResult::WriteFailed;
}

}  // namespace platform
